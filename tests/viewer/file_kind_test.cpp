#include "viewer/file_kind.h"

#include <string>

#include <gtest/gtest.h>

namespace vexa::viewer {
namespace {

TEST(FileKindTest, KindComesFromTheFirstBytes) {
    using namespace std::string_literals;
    const struct {
        std::string bytes;
        std::string_view kind;
    } cases[] = {
        {"II*\0\x08\0\0\0"s, "tiff"},
        {"MM\0*\0\0\0\x08"s, "tiff"},
        {"II+\0"s, "other"},  // BigTIFF: not what fax services send
        {"%PDF-1.7\n"s, "pdf"},
        {"%PDF"s, "other"},
        {"RIFF\x24\x08\0\0WAVEfmt "s, "audio"},
        {"RIFF\x24\x08\0\0AVI LIST"s, "other"},
        {"ID3\x04\0\0\0\0\0\0"s, "audio"},
        {"\xFF\xFB\x90\x64"s, "audio"},
        {"\xFF\xF3\x40\xC0"s, "audio"},
        {"\xFF\xF2\x40\xC0"s, "audio"},
        {"\xFF\xD8\xFF\xE0"s, "other"},  // JPEG
        {"II"s, "other"},
        {""s, "other"},
        {"Hello, world"s, "other"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StoredFileKind(c.bytes), c.kind) << testing::PrintToString(c.bytes);
        EXPECT_EQ(LooksLikeTiff(c.bytes), c.kind == "tiff") << testing::PrintToString(c.bytes);
    }
}

}  // namespace
}  // namespace vexa::viewer
