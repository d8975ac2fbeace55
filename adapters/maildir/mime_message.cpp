#include "adapters/maildir/mime_message.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "adapters/maildir/base64_decoder.h"
#include "adapters/maildir/html_text.h"
#include "adapters/maildir/message_shape.h"
#include "adapters/maildir/mime_text.h"
#include "adapters/maildir/raw_header.h"
#include "adapters/maildir/rfc2047.h"

namespace vexa::maildir {

struct MimeMessage::ParserReport {
    // The message ends inside a header block or before a multipart's closing boundary.
    bool truncated = false;
    // GMime stopped descending into nested parts: the deeper ones were read as content.
    bool nestedTooDeep = false;
};

namespace {

// Enough of a text part for any notice a fax service sends; a larger part is not read further.
constexpr std::size_t kBodyBytes = 1u << 20;
constexpr std::size_t kChunk = 65536;
// An attachment's content is read and written in pieces this large: a fax of a few hundred
// kilobytes takes a few reads and writes, and a large one still never sits in memory whole.
constexpr std::size_t kContentChunk = 128u << 10;
// A message file up to this size is read into memory with one read, so that sizing it, parsing
// it and saving its attachments all work on the same bytes instead of reading the file three
// times in small pieces. Larger files (a fax of tens of megabytes) stay streamed from the disk.
constexpr std::uint64_t kInMemoryBytes = 8u << 20;

std::string Text(const char* text) { return text != nullptr ? text : ""; }

void Flatten(InternetAddressList* list, std::vector<MailAddress>& out) {
    if (list == nullptr) return;
    const int count = internet_address_list_length(list);
    for (int i = 0; i < count; ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_GROUP(address)) {
            Flatten(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), out);
        } else if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
            std::string addr = ValidUtf8(Text(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address))));
            if (addr.empty()) continue;
            out.push_back({ValidUtf8(Text(internet_address_get_name(address))), std::move(addr)});
        }
    }
}

// The raw values of every field called `name`, in order; nothing when there is none.
std::vector<std::string> RawFields(GMimeObject* object, const char* name) {
    std::vector<std::string> values;
    GMimeHeaderList* headers = g_mime_object_get_header_list(object);
    const int count = g_mime_header_list_get_count(headers);
    for (int i = 0; i < count; ++i) {
        GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);
        if (g_ascii_strcasecmp(g_mime_header_get_name(header), name) != 0) continue;
        const char* raw = g_mime_header_get_raw_value(header);
        values.push_back(Text(raw != nullptr ? raw : g_mime_header_get_value(header)));
    }
    return values;
}

// The mailboxes of the fields called `field`, their encoded display names decoded by our
// decoder: GMime parses the addresses, each name written with encoded words is read again from
// the field's raw text (the mailbox matched by its address, in order).
std::vector<MailAddress> Addresses(GMimeMessage* message, InternetAddressList* list, const char* field) {
    std::vector<MailAddress> addresses;
    Flatten(list, addresses);
    std::vector<RawMailbox> raw;
    for (const std::string& value : RawFields(GMIME_OBJECT(message), field)) {
        if (value.find("=?") == std::string::npos) continue;
        for (RawMailbox& mailbox : RawMailboxes(value)) raw.push_back(std::move(mailbox));
    }
    std::vector<bool> used(raw.size(), false);
    for (MailAddress& address : addresses) {
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (used[i] || g_ascii_strcasecmp(raw[i].address.c_str(), address.address.c_str()) != 0) continue;
            used[i] = true;
            if (raw[i].phrase.find("=?") != std::string::npos) address.name = DecodePhrase(raw[i].phrase);
            break;
        }
    }
    return addresses;
}

bool HasFileName(GMimeObject* part) {
    if (!GMIME_IS_PART(part)) return false;
    const char* name = g_mime_part_get_filename(GMIME_PART(part));
    return name != nullptr && *name != '\0';
}

// A part with a file name, or one its sender marked as an attachment even without a name.
bool IsAttachment(GMimeObject* part) {
    return GMIME_IS_PART(part) && (HasFileName(part) || g_mime_part_is_attachment(GMIME_PART(part)));
}

struct BodyParts {
    std::vector<GMimeObject*> plain;
    std::vector<GMimeObject*> html;
};

void FindBodyParts(GMimeObject*, GMimeObject* part, gpointer data) {
    auto& found = *static_cast<BodyParts*>(data);
    if (!GMIME_IS_TEXT_PART(part) || IsAttachment(part)) return;
    GMimeContentType* type = g_mime_object_get_content_type(part);
    if (g_mime_content_type_is_type(type, "text", "plain")) found.plain.push_back(part);
    if (g_mime_content_type_is_type(type, "text", "html")) found.html.push_back(part);
}

void CollectAttachments(GMimeObject*, GMimeObject* part, gpointer data) {
    if (IsAttachment(part)) static_cast<std::vector<GMimePart*>*>(data)->push_back(GMIME_PART(part));
}

bool IsBlankText(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
}

// Reads up to `size` bytes; 0 at the end. A stream read past its bounds reports -1 with EINVAL,
// which is the end as well.
std::size_t ReadSome(GMimeStream* stream, char* buffer, std::size_t size) {
    if (g_mime_stream_eos(stream)) return 0;
    errno = 0;
    const ssize_t n = g_mime_stream_read(stream, buffer, size);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno == EINVAL || errno == 0) return 0;
    throw HostError(EIO, "Can't read the message: " + std::string(g_strerror(errno)));
}

std::string ReadAll(GMimeStream* stream) {
    std::string bytes;
    char buffer[kChunk];
    for (std::size_t n; (n = ReadSome(stream, buffer, sizeof buffer)) > 0;) bytes.append(buffer, n);
    return bytes;
}

// The bytes of `stream` when it is a view of a message read into memory; nothing when it reads
// from a file.
std::optional<std::string_view> BytesInMemory(GMimeStream* stream) {
    if (!GMIME_IS_STREAM_MEM(stream)) return std::nullopt;
    const GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    if (array == nullptr) return std::nullopt;
    const auto size = static_cast<gint64>(array->len);
    const gint64 end = stream->bound_end == -1 ? size : std::min(stream->bound_end, size);
    const gint64 start = std::clamp<gint64>(stream->bound_start, 0, end);
    return std::string_view(reinterpret_cast<const char*>(array->data) + start, static_cast<std::size_t>(end - start));
}

// A view of the part's content as it is in the message (still transfer-encoded), read from its
// start without moving the position of any other reader of the file.
GObjectRef<GMimeStream> EncodedContent(GMimeDataWrapper* content) {
    GMimeStream* stream = g_mime_data_wrapper_get_stream(content);
    return GObjectRef<GMimeStream>(Adopt{}, g_mime_stream_substream(stream, stream->bound_start, stream->bound_end));
}

bool NeedsDecoding(GMimeContentEncoding encoding) {
    return encoding == GMIME_CONTENT_ENCODING_BASE64 || encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE ||
           encoding == GMIME_CONTENT_ENCODING_UUENCODE;
}

// `encoded` read through GMime's decoder for `encoding`; as it is for encodings that need none.
GObjectRef<GMimeStream> Decoded(GObjectRef<GMimeStream> encoded, GMimeContentEncoding encoding) {
    if (!NeedsDecoding(encoding)) return encoded;
    GObjectRef<GMimeStream> filtered(Adopt{}, g_mime_stream_filter_new(encoded.Get()));
    GObjectRef<GMimeFilter> decoder(Adopt{}, g_mime_filter_basic_new(encoding, FALSE));
    g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered.Get()), decoder.Get());
    return filtered;
}

// The part's text, decoded and as UTF-8, at most kBodyBytes of it.
std::string PartText(GMimeObject* part) {
    GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(part));
    if (content == nullptr) return "";
    const GObjectRef<GMimeStream> stream = Decoded(EncodedContent(content), g_mime_data_wrapper_get_encoding(content));
    std::string bytes;
    char buffer[kChunk];
    while (bytes.size() < kBodyBytes) {
        const std::size_t n = ReadSome(stream.Get(), buffer, std::min(sizeof buffer, kBodyBytes - bytes.size()));
        if (n == 0) break;
        bytes.append(buffer, n);
    }
    return CharsetToUtf8(bytes, g_mime_object_get_content_type_parameter(part, "charset"));
}

int WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

HostError Damaged(const std::string& name, const std::string& why) {
    return HostError(EBADMSG, "The attachment \"" + name + "\" is damaged: " + why + ".");
}

void OnParserWarning(gint64, GMimeParserWarning issue, const gchar*, gpointer data) {
    auto& report = *static_cast<MimeMessage::ParserReport*>(data);
    if (issue == GMIME_WARN_TRUNCATED_MESSAGE) report.truncated = true;
    if (issue == GMIME_CRIT_NESTING_OVERFLOW) report.nestedTooDeep = true;
}

MessageShape ShapeOf(GMimeStream* source) {
    MessageShape shape;
    if (const std::optional<std::string_view> bytes = BytesInMemory(source)) {
        shape.Feed(*bytes);
        shape.Finish();
        return shape;
    }
    GObjectRef<GMimeStream> view(Adopt{}, g_mime_stream_substream(source, 0, -1));
    char buffer[kChunk];
    while (shape.WithinLimits()) {
        const std::size_t n = ReadSome(view.Get(), buffer, sizeof buffer);
        if (n == 0) break;
        shape.Feed(std::string_view(buffer, n));
    }
    shape.Finish();
    return shape;
}

struct ByteArrayUnref {
    void operator()(GByteArray* array) const noexcept { g_byte_array_unref(array); }
};
using ByteArrayPtr = std::unique_ptr<GByteArray, ByteArrayUnref>;

// The whole of the file `fd`, of `size` bytes by its status, as a stream over memory; nothing when
// it cannot be read at once (it grew meanwhile, or a read failed: the file's own stream reads it
// then, and reports what went wrong). Reads at offsets, leaving the descriptor's position alone.
GObjectRef<GMimeStream> WholeFile(int fd, std::size_t size) {
    // One byte more than the size tells a file that grew since it was looked at.
    ByteArrayPtr array(g_byte_array_sized_new(static_cast<guint>(size + 1)));
    g_byte_array_set_size(array.get(), static_cast<guint>(size + 1));
    std::size_t got = 0;
    while (got < size + 1) {
        const ssize_t n = ::pread(fd, array->data + got, size + 1 - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return {};
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got > size) return {};
    g_byte_array_set_size(array.get(), static_cast<guint>(got));
    // The stream owns the array from here on, and frees it with itself.
    return GObjectRef<GMimeStream>(Adopt{}, g_mime_stream_mem_new_with_byte_array(array.release()));
}

}  // namespace

void EnsureGMime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

MimeMessage::MimeMessage(GObjectRef<GMimeStream> source, gint64 parsedLength, std::unique_ptr<ParserReport> report,
                         ParserOptionsPtr options, GObjectRef<GMimeMessage> message, std::string unreadable)
    : source_(std::move(source)),
      parsedLength_(parsedLength),
      report_(std::move(report)),
      options_(std::move(options)),
      message_(std::move(message)),
      unreadable_(std::move(unreadable)) {}

MimeMessage::~MimeMessage() = default;

std::shared_ptr<MimeMessage> MimeMessage::Parse(GObjectRef<GMimeStream> source) {
    EnsureGMime();
    // What GMime would build is sized first: a message beyond the limits is read only as far as
    // they allow, so that no message can make its tree outgrow a small, fixed amount of memory.
    const MessageShape shape = ShapeOf(source.Get());
    const auto parsedLength = static_cast<gint64>(shape.ReadableBytes());
    GObjectRef<GMimeStream> parsed = source;
    if (!shape.WithinLimits()) parsed = GObjectRef<GMimeStream>(Adopt{}, g_mime_stream_substream(source.Get(), 0, parsedLength));

    auto report = std::make_unique<ParserReport>();
    ParserOptionsPtr options(g_mime_parser_options_new());
    g_mime_parser_options_set_warning_callback(options.get(), OnParserWarning, report.get());
    // GMime decodes the encoded words of some fields while it parses. Its lenient mode looks for
    // each word's end up to the end of the field, which takes seconds on a long field full of
    // "=?": strict mode reads only whole words. Names and subjects are decoded by our own decoder.
    g_mime_parser_options_set_rfc2047_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_STRICT);
    GObjectRef<GMimeParser> parser(Adopt{}, g_mime_parser_new_with_stream(parsed.Get()));
    // The parts keep reading their content from the file instead of a copy in memory.
    g_mime_parser_set_persist_stream(parser.Get(), TRUE);
    GObjectRef<GMimeMessage> message(Adopt{}, g_mime_parser_construct_message(parser.Get(), options.get()));
    if (!message) return nullptr;
    auto* object = GMIME_OBJECT(message.Get());
    constexpr const char* kMailFields[] = {"From", "To", "Subject", "Date"};
    const bool isMail = std::any_of(std::begin(kMailFields), std::end(kMailFields), [object](const char* field) {
        return g_mime_object_get_header(object, field) != nullptr;
    });
    if (!isMail) return nullptr;

    std::string unreadable;
    if (!shape.WithinLimits()) {
        unreadable = "The message was not read in full: it has " + shape.Problem() + ".";
    } else if (report->nestedTooDeep) {
        unreadable = "The message was not read in full: its MIME parts are nested too deep.";
    }
    return std::make_shared<MimeMessage>(std::move(source), parsedLength, std::move(report), std::move(options),
                                         std::move(message), std::move(unreadable));
}

GObjectRef<GMimeStream> MimeMessage::OpenFile(const std::filesystem::path& file) {
    EnsureGMime();
    GError* raw = nullptr;
    GObjectRef<GMimeStream> stream(Adopt{}, g_mime_stream_fs_open(file.c_str(), O_RDONLY | O_CLOEXEC, 0, &raw));
    const GErrorPtr error(raw);
    if (!stream) {
        if (error) throw FromGError("Can't read " + file.string(), *error);
        throw HostError(EIO, "Can't read " + file.string());
    }
    struct stat info {};
    const int fd = GMIME_STREAM_FS(stream.Get())->fd;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<std::uint64_t>(info.st_size) <= kInMemoryBytes) {
        if (GObjectRef<GMimeStream> whole = WholeFile(fd, static_cast<std::size_t>(info.st_size))) return whole;
    }
    return stream;
}

GObjectRef<GMimeStream> MimeMessage::FromBytes(std::string_view bytes) {
    EnsureGMime();
    return GObjectRef<GMimeStream>(Adopt{}, g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
}

std::string MimeMessage::Subject() const {
    const std::vector<std::string> fields = RawFields(GMIME_OBJECT(message_.Get()), "Subject");
    return fields.empty() ? "" : DecodeHeaderText(fields.front());
}

std::string MimeMessage::MessageId() const {
    const char* id = g_mime_message_get_message_id(message_.Get());
    return id ? id : "";
}

std::string MimeMessage::Body() const {
    BodyParts found;
    g_mime_message_foreach(message_.Get(), FindBodyParts, &found);
    // Empty parts (a boundary repeated, a part with no content) are passed over.
    for (GMimeObject* part : found.plain) {
        std::string text = PartText(part);
        if (!IsBlankText(text)) return text;
    }
    for (GMimeObject* part : found.html) {
        std::string text = HtmlToPlainText(PartText(part));
        if (!IsBlankText(text)) return text;
    }
    return "";
}

std::vector<MailAddress> MimeMessage::From() const {
    return Addresses(message_.Get(), g_mime_message_get_from(message_.Get()), "From");
}

std::vector<MailAddress> MimeMessage::ReplyTo() const {
    return Addresses(message_.Get(), g_mime_message_get_reply_to(message_.Get()), "Reply-To");
}

std::vector<MailAddress> MimeMessage::Recipients() const {
    std::vector<MailAddress> addresses;
    constexpr std::pair<GMimeAddressType, const char*> kFields[] = {
        {GMIME_ADDRESS_TYPE_TO, "To"}, {GMIME_ADDRESS_TYPE_CC, "Cc"}, {GMIME_ADDRESS_TYPE_BCC, "Bcc"}};
    for (const auto& [type, field] : kFields) {
        for (MailAddress& address : Addresses(message_.Get(), g_mime_message_get_addresses(message_.Get(), type), field)) {
            addresses.push_back(std::move(address));
        }
    }
    return addresses;
}

std::optional<std::time_t> MimeMessage::ReceivedDate() const {
    GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(message_.Get()));
    GMimeHeader* received = g_mime_header_list_get_header(headers, "Received");
    if (received == nullptr) return std::nullopt;
    const std::string value = Text(g_mime_header_get_value(received));
    const auto semicolon = value.rfind(';');
    if (semicolon == std::string::npos) return std::nullopt;
    const GDateTimePtr date(g_mime_utils_header_decode_date(value.c_str() + semicolon + 1));
    if (!date) return std::nullopt;
    return static_cast<std::time_t>(g_date_time_to_unix(date.get()));
}

std::vector<GMimePart*> MimeMessage::AttachmentParts() const {
    std::vector<GMimePart*> parts;
    g_mime_message_foreach(message_.Get(), CollectAttachments, &parts);
    return parts;
}

int MimeMessage::WriteContent(GMimePart* part, int fd, const std::string& name) const {
    if (!unreadable_.empty()) throw HostError(EBADMSG, unreadable_);
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (content == nullptr) return 0;
    const GMimeStream* encoded = g_mime_data_wrapper_get_stream(content);
    // The part runs into the end of a message that stopped short of a boundary it still owed:
    // the rest of the attachment is missing, however whole its last line looks.
    if (report_->truncated && (encoded->bound_end == -1 || encoded->bound_end >= parsedLength_)) {
        throw HostError(EBADMSG, "The attachment \"" + name + "\" is incomplete: the message breaks off before its end.");
    }
    const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(content);
    if (const char* declared = g_mime_object_get_header(GMIME_OBJECT(part), "Content-Transfer-Encoding")) {
        // GMime reads an encoding it does not know as none, which would store the encoded text.
        const GCharPtr trimmed(g_strstrip(g_strdup(declared)));
        if (*trimmed != '\0' && g_mime_content_encoding_from_string(trimmed.get()) == GMIME_CONTENT_ENCODING_DEFAULT) {
            throw HostError(EBADMSG, "The attachment \"" + name + "\" is in the transfer encoding \"" +
                                         ValidUtf8(trimmed.get()) + "\", which cannot be decoded.");
        }
    }

    // Base64 is checked and decoded here, the other encodings by GMime's decoders.
    const bool base64 = encoding == GMIME_CONTENT_ENCODING_BASE64;
    Base64Decoder decoder;
    const auto decoded = std::make_unique_for_overwrite<unsigned char[]>(base64 ? Base64Decoder::MaxDecoded(kContentChunk) : 0);
    // Writes the next piece of the content as it is in the message; returns 0 or the errno.
    const auto put = [&](std::string_view piece) {
        if (!base64) return WriteAll(fd, piece.data(), piece.size());
        const Base64Decoder::Step step = decoder.Feed(piece, decoded.get());
        if (!step.problem.empty()) throw Damaged(name, std::string(step.problem));
        return WriteAll(fd, reinterpret_cast<const char*>(decoded.get()), step.size);
    };
    const std::optional<std::string_view> inMemory =
        base64 || !NeedsDecoding(encoding) ? BytesInMemory(g_mime_data_wrapper_get_stream(content)) : std::nullopt;
    if (inMemory) {
        for (std::string_view rest = *inMemory; !rest.empty(); rest.remove_prefix(std::min(rest.size(), kContentChunk))) {
            if (const int err = put(rest.substr(0, kContentChunk)); err != 0) return err;
        }
    } else {
        const GObjectRef<GMimeStream> stream = base64 ? EncodedContent(content) : Decoded(EncodedContent(content), encoding);
        const auto buffer = std::make_unique_for_overwrite<char[]>(kContentChunk);
        for (std::size_t n; (n = ReadSome(stream.Get(), buffer.get(), kContentChunk)) > 0;) {
            if (const int err = put(std::string_view(buffer.get(), n)); err != 0) return err;
        }
    }
    if (base64) {
        if (const std::string_view why = decoder.Finish(); !why.empty()) throw Damaged(name, std::string(why));
    }
    return 0;
}

std::string MimeMessage::RawBytes() const {
    // A view of its own: the parts' reads share the file and must not see its position move.
    GObjectRef<GMimeStream> whole(Adopt{}, g_mime_stream_substream(source_.Get(), 0, -1));
    return ReadAll(whole.Get());
}

std::string PartFileName(GMimePart* part) {
    const char* decoded = g_mime_part_get_filename(part);
    if (decoded == nullptr) return "";
    // GMime takes the name from Content-Disposition's filename, else from Content-Type's name.
    auto* object = GMIME_OBJECT(part);
    GMimeParam* param = nullptr;
    const char* field = "Content-Disposition";
    const char* name = "filename";
    if (GMimeContentDisposition* disposition = g_mime_object_get_content_disposition(object)) {
        param = g_mime_param_list_get_parameter(g_mime_content_disposition_get_parameters(disposition), name);
    }
    if (param == nullptr || param->value == nullptr || *param->value == '\0') {
        field = "Content-Type";
        name = "name";
        param = g_mime_param_list_get_parameter(g_mime_content_type_get_parameters(g_mime_object_get_content_type(object)), name);
    }
    // RFC 2231's form (name*=charset'lang'...) GMime decodes well; only RFC 2047 is read again.
    if (param != nullptr && g_mime_param_get_encoding_method(param) != GMIME_PARAM_ENCODING_METHOD_RFC2231) {
        const std::vector<std::string> fields = RawFields(object, field);
        if (!fields.empty()) {
            const std::optional<std::string> raw = RawParameter(fields.front(), name);
            if (raw && raw->find("=?") != std::string::npos) return DecodeHeaderText(*raw);
        }
    }
    return ValidUtf8(decoded);
}

std::string SubjectField(const std::string& subject) {
    std::string clean = subject;
    std::replace_if(clean.begin(), clean.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    if (std::all_of(clean.begin(), clean.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        return "Subject: " + clean;
    }
    EnsureGMime();
    const GCharPtr encoded(g_mime_utils_header_encode_text(nullptr, clean.c_str(), nullptr));
    const std::string field = "Subject: " + Text(encoded.get());
    const GCharPtr folded(g_mime_utils_unstructured_header_fold(nullptr, nullptr, field.c_str()));
    std::string text = Text(folded.get());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

}  // namespace vexa::maildir
