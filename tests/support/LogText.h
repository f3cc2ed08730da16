// What a test reads back from a log file the program wrote (UTF-16LE after a byte-order mark,
// lines "YYYY-MM-DD hh:mm:ss text" ended by CR LF).
#pragma once

#include <string>
#include <vector>

// The whole text after the byte-order mark, time stamps included.
std::u16string LogText16(const std::string& path);
std::string LogText(const std::string& path); // as UTF-8
// The lines without their time stamps, as UTF-8.
std::vector<std::string> LogLines(const std::string& path);
