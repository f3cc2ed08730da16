// The user-interface words for a port's reason (port/PortReason.h): the second line of the
// connect failure message and the port line of an interface whose library is missing.
#pragma once

#include "port/PortReason.h"

#include <string>

// The reason in the UI language; empty when there is none to tell.
std::u16string PortReasonText(const PortReasonInfo& reason);
// What the port line shows beside "No settings" when the interface's library cannot be had;
// empty otherwise.
std::u16string PortLineReasonText(const PortReasonInfo& reason);
// Whether the reason says the interface has no usable library (its speed means nothing then).
bool PortLibraryUnavailable(const PortReasonInfo& reason);
