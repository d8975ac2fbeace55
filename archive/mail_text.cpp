#include "archive/mail_text.h"

#include <algorithm>
#include <limits>
#include <string_view>

#include "archive/archive_names.h"
#include "host/ascii_text.h"

namespace vexa {
namespace {

constexpr std::string_view kReferenceMarker = "* The reference number for this fax is ";

}  // namespace

std::string ReferenceNumber(const std::string& body) {
    const std::size_t found = FindIgnoringAsciiCase(body, kReferenceMarker);
    if (found == std::string_view::npos) return "(unknown)";
    const std::size_t start = found + kReferenceMarker.size();
    const std::size_t dot = body.find('.', start);
    if (dot == std::string::npos || dot == start) return "(unknown)";
    return body.substr(start, dot - start);
}

std::string FaxNumber(const std::string& recipientAddress) {
    const std::size_t at = recipientAddress.find('@');
    if (at == std::string::npos || at == 0) return "(unknown)";
    return recipientAddress.substr(0, at);
}

std::string TrackingTag(std::int64_t id) { return " {" + FormatId(id) + "}"; }

std::optional<std::int64_t> TaggedRowId(const std::string& body) {
    const std::size_t close = body.rfind('}');
    if (close == std::string::npos || close == 0) return std::nullopt;
    const std::size_t open = body.rfind('{', close - 1);
    if (open == std::string::npos || close - open < 2) return std::nullopt;
    // Only our own tags count: plain ASCII digits, nothing else (no blanks, signs or exponents).
    std::int64_t id = 0;
    for (std::size_t at = open + 1; at < close; ++at) {
        const char c = body[at];
        if (c < '0' || c > '9') return std::nullopt;
        if (id > (std::numeric_limits<std::int64_t>::max() - (c - '0')) / 10) return std::nullopt;
        id = id * 10 + (c - '0');
    }
    return id;
}

}  // namespace vexa
