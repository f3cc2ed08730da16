// Arbitrary reply bytes, in arbitrary chunks, through the receive ring, the reply collection
// and the classification of the engine, without any real waiting. The first 8 bytes of an
// input choose the chunking; the rest is what the camera sends.
//
// Checked: the outcome does not depend on the chunking; it matches a plain re-reading of the
// bytes (the reply is what precedes the first EOT; lines end at CR or LF; only lines starting
// with '>' and not with ">(" count; NUL adds nothing); every kept line is well formed.
#include "comm/CommunicateModel.h"
#include "comm/EngineProbe.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kRingSize = 1 << 16;

struct Outcome {
    bool complete = false;
    int32_t replyCode = -1;
    std::vector<std::u16string> remaining;
    bool operator==(const Outcome&) const = default;
};

clCommunicateModel& Engine() {
    static clEngineContextStore context;
    static clCommunicateModel* engine = [] {
        auto* e = new clCommunicateModel(context);
        e->Ring().Allocate(kRingSize);
        // No time limits: nothing is armed, nothing waits.
        e->SetReceiveTimeouts(clCommunicateModel::kNoTimeLimit, clCommunicateModel::kNoTimeLimit);
        return e;
    }();
    return *engine;
}

Outcome Run(const uint8_t* bytes, size_t size, uint64_t seed) {
    clCommunicateModel& engine = Engine();
    clCommunicateModelProbe::BeginTransaction(engine);
    clCommunicateModelProbe::SetPhase(engine, PHASE_WAIT_FIRST);
    Outcome out;
    size_t at = 0;
    while (at < size && !out.complete) {
        size_t n = size - at;
        if (seed != 0) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            n = std::min<size_t>(n, 1 + (seed >> 33) % 97);
        }
        engine.Ring().Append(bytes + at, n);
        at += n;
        out.complete = clCommunicateModelProbe::TakeReplyBytes(engine);
    }
    if (!out.complete) {
        // The reply did not end: the transaction would time out; nothing is classified.
        clCommunicateModelProbe::SetStatus(engine, STATUS_RECEIVE_TIMEOUT);
    }
    clCommunicateModelProbe::SetPhase(engine, PHASE_IDLE);
    clCommunicateModelProbe::ClassifyReply(engine);
    out.replyCode = clCommunicateModelProbe::ReplyCode(engine);
    out.remaining = clCommunicateModelProbe::ReplyLines(engine);
    return out;
}

Outcome Reference(const uint8_t* bytes, size_t size) {
    Outcome out;
    std::vector<std::u16string> lines;
    std::u16string current;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = bytes[i];
        if (b == 0x04) {
            out.complete = true;
            break;
        }
        if (b == '\r' || b == '\n') {
            if (current.size() >= 2 ? current[0] == u'>' && current[1] != u'(' : current == u">")
                lines.push_back(current);
            current.clear();
        } else if (b != 0) {
            current.push_back(static_cast<char16_t>(b));
        }
    }
    for (std::u16string& l : lines)
        if (l.size() > clReplyCollector::kMaxLineChars)
            l.resize(clReplyCollector::kMaxLineChars);
    if (out.complete && !lines.empty()) {
        out.replyCode = ReplyCodeOf(lines.front());
        out.remaining.assign(lines.begin() + 1, lines.end());
    } else if (!out.complete) {
        out.remaining = lines;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint64_t seed = 0;
    if (size >= 8) {
        std::memcpy(&seed, data, 8);
        data += 8;
        size -= 8;
    }
    size = std::min(size, kRingSize);
    const Outcome chunked = Run(data, size, seed | 1);
    const Outcome whole = Run(data, size, 0);
    const Outcome expected = Reference(data, size);
    if (!(chunked == whole) || !(whole == expected))
        std::abort();
    if (whole.replyCode < -1 || whole.replyCode >= kReplyCodeCount)
        std::abort();
    for (const std::u16string& l : whole.remaining) {
        if (l.size() < 1 || l[0] != u'>' || (l.size() >= 2 && l[1] == u'('))
            std::abort();
        for (char16_t c : l)
            if (c == u'\r' || c == u'\n' || c == 0 || c == 4)
                std::abort();
    }
    return 0;
}
