// The names the archive gives: an attachment's name arrives in a mail and picks the extension of
// the stored file in the Attach folder, so whatever it holds, the stored name must stay a plain
// file name in that folder and lead back to its row. Also the cut of text to a column's width.
//
// Input: 8 bytes of row id, 1 byte that picks the table's letter and the column width, then the
// attachment's name.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "archive/archive_names.h"
#include "fuzz/fuzz_support.h"
#include "host/ascii_text.h"

namespace {

using vexa::fuzz::Check;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Names Windows gives to devices, with or without an extension.
bool IsDeviceName(std::string_view name) {
    static constexpr std::array<std::string_view, 22> kDevices = {
        "con",  "prn",  "aux",  "nul",  "com1", "com2", "com3", "com4", "com5", "com6", "com7",
        "com8", "com9", "lpt1", "lpt2", "lpt3", "lpt4", "lpt5", "lpt6", "lpt7", "lpt8", "lpt9"};
    const std::string base = vexa::AsciiLower(name.substr(0, name.find('.')));
    return std::find(kDevices.begin(), kDevices.end(), base) != kDevices.end();
}

void CheckPlainFileName(std::string_view name) {
    Check(!name.empty() && name != "." && name != "..", "a stored name names a file", name);
    Check(name.find_first_of("/\\:*?\"<>|") == std::string_view::npos, "a stored name has no separator or wildcard",
          name);
    Check(name.find("..") == std::string_view::npos, "a stored name has no \"..\"", name);
    Check(std::none_of(name.begin(), name.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }),
          "a stored name has no control character or NUL", name);
    Check(std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }),
          "a stored name is ASCII", name);
    Check(!IsDeviceName(name), "a stored name is no device name", name);
}

void CheckStoredFileName(char prefix, std::int64_t id, const std::string& attachmentName) {
    const std::string extension = vexa::SafeExtension(attachmentName);
    Check(std::all_of(extension.begin(), extension.end(),
                      [](char c) {
                          return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '-' || c == '_';
                      }),
          "an extension keeps letters, digits, '-' and '_' only", extension);
    Check(extension.size() <= attachmentName.size(), "an extension comes from the name");

    const std::string stored = vexa::StoredFileName(prefix, id, attachmentName);
    CheckPlainFileName(stored);
    Check(stored.size() <= vexa::kFileIdWidth, "a stored name fits its column", stored);
    Check(stored.front() == prefix, "a stored name starts with its table's letter", stored);
    if (id < 0) return;  // no row has a negative id
    Check(stored.size() >= 8 && std::all_of(stored.begin() + 1, stored.begin() + 8, IsDigit),
          "a stored name has at least 7 digits after the letter", stored);
    // The whole rule: letter, row number, dot, extension, cut to the column.
    const std::string whole = std::string(1, prefix) + vexa::FormatId(id) + "." + extension;
    Check(stored == whole.substr(0, vexa::kFileIdWidth), "a stored name is letter, number, dot, extension",
          stored);
    // Start-up finds the row of a file left pending by its name alone.
    const std::optional<vexa::StoredFileOwner> owner = vexa::OwnerOfStoredFile(stored);
    Check(owner && owner->id == id && std::string_view(owner->table) == (prefix == 'R' ? vexa::kRecvTable : vexa::kSendTable),
          "a stored name leads back to its row", stored);
}

void CheckFormatId(std::int64_t id) {
    const std::string text = vexa::FormatId(id);
    std::string_view digits = text;
    if (id < 0) {
        Check(digits.starts_with('-'), "a negative id keeps its sign", text);
        digits.remove_prefix(1);
    }
    Check(digits.size() >= 7 && digits.size() <= 19 && std::all_of(digits.begin(), digits.end(), IsDigit),
          "an id is at least 7 digits", text);
    // The same number: the digits after the padding zeros are the plain decimal form.
    std::string plain = std::to_string(id);
    if (plain.starts_with('-')) plain.erase(0, 1);
    const std::size_t first = std::min(digits.find_first_not_of('0'), digits.size() - 1);
    Check(digits.substr(first) == plain, "an id shows its own number", text);
}

// Code points of valid UTF-8, or npos when the text is not valid UTF-8.
std::size_t CountUtf8(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size(); ++count) {
        const auto lead = static_cast<unsigned char>(text[at]);
        std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                           : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
        if (length == 0 || at + length > text.size()) return std::string_view::npos;
        for (std::size_t i = 1; i < length; ++i) {
            if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return std::string_view::npos;
        }
        at += length;
    }
    return count;
}

void CheckLeftCharacters(std::string_view text, std::size_t count) {
    const std::string cut = vexa::LeftCharacters(text, count);
    Check(text.starts_with(cut), "a cut text is the start of the text");
    Check(cut.size() <= count * 4, "a cut text holds at most `count` characters");
    const std::size_t total = CountUtf8(text);
    if (total == std::string_view::npos) return;
    // Valid text is never split inside a character, and keeps as many as fit.
    Check(CountUtf8(cut) == std::min(count, total), "a cut keeps whole characters, as many as the width allows",
          cut);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 9) return -1;  // not kept in the corpus: too short to hold an id and a selector
    std::int64_t id = 0;
    std::memcpy(&id, data, sizeof id);
    const std::uint8_t selector = data[8];
    const std::string name(reinterpret_cast<const char*>(data) + 9, size - 9);

    CheckFormatId(id);
    const char prefix = (selector & 1) ? 'S' : 'R';
    CheckStoredFileName(prefix, id, name);
    CheckStoredFileName(prefix, id & INT64_MAX, name);
    CheckLeftCharacters(name, selector >> 1);
    return 0;
}
