#include "viewer/http_safety.h"

#include <cstdio>

namespace vexa::viewer {

std::optional<std::string> CookieValue(std::string_view header, std::string_view name) {
    while (!header.empty()) {
        const std::size_t end = header.find(';');
        std::string_view pair = header.substr(0, end);
        header = end == std::string_view::npos ? std::string_view() : header.substr(end + 1);
        while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
        const std::size_t equals = pair.find('=');
        if (equals != std::string_view::npos && pair.substr(0, equals) == name) return std::string(pair.substr(equals + 1));
    }
    return std::nullopt;
}

bool SameSecret(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

bool AddressedToUs(std::string_view hostHeader, std::string_view listenHost, int port) {
    const std::string suffix = ":" + std::to_string(port);
    if (!hostHeader.ends_with(suffix)) return false;
    const std::string_view host = hostHeader.substr(0, hostHeader.size() - suffix.size());
    if (host == listenHost) return true;
    const bool loopback = listenHost == "127.0.0.1" || listenHost == "localhost" || listenHost == "::1";
    return loopback && (host == "127.0.0.1" || host == "localhost" || host == "[::1]");
}

namespace {

// `name` without the marks that turn the direction of text around (U+200E, U+200F,
// U+202A-U+202E, U+2066-U+2069, three bytes each in UTF-8): "x<U+202E>fdp.exe" would be offered
// for saving as "xexe.pdf".
std::string WithoutBidiControls(std::string_view name) {
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (i + 2 < name.size() && static_cast<unsigned char>(name[i]) == 0xE2) {
            const auto second = static_cast<unsigned char>(name[i + 1]);
            const auto third = static_cast<unsigned char>(name[i + 2]);
            if ((second == 0x80 && (third == 0x8E || third == 0x8F || (third >= 0xAA && third <= 0xAE))) ||
                (second == 0x81 && third >= 0xA6 && third <= 0xA9)) {
                i += 2;
                continue;
            }
        }
        out += name[i];
    }
    return out;
}

}  // namespace

std::string ContentDisposition(bool attachment, std::string_view original) {
    const std::string fileName = WithoutBidiControls(original);
    std::string plain;
    std::string encoded;
    for (const char c : fileName) {
        const auto byte = static_cast<unsigned char>(c);
        const bool safe = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
                          c == '.' || c == '-' || c == '_';
        plain += (byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\' && c != '/' && c != ';') ? c : '_';
        if (safe) {
            encoded += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", byte);
            encoded += hex;
        }
    }
    if (plain.empty()) plain = "fax";
    return std::string(attachment ? "attachment" : "inline") + "; filename=\"" + plain + "\"; filename*=UTF-8''" +
           (encoded.empty() ? "fax" : encoded);
}

}  // namespace vexa::viewer
