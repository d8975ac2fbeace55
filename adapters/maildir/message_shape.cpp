#include "adapters/maildir/message_shape.h"

#include <algorithm>
#include <cctype>

namespace vexa::maildir {
namespace {

// Enough of a line to tell a folded line, a blank line and a boundary, and enough of a field to
// tell "Content-Type: message/..." however it is spaced.
constexpr std::size_t kLineHead = 64;
constexpr std::size_t kFieldHead = 128;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// "Content-Type: message/rfc822" and the like: the part's body is a message with headers of its own.
bool DeclaresMessage(std::string_view field) {
    std::string lower(field);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::string_view rest(lower);
    constexpr std::string_view kName = "content-type";
    if (!rest.starts_with(kName)) return false;
    rest.remove_prefix(kName.size());
    while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
    if (rest.empty() || rest.front() != ':') return false;
    rest.remove_prefix(1);
    while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
    return rest.starts_with("message/");
}

std::string Megabytes(std::uint64_t bytes) { return std::to_string(bytes >> 20) + " MB"; }

}  // namespace

void MessageShape::Feed(std::string_view bytes) {
    while (!bytes.empty() && WithinLimits()) {
        if (!inHeader_) {
            SkipBody(bytes);
            if (bytes.empty()) return;
        }
        const auto newline = bytes.find('\n');
        const std::size_t take = newline == std::string_view::npos ? bytes.size() : newline;
        if (lineHead_.size() < kLineHead) lineHead_.append(bytes.substr(0, std::min(take, kLineHead - lineHead_.size())));
        if (inHeader_ && !lineHasColon_) lineHasColon_ = bytes.substr(0, take).find(':') != std::string_view::npos;
        lineBytes_ += take;
        offset_ += take;
        if (newline == std::string_view::npos) {
            // A line with no end in sight must not run past a limit before its end is seen.
            if (inHeader_ && !lineHead_.empty() && !lineHead_.starts_with("--")) {
                const bool folded = inField_ && (lineHead_.front() == ' ' || lineHead_.front() == '\t');
                if ((folded ? fieldBytes_ : 0) + lineBytes_ > limits_.fieldBytes) {
                    Exceed("a header field of more than " + Megabytes(limits_.fieldBytes), folded ? fieldStart_ : lineStart_);
                } else if (headerBytes_ + lineBytes_ > limits_.headerBytes) {
                    Exceed("more than " + Megabytes(limits_.headerBytes) + " of header fields",
                           folded ? fieldStart_ : lineStart_);
                }
            }
            return;
        }
        offset_ += 1;
        EndLine();
        bytes.remove_prefix(take + 1);
    }
}

void MessageShape::SkipBody(std::string_view& bytes) {
    // A line that started with "-" may still turn out a boundary: it is read line by line.
    if (offset_ != lineStart_ && !lineHead_.empty() && lineHead_.front() == '-') return;
    // In a body only a line that starts with "--" counts, and an attachment's base64 holds no "-"
    // at all: the bytes up to the next "-" that starts a line are passed over in one go.
    for (std::size_t from = 0;;) {
        const std::size_t dash = bytes.find('-', from);
        if (dash == std::string_view::npos) {
            Advance(bytes);
            bytes = {};
            return;
        }
        if (dash == 0 ? offset_ == lineStart_ : bytes[dash - 1] == '\n') {
            Advance(bytes.substr(0, dash));
            bytes.remove_prefix(dash);
            return;
        }
        from = dash + 1;
    }
}

void MessageShape::Advance(std::string_view region) {
    std::string_view tail = region;
    if (const auto newline = region.rfind('\n'); newline != std::string_view::npos) {
        lineStart_ = offset_ + newline + 1;
        lineBytes_ = 0;
        lineHasColon_ = false;
        lineHead_.clear();
        tail = region.substr(newline + 1);
    }
    if (lineHead_.size() < kLineHead) lineHead_.append(tail.substr(0, kLineHead - lineHead_.size()));
    lineBytes_ += tail.size();
    offset_ += region.size();
}

void MessageShape::Finish() {
    if (WithinLimits() && offset_ > lineStart_) EndLine();
    if (WithinLimits() && inField_) EndField();
    if (WithinLimits()) readable_ = offset_;
}

void MessageShape::EndLine() {
    const std::uint64_t bytes = offset_ - lineStart_;
    const bool blank = lineBytes_ == 0 || (lineBytes_ == 1 && lineHead_[0] == '\r');
    const bool boundary = lineHead_.starts_with("--");
    if (!inHeader_) {
        if (boundary) {
            ++boundaries_;
            inHeader_ = true;
        }
    } else if (blank) {
        if (inField_) EndField();
        headerBytes_ += bytes;
        // The body starts, unless the block declared an embedded message: its header block is next.
        inHeader_ = messageFollows_;
        messageFollows_ = false;
    } else if (boundary) {
        // A part that has no content: the next part's header block starts at once.
        if (inField_) EndField();
        ++boundaries_;
        messageFollows_ = false;
    } else if (inField_ && (lineHead_[0] == ' ' || lineHead_[0] == '\t')) {
        fieldBytes_ += bytes;
        headerBytes_ += bytes;
        if (fieldHead_.size() < kFieldHead) fieldHead_ += lineHead_.substr(0, kFieldHead - fieldHead_.size());
    } else if (!lineHasColon_) {
        // No field: GMime passes over such a line (or takes it for content), keeping nothing.
        if (inField_) EndField();
        headerBytes_ += bytes;
    } else {
        if (inField_) EndField();
        inField_ = true;
        ++fields_;
        fieldStart_ = lineStart_;
        fieldBytes_ = bytes;
        headerBytes_ += bytes;
        fieldHead_ = lineHead_.substr(0, kFieldHead);
    }

    if (fields_ > limits_.headerFields) {
        Exceed("more than " + std::to_string(limits_.headerFields) + " header fields", lineStart_);
    } else if (inField_ && fieldBytes_ > limits_.fieldBytes) {
        Exceed("a header field of more than " + Megabytes(limits_.fieldBytes), fieldStart_);
    } else if (headerBytes_ > limits_.headerBytes) {
        Exceed("more than " + Megabytes(limits_.headerBytes) + " of header fields", inField_ ? fieldStart_ : lineStart_);
    } else if (boundaries_ > limits_.boundaryLines) {
        Exceed("more than " + std::to_string(limits_.boundaryLines) + " MIME parts", lineStart_);
    }
    lineStart_ = offset_;
    lineBytes_ = 0;
    lineHasColon_ = false;
    lineHead_.clear();
}

void MessageShape::EndField() {
    inField_ = false;
    if (DeclaresMessage(fieldHead_)) messageFollows_ = true;
}

void MessageShape::Exceed(std::string problem, std::uint64_t readable) {
    if (!problem_.empty()) return;
    problem_ = std::move(problem);
    readable_ = readable;
}

}  // namespace vexa::maildir
