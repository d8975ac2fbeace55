// The attachment decoder: the bytes it writes are the ones GMime's base64 decoder writes for the
// same text, however the text is cut into reads, and it refuses what is not base64 with the
// sentence the user sees.
#include <gmime/gmime.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "adapters/maildir/base64_decoder.h"
#include "tests/maildir/maildir_fixture.h"

namespace vexa::maildir {
namespace {

constexpr std::string_view kGoesOn = "its base64 goes on after its end";
constexpr std::string_view kStray = "its base64 holds characters that base64 does not use";
constexpr std::string_view kCut = "its base64 ends in the middle of a group of four characters";

struct Outcome {
    std::string bytes;
    std::string problem;
};

// `text` fed in pieces of the given sizes (the rest in one piece), then finished.
Outcome Decode(std::string_view text, const std::vector<std::size_t>& pieces = {}) {
    Base64Decoder decoder;
    Outcome outcome;
    std::size_t next = 0;
    while (!text.empty() || next == 0) {
        const std::size_t size = next < pieces.size() ? std::min(pieces[next], text.size()) : text.size();
        ++next;
        std::vector<unsigned char> out(Base64Decoder::MaxDecoded(size));
        const Base64Decoder::Step step = decoder.Feed(text.substr(0, size), out.data());
        EXPECT_LE(step.size, out.size());
        outcome.bytes.append(reinterpret_cast<const char*>(out.data()), step.size);
        if (!step.problem.empty()) {
            outcome.problem = step.problem;
            return outcome;
        }
        text.remove_prefix(size);
        if (text.empty()) break;
    }
    outcome.problem = decoder.Finish();
    return outcome;
}

// What GMime's decoder makes of the text fed in the same pieces.
std::string GMimeDecode(std::string_view text, const std::vector<std::size_t>& pieces = {}) {
    std::string out(text.size() / 4 * 3 + 3 * (pieces.size() + 1), '\0');
    int state = 0;
    guint32 save = 0;
    std::size_t written = 0;
    for (std::size_t next = 0; !text.empty(); ++next) {
        const std::size_t size = next < pieces.size() ? std::min(pieces[next], text.size()) : text.size();
        written += g_mime_encoding_base64_decode_step(reinterpret_cast<const unsigned char*>(text.data()), size,
                                                      reinterpret_cast<unsigned char*>(out.data() + written), &state, &save);
        text.remove_prefix(size);
    }
    out.resize(written);
    return out;
}

TEST(Base64DecoderTest, DecodesWhatGMimeDecodesCutAnywhere) {
    const std::string_view texts[] = {
        "",
        "QQ==",
        "QUI=",
        "QUJD",
        "QUJDRA==",
        "QUJDREU=",
        "QUJDREVG",
        "QUJD\r\nREVG\r\n",
        "QU\r\nJD RE\tVG\n",
        " Q U J D R E = = \r\n",
        "QQ=\r\n=\r\n",
        "QUJDREU\n=\n\n",
        "QR==",                    // padding bits that are not zero: GMime keeps the byte
        "QUJ/+w==",
        "////\n++++\n",
        "\r\n\r\n",
    };
    for (const std::string_view text : texts) {
        const std::string expected = GMimeDecode(text);
        const Outcome whole = Decode(text);
        EXPECT_EQ(whole.problem, "") << text;
        EXPECT_EQ(whole.bytes, expected) << text;
        for (std::size_t first = 1; first < text.size(); ++first) {
            for (const std::size_t second : {std::size_t{1}, std::size_t{2}, std::size_t{3}}) {
                const std::vector<std::size_t> pieces = {first, second, 1};
                const Outcome cut = Decode(text, pieces);
                EXPECT_EQ(cut.problem, "") << text << " cut at " << first << "+" << second;
                EXPECT_EQ(cut.bytes, expected) << text << " cut at " << first << "+" << second;
                EXPECT_EQ(cut.bytes, GMimeDecode(text, pieces)) << text << " cut at " << first << "+" << second;
            }
        }
    }
    EXPECT_EQ(Decode("QUJDREU=").bytes, "ABCDE");
}

TEST(Base64DecoderTest, RandomDataInRandomLinesAndReads) {
    std::mt19937 random(20240601);
    const auto upTo = [&random](std::size_t most) { return std::uniform_int_distribution<std::size_t>(0, most)(random); };
    for (int round = 0; round < 400; ++round) {
        std::string data(upTo(round < 100 ? 40 : 5000), '\0');
        for (char& c : data) c = static_cast<char>(upTo(255));
        const std::string encoded = test::Base64(data);
        // Lines of any length, not only of whole groups, ended by LF or CRLF, with a blank now and then.
        const std::size_t line = 1 + upTo(100);
        const std::string end = upTo(1) == 0 ? "\n" : "\r\n";
        std::string text;
        for (std::size_t at = 0; at < encoded.size(); at += line) {
            std::string piece = encoded.substr(at, line);
            if (upTo(9) == 0) piece.insert(upTo(piece.size()), upTo(1) == 0 ? " " : "\t");
            text += piece + end;
        }
        std::vector<std::size_t> reads;
        for (std::size_t total = 0; total < text.size();) {
            reads.push_back(1 + upTo(upTo(3) == 0 ? 7 : 700));
            total += reads.back();
        }
        const Outcome outcome = Decode(text, reads);
        ASSERT_EQ(outcome.problem, "") << "round " << round;
        ASSERT_EQ(outcome.bytes, GMimeDecode(text, reads)) << "round " << round;
        ASSERT_EQ(outcome.bytes, data) << "round " << round;
    }
}

TEST(Base64DecoderTest, RefusesWhatIsNotBase64) {
    struct Case {
        std::string_view text;
        std::vector<std::size_t> pieces;
        std::string_view problem;
    };
    const Case cases[] = {
        {"QQ==QUJD", {}, kGoesOn},
        {"QQ==\r\nQUJD\r\n", {}, kGoesOn},
        {"QUI=", {4}, ""},
        {"QUI=Q", {4}, kGoesOn},
        {"QQ=", {3}, kCut},
        {"QQ=\n=A", {4, 1}, kGoesOn},
        {"QUJ", {}, kCut},
        {"QUJDR", {2}, kCut},
        {"QUJDR\r\n", {}, kCut},
        {"Q===", {}, kStray},
        {"=", {}, kStray},
        {"QUJD=", {}, kStray},
        {"QQ===", {}, kStray},
        {"QUI==", {2, 2}, kStray},
        {"QUJD*QUJD", {}, kStray},
        {"QUJD-_", {}, kStray},
        {std::string_view("QU\0D", 4), {}, kStray},
        {"QUJD\x80", {}, kStray},
        {"QUJD\vQUJD", {}, kStray},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Decode(c.text, c.pieces).problem, c.problem) << c.text;
    }
}

}  // namespace
}  // namespace vexa::maildir
