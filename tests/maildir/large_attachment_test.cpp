// A fax of tens of megabytes: its attachment is saved from the file on disk, decoded on the way,
// without the message being read into memory first.
#include <sys/resource.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/maildir/maildir_fixture.h"

namespace vexa {
namespace {

constexpr std::size_t kLine = 57;  // bytes per line of 76 base64 characters

// The attachment's byte at `offset`: each line of it starts with its own number (big-endian, so
// with NUL bytes), which makes a dropped, repeated or shifted line show; the rest is a fixed run.
char ByteAt(std::size_t offset) {
    const std::size_t line = offset / kLine;
    const std::size_t pos = offset % kLine;
    if (pos < 8) return static_cast<char>((line >> (8 * (7 - pos))) & 0xFF);
    return static_cast<char>((pos * 37) ^ 0xA5);
}

std::string Bytes(std::size_t from, std::size_t to) {
    std::string bytes;
    for (std::size_t i = from; i < to; ++i) bytes += ByteAt(i);
    return bytes;
}

TEST(MaildirLargeAttachmentTest, SavesAFortyEightMegabytePdfExactly) {
    // 64 MiB of base64 text in the message, 48 MiB once decoded.
    constexpr std::size_t kSize = 48u * 1024 * 1024;
    test::TempMaildir maildir;
    const auto file = maildir.Root() / "new" / "1.A.host";
    {
        std::ofstream out(file, std::ios::binary);
        out << "From: message@inbound.efax.com\nTo: fax@example.com\nSubject: big fax\n"
               "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n"
               "--b\nContent-Type: text/plain\n\nA large fax.\n"
               "--b\nContent-Type: application/pdf; name=big.pdf\nContent-Transfer-Encoding: base64\n\n";
        // Only the first 9 bytes of a line differ from line to line; the rest encodes alike.
        const std::string fixedTail = test::Base64(Bytes(9, kLine));
        std::string lines;
        std::size_t offset = 0;
        for (; offset + kLine <= kSize; offset += kLine) {
            lines += test::Base64(Bytes(offset, offset + 9));
            lines += fixedTail;
            lines += '\n';
            if (lines.size() >= (1u << 20)) {
                out << lines;
                lines.clear();
            }
        }
        out << lines << test::Base64(Bytes(offset, kSize)) << "\n--b--\n";
        ASSERT_TRUE(out.good());
    }

    auto item = maildir.Load(file);
    ASSERT_NE(item, nullptr);
    auto attachments = item->Attachments();
    ASSERT_EQ(attachments->Count(), 1);
    EXPECT_EQ(attachments->Item(1)->FileName(), "big.pdf");
    const auto target = maildir.Outside() / "big.pdf";
    attachments->Item(1)->SaveAsFile(target.string());

    ASSERT_EQ(std::filesystem::file_size(target), kSize);
    std::ifstream saved(target, std::ios::binary);
    for (const std::size_t offset : {std::size_t{0}, std::size_t{7}, std::size_t{8}, kLine + 7, kLine * 500000 + 6,
                                     kLine * 500000 + 7, kSize / 2 + 30, kSize - 2, kSize - 1}) {
        saved.seekg(static_cast<std::streamoff>(offset));
        char byte = 0;
        saved.get(byte);
        EXPECT_EQ(byte, ByteAt(offset)) << "at " << offset;
    }
    EXPECT_EQ(item->Body(), "A large fax.");
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    if (!test::kAddressSanitizer) {
        EXPECT_LT(usage.ru_maxrss, 40 * 1024) << "peak kilobytes: the message was read into memory";
    }
}

}  // namespace
}  // namespace vexa
