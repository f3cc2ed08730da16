// The texts and colours the main window writes into the dialog bars, worked out without Qt:
// the port line, its colour, the result display and the bars' tooltips.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace barstatus {

struct Rgb {
    uint8_t r = 255;
    uint8_t g = 255;
    uint8_t b = 255;
    bool operator==(const Rgb&) const = default;
};

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kGood{128, 192, 128};      // green: port set, reply "OK"
constexpr Rgb kBad{200, 128, 128};       // red: no port, time-outs, error replies
constexpr Rgb kCancelled{200, 200, 128}; // yellow: receiving cancelled by the user

// The port line: the port name, followed by " , " and the description when there is one.
std::u16string PortText(std::u16string_view portName, std::u16string_view description);
// Green when a port is chosen ("No settings" is none) and the application has a current
// port, red otherwise.
Rgb PortColour(std::u16string_view portName, bool hasCurrentPort);

struct ResultLook {
    std::u16string text;
    Rgb colour;
    bool operator==(const ResultLook&) const = default;
};

// The result of the last command: transaction status and reply code of the engine;
// replyCodeText is the reply-code table's text of replyCode ("OK" for 0).
ResultLook MakeResultLook(int transactionStatus, int replyCode, std::u16string_view replyCodeText);

// The message id of a bar control's tooltip, -1 when it has none.
int TooltipMessage(int controlId);
// A tooltip text as shown: at most 80 characters.
std::u16string TooltipText(int controlId);

} // namespace barstatus
