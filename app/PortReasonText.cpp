#include "app/PortReasonText.h"

#include "base/MessageTable.h"
#include "platform/Text.h"

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
        const std::u16string group = r.detail.empty() ? std::u16string(u"?") : r.detail;
        return FormatMsg(MSG_PORT_NO_PERMISSION, {r.name, group, group});
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
