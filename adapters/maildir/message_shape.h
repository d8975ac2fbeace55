// A pass over a message's raw bytes, before GMime builds its tree, that finds messages whose tree
// would not fit in a small, fixed amount of memory: GMime keeps every header field and every MIME
// part as objects of their own, so a few megabytes of header lines or of boundary lines become
// hundreds of megabytes. Attachment content costs nothing here; it stays in the file.
//
// The pass reads the bytes as MIME would (header blocks, bodies, boundary lines) without knowing
// the boundaries, so it overestimates: every line that starts with "--" counts as a boundary and
// is taken to open a header block, every line with a colon in a header block as a field. Only the
// counts are needed, never the structure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vexa::maildir {

struct ShapeLimits {
    // Header fields in all header blocks together (the message's, its parts', embedded messages').
    std::size_t headerFields = 10000;
    // Bytes of one header field, folded lines included.
    std::size_t fieldBytes = 2u << 20;
    // Bytes of all header blocks together.
    std::size_t headerBytes = 8u << 20;
    // Lines that start with "--": each may open a MIME part.
    std::size_t boundaryLines = 10000;
};

class MessageShape {
public:
    explicit MessageShape(ShapeLimits limits = {}) : limits_(limits) {}

    // The next bytes of the message, in order.
    void Feed(std::string_view bytes);
    // Ends the message (a last line without a line end counts).
    void Finish();

    // True while the bytes seen are within the limits.
    bool WithinLimits() const noexcept { return problem_.empty(); }
    // What went beyond a limit, as a sentence fragment ("more than 10000 header fields"); "" when
    // nothing did.
    const std::string& Problem() const noexcept { return problem_; }
    // The bytes at the start of the message that are within the limits: a whole line or field
    // ends there. The whole message when nothing went beyond them.
    std::uint64_t ReadableBytes() const noexcept { return readable_; }

private:
    // Passes over the body bytes at the start of `bytes` that cannot start a boundary line.
    void SkipBody(std::string_view& bytes);
    // Takes in `region`, known to hold no line that matters, keeping track of the current line.
    void Advance(std::string_view region);
    void EndLine();
    void EndField();
    void Exceed(std::string problem, std::uint64_t readable);

    ShapeLimits limits_;
    bool inHeader_ = true;
    // An embedded message's header block follows the block that declared it.
    bool messageFollows_ = false;
    bool inField_ = false;
    std::uint64_t offset_ = 0;
    std::uint64_t lineStart_ = 0;
    std::uint64_t lineBytes_ = 0;
    std::string lineHead_;  // the first bytes of the current line
    bool lineHasColon_ = false;
    std::uint64_t fieldStart_ = 0;
    std::uint64_t fieldBytes_ = 0;
    std::string fieldHead_;  // the first bytes of the current field, folded lines joined
    std::size_t fields_ = 0;
    std::uint64_t headerBytes_ = 0;
    std::size_t boundaries_ = 0;
    std::string problem_;
    std::uint64_t readable_ = 0;
};

}  // namespace vexa::maildir
