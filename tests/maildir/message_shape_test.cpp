// The size check that runs before GMime builds a message's tree: what counts as a header field,
// a boundary and a header block, and where a message beyond the limits is cut.
#include <string>

#include <gtest/gtest.h>

#include "adapters/maildir/message_shape.h"

namespace vexa::maildir {
namespace {

constexpr ShapeLimits kSmall{.headerFields = 4, .fieldBytes = 40, .headerBytes = 200, .boundaryLines = 3};

MessageShape Shape(const std::string& message, ShapeLimits limits = kSmall, std::size_t chunk = 0) {
    MessageShape shape(limits);
    if (chunk == 0) {
        shape.Feed(message);
    } else {
        for (std::size_t at = 0; at < message.size(); at += chunk) shape.Feed(std::string_view(message).substr(at, chunk));
    }
    shape.Finish();
    return shape;
}

TEST(MessageShapeTest, FindsTheFirstLimitPassedAndWhereToCut) {
    struct Case {
        const char* name;
        std::string message;
        std::string problem;
        std::size_t readable;  // bytes of `message` that stay readable
    };
    const std::string head = "From: a@b\nTo: c@d\n";  // 18 bytes, two fields
    const Case cases[] = {
        {"within all limits", head + "Subject: s\n\nbody\n--b\nX: 1\n\n--b--\n", "", 0},
        {"a fifth field", head + "A: 1\nB: 2\nC: 3\n\nbody\n", "more than 4 header fields", 28},
        {"fields of a part count", head + "\n--b\nA: 1\nB: 2\nC: 3\n\nx\n", "more than 4 header fields", 33},
        {"a folded field too long", head + "Subject: x\n " + std::string(30, 'y') + "\nA: 1\n",
         "a header field of more than 0 MB", 18},
        {"a long line with no end", head + "X: " + std::string(100, 'z'), "a header field of more than 0 MB", 18},
        {"CRLF blank lines end a header block", "From: a\r\n\r\n" + std::string(300, 'b') + "\r\n", "", 0},
        {"lines without a colon are no fields", "From: a\nno colon\nnone here\nnor here\nagain\n\n", "", 0},
        {"a fourth boundary", head + "\n--b\n\nx\n--b\n\nx\n--b\n\nx\n--b\n", "more than 3 MIME parts", 40},
        {"header bytes add up", "From: a\n" + [] {
             std::string lines;
             for (int i = 0; i < 6; ++i) lines += std::string(35, 'n') + "\n";
             return lines;
         }() + "\nbody\n",
         "more than 0 MB of header fields", 188},
        // Only a line that starts with "--" is taken for a boundary, however the body is cut.
        {"dashes inside body lines", head + "\nx--b\n-\n-x-\n--b\n\nx-y\n---\n\n--b\n\nx\n--b\n", "more than 3 MIME parts",
         (head + "\nx--b\n-\n-x-\n--b\n\nx-y\n---\n\n--b\n\nx\n").size()},
        {"body lines are not headers", head + "\n" + std::string(500, 'x') + "\nA: 1\nB: 2\nC: 3\n", "", 0},
        // An embedded message's header block follows the block that declared it, however the
        // declaration is spaced or folded.
        {"embedded message", head + "Content-Type:\n  Message/RFC822\n\nA: 1\nB: 2\n\nbody\n",
         "more than 4 header fields", 55},
    };
    ShapeLimits limits = kSmall;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t readable = c.problem.empty() ? c.message.size() : c.readable;
        // The same verdict however the bytes arrive.
        for (const std::size_t chunk : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{7}}) {
            const MessageShape shape = Shape(c.message, limits, chunk);
            EXPECT_EQ(shape.Problem(), c.problem) << "chunk " << chunk;
            EXPECT_EQ(shape.WithinLimits(), c.problem.empty());
            EXPECT_EQ(shape.ReadableBytes(), readable) << "chunk " << chunk;
        }
    }
}

TEST(MessageShapeTest, DefaultLimitsLetAnOrdinaryLargeFaxThrough) {
    std::string message = "From: message@inbound.efax.com\nSubject: fax\nContent-Type: multipart/mixed; boundary=b\n\n";
    message += "--b\nContent-Type: text/plain\n\nnotice\n--b\nContent-Type: image/tiff; name=fax.tif\n"
               "Content-Transfer-Encoding: base64\n\n";
    for (int i = 0; i < 100000; ++i) message += std::string(76, 'A') + "\n";
    message += "--b--\n";
    message = "X-Long: " + std::string(1u << 20, 'x') + "\n" + message;
    const MessageShape shape = Shape(message, ShapeLimits{});
    EXPECT_TRUE(shape.WithinLimits()) << shape.Problem();
    EXPECT_EQ(shape.ReadableBytes(), message.size());
}

}  // namespace
}  // namespace vexa::maildir
