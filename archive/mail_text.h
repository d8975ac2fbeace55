// What the store procedures read out of a mail's text: the service's reference number in a
// received fax, the fax number in a gateway address, and the tracking tag that a confirmation
// quotes from our outgoing subject.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vexa {

// The text between "* The reference number for this fax is " (any letter case) and the next
// ".", or "(unknown)" when there is no marker, no dot after it, or nothing in between.
std::string ReferenceNumber(const std::string& body);

// The part of a gateway address before its first "@", or "(unknown)" when there is none.
std::string FaxNumber(const std::string& recipientAddress);

// The tracking tag appended to an outgoing subject: a space, "{", the 7-digit row id, "}".
std::string TrackingTag(std::int64_t id);

// The row id of the last tag in a confirmation's text: the text between the last "}" and the
// nearest "{" before it, when it is one or more ASCII digits. An id too large for any row gives
// nothing to update either.
std::optional<std::int64_t> TaggedRowId(const std::string& body);

}  // namespace vexa
