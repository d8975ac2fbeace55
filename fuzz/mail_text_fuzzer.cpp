// What the store procedures read out of a mail's text, on arbitrary text: the reference number
// of a received fax, the fax number of a gateway address, the tracking tag in a confirmation,
// and the text test that recognition uses to tell the service's mail.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "archive/mail_text.h"
#include "fuzz/fuzz_support.h"
#include "host/ascii_text.h"
#include "recognition/classification.h"

namespace {

using vexa::fuzz::Check;

constexpr std::string_view kUnknown = "(unknown)";
constexpr std::string_view kMarker = "* The reference number for this fax is ";

bool AllDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

void CheckReferenceNumber(const std::string& body) {
    const std::string number = vexa::ReferenceNumber(body);
    if (number == kUnknown) return;
    // What the archive gets is the text between the marker and the next dot, nothing invented.
    Check(!number.empty() && number.size() < body.size(), "a reference number is a part of the text", number);
    Check(number.find('.') == std::string::npos, "a reference number holds no dot", number);
    const std::size_t marker = vexa::FindIgnoringAsciiCase(body, kMarker);
    Check(marker != std::string::npos, "a reference number comes only after the marker");
    Check(body.compare(marker + kMarker.size(), number.size(), number) == 0 &&
              body[marker + kMarker.size() + number.size()] == '.',
          "the reference number is the text after the first marker, up to the dot", number);
}

void CheckFaxNumber(const std::string& address) {
    const std::string number = vexa::FaxNumber(address);
    if (number == kUnknown && (address.empty() || address.front() == '@' || address.find('@') == std::string::npos)) {
        return;
    }
    Check(!number.empty() && number.find('@') == std::string::npos, "a fax number holds no '@'", number);
    Check(address.compare(0, number.size(), number) == 0 && address[number.size()] == '@',
          "the fax number is the address up to its first '@'", number);
}

void CheckTaggedRowId(const std::string& body) {
    const std::optional<std::int64_t> id = vexa::TaggedRowId(body);
    if (!id) return;
    // Only the last tag counts, and only when it is plain digits that name a row.
    Check(*id >= 0, "a tagged row id is never negative");
    const std::size_t close = body.rfind('}');
    Check(close != std::string::npos, "a row id comes from a tag");
    const std::size_t open = body.rfind('{', close);
    Check(open != std::string::npos, "a row id comes from a tag");
    std::string_view digits = std::string_view(body).substr(open + 1, close - open - 1);
    Check(AllDigits(digits), "a row id comes from digits only", digits);
    digits.remove_prefix(std::min(digits.find_first_not_of('0'), digits.size() - 1));
    Check(digits == std::to_string(*id), "the row id is the number the tag shows", digits);
}

// A tag that our own send appended comes back from the confirmation that quotes the subject,
// whatever the user wrote in front of it.
void CheckTagRoundTrip(const std::string& subject, std::int64_t id) {
    const std::string tag = vexa::TrackingTag(id);
    Check(tag.size() >= 10 && tag.size() <= 23, "a tag is short", tag);
    if (id < 0) return;  // rows never have negative ids, and their tags never count
    Check(tag.starts_with(" {") && tag.ends_with("}") && AllDigits(std::string_view(tag).substr(2, tag.size() - 3)),
          "a tag is a blank and digits in braces", tag);
    Check(vexa::TaggedRowId(tag) == id, "a tag alone gives its row back", tag);
    const std::string confirmation = "Successful transmission to 12125551234. Re: " + subject + tag;
    Check(vexa::TaggedRowId(confirmation) == id, "a tagged subject gives its row back", confirmation);
}

// Recognition's test: the criterion occurs in the text, ASCII letters without case.
void CheckContains(std::string_view text, std::string_view criterion) {
    const bool expected = !text.empty() && !criterion.empty() && vexa::AsciiLower(text).find(vexa::AsciiLower(criterion)) != std::string::npos;
    Check(vexa::Contains(text, criterion) == expected, "Contains finds the criterion in any letter case",
          criterion);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckReferenceNumber(text);
    CheckFaxNumber(text);
    CheckTaggedRowId(text);

    std::int64_t id = 0;
    if (size > 0) std::memcpy(&id, data, std::min(size, sizeof id));
    CheckTagRoundTrip(text, id);
    CheckTagRoundTrip(text, id & INT64_MAX);

    const std::size_t line = text.find('\n');
    if (line != std::string::npos) {
        CheckContains(std::string_view(text).substr(line + 1), std::string_view(text).substr(0, line));
    }
    return 0;
}
