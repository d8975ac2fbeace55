// A message parsed by GMime over its file (or bytes read from standard input), answering what the
// mail items ask. Only the Maildir host's .cpp files use it; the file stays the message's store,
// so attachment content is read from disk when saved and never held in memory.
#pragma once

#include <gmime/gmime.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "adapters/maildir/gobject_ref.h"
#include "adapters/maildir/maildir_mail.h"

namespace vexa::maildir {

// GMime must be initialised once per process before any other call.
void EnsureGMime();

class MimeMessage {
public:
    // The message in `source`, or null when it is not a mail message: no header block with at
    // least one of From, To, Subject or Date.
    static std::shared_ptr<MimeMessage> Parse(GObjectRef<GMimeStream> source);
    // A stream over the file; fails with the system's reason when the file cannot be opened.
    static GObjectRef<GMimeStream> OpenFile(const std::filesystem::path& file);
    static GObjectRef<GMimeStream> FromBytes(std::string_view bytes);

    MimeMessage(GObjectRef<GMimeStream> source, GObjectRef<GMimeMessage> message)
        : source_(std::move(source)), message_(std::move(message)) {}

    // Decoded from RFC 2047 to UTF-8; "" when the message has none.
    std::string Subject() const;
    // The first text/plain part that is not an attachment, else a rendition of the first
    // text/html one, else "".
    std::string Body() const;
    std::vector<MailAddress> From() const;
    std::vector<MailAddress> ReplyTo() const;
    // To, then Cc, then Bcc, groups flattened.
    std::vector<MailAddress> Recipients() const;
    // The date of the topmost Received: field, when it has one that parses.
    std::optional<std::time_t> ReceivedDate() const;
    // The parts with a file name, depth-first in document order. They live as long as this.
    std::vector<GMimePart*> AttachmentParts() const;
    // The message exactly as it was read.
    std::string RawBytes() const;

private:
    // Declared first so the parts, whose content reads through it, go before it.
    GObjectRef<GMimeStream> source_;
    GObjectRef<GMimeMessage> message_;
};

// The Subject: field for `subject` as it goes out: as is when ASCII, else RFC 2047 encoded and
// folded (folds separated by "\n", no final line end). Line breaks in `subject` become spaces so
// that a subject can never add fields of its own.
std::string SubjectField(const std::string& subject);

}  // namespace vexa::maildir
