#include "archive/archive_names.h"


namespace vexa {
namespace {

// Length of the UTF-8 sequence starting at `at`, or 1 when the bytes there form none.
std::size_t SequenceLength(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    }
    if (at + length > text.size()) return 1;
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 1;
    }
    return length;
}

}  // namespace

std::string FormatId(std::int64_t id) {
    // Negated as unsigned: the most negative id has no positive counterpart in std::int64_t.
    const auto magnitude = id < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(id) : static_cast<std::uint64_t>(id);
    std::string digits = std::to_string(magnitude);
    if (digits.size() < 7) digits.insert(0, 7 - digits.size(), '0');
    return id < 0 ? "-" + digits : digits;
}

std::string SafeExtension(const std::string& attachmentName) {
    const std::size_t slash = attachmentName.find_last_of("/\\");
    const std::string_view name =
        std::string_view(attachmentName).substr(slash == std::string::npos ? 0 : slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return "";
    std::string extension;
    for (char c : name.substr(dot + 1)) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (safe) extension += c;
    }
    return extension;
}

std::string StoredFileName(char prefix, std::int64_t id, const std::string& attachmentName) {
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on the chain of operator+.
    std::string name(1, prefix);
    name += FormatId(id);
    name += '.';
    name += SafeExtension(attachmentName);
    return LeftCharacters(name, kFileIdWidth);
}

std::string LeftCharacters(std::string_view text, std::size_t count) {
    std::size_t at = 0;
    for (std::size_t taken = 0; taken < count && at < text.size(); ++taken) at += SequenceLength(text, at);
    return std::string(text.substr(0, at));
}

std::optional<StoredFileOwner> OwnerOfStoredFile(std::string_view fileId) {
    if (fileId.size() < 8) return std::nullopt;
    const char* table = fileId[0] == 'R' ? kRecvTable : fileId[0] == 'S' ? kSendTable : nullptr;
    if (!table) return std::nullopt;
    std::int64_t id = 0;
    std::size_t at = 1;
    for (; at < fileId.size() && fileId[at] >= '0' && fileId[at] <= '9'; ++at) {
        // Checked against this digit, not the largest one: the highest ids are rows too.
        const int digit = fileId[at] - '0';
        if (id > (INT64_MAX - digit) / 10) return std::nullopt;
        id = id * 10 + digit;
    }
    const std::size_t digits = at - 1;
    if (digits < 7 || (at < fileId.size() && fileId[at] != '.')) return std::nullopt;
    // Only a name StoredFileName itself makes: a user's "R00000042.tif" is not ours to touch.
    if (StoredFileName(fileId[0], id, std::string(fileId)) != fileId) return std::nullopt;
    return StoredFileOwner{table, id};
}

}  // namespace vexa
