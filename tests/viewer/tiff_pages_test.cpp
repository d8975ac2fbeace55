#include "viewer/tiff_pages.h"

#include <png.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/host_error.h"
#include "tests/posix/temp_dir.h"
#include "tests/viewer/tiff_writer.h"

namespace vexa::viewer {
namespace {

using test::Pixels;
using test::TempDir;
using test::TiffPage;
using test::WriteTiff;

// A decoded PNG: its header fields and its pixels as gray (1 byte) or RGB (3 bytes).
struct Png {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int depth = 0;
    int colorType = -1;
    std::vector<std::uint8_t> pixels;
    bool rgb = false;

    std::uint32_t At(std::uint32_t x, std::uint32_t y) const {
        if (!rgb) return pixels.at(std::size_t{y} * width + x);
        const std::size_t i = 3 * (std::size_t{y} * width + x);
        return std::uint32_t{pixels.at(i)} << 16 | std::uint32_t{pixels.at(i + 1)} << 8 | pixels.at(i + 2);
    }
};

std::uint32_t BigEndian32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<std::uint8_t>(bytes.at(at + i));
    return value;
}

Png Decode(const std::string& bytes) {
    Png png;
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(bytes.substr(12, 4), "IHDR");
    png.width = BigEndian32(bytes, 16);
    png.height = BigEndian32(bytes, 20);
    png.depth = static_cast<std::uint8_t>(bytes.at(24));
    png.colorType = static_cast<std::uint8_t>(bytes.at(25));
    png.rgb = png.colorType == PNG_COLOR_TYPE_RGB;

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()) == 0) {
        ADD_FAILURE() << "libpng can't read the image: " << image.message;
        return png;
    }
    image.format = png.rgb ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    png.pixels.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, png.pixels.data(), 0, nullptr) == 0) {
        ADD_FAILURE() << "libpng can't decode the image: " << image.message;
    }
    return png;
}

// Bilevel test pages: a black block, 200 pixels wide and 50 rows high, lower on each page.
constexpr std::uint32_t kBlockLeft = 200, kBlockRight = 400;
std::uint32_t BlockTop(int page) { return 100 + 100 * static_cast<std::uint32_t>(page - 1); }
TiffPage FaxPage(int page, std::uint16_t compression, float ydpi, std::uint32_t height) {
    const std::uint32_t top = BlockTop(page);
    return {.height = height, .ydpi = ydpi, .compression = compression,
            .pixel = [top](std::uint32_t x, std::uint32_t y) -> std::uint32_t {
                return x >= kBlockLeft && x < kBlockRight && y >= top && y < top + 50;
            }};
}

struct Probe {
    std::uint32_t x, y, value;
};

struct RenderCase {
    const char* name;
    std::vector<TiffPage> pages;
    int page;
    std::uint32_t width, height;
    int depth, colorType;
    std::vector<Probe> probes;  // in PNG coordinates
};

TEST(TiffPagesTest, PagesBecomeUprightPngsOfTheRightKindAndSize) {
    constexpr std::uint32_t kBlack = 0, kWhite = 255;
    const std::vector<TiffPage> g4 = {FaxPage(1, COMPRESSION_CCITTFAX4, 196, 2200),
                                      FaxPage(2, COMPRESSION_CCITTFAX4, 196, 2200),
                                      FaxPage(3, COMPRESSION_CCITTFAX4, 196, 2200)};
    const TiffPage colour{.width = 64, .height = 48, .xdpi = 72, .ydpi = 72, .compression = COMPRESSION_LZW,
                          .pixels = Pixels::Rgb,
                          .pixel = [](std::uint32_t x, std::uint32_t y) { return (x * 4) << 16 | (y * 5) << 8 | 200; }};
    const TiffPage gray{.width = 100, .height = 30, .xdpi = 200, .ydpi = 200, .compression = COMPRESSION_PACKBITS,
                        .pixels = Pixels::Gray,
                        .pixel = [](std::uint32_t x, std::uint32_t y) { return x + y; }};
    const std::vector<RenderCase> cases = {
        {"G4 fine, first page", g4, 1, 1728, 2200, 1, PNG_COLOR_TYPE_GRAY,
         {{300, 125, kBlack}, {300, 99, kWhite}, {300, 150, kWhite}, {199, 125, kWhite}, {300, 225, kWhite}}},
        {"G4 fine, third page", g4, 3, 1728, 2200, 1, PNG_COLOR_TYPE_GRAY,
         {{300, 325, kBlack}, {399, 300, kBlack}, {300, 125, kWhite}, {400, 325, kWhite}}},
        // 98 dpi rows: each shown twice, so the block's 50 rows from row 100 cover rows 200 to 299.
        {"G3 normal resolution", {FaxPage(1, COMPRESSION_CCITTFAX3, 98, 1100)}, 1, 1728, 2200, 1,
         PNG_COLOR_TYPE_GRAY, {{300, 199, kWhite}, {300, 200, kBlack}, {300, 299, kBlack}, {300, 300, kWhite}}},
        {"uncompressed", {FaxPage(1, COMPRESSION_NONE, 196, 400)}, 1, 1728, 400, 1, PNG_COLOR_TYPE_GRAY,
         {{300, 120, kBlack}, {300, 160, kWhite}}},
        {"RGB LZW", {colour}, 1, 64, 48, 8, PNG_COLOR_TYPE_RGB,
         {{0, 0, 0x0000C8}, {10, 20, 0x2864C8}, {63, 47, 0xFCEBC8}}},
        {"gray PackBits", {gray}, 1, 100, 30, 8, PNG_COLOR_TYPE_GRAY, {{0, 0, 0}, {50, 20, 70}, {99, 29, 128}}},
    };
    TempDir dir;
    for (const RenderCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = dir / "fax.tif";
        WriteTiff(path, c.pages);
        TiffDocument document(path);
        EXPECT_EQ(document.PageCount(), static_cast<int>(c.pages.size()));
        const Png png = Decode(document.RenderPng(c.page));
        EXPECT_EQ(png.width, c.width);
        EXPECT_EQ(png.height, c.height);
        EXPECT_EQ(png.depth, c.depth);
        EXPECT_EQ(png.colorType, c.colorType);
        if (png.pixels.empty()) continue;
        for (const Probe& probe : c.probes) {
            EXPECT_EQ(png.At(probe.x, probe.y), probe.value) << "at " << probe.x << "," << probe.y;
        }
    }
}

// The file and what it is changed into after writing, the page rendered, how the message starts
// (the file's name follows) and what it says further on.
struct RefusalCase {
    const char* name;
    std::vector<TiffPage> pages;
    std::function<void(std::string&)> damage;
    int page;
    std::string start;
    std::string detail;
};

TEST(TiffPagesTest, DamagedHugeAndMissingPagesAreRefusedWithAMessageAndLibtiffPrintsNothing) {
    const auto keep = [](std::string&) {};
    const auto tinyPage = TiffPage{.width = 8, .height = 8};
    const std::vector<RefusalCase> cases = {
        {"not a TIFF file", {}, [](std::string& bytes) { bytes = "%PDF-1.4\n1 0 obj\n"; }, 1,
         "Can't open the TIFF file ", ": Not a TIFF"},
        {"cut short before its page header", {FaxPage(1, COMPRESSION_CCITTFAX4, 196, 2200)},
         [](std::string& bytes) { bytes.resize(bytes.size() / 2); }, 1, "Can't open the TIFF file ",
         ": Can not read TIFF directory"},
        {"fax data overwritten", {FaxPage(1, COMPRESSION_CCITTFAX4, 196, 2200)},
         [](std::string& bytes) { std::fill(bytes.begin() + 8, bytes.begin() + 60, '\x00'); }, 1,
         "Can't read page 1 of the TIFF file ", ": Premature EOL at line 0"},
        {"page 0", {tinyPage}, keep, 0, "There is no page 0 of the TIFF file ", " (it has 1)."},
        {"page after the last", {tinyPage, tinyPage}, keep, 3, "There is no page 3 of the TIFF file ", " (it has 2)."},
        {"too wide", {TiffPage{.width = 10001, .height = 1}}, keep, 1, "The page 1 of the TIFF file ",
         " is 10001 x 1 pixels, larger than the 10000 x 20000 the viewer shows."},
        {"too high", {TiffPage{.width = 1, .height = 20001}}, keep, 1, "The page 1 of the TIFF file ",
         " is 1 x 20001 pixels"},
        {"too many pixels in all", {TiffPage{.width = 10000, .height = 6710}}, keep, 1, "The page 1 of the TIFF file ",
         " is 10000 x 6710 pixels, more than the 36 million the viewer shows."},
        {"too many pages", std::vector<TiffPage>(1001, tinyPage), keep, 1, "The TIFF file ",
         " has 1001 pages, more than the 1000 the viewer shows."},
    };
    TempDir dir;
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = dir / "fax.tif";
        WriteTiff(path, c.pages);
        std::string bytes = test::ReadBytes(path);
        c.damage(bytes);
        test::WriteBytes(path, bytes);
        testing::internal::CaptureStderr();
        try {
            TiffDocument document(path);
            document.RenderPng(c.page);
            ADD_FAILURE() << "the page was rendered";
        } catch (const HostError& e) {
            EXPECT_EQ(e.Description().substr(0, c.start.size()), c.start) << e.Description();
            EXPECT_NE(e.Description().find(path.string() + c.detail), std::string::npos) << e.Description();
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }
}

}  // namespace
}  // namespace vexa::viewer
