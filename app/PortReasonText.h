// The user-interface words for a port's reason (port/PortReason.h): the second line of the
// connect failure message and the port line of an interface whose library is missing.
#pragma once

#include "port/PortReason.h"

#include <cstdint>
#include <string>
#include <string_view>

// The reason in the UI language; empty when there is none to tell.
std::u16string PortReasonText(const PortReasonInfo& reason);
// What the port line shows beside "No settings" when the interface's library cannot be had;
// empty otherwise.
std::u16string PortLineReasonText(const PortReasonInfo& reason);
// Whether the reason says the interface has no usable library (its speed means nothing then).
bool PortLibraryUnavailable(const PortReasonInfo& reason);
// The message-table id of the text shown when Connect returned `result` (not 0): the port's
// failed step for PORT_OPEN_FAILED to PORT_DTR_FAILED, the general "Error" otherwise.
int ConnectFailureMessage(int32_t result);
// The text of the connect failure box: that message and, on a second line, the reason the
// port gave (none when reason is empty).
std::u16string ConnectFailureText(int32_t result, std::u16string_view reason);
