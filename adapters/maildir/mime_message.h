// A message parsed by GMime over its file (or bytes read from standard input), answering what the
// mail items ask. Only the Maildir host's .cpp files use it. A message file of a few megabytes is
// read into memory once and everything works on those bytes; a larger one stays the message's
// store, so its attachment content is read from disk when saved and never held in memory whole.
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
    // least one of From, To, Subject or Date. A message beyond the limits of MessageShape is read
    // only as far as they allow, and says so in Unreadable().
    static std::shared_ptr<MimeMessage> Parse(GObjectRef<GMimeStream> source);
    // A stream over the file: its bytes in memory when it is small enough, else the file itself.
    // Fails with the system's reason when the file cannot be opened.
    static GObjectRef<GMimeStream> OpenFile(const std::filesystem::path& file);
    static GObjectRef<GMimeStream> FromBytes(std::string_view bytes);

    struct ParserReport;
    struct ParserOptionsFree {
        void operator()(GMimeParserOptions* options) const noexcept { g_mime_parser_options_free(options); }
    };
    using ParserOptionsPtr = std::unique_ptr<GMimeParserOptions, ParserOptionsFree>;

    MimeMessage(GObjectRef<GMimeStream> source, gint64 parsedLength, std::unique_ptr<ParserReport> report,
                ParserOptionsPtr options, GObjectRef<GMimeMessage> message, std::string unreadable);
    ~MimeMessage();
    MimeMessage(const MimeMessage&) = delete;
    MimeMessage& operator=(const MimeMessage&) = delete;

    // Decoded from RFC 2047 to UTF-8 by our own decoder; "" when the message has none.
    std::string Subject() const;
    // The first text/plain part that is not an attachment and not blank, else a rendition of the
    // first such text/html one, else "". Valid UTF-8 whatever the part's charset claims; only the
    // first megabyte of a part is read, which holds any notice a fax service sends.
    std::string Body() const;
    // The Message-ID field's id, without angle brackets; "" without one.
    std::string MessageId() const;
    std::vector<MailAddress> From() const;
    std::vector<MailAddress> ReplyTo() const;
    // To, then Cc, then Bcc, groups flattened.
    std::vector<MailAddress> Recipients() const;
    // The date of the topmost Received: field, when it has one that parses.
    std::optional<std::time_t> ReceivedDate() const;
    // Why the message's parts were not all read ("" when they were): a sentence for the user.
    const std::string& Unreadable() const noexcept { return unreadable_; }
    // The parts with a file name or marked as attachments, depth-first in document order. They
    // live as long as this.
    std::vector<GMimePart*> AttachmentParts() const;
    // Writes the content of `part` (one of AttachmentParts), decoded, to the file `fd`; returns 0,
    // or the errno of a write that failed. Fails (HostError) when the message breaks off inside
    // the part, when its base64 is damaged and when its transfer encoding is one GMime cannot
    // decode, so that no damaged file passes for the attachment; `name` names it in the error.
    // What was written by then stays; the caller removes the file.
    int WriteContent(GMimePart* part, int fd, const std::string& name) const;
    // The message exactly as it was read.
    std::string RawBytes() const;

private:
    // Declared first so the parts, whose content reads through it, go before it; the options and
    // the report are used by the message's lazy parsing and go after it as well.
    GObjectRef<GMimeStream> source_;
    gint64 parsedLength_;
    std::unique_ptr<ParserReport> report_;
    ParserOptionsPtr options_;
    GObjectRef<GMimeMessage> message_;
    std::string unreadable_;
};

// The file name of `part` as its sender wrote it, decoded to UTF-8; "" when it has none.
std::string PartFileName(GMimePart* part);

// The Subject: field for `subject` as it goes out: as is when ASCII, else RFC 2047 encoded and
// folded (folds separated by "\n", no final line end). Line breaks in `subject` become spaces so
// that a subject can never add fields of its own.
std::string SubjectField(const std::string& subject);

}  // namespace vexa::maildir
