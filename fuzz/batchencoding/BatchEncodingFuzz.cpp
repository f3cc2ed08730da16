// Batch text files from anywhere: the encoding guess, the decoding in the guessed encoding and
// the cutting into batch lines and tokens must take any bytes without harm.
#include "textfiles/BatchText.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const size_t window = size < kDetectWindowBytes ? size : kDetectWindowBytes;
    const int code = DetectTextEncodingOf(data, window, size <= kDetectWindowBytes);
    if (code != 0 && code != 1 && code != 2 && code != 3 && code != 4 && code != 6)
        std::abort();

    std::vector<std::u16string> lines;
    SplitBatchLines(DecodeBatchText(bytes, code), lines);
    for (const std::u16string& line : lines) {
        if (line.empty() || line.size() > kBatchPieceChars || line[0] == u'/' || line[0] == u'\n')
            std::abort();
        const BatchStep step = ParseBatchLine(line);
        if (step.pauseMs < 0 || step.command.size() > line.size())
            std::abort();
        if (step.command.find(u'\t') != std::u16string::npos ||
            step.command.find(u'\n') != std::u16string::npos)
            std::abort();
    }
    return 0;
}
