#include "viewer/tiff_pages.h"

#include <fcntl.h>
#include <unistd.h>

#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <string_view>
#include <vector>

#include "host/host_error.h"
#include "viewer/png_writer.h"

namespace vexa::viewer {

// What libtiff reported about one file since the last Clear(): the first error, which names the
// cause (later ones tend to be its consequences), and the first warning, since some decoders give
// up on damaged data after no more than a warning.
struct TiffMessages {
    // libtiff starts many messages with the file's name, which the HostError already gives.
    std::string namePrefix;
    std::string firstError;
    std::string firstWarning;

    void Clear() {
        firstError.clear();
        firstWarning.clear();
    }
    std::string Or(const char* fallback) const {
        return !firstError.empty() ? firstError : !firstWarning.empty() ? firstWarning : fallback;
    }
};

namespace {

// libtiff allocates at most this much at once for a file (a strip, a tile, a page's directory):
// above it the file is refused instead of exhausting memory.
// A colour A4 page at 300 dpi stored in one strip needs 26 MB.
constexpr tmsize_t kMaxLibtiffAllocation = tmsize_t{64} << 20;
// Pixels decoded at once in colour: bands of rows keep the memory for a large page small.
constexpr std::uint64_t kMaxBandPixels = std::uint64_t{16} << 20;
constexpr std::uint32_t kMinBandRows = 64;

void Keep(std::string& message, const TiffMessages& messages, const char* module, const char* format,
          va_list args) {
    if (!message.empty()) return;
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    std::string_view kept = text;
    if (kept.starts_with(messages.namePrefix)) kept.remove_prefix(messages.namePrefix.size());
    message = kept.empty() && module != nullptr ? module : kept;
}

// Both return 1, "handled": nothing reaches libtiff's default handlers, which print.
int OnError(TIFF*, void* userData, const char* module, const char* format, va_list args) {
    auto* messages = static_cast<TiffMessages*>(userData);
    Keep(messages->firstError, *messages, module, format, args);
    return 1;
}

int OnWarning(TIFF*, void* userData, const char* module, const char* format, va_list args) {
    auto* messages = static_cast<TiffMessages*>(userData);
    Keep(messages->firstWarning, *messages, module, format, args);
    return 1;
}

struct OptionsFree {
    void operator()(TIFFOpenOptions* options) const noexcept { TIFFOpenOptionsFree(options); }
};

struct RgbaImageEnd {
    void operator()(TIFFRGBAImage* image) const noexcept { TIFFRGBAImageEnd(image); }
};

// A "normal" resolution fax is scanned at about 204 x 98 dpi: its pixels are twice as high as
// wide. Fine (204 x 196) and square pages are shown as they are.
bool IsHalfHeightResolution(TIFF* file) {
    float x = 0, y = 0;
    if (TIFFGetField(file, TIFFTAG_XRESOLUTION, &x) != 1 || TIFFGetField(file, TIFFTAG_YRESOLUTION, &y) != 1) {
        return false;
    }
    if (!(x > 0 && y > 0)) return false;
    const float ratio = x / y;
    return ratio > 1.6f && ratio < 2.5f;
}

std::uint16_t Field16(TIFF* file, ttag_t tag) {
    std::uint16_t value = 0;
    TIFFGetFieldDefaulted(file, tag, &value);
    return value;
}

bool IsGray(std::uint16_t photometric, std::uint16_t samples) {
    return samples == 1 && (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK);
}

}  // namespace

void TiffDocument::Closer::operator()(tiff* file) const noexcept { TIFFClose(file); }

TiffDocument::TiffDocument(const std::filesystem::path& path) : TiffDocument(-1, path) {}

TiffDocument::TiffDocument(int fd, const std::filesystem::path& path)
    : path_(path), messages_(std::make_unique<TiffMessages>()) {
    messages_->namePrefix = path.string() + ": ";
    std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options) throw HostError(ENOMEM, "Can't open " + path.string() + ": out of memory");
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnError, messages_.get());
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnWarning, messages_.get());
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxLibtiffAllocation);
    // "m": read, not map: a file cut short while mapped would end the server with SIGBUS.
    if (fd < 0) {
        file_.reset(TIFFOpenExt(path.c_str(), "rm", options.get()));
    } else {
        // libtiff closes the descriptor it is given: it gets a copy of the caller's.
        const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (copy < 0) throw HostError(errno, "Can't open " + path.string());
        ::lseek(copy, 0, SEEK_SET);
        file_.reset(TIFFFdOpenExt(copy, path.c_str(), "rm", options.get()));
        if (!file_) ::close(copy);
    }
    if (!file_) {
        throw HostError(EINVAL, "Can't open the TIFF file " + path.string() + ": " +
                                    messages_->Or("not a readable TIFF file"));
    }
}

TiffDocument::~TiffDocument() = default;

int TiffDocument::PageCount() {
    if (pageCount_ >= 0) return pageCount_;
    messages_->Clear();
    // Counting follows the chain of page headers only; a chain that loops or breaks ends the count
    // at the last page reached, so a file damaged at its end still shows its first pages.
    const auto count = TIFFNumberOfDirectories(file_.get());
    if (count > static_cast<tdir_t>(kMaxPages)) {
        throw HostError(EINVAL, "The TIFF file " + path_.string() + " has " + std::to_string(count) +
                                    " pages, more than the " + std::to_string(kMaxPages) + " the viewer shows.");
    }
    pageCount_ = static_cast<int>(std::max<tdir_t>(count, 1));
    return pageCount_;
}

std::string TiffDocument::Describe(int page) const {
    return "page " + std::to_string(page) + " of the TIFF file " + path_.string();
}

std::string TiffDocument::RenderPng(int page) {
    const int count = PageCount();
    if (page < 1 || page > count) {
        throw HostError(EINVAL, "There is no " + Describe(page) + " (it has " + std::to_string(count) + ").");
    }
    TIFF* file = file_.get();
    messages_->Clear();
    auto failure = [this, page] {
        return HostError(EINVAL, "Can't read " + Describe(page) + ": " + messages_->Or("the file is damaged"));
    };
    if (TIFFSetDirectory(file, static_cast<tdir_t>(page - 1)) != 1) throw failure();

    std::uint32_t width = 0, height = 0;
    TIFFGetField(file, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(file, TIFFTAG_IMAGELENGTH, &height);
    if (width == 0 || height == 0) throw failure();
    if (width > kMaxPageWidth || height > kMaxPageHeight) {
        throw HostError(EINVAL, "The " + Describe(page) + " is " + std::to_string(width) + " x " +
                                    std::to_string(height) + " pixels, larger than the " +
                                    std::to_string(kMaxPageWidth) + " x " + std::to_string(kMaxPageHeight) +
                                    " the viewer shows.");
    }
    if (std::uint64_t{width} * height > kMaxPagePixels) {
        throw HostError(EINVAL, "The " + Describe(page) + " is " + std::to_string(width) + " x " +
                                    std::to_string(height) + " pixels, more than the " +
                                    std::to_string(kMaxPagePixels / 1'000'000) + " million the viewer shows.");
    }
    const int repeat = IsHalfHeightResolution(file) ? 2 : 1;
    const std::uint16_t photometric = Field16(file, TIFFTAG_PHOTOMETRIC);
    const std::uint16_t samples = Field16(file, TIFFTAG_SAMPLESPERPIXEL);
    const std::uint16_t orientation = Field16(file, TIFFTAG_ORIENTATION);

    // Bilevel strips, nearly every fax: decoded row by row, straight into a 1-bit image.
    if (IsGray(photometric, samples) && Field16(file, TIFFTAG_BITSPERSAMPLE) == 1 && !TIFFIsTiled(file) &&
        orientation == ORIENTATION_TOPLEFT) {
        const auto rowBytes = static_cast<std::size_t>(TIFFScanlineSize64(file));
        if (rowBytes < (width + 7) / 8) throw failure();
        std::vector<std::uint8_t> row(rowBytes);
        PngWriter png(width, height * repeat, PngPixels::Bilevel);
        for (std::uint32_t y = 0; y < height; ++y) {
            if (TIFFReadScanline(file, row.data(), y, 0) != 1) throw failure();
            // In TIFF a set bit is black unless the page says "min is black"; in PNG it is white.
            if (photometric == PHOTOMETRIC_MINISWHITE) {
                for (auto& byte : row) byte = static_cast<std::uint8_t>(~byte);
            }
            for (int i = 0; i < repeat; ++i) png.WriteRow(row.data());
        }
        return png.Finish();
    }

    // Everything else through libtiff's RGBA reader, which knows every photometric and
    // compression libtiff reads, in bands of rows. Bands need the rows in file order; another
    // orientation is turned in one piece.
    char reason[1024] = {};
    TIFFRGBAImage image{};
    if (TIFFRGBAImageBegin(&image, file, 1, reason) != 1) {
        throw HostError(EINVAL, "Can't show " + Describe(page) + ": " + messages_->Or(reason));
    }
    std::unique_ptr<TIFFRGBAImage, RgbaImageEnd> imageEnd(&image);
    image.req_orientation = ORIENTATION_TOPLEFT;
    std::uint32_t band = height;
    if (orientation == ORIENTATION_TOPLEFT) {
        std::uint32_t unit = 0;
        if (TIFFIsTiled(file)) {
            TIFFGetField(file, TIFFTAG_TILELENGTH, &unit);
        } else {
            TIFFGetFieldDefaulted(file, TIFFTAG_ROWSPERSTRIP, &unit);
        }
        band = std::min(height, std::max(unit, kMinBandRows));
    }
    if (std::uint64_t{width} * band > kMaxBandPixels) {
        throw HostError(EINVAL, "The " + Describe(page) + " is stored in pieces too large for the viewer.");
    }
    const bool gray = IsGray(photometric, samples);
    std::vector<std::uint32_t> raster(std::size_t{width} * band);
    std::vector<std::uint8_t> row(std::size_t{width} * (gray ? 1 : 3));
    PngWriter png(width, height * repeat, gray ? PngPixels::Gray : PngPixels::Rgb);
    for (std::uint32_t top = 0; top < height; top += band) {
        const std::uint32_t rows = std::min(band, height - top);
        image.row_offset = static_cast<int>(top);
        if (TIFFRGBAImageGet(&image, raster.data(), width, rows) != 1) throw failure();
        for (std::uint32_t y = 0; y < rows; ++y) {
            const std::uint32_t* pixel = raster.data() + std::size_t{y} * width;
            std::uint8_t* out = row.data();
            for (std::uint32_t x = 0; x < width; ++x, ++pixel) {
                *out++ = static_cast<std::uint8_t>(TIFFGetR(*pixel));
                if (!gray) {
                    *out++ = static_cast<std::uint8_t>(TIFFGetG(*pixel));
                    *out++ = static_cast<std::uint8_t>(TIFFGetB(*pixel));
                }
            }
            for (int i = 0; i < repeat; ++i) png.WriteRow(row.data());
        }
    }
    return png.Finish();
}

}  // namespace vexa::viewer
