#include "adapters/maildir/mime_text.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "adapters/maildir/mime_message.h"

namespace vexa::maildir {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the valid UTF-8 sequence at the start of `text`, or 0 when none starts there.
std::size_t SequenceLength(std::string_view text) {
    const auto at = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = at(0);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length || at(1) < low || at(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (!IsContinuation(at(i))) return 0;
    }
    return length;
}

// Closes a conversion descriptor of GMime's cache.
class Converter {
public:
    // GMime's descriptor cache exists only once GMime is initialised.
    Converter(const char* to, const char* from) : cd_((EnsureGMime(), g_mime_iconv_open(to, from))) {}
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    ~Converter() {
        if (*this) g_mime_iconv_close(cd_);
    }
    explicit operator bool() const noexcept { return cd_ != reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1)); }
    iconv_t Get() const noexcept { return cd_; }

private:
    iconv_t cd_;
};

bool IsUtf8Name(std::string_view charset) {
    std::string lower(charset);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return lower == "utf-8" || lower == "utf8" || lower == "us-ascii" || lower == "ascii";
}

std::string WithoutNul(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
    return text;
}

}  // namespace

std::string ValidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const std::size_t length = SequenceLength(text);
        if (length == 0) {
            out += kReplacement;
            text.remove_prefix(1);
        } else {
            out.append(text.substr(0, length));
            text.remove_prefix(length);
        }
    }
    return out;
}

std::string CharsetToUtf8(std::string_view bytes, const char* charset) {
    if (charset == nullptr || *charset == '\0' || IsUtf8Name(charset)) return WithoutNul(ValidUtf8(bytes));
    EnsureGMime();
    const Converter converter("UTF-8", charset);
    if (!converter) return WithoutNul(ValidUtf8(bytes));

    std::string out;
    char buffer[4096];
    // iconv's interface takes non-const input; it never writes through it.
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    bool flushed = false;
    while (!flushed) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        std::size_t result;
        if (inLeft > 0) {
            result = iconv(converter.Get(), &in, &inLeft, &outPtr, &outLeft);
        } else {
            // Ends a shift state (ISO-2022-JP's escape back to ASCII and the like).
            result = iconv(converter.Get(), nullptr, nullptr, &outPtr, &outLeft);
            flushed = result != static_cast<std::size_t>(-1) || errno != E2BIG;
        }
        const int err = errno;
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (result != static_cast<std::size_t>(-1) || inLeft == 0) continue;
        if (err == E2BIG) continue;
        // A byte the charset does not allow, or a sequence the text ends in the middle of: one
        // replacement, and the conversion goes on with the next byte.
        out += kReplacement;
        ++in;
        --inLeft;
        iconv(converter.Get(), nullptr, nullptr, nullptr, nullptr);
    }
    return WithoutNul(ValidUtf8(out));
}

std::string AttachmentNameText(std::string_view name) {
    std::string text = ValidUtf8(name);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            out += '_';
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
            // U+0080 to U+009F: the C1 controls, two bytes in UTF-8.
            out += '_';
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace vexa::maildir
