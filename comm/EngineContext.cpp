#include "comm/EngineContext.h"

#include "base/MessageTable.h"
#include "base/Messages.h"

#include <chrono>

std::u16string clEngineContextStore::MessageText(int id) {
    return MsgIn(id, uiLanguageIndex);
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

intptr_t clUiLink::Send(IEngineUi& ui, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    IUiTarget* target = nullptr;
    {
        // The target is read only while open, under the lock: after Close it is never read.
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_open || !(target = ui.UiTarget()))
            return 0;
        ++m_sending;
    }
    const intptr_t result = target->SendUiMessage(msg, wParam, lParam);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        --m_sending;
    }
    m_idle.notify_all();
    return result;
}

void clUiLink::Post(IEngineUi& ui, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_open)
        return;
    if (IUiTarget* target = ui.UiTarget())
        target->PostUiMessage(msg, wParam, lParam);
}

bool clUiLink::Close(const std::function<void()>& pump, int64_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> guard(m_lock);
    m_open = false;
    while (m_sending > 0) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        if (pump) {
            guard.unlock();
            pump();
            guard.lock();
        }
        m_idle.wait_for(guard, std::chrono::milliseconds(2));
    }
    return true;
}

void clUiLink::Open() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_open = true;
}

bool clUiLink::IsOpen() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_open;
}

intptr_t clEngineContext::Send(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    return m_uiLink.Send(*this, msg, wParam, lParam);
}

void clEngineContext::Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    m_uiLink.Post(*this, msg, wParam, lParam);
}
