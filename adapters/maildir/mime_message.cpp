#include "adapters/maildir/mime_message.h"

#include <fcntl.h>

#include <algorithm>
#include <mutex>

#include "adapters/maildir/html_text.h"

namespace vexa::maildir {
namespace {

std::string Text(const char* text) { return text != nullptr ? text : ""; }

void Flatten(InternetAddressList* list, std::vector<MailAddress>& out) {
    if (list == nullptr) return;
    const int count = internet_address_list_length(list);
    for (int i = 0; i < count; ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_GROUP(address)) {
            Flatten(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), out);
        } else if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
            std::string addr = Text(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)));
            if (addr.empty()) continue;
            out.push_back({Text(internet_address_get_name(address)), std::move(addr)});
        }
    }
}

bool HasFileName(GMimeObject* part) {
    if (!GMIME_IS_PART(part)) return false;
    const char* name = g_mime_part_get_filename(GMIME_PART(part));
    return name != nullptr && *name != '\0';
}

struct BodyParts {
    GMimeObject* plain = nullptr;
    GMimeObject* html = nullptr;
};

void FindBodyParts(GMimeObject*, GMimeObject* part, gpointer data) {
    auto& found = *static_cast<BodyParts*>(data);
    if (!GMIME_IS_TEXT_PART(part) || HasFileName(part) || g_mime_part_is_attachment(GMIME_PART(part))) return;
    GMimeContentType* type = g_mime_object_get_content_type(part);
    if (found.plain == nullptr && g_mime_content_type_is_type(type, "text", "plain")) found.plain = part;
    if (found.html == nullptr && g_mime_content_type_is_type(type, "text", "html")) found.html = part;
}

void CollectAttachments(GMimeObject*, GMimeObject* part, gpointer data) {
    if (HasFileName(part)) static_cast<std::vector<GMimePart*>*>(data)->push_back(GMIME_PART(part));
}

std::string PartText(GMimeObject* part) {
    const GCharPtr text(g_mime_text_part_get_text(GMIME_TEXT_PART(part)));
    return Text(text.get());
}

}  // namespace

void EnsureGMime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

std::shared_ptr<MimeMessage> MimeMessage::Parse(GObjectRef<GMimeStream> source) {
    EnsureGMime();
    GObjectRef<GMimeParser> parser(Adopt{}, g_mime_parser_new_with_stream(source.Get()));
    // The parts keep reading their content from the file instead of a copy in memory.
    g_mime_parser_set_persist_stream(parser.Get(), TRUE);
    GObjectRef<GMimeMessage> message(Adopt{}, g_mime_parser_construct_message(parser.Get(), nullptr));
    if (!message) return nullptr;
    auto* object = GMIME_OBJECT(message.Get());
    constexpr const char* kMailFields[] = {"From", "To", "Subject", "Date"};
    const bool isMail = std::any_of(std::begin(kMailFields), std::end(kMailFields), [object](const char* field) {
        return g_mime_object_get_header(object, field) != nullptr;
    });
    if (!isMail) return nullptr;
    return std::make_shared<MimeMessage>(std::move(source), std::move(message));
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
    return stream;
}

GObjectRef<GMimeStream> MimeMessage::FromBytes(std::string_view bytes) {
    EnsureGMime();
    return GObjectRef<GMimeStream>(Adopt{}, g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
}

std::string MimeMessage::Subject() const { return Text(g_mime_message_get_subject(message_.Get())); }

std::string MimeMessage::Body() const {
    BodyParts found;
    g_mime_message_foreach(message_.Get(), FindBodyParts, &found);
    if (found.plain != nullptr) return PartText(found.plain);
    if (found.html != nullptr) return HtmlToPlainText(PartText(found.html));
    return "";
}

std::vector<MailAddress> MimeMessage::From() const {
    std::vector<MailAddress> addresses;
    Flatten(g_mime_message_get_from(message_.Get()), addresses);
    return addresses;
}

std::vector<MailAddress> MimeMessage::ReplyTo() const {
    std::vector<MailAddress> addresses;
    Flatten(g_mime_message_get_reply_to(message_.Get()), addresses);
    return addresses;
}

std::vector<MailAddress> MimeMessage::Recipients() const {
    std::vector<MailAddress> addresses;
    for (const auto type : {GMIME_ADDRESS_TYPE_TO, GMIME_ADDRESS_TYPE_CC, GMIME_ADDRESS_TYPE_BCC}) {
        Flatten(g_mime_message_get_addresses(message_.Get(), type), addresses);
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

std::string MimeMessage::RawBytes() const {
    // A view of its own: the parts' reads share the file and must not see its position move.
    GObjectRef<GMimeStream> whole(Adopt{}, g_mime_stream_substream(source_.Get(), 0, -1));
    std::string bytes;
    char buffer[65536];
    while (!g_mime_stream_eos(whole.Get())) {
        const ssize_t n = g_mime_stream_read(whole.Get(), buffer, sizeof buffer);
        if (n < 0) throw HostError(EIO, "Can't read the message: " + std::string(g_strerror(errno)));
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
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
