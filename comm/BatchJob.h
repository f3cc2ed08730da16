// The batch job's lines: what the job does with each kept line of a batch text file, and how far
// a running batch has come (its progress report and texts).
//
// Batch file rules: a line whose first character is "/" is a comment, an empty line is skipped,
// every other line is kept in pieces of at most 499 characters (textfiles/BatchText.h). When the
// job runs a kept line, only its first token counts (leading TABs skipped, up to the next TAB or
// line feed). A token beginning with "@pause" waits: the character after the six letters is
// skipped and the rest is read as milliseconds. Every other token is sent as a command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Characters of a line the job takes.
constexpr size_t kBatchLineChars = 500;

// What the batch job does with one kept line.
struct BatchStep {
    enum Kind { kNothing, kPause, kCommand } kind = kNothing;
    int64_t pauseMs = 0;
    std::u16string command;
};
BatchStep ParseBatchLine(std::u16string_view line);

// How far a running batch has come. Lines are the kept lines that do something (a command or
// a pause), numbered from 1 in batch order; comment, empty and token-less lines do not count.
struct BatchProgress {
    enum Outcome { kRunning, kAllSent, kFailed, kCancelled, kStopped };
    Outcome outcome = kRunning;
    size_t total = 0;        // lines of the batch
    size_t done = 0;         // lines finished
    size_t current = 0;      // the line being run (running), or where the batch ended
    std::u16string text;     // that line's token
    size_t commandsDone = 0; // finished commands
    size_t commandsLeft = 0; // commands not finished yet
    int64_t commandMs = 0;   // time the finished commands took, their pacing included
    int64_t pauseMsLeft = 0; // pauses of the lines not run yet
};
// The time the rest of the batch should take: the finished commands' average for every command
// left, plus the pauses left; -1 while no command has finished and some are left.
int64_t BatchTimeLeftMs(const BatchProgress& progress);
// The texts of the bilingual table for a report, in the UI language: the running line
// ("Text Load: 2 of 5 lines done — line 3: brt 10 — 00:04 left", "--:--" while the time left
// is unknown), and the one-line outcome of a batch that ended (empty while it runs, and for a
// batch ended by shutdown).
std::u16string BatchProgressText(const BatchProgress& progress);
std::u16string BatchOutcomeText(const BatchProgress& progress);
// Milliseconds as "mm:ss" (rounded up), "h:mm:ss" from one hour on; "--:--" when negative.
std::u16string BatchDurationText(int64_t ms);
