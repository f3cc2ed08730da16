// Why a serial device could not be opened, as the second line under the connect failure text.
#pragma once

#include "platform/SerialDevice.h"

#include <string>

// In the UI language: the device and what stands in the way (missing, held by another
// program, no permission with the device's group and the remedy, or the system's text for
// anything else). Empty when nothing was refused.
std::u16string PortProblemText(const platform::DeviceProblem& problem);
