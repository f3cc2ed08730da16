#include "comm/BatchJob.h"

#include "base/MessageTable.h"
#include "platform/Text.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

BatchStep ParseBatchLine(std::u16string_view line) {
    BatchStep step;
    size_t start = 0;
    while (start < line.size() && line[start] == u'\t')
        ++start;
    size_t end = start;
    while (end < line.size() && line[end] != u'\t' && line[end] != u'\n')
        ++end;
    const std::u16string_view token = line.substr(start, end - start);
    if (token.empty())
        return step;
    constexpr std::u16string_view kPause = u"@pause";
    if (token.substr(0, kPause.size()) == kPause) {
        step.kind = BatchStep::kPause;
        // The character after the six letters is skipped; the rest is a decimal number.
        std::u16string_view rest =
            token.size() > kPause.size() ? token.substr(kPause.size() + 1) : std::u16string_view{};
        size_t i = 0;
        while (i < rest.size() && (rest[i] == u' ' || (rest[i] >= 0x09 && rest[i] <= 0x0D)))
            ++i;
        bool negative = false;
        if (i < rest.size() && (rest[i] == u'+' || rest[i] == u'-'))
            negative = rest[i++] == u'-';
        int64_t ms = 0;
        for (; i < rest.size() && rest[i] >= u'0' && rest[i] <= u'9'; ++i)
            ms = std::min<int64_t>(ms * 10 + (rest[i] - u'0'), INT_MAX);
        // A negative pause waits nothing (not an endless wait).
        step.pauseMs = negative ? 0 : ms;
        return step;
    }
    step.kind = BatchStep::kCommand;
    step.command.assign(token);
    return step;
}

int64_t BatchTimeLeftMs(const BatchProgress& p) {
    if (p.commandsLeft == 0)
        return p.pauseMsLeft;
    if (p.commandsDone == 0)
        return -1;
    const double each = static_cast<double>(p.commandMs) / static_cast<double>(p.commandsDone);
    return std::llround(each * static_cast<double>(p.commandsLeft)) + p.pauseMsLeft;
}

std::u16string BatchDurationText(int64_t ms) {
    if (ms < 0)
        return u"--:--";
    const int64_t seconds = (ms + 999) / 1000;
    char text[32];
    if (seconds >= 3600)
        std::snprintf(
            text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
            static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    return platform::Utf8ToUtf16(text);
}

namespace {

std::u16string Count(size_t n) {
    return platform::Utf8ToUtf16(std::to_string(n));
}

} // namespace

std::u16string BatchProgressText(const BatchProgress& p) {
    return FormatMsg(MSG_BATCH_PROGRESS, {Count(p.done), Count(p.total), Count(p.current), p.text,
                                          BatchDurationText(BatchTimeLeftMs(p))});
}

std::u16string BatchOutcomeText(const BatchProgress& p) {
    switch (p.outcome) {
    case BatchProgress::kAllSent:
        return FormatMsg(MSG_BATCH_ALL_SENT, {Count(p.done)});
    case BatchProgress::kFailed:
        return FormatMsg(MSG_BATCH_STOPPED_FAILED, {Count(p.current), p.text});
    case BatchProgress::kCancelled:
        return FormatMsg(MSG_BATCH_STOPPED_CANCEL, {Count(p.current), p.text});
    default:
        return {};
    }
}
