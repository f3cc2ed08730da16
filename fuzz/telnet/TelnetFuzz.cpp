// What a serial device server sends on an rfc2217:// port, arbitrary bytes in arbitrary
// chunks, through the Telnet reader. The first byte of an input chooses the chunk size; the
// rest is what the server sends.
//
// Checked: the data and the answers do not depend on the chunking; the data is never longer
// than what came in; each received byte makes a bounded answer; and data escaped for sending
// reads back as itself once the server has agreed to BINARY.
#include "port/TelnetCodec.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

struct Fed {
    std::string data, reply;
    bool operator==(const Fed&) const = default;
};

Fed Feed(const uint8_t* bytes, size_t size, size_t chunk) {
    clTelnetCodec codec;
    Fed out;
    out.reply = codec.Start();
    for (size_t at = 0; at < size; at += chunk)
        codec.Receive(bytes + at, std::min(chunk, size - at), out.data, out.reply);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const size_t chunk = data[0] % 17 + 1;
    const uint8_t* bytes = data + 1;
    const size_t length = size - 1;

    const Fed whole = Feed(bytes, length, length == 0 ? 1 : length);
    const Fed cut = Feed(bytes, length, chunk);
    if (!(whole == cut))
        std::abort();
    if (whole.data.size() > length)
        std::abort();
    // The opening, and per byte at most a refusal (3 bytes) or a signature (about 12 bytes
    // for the 6 of an asking subnegotiation).
    if (whole.reply.size() > clTelnetCodec().Start().size() + 3 * length)
        std::abort();

    // Escaped and read back, the bytes are themselves.
    std::string sent;
    clTelnetCodec::Escape(bytes, length, true, sent);
    clTelnetCodec reader;
    (void)reader.Start();
    std::string ignored, back;
    const uint8_t binary[] = {clTelnetCodec::kIac, clTelnetCodec::kWill, clTelnetCodec::kOptBinary};
    reader.Receive(binary, sizeof binary, ignored, ignored);
    reader.Receive(reinterpret_cast<const uint8_t*>(sent.data()), sent.size(), back, ignored);
    if (back != std::string(reinterpret_cast<const char*>(bytes), length))
        std::abort();
    return 0;
}
