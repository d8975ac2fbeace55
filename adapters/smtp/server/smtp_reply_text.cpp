#include "adapters/smtp/server/smtp_reply_text.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace vexa::smtp {
namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Sextet(char c) {
    const auto at = kAlphabet.find(c);
    return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

std::string EnhancedFor(const Reply& reply) {
    if (!reply.enhanced.empty()) return reply.enhanced;
    const int cls = reply.code / 100;
    // Only 2xx, 4xx and 5xx have enhanced codes; 334 and 354 are continuations.
    if (cls == 2 || cls == 4 || cls == 5) return std::to_string(cls) + ".0.0";
    return {};
}

}  // namespace

std::string FormatReply(const Reply& reply) {
    std::string text = reply.text;
    std::replace(text.begin(), text.end(), '\r', ' ');
    if (!text.empty() && text.back() == '\n') text.pop_back();
    const std::string enhanced = EnhancedFor(reply);
    const std::string code = std::to_string(reply.code);
    std::string out;
    std::size_t start = 0;
    while (true) {
        const auto end = text.find('\n', start);
        const bool last = end == std::string::npos;
        out += code;
        out += last ? ' ' : '-';
        if (!enhanced.empty()) {
            out += enhanced;
            out += ' ';
        }
        out.append(text, start, last ? std::string::npos : end - start);
        out += "\r\n";
        if (last) break;
        start = end + 1;
    }
    return out;
}

std::optional<std::string> DecodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool final = i + 4 == text.size();
        std::array<int, 4> v{};
        int padding = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            if (c == '=' && final && k >= 2) {
                ++padding;
                v[k] = 0;
                continue;
            }
            if (padding > 0) return std::nullopt;  // data after '='
            v[k] = Sextet(c);
            if (v[k] < 0) return std::nullopt;
        }
        const std::uint32_t bits = (static_cast<std::uint32_t>(v[0]) << 18) | (static_cast<std::uint32_t>(v[1]) << 12) |
                                   (static_cast<std::uint32_t>(v[2]) << 6) | static_cast<std::uint32_t>(v[3]);
        out += static_cast<char>((bits >> 16) & 0xFF);
        if (padding < 2) out += static_cast<char>((bits >> 8) & 0xFF);
        if (padding < 1) out += static_cast<char>(bits & 0xFF);
    }
    return out;
}

std::string EncodeBase64(std::string_view bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t bits = 0;
        for (std::size_t k = 0; k < 3; ++k)
            bits = (bits << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= n ? kAlphabet[(bits >> (18 - 6 * k)) & 0x3F] : '=';
    }
    return out;
}

std::string LogText(std::string_view text, std::size_t limit) {
    static constexpr std::string_view kHex = "0123456789abcdef";
    std::string shown;
    for (const char c : text.substr(0, limit)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 0xF];
        } else {
            shown += c;
        }
    }
    if (text.size() > limit) shown += "...";
    return shown;
}

void Scrub(std::string& secret) noexcept {
    volatile char* p = secret.data();
    for (std::size_t i = 0; i < secret.size(); ++i) p[i] = '\0';
    secret.clear();
}

}  // namespace vexa::smtp
