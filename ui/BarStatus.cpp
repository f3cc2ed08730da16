#include "ui/BarStatus.h"

#include "base/MessageTable.h"
#include "comm/ReplyCollector.h"
#include "comm/TransactionCodes.h"
#include "ui/BarControls.h"
#include "ui/CommSettings.h"

namespace barstatus {

namespace {
// The Exit command's id; no bar has such a button today, but its tooltip stays in the table.
constexpr int kExitControl = 1;
} // namespace

std::u16string PortText(std::u16string_view portName, std::u16string_view description) {
    std::u16string text(portName);
    if (!description.empty()) {
        text += u" , ";
        text += description;
    }
    return text;
}

Rgb PortColour(std::u16string_view portName, bool hasCurrentPort) {
    return portName != commsettings::kNoSettings && hasCurrentPort ? kGood : kBad;
}

ResultLook MakeResultLook(int transactionStatus, int replyCode, std::u16string_view replyCodeText) {
    switch (transactionStatus) {
    case STATUS_RECEIVE_TIMEOUT:
        return {Msg(MSG_RECEIVE_TIMEOUT), kBad};
    case STATUS_SEND_FAILED:
        return {Msg(MSG_TRANSMIT_TIMEOUT), kBad};
    case STATUS_RECEIVE_CANCELLED:
        return {Msg(MSG_CANCEL_RECEIVING), kCancelled};
    default:
        break;
    }
    if (replyCode < 0)
        return {u"???", kBad};
    return {std::u16string(replyCodeText), replyCode == kReplyCodeOk ? kGood : kBad};
}

int TooltipMessage(int controlId) {
    switch (controlId) {
    case kExitControl:
        return MSG_EXIT;
    case barcontrol::IDC_CONNECT:
        return MSG_CONNECT;
    case barcontrol::IDC_DISCONNECT:
        return MSG_DISCONNECT;
    case barcontrol::IDC_TEXT_LOAD:
        return MSG_TEXT_LOAD;
    case barcontrol::IDC_ABOUT:
        return MSG_ABOUT;
    case barcontrol::IDC_COMM_SETTINGS:
        return MSG_COMM_SETTINGS;
    case barcontrol::IDC_TEXT_SAVE:
        return MSG_TEXT_SAVE;
    case barcontrol::IDC_CAMERA_PICTURE:
        return MSG_OPEN_CAMERA_DEFINE;
    case barcontrol::IDC_CANCEL_RECEIVING:
        return MSG_CANCEL_RECEIVING;
    case barcontrol::IDC_CLOSE_DEFINE:
        return MSG_CLOSE_CAMERA_DEFINE;
    default:
        return -1;
    }
}

std::u16string TooltipText(int controlId) {
    const int id = TooltipMessage(controlId);
    if (id < 0)
        return {};
    std::u16string text = Msg(id);
    if (text.size() > 80)
        text.resize(80);
    return text;
}

} // namespace barstatus
