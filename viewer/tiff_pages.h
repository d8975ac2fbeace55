// The pages of a received fax (a TIFF file of one or more pages, any compression libtiff reads)
// as PNG images, so the archive viewer can show them in a browser, which cannot show TIFF.
// The file comes from a stranger: its damage or size ends in a HostError, never in a crash,
// and libtiff's own messages go into that error instead of to standard error.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

struct tiff;

namespace vexa::viewer {

struct TiffMessages;

class TiffDocument {
public:
    // Larger files than these are refused rather than decoded: a fax page is 1728 pixels wide
    // and about 2300 high, and a few kilobytes of hostile compressed data could declare far more.
    static constexpr std::uint32_t kMaxPageWidth = 10000;
    static constexpr std::uint32_t kMaxPageHeight = 20000;
    // And in all: an A4 page scanned at 600 dpi has 35 million. The page's picture is held whole
    // while it is sent, so this bounds the memory one page takes.
    static constexpr std::uint64_t kMaxPagePixels = 36'000'000;
    static constexpr int kMaxPages = 1000;

    // Opens the file and reads its first page's header. Throws HostError when the file cannot
    // be opened or is no TIFF file.
    explicit TiffDocument(const std::filesystem::path& path);
    // The same for the file already open on `fd` (which stays the caller's); `path` names it in
    // messages.
    TiffDocument(int fd, const std::filesystem::path& path);
    ~TiffDocument();
    TiffDocument(const TiffDocument&) = delete;
    TiffDocument& operator=(const TiffDocument&) = delete;

    // The number of pages. Throws HostError beyond kMaxPages.
    int PageCount();

    // Page `page` (1 is the first) as the bytes of a PNG file, upright. Bilevel pages become
    // 1-bit gray images, gray pages 8-bit gray, the others RGB. A page scanned at half the
    // horizontal resolution vertically (a "normal" fax, 204 x 98 dpi) gets every row twice so
    // it keeps its proportions. Throws HostError for a page that does not exist, is too large or
    // cannot be decoded.
    std::string RenderPng(int page);

private:
    std::string Describe(int page) const;

    std::filesystem::path path_;
    std::unique_ptr<TiffMessages> messages_;
    struct Closer {
        void operator()(tiff* file) const noexcept;
    };
    std::unique_ptr<tiff, Closer> file_;
    int pageCount_ = -1;
};

}  // namespace vexa::viewer
