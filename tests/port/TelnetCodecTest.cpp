// The Telnet reader and writer of rfc2217:// ports, without a network: what a server sends,
// cut anywhere, becomes the same data and the same answers; Telnet never reaches the data.
#include "port/TelnetCodec.h"

#include <gtest/gtest.h>

namespace {

using C = clTelnetCodec;

std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes)
        s.push_back(static_cast<char>(b));
    return s;
}

struct Fed {
    std::string data, reply;
};

// Feeds input to a codec that has started its negotiation, in pieces of `piece` bytes (0: whole).
Fed Feed(C& codec, const std::string& input, size_t piece = 0) {
    Fed out;
    const size_t step = piece == 0 ? std::max<size_t>(input.size(), 1) : piece;
    for (size_t at = 0; at < input.size(); at += step) {
        const std::string part = input.substr(at, step);
        codec.Receive(reinterpret_cast<const uint8_t*>(part.data()), part.size(), out.data,
                      out.reply);
    }
    return out;
}

struct ReceiveCase {
    const char* name;
    std::string input;
    std::string data;
    std::string reply;
};

class TelnetReceive : public ::testing::TestWithParam<ReceiveCase> {};

TEST_P(TelnetReceive, GivesTheSameDataAndAnswersHoweverTheBytesAreCut) {
    const ReceiveCase& c = GetParam();
    for (size_t piece : {size_t{0}, size_t{1}, size_t{2}, size_t{3}}) {
        C codec;
        (void)codec.Start();
        const Fed fed = Feed(codec, c.input, piece);
        EXPECT_EQ(fed.data, c.data) << "pieces of " << piece;
        EXPECT_EQ(fed.reply, c.reply) << "pieces of " << piece;
    }
}

const std::string kSig = "Quillon";

INSTANTIATE_TEST_SUITE_P(
    Cases, TelnetReceive,
    ::testing::Values(
        ReceiveCase{"PlainData", ">OK\r\n\x04", ">OK\r\n\x04", ""},
        ReceiveCase{"DoubledIacIsOneFfByte", B({'>', 255, 255, 'x', 255, 255}),
                    B({'>', 255, 'x', 255}), ""},
        // What ser2net says first: the options we asked for are taken without an answer, ECHO
        // is refused, a NOTIFY-MODEMSTATE goes nowhere.
        ReceiveCase{"ServerOpeningAnsweredOnlyWhereNeeded",
                    B({255, 251, 3,   255, 253, 3,   255, 251, 1,   255, 254, 1, 255, 253,
                       0,   255, 251, 0,   255, 253, 44,  255, 250, 44,  107, 0, 255, 240}),
                    "", B({255, 254, 1})},
        ReceiveCase{"UnknownOptionsRefused", B({255, 253, 24, 255, 251, 31}), "",
                    B({255, 252, 24, 255, 254, 31})},
        ReceiveCase{"CommandsAmongDataTakenOut",
                    B({'a', 255, 241, 'b', 255, 249, 'c', 255, 242, 'd'}), "abcd", ""},
        ReceiveCase{"AnswerInsideDataTakenOut",
                    B({'>', 255, 250, 44, 101, 0, 0, 37, 128, 255, 240, 'O', 'K'}), ">OK", ""},
        ReceiveCase{"FfInsideAnAnswerStaysInIt",
                    B({255, 250, 44, 101, 0, 0, 255, 255, 255, 255, 255, 240, 'x'}), "x", ""},
        ReceiveCase{"SignatureAskedIsGiven", B({255, 250, 44, 100, 255, 240}), "",
                    B({255, 250, 44, 0}) + kSig + B({255, 240})},
        // A subnegotiation broken by a command: dropped, and the command still counts.
        ReceiveCase{"BrokenSubnegotiationThenCommand", B({255, 250, 44, 101, 1, 255, 251, 1, 'z'}),
                    "z", B({255, 254, 1})},
        ReceiveCase{"OverlongSubnegotiationDropped",
                    B({255, 250, 44}) + std::string(C::kMaxSubnegotiation, 'q') + "data", "data",
                    ""},
        ReceiveCase{"StraySeAndIacAtTheEndVanish", B({'a', 255, 240, 'b', 255}), "ab", ""},
        // The server has not agreed to BINARY here (the opening is not answered): CR NUL is CR.
        ReceiveCase{"CrNulIsCrWithoutBinary", B({'\r', 0, '\n', 0}), B({'\r', '\n', 0}), ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TelnetCodec, NegotiationTellsWhetherTheServerTakesTheComPortOption) {
    C accepted, refused;
    EXPECT_EQ(accepted.Start(),
              B({255, 251, 44, 255, 251, 0, 255, 251, 3, 255, 253, 0, 255, 253, 3}));
    EXPECT_EQ(accepted.ComPort(), C::Option::Asked);
    Feed(accepted, B({255, 253, 44, 255, 253, 0}));
    EXPECT_EQ(accepted.ComPort(), C::Option::On);
    EXPECT_TRUE(accepted.SendBinary());
    (void)refused.Start();
    const Fed fed = Feed(refused, B({255, 254, 44, 255, 254, 0}));
    EXPECT_EQ(refused.ComPort(), C::Option::Refused);
    EXPECT_FALSE(refused.SendBinary());
    EXPECT_EQ(fed.reply, "") << "a refusal of what we asked is not answered";
}

TEST(TelnetCodec, AnswersOfTheServerAreCountedWithTheirValues) {
    C codec;
    (void)codec.Start();
    Feed(codec, B({255, 250, 44, 101, 0, 3,   208, 144, 255, 240, 255, 250, 44, 102, 7, 255, 240,
                   255, 250, 44, 105, 1, 255, 240, 255, 250, 44,  101, 0,   0,  0,   1, 255, 240}));
    EXPECT_EQ(codec.AnswerCount(C::kSetBaudRate), 2u);
    EXPECT_EQ(codec.AnswerValue(C::kSetBaudRate), 1u);
    EXPECT_EQ(codec.AnswerValue(C::kSetDataSize), 7u);
    EXPECT_EQ(codec.AnswerCount(C::kSetControl), 1u);
    EXPECT_EQ(codec.AnswerCount(C::kSetParity), 0u);
    // A speed answer of the wrong size is garbage, not a speed.
    Feed(codec, B({255, 250, 44, 101, 9, 255, 240}));
    EXPECT_EQ(codec.AnswerCount(C::kSetBaudRate), 2u);
    EXPECT_EQ(codec.Garbage(), 1u);
}

TEST(TelnetCodec, OutgoingFfIsDoubledAndABareCrPaddedOnlyWithoutBinary) {
    const std::string data = B({'g', 255, 'x', '\r', 'y', '\r', '\n', '\r'});
    std::string binary, text;
    C::Escape(reinterpret_cast<const uint8_t*>(data.data()), data.size(), true, binary);
    C::Escape(reinterpret_cast<const uint8_t*>(data.data()), data.size(), false, text);
    EXPECT_EQ(binary, B({'g', 255, 255, 'x', '\r', 'y', '\r', '\n', '\r'}));
    EXPECT_EQ(text, B({'g', 255, 255, 'x', '\r', 0, 'y', '\r', '\n', '\r', 0}));
    EXPECT_EQ(C::SetBaudRate(115200), B({255, 250, 44, 1, 0, 1, 194, 0, 255, 240}));
    EXPECT_EQ(C::SetByte(C::kSetControl, 255), B({255, 250, 44, 5, 255, 255, 255, 240}));
}

} // namespace
