#include "adapters/maildir/base64_decoder.h"

#include <array>

namespace vexa::maildir {
namespace {

constexpr std::string_view kGoesOn = "its base64 goes on after its end";
constexpr std::string_view kStray = "its base64 holds characters that base64 does not use";
constexpr std::string_view kCut = "its base64 ends in the middle of a group of four characters";

// What a character is: its six bits (0 to 63) for a letter of the alphabet, else one of these.
enum : unsigned char { kBlank = 64, kPad, kOther };
// Set in a fast-path table entry for a character that is not a letter.
constexpr std::uint32_t kNotLetter = 0x80000000u;

struct Tables {
    std::array<unsigned char, 256> kind{};
    // The letter's bits already in place for each of the four positions of a group, so that a
    // group is four lookups or'ed together; kNotLetter for anything else.
    std::array<std::array<std::uint32_t, 256>, 4> placed{};
};

constexpr Tables MakeTables() {
    Tables t;
    t.kind.fill(kOther);
    constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < kAlphabet.size(); ++i) {
        t.kind[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
    }
    for (const char c : {' ', '\t', '\r', '\n'}) t.kind[static_cast<unsigned char>(c)] = kBlank;
    t.kind[static_cast<unsigned char>('=')] = kPad;
    for (std::size_t position = 0; position < 4; ++position) {
        for (std::size_t c = 0; c < 256; ++c) {
            const unsigned char kind = t.kind[c];
            t.placed[position][c] = kind < 64 ? std::uint32_t{kind} << (18 - 6 * position) : kNotLetter;
        }
    }
    return t;
}

constexpr Tables kTables = MakeTables();

}  // namespace

Base64Decoder::Step Base64Decoder::Feed(std::string_view text, unsigned char* out) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    unsigned char* o = out;
    const auto& placed = kTables.placed;
    const auto written = [&o, out] { return static_cast<std::size_t>(o - out); };
    while (p != end) {
        if (letters_ == 0 && padding_ == 0) {
            // Between groups: whole groups of four letters decode without looking at the state.
            while (end - p >= 4) {
                const std::uint32_t group = placed[0][p[0]] | placed[1][p[1]] | placed[2][p[2]] | placed[3][p[3]];
                if ((group & kNotLetter) != 0) break;
                o[0] = static_cast<unsigned char>(group >> 16);
                o[1] = static_cast<unsigned char>(group >> 8);
                o[2] = static_cast<unsigned char>(group);
                o += 3;
                p += 4;
            }
            if (p == end) break;
        }
        const unsigned char kind = kTables.kind[*p++];
        if (kind < 64) {
            if (padding_ > 0) return {written(), kGoesOn};
            bits_ = bits_ << 6 | kind;
            if (++letters_ == 4) {
                o[0] = static_cast<unsigned char>(bits_ >> 16);
                o[1] = static_cast<unsigned char>(bits_ >> 8);
                o[2] = static_cast<unsigned char>(bits_);
                o += 3;
                letters_ = 0;
                bits_ = 0;
            }
        } else if (kind == kPad) {
            // "xx==" or "xxx=": padding completes the group it starts in.
            if (letters_ < 2 || letters_ + padding_ >= 4) return {written(), kStray};
            if (letters_ + ++padding_ == 4) {
                // The letters' bits end in padding bits that belong to no byte.
                if (letters_ == 2) {
                    *o++ = static_cast<unsigned char>(bits_ >> 4);
                } else {
                    *o++ = static_cast<unsigned char>(bits_ >> 10);
                    *o++ = static_cast<unsigned char>(bits_ >> 2);
                }
            }
        } else if (kind != kBlank) {
            return {written(), kStray};
        }
    }
    return {written(), {}};
}

std::string_view Base64Decoder::Finish() const noexcept {
    const bool complete = padding_ == 0 ? letters_ == 0 : letters_ + padding_ == 4;
    return complete ? std::string_view{} : kCut;
}

}  // namespace vexa::maildir
