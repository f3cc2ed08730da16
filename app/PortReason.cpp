#include "app/PortReason.h"

#include "app/MessageTable.h"
#include "platform/Text.h"

#include <cstring>

std::u16string PortProblemText(const platform::DeviceProblem& problem) {
    const std::u16string device = platform::Utf8ToUtf16(problem.device);
    switch (problem.kind) {
    case platform::DeviceRefusal::None:
        return {};
    case platform::DeviceRefusal::Missing:
        return FormatMsg(MSG_PORT_MISSING, {device});
    case platform::DeviceRefusal::Busy:
        return FormatMsg(MSG_PORT_BUSY, {device});
    case platform::DeviceRefusal::Permission: {
        const std::u16string group =
            problem.group.empty() ? u"?" : platform::Utf8ToUtf16(problem.group);
        return FormatMsg(MSG_PORT_NO_PERMISSION, {device, group, group});
    }
    case platform::DeviceRefusal::Other:
        break;
    }
    return device + u": " + platform::LocaleToUtf16(std::strerror(problem.error));
}
