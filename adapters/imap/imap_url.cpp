#include "adapters/imap/imap_url.h"

#include <charconv>

#include "adapters/imap/imap_error.h"

namespace vexa::imap {

namespace {

[[noreturn]] void Bad(std::string_view url, const std::string& why) {
    throw ImapError(ImapFailure::Usage, "The mail server address " + std::string(url) + " " + why +
                                            " (write imaps://user@host or imap://user@host[:port]).");
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PercentDecoded(std::string_view url, std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const int high = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
        const int low = high >= 0 ? HexValue(text[i + 2]) : -1;
        if (low < 0) Bad(url, "has a broken %-escape in the user name");
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

bool IsHostChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_';
}

}  // namespace

ImapUrl ParseImapUrl(std::string_view url) {
    ImapUrl result;
    std::string_view rest;
    if (url.starts_with("imaps://")) {
        result.tls = true;
        result.port = 993;
        rest = url.substr(8);
    } else if (url.starts_with("imap://")) {
        result.tls = false;
        result.port = 143;
        rest = url.substr(7);
    } else {
        Bad(url, "does not start with imaps:// or imap://");
    }
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    if (rest.find_first_of("/?#") != std::string_view::npos) Bad(url, "names more than a server");

    const auto at = rest.rfind('@');
    if (at == std::string_view::npos || at == 0) Bad(url, "names no user");
    // user:password@host: the address would carry the password into every message that shows it,
    // so it is refused without being repeated.
    if (rest.substr(0, at).find(':') != std::string_view::npos)
        throw ImapError(ImapFailure::Usage,
                        "The mail server address must not carry a password: give it in $VEXA_IMAP_PASSWORD or "
                        "with --password-command.");
    result.user = PercentDecoded(url, rest.substr(0, at));
    if (result.user.find_first_of(std::string_view("\0\r\n", 3)) != std::string::npos)
        Bad(url, "has a control character in the user name");
    std::string_view hostport = rest.substr(at + 1);

    std::string_view port;
    if (hostport.starts_with('[')) {
        const auto close = hostport.find(']');
        if (close == std::string_view::npos) Bad(url, "has an IPv6 address without its closing bracket");
        result.host = std::string(hostport.substr(1, close - 1));
        for (char c : result.host)
            if (HexValue(c) < 0 && c != ':' && c != '.') Bad(url, "has a malformed IPv6 address");
        if (result.host.find(':') == std::string::npos) Bad(url, "has a malformed IPv6 address");
        const std::string_view after = hostport.substr(close + 1);
        if (!after.empty()) {
            if (!after.starts_with(':')) Bad(url, "has something after the IPv6 address");
            port = after.substr(1);
            if (port.empty()) Bad(url, "has an empty port");
        }
    } else {
        const auto colon = hostport.find(':');
        result.host = std::string(hostport.substr(0, colon));
        if (colon != std::string_view::npos) {
            port = hostport.substr(colon + 1);
            if (port.empty()) Bad(url, "has an empty port");
        }
        for (char c : result.host)
            if (!IsHostChar(c)) Bad(url, "has a character a host name cannot have");
    }
    if (result.host.empty()) Bad(url, "names no host");
    if (!port.empty()) {
        int value = 0;
        const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (ec != std::errc() || end != port.data() + port.size() || value < 1 || value > 65535)
            Bad(url, "has a port that is not a number from 1 to 65535");
        result.port = value;
    }
    return result;
}

}  // namespace vexa::imap
