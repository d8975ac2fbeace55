// Base64 as RFC 2045 writes it, checked and decoded in one pass as an attachment streams by: the
// alphabet, with line breaks and blanks anywhere and "=" only to pad the last group. A damaged
// attachment must never pass for a whole one, and a fax's attachment is most of what a scan
// reads, so the common case (whole groups of four between line ends) goes four characters at a
// time and only blanks, padding and groups cut by a chunk's end take the careful path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vexa::maildir {

class Base64Decoder {
public:
    // The most bytes one Feed of `size` characters writes.
    static constexpr std::size_t MaxDecoded(std::size_t size) noexcept { return size / 4 * 3 + 3; }

    struct Step {
        // Bytes written to the output.
        std::size_t size = 0;
        // "" while the text so far is base64, else why it is not; nothing more may be fed then.
        std::string_view problem;
    };

    // Decodes the next characters of the text into `out`, which has room for MaxDecoded(text.size()).
    // A group of four may be split between two calls anywhere.
    Step Feed(std::string_view text, unsigned char* out) noexcept;
    // Ends the text: "" when it ends where base64 may, else why it does not.
    std::string_view Finish() const noexcept;

private:
    // Bits of the letters of the current group so far, six each.
    std::uint32_t bits_ = 0;
    // Letters of the current group so far (0 to 3); kept as it was once padding starts.
    unsigned letters_ = 0;
    // "=" seen: the text has ended, apart from more padding and blanks.
    unsigned padding_ = 0;
};

}  // namespace vexa::maildir
