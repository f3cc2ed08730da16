#include "comm/EngineContext.h"

#include "app/Messages.h"

namespace {

struct OwnText {
    int id;
    const char16_t* japanese;
    const char16_t* english;
};

// The engine's own copy of its texts, for contexts without the application's message table.
constexpr OwnText kOwnTexts[] = {
    {MSG_RECEIVE_TIMEOUT, u"(ホスト側)受信タイムアウト", u"(host side)Receive timeout"},
    {MSG_TRANSMIT_TIMEOUT, u"(ホスト側)送信タイムアウト", u"(host side)Transmit timeout"},
    {MSG_DISCONNECTING, u"切断中", u"Disconnecting"},
    {MSG_PLEASE_WAIT, u"切断しています。少々お待ち下さい。", u"Please wait."},
    {MSG_CANCEL_RECEIVING, u"(ホスト側)受信をキャンセル", u"(host side)Cancel receiving"},
    {MSG_MODEL_NOT_DETECTED, u"機種名が検出できませんでした", u"Model not detect"},
};

} // namespace

std::u16string EngineMessageText(int id, int uiLanguageIndex) {
    for (const OwnText& t : kOwnTexts)
        if (t.id == id)
            return uiLanguageIndex == 0 ? t.japanese : t.english;
    return {};
}

int32_t clEngineContextStore::RequestMessageBox(std::u16string text, std::u16string caption,
                                                uint32_t style) {
    messageBoxText = std::move(text);
    messageBoxCaption = std::move(caption);
    messageBoxResult = 0;
    if (ui)
        ui->SendUiMessage(UM_MESSAGE_BOX, 0, static_cast<intptr_t>(style));
    return messageBoxResult;
}

intptr_t clEngineContext::Send(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    IUiTarget* ui = UiTarget();
    return ui ? ui->SendUiMessage(msg, wParam, lParam) : 0;
}

void clEngineContext::Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    if (IUiTarget* ui = UiTarget())
        ui->PostUiMessage(msg, wParam, lParam);
}
