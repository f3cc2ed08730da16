#include "app/PortReasonText.h"

#include "base/MessageTable.h"
#include "platform/Text.h"
#include "port/PortTables.h"

#include <initializer_list>
#include <string_view>

namespace {

std::u16string Number(uint32_t n) {
    return platform::Utf8ToUtf16(std::to_string(n));
}

} // namespace

std::u16string PortReasonText(const PortReasonInfo& r) {
    switch (r.kind) {
    case PORT_REASON_SPEED_REFUSED:
        return FormatMsg(MSG_REASON_SPEED_REFUSED,
                         {Number(r.number), r.detail.empty() ? std::u16string(u"?") : r.detail});
    case PORT_REASON_LIBRARY_MISSING:
        return FormatMsg(MSG_REASON_LIBRARY_MISSING, {r.name});
    case PORT_REASON_FUNCTION_MISSING:
        return FormatMsg(MSG_REASON_FUNCTION_MISSING, {r.name, r.detail});
    case PORT_REASON_CHANNEL_MISSING:
        return FormatMsg(MSG_REASON_CHANNEL_MISSING, {Number(r.number), r.name, Number(r.count)});
    case PORT_REASON_DEVICE_MISSING:
        return FormatMsg(MSG_PORT_MISSING, {r.name});
    case PORT_REASON_DEVICE_BUSY:
        return FormatMsg(MSG_PORT_BUSY, {r.name});
    case PORT_REASON_NO_PERMISSION: {
        // Who may open it: its group (the user is not in it) or only its owner.
        const std::u16string who = r.detail.empty() ? std::u16string(u"?") : r.detail;
        if (r.number == PORT_PERMISSION_OWNER)
            return FormatMsg(MSG_PORT_OWNER_ONLY, {r.name, who});
        return FormatMsg(MSG_PORT_NO_PERMISSION, {r.name, who, who});
    }
    case PORT_REASON_DEVICE_REFUSED:
        return r.name + u": " + r.detail;
    case PORT_REASON_HOST_UNKNOWN:
        return FormatMsg(MSG_NET_HOST_UNKNOWN, {r.name});
    case PORT_REASON_CONNECTION_REFUSED:
        return FormatMsg(MSG_NET_REFUSED, {r.name});
    case PORT_REASON_NO_ANSWER:
        return FormatMsg(MSG_NET_NO_ANSWER, {r.name});
    case PORT_REASON_SERVER_FULL: {
        std::u16string text = FormatMsg(MSG_NET_SERVER_FULL, {r.name});
        if (!r.detail.empty())
            text += u" (" + r.detail + u")";
        return text;
    }
    case PORT_REASON_BAD_ADDRESS:
        return FormatMsg(r.number == 2 ? MSG_NET_PORT_RANGE : MSG_NET_MALFORMED, {r.name});
    case PORT_REASON_NO_COM_PORT_OPTION:
        return FormatMsg(MSG_NET_NO_COM_PORT, {r.name});
    case PORT_REASON_SPEED_CHANGED:
        return FormatMsg(MSG_NET_SPEED_CHANGED, {r.name, Number(r.number), Number(r.count)});
    default:
        return {};
    }
}

std::u16string PortLineReasonText(const PortReasonInfo& r) {
    if (r.kind == PORT_REASON_LIBRARY_MISSING)
        return FormatMsg(MSG_PORT_LIBRARY_MISSING, {r.name});
    if (r.kind == PORT_REASON_FUNCTION_MISSING)
        return PortReasonText(r);
    return {};
}

bool PortLibraryUnavailable(const PortReasonInfo& r) {
    return r.kind == PORT_REASON_LIBRARY_MISSING || r.kind == PORT_REASON_FUNCTION_MISSING;
}

int ConnectFailureMessage(int32_t result) {
    switch (result) {
    case PORT_OPEN_FAILED:
        return MSG_CANT_OPEN_PORT;
    case PORT_GET_STATE_FAILED:
        return MSG_GET_PORT_PARAM_FAILED;
    case PORT_SET_STATE_FAILED:
        return MSG_SET_PORT_FAILED;
    case PORT_QUEUE_SIZE_FAILED:
        return MSG_INIT_PORT_FAILED;
    case PORT_PURGE_FAILED:
        return MSG_INIT_BUFFER_FAILED;
    case PORT_TIMEOUTS_FAILED:
        return MSG_SET_TIMEOUT_FAILED;
    case PORT_DTR_FAILED:
        return MSG_SET_DTR_FAILED;
    default:
        return MSG_ERROR;
    }
}

std::u16string ConnectFailureText(int32_t result, std::u16string_view reason) {
    std::u16string text = Msg(ConnectFailureMessage(result));
    if (!reason.empty()) {
        text += u'\n';
        text += reason;
    }
    return text;
}
