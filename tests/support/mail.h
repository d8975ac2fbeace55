// Mail of the service as tests use it: received faxes, faxes to send, confirmations.
#pragma once

#include <string>

#include "adapters/memory/memory_mail.h"

namespace vexa::testing {

inline constexpr const char* kServiceSender = "message@inbound.efax.com";
inline constexpr const char* kConfirmSender = "send@mail.efax.com";
inline constexpr const char* kGateway = "12125551234@efaxsend.com";
// The first bytes of a little-endian TIFF, with a NUL and a high byte to catch text handling.
inline const std::string kTiff("II*\0\x08\0\0\0\xff\xfe", 10);
inline const std::string kDoc("\xD0\xCF\x11\xE0 quote", 10);

inline memory::MailSpec IncomingFax(std::string subject = "eFax message from \"2125550000\" - 2 page(s)") {
    return {.subject = std::move(subject),
            .body = "You have received a 2 page fax.\r\n* The reference number for this fax is NY4711-23. Thank you",
            .senderAddress = kServiceSender,
            .recipients = {{"me@example.org", "Me"}},
            .attachments = {{"fax.tif", kTiff}},
            .receivedTime = {2026, 12, 8, 9, 5, 3}};
}

inline memory::MailSpec OutgoingFax(std::string subject = "Quote for ACME") {
    return {.subject = std::move(subject),
            .body = "Please find the quote attached.",
            .senderAddress = "me@example.org",
            .recipients = {{kGateway, "Fax"}},
            .attachments = {{"quote.doc", kDoc}},
            .receivedTime = {2026, 12, 8, 10, 0, 0}};
}

inline memory::MailSpec Confirmation(const std::string& subject, const std::string& body) {
    return {.subject = subject, .body = body, .senderAddress = kConfirmSender, .receivedTime = {2026, 12, 8, 10, 5, 0}};
}

}  // namespace vexa::testing
