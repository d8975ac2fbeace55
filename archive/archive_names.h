// How archived rows and files are named: the 7-digit row number, the stored attachment's file name
// in the Attach folder, and the cut of a text to the width of its column. Text is UTF-8 throughout
// and widths count characters, never splitting one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vexa {

inline constexpr const char* kRecvTable = "recv";
inline constexpr const char* kSendTable = "send";
inline constexpr const char* kAttachFolder = "Attach";
// The archive in the installation folder, beside Attach.
inline constexpr const char* kArchiveFileName = "Corvane.mdb";
inline constexpr std::size_t kTextColumnWidth = 100;
inline constexpr std::size_t kFileIdWidth = 20;
// A stored file is written under its name plus this suffix and takes its own name only once its
// row is committed, so a file under a stored name is always complete and always has its row.
inline constexpr const char* kPendingSuffix = ".partial";

// The table and row a stored file name belongs to ("R0000042.tif" is row 42 of recv); none for a
// name StoredFileName would not make (other padding, other extension characters, too long).
struct StoredFileOwner {
    const char* table;
    std::int64_t id;
};
std::optional<StoredFileOwner> OwnerOfStoredFile(std::string_view fileId);

// The id in decimal, zero-padded on the left to 7 digits and longer when it needs more:
// 42 gives "0000042", 12345678 gives "12345678".
std::string FormatId(std::int64_t id);

// "R" or "S", the formatted id, ".", and the extension of the attachment's own name, cut to 20
// characters. The extension is the text after the last dot of the name's last component (after
// the last "/" or "\"), keeping only ASCII letters, digits, "-" and "_": a name that arrived in a
// mail can never lead the stored file out of the Attach folder or give it an unusable name.
std::string StoredFileName(char prefix, std::int64_t id, const std::string& attachmentName);

// The extension as StoredFileName uses it.
std::string SafeExtension(const std::string& attachmentName);

// The first `count` characters (code points) of UTF-8 `text`; a byte that starts no valid
// sequence counts as one character of its own.
std::string LeftCharacters(std::string_view text, std::size_t count);

}  // namespace vexa
