#include "ui/BarStatus.h"

#include "base/MessageTable.h"
#include "comm/ReplyCollector.h"
#include "ui/CommSettings.h"

namespace barstatus {

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
    case kStatusReceiveTimeout:
        return {Msg(MSG_RECEIVE_TIMEOUT), kBad};
    case kStatusSendFailed:
        return {Msg(MSG_TRANSMIT_TIMEOUT), kBad};
    case kStatusCancelled:
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
    case 1:
        return MSG_EXIT;
    case 1012:
        return MSG_CONNECT;
    case 1013:
        return MSG_DISCONNECT;
    case 1020:
        return MSG_TEXT_LOAD;
    case 1021:
        return MSG_ABOUT;
    case 1023:
        return MSG_COMM_SETTINGS;
    case 1042:
        return MSG_TEXT_SAVE;
    case 1043:
        return MSG_OPEN_CAMERA_DEFINE;
    case 1075:
        return MSG_CANCEL_RECEIVING;
    case 1201:
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
