// Whether a command text may go to the camera. A command is one line of text that goes out in
// the locale codeset with the CR the transaction adds; a text that would go out as something
// else is refused before anything is sent:
// - an empty text (it would send a bare CR and wait out the whole receive time-out);
// - a control character: anything below U+0020 but TAB, DEL, and U+0080 to U+009F (a CR or LF
//   inside the text would split it into several camera commands);
// - a character the locale codeset cannot hold (it would go out as '?').
// Every way a command is made uses it before the command is submitted: the console, the
// command-line tool, property edits, batch files; the transaction itself refuses such a text as
// the last line of defence.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct CommandCheck {
    enum Fault { kFit, kEmpty, kControlCharacter, kNotInCodeset } fault = kFit;
    size_t position = 0; // of the character at fault, counted in characters from 1
    char32_t character = 0;

    bool Fit() const { return fault == kFit; }
};

CommandCheck CheckCommandText(std::u16string_view text);

// Why a text is refused, in the UI language ("Character 6 (U+00FC) cannot be written in the
// current codeset (ANSI_X3.4-1968); nothing was sent."). Empty for a text that is fit.
std::u16string CommandCheckText(const CommandCheck& check);

// A control character that must never be part of a command.
bool IsCommandControlCharacter(char32_t c);
// "U+000D"
std::u16string CodePointText(char32_t c);
