// Batch text files from anywhere: the encoding guess, the decoding in the guessed encoding and
// the cutting into batch lines and tokens must take any bytes without harm.
#include "comm/CommandCheck.h"
#include "textfiles/BatchText.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const int code = DetectTextEncodingOf(data, size, true);
    if (code != 0 && code != 1 && code != 2 && code != 3 && code != 4 && code != 6 && code != 7 &&
        code != 8)
        std::abort();

    bool clean = true;
    const std::u16string text = DecodeBatchText(bytes, code, &clean);
    const BatchTextFault fault = CheckBatchText(text, clean, code);
    std::vector<std::u16string> lines;
    SplitBatchLines(text, lines);
    for (const std::u16string& line : lines) {
        // A batch that is accepted sends no replacement character and no control character.
        if (fault.line != 0)
            break;
        for (size_t i = 0; i < line.size(); ++i) {
            const char16_t c = line[i];
            if (c == 0xFFFD || (c < 0x20 && c != u'\t' && !(c == u'\n' && i + 1 == line.size())))
                std::abort();
        }
        // ... and only commands that go out as themselves.
        if (const BatchStep step = ParseBatchLine(line);
            step.kind == BatchStep::kCommand && !CheckCommandText(step.command).Fit())
            std::abort();
    }
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
