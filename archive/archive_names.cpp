#include "archive/archive_names.h"

#include "addin/file_system.h"

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
    std::string digits = std::to_string(id < 0 ? -id : id);
    if (digits.size() < 7) digits.insert(0, 7 - digits.size(), '0');
    return id < 0 ? "-" + digits : digits;
}

std::string StoredFileName(char prefix, std::int64_t id, const std::string& attachmentName, FileSystem& fileSystem) {
    const std::string name = std::string(1, prefix) + FormatId(id) + "." + fileSystem.GetExtensionName(attachmentName);
    return LeftCharacters(name, kFileIdWidth);
}

std::string LeftCharacters(std::string_view text, std::size_t count) {
    std::size_t at = 0;
    for (std::size_t taken = 0; taken < count && at < text.size(); ++taken) at += SequenceLength(text, at);
    return std::string(text.substr(0, at));
}

}  // namespace vexa
