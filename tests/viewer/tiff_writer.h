// Writes TIFF files with libtiff for the viewer's tests: fax pages in the compressions fax
// services send, with content whose pixels the tests know.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

namespace vexa::test {

enum class Pixels { Bilevel, Gray, Rgb };

struct TiffPage {
    std::uint32_t width = 1728;
    std::uint32_t height = 2200;
    float xdpi = 204;
    float ydpi = 196;
    std::uint16_t compression = COMPRESSION_CCITTFAX4;
    Pixels pixels = Pixels::Bilevel;
    // Bilevel: true for black. Gray: the level. Rgb: 0xRRGGBB.
    std::function<std::uint32_t(std::uint32_t x, std::uint32_t y)> pixel = [](std::uint32_t, std::uint32_t) {
        return 0u;
    };
};

inline void WriteTiff(const std::filesystem::path& path, const std::vector<TiffPage>& pages) {
    std::unique_ptr<TIFF, decltype(&TIFFClose)> owner(TIFFOpen(path.c_str(), "w"), &TIFFClose);
    TIFF* file = owner.get();
    if (file == nullptr) throw std::runtime_error("TIFFOpen for writing failed");
    for (const TiffPage& page : pages) {
        const bool bilevel = page.pixels == Pixels::Bilevel;
        const std::uint16_t samples = page.pixels == Pixels::Rgb ? 3 : 1;
        TIFFSetField(file, TIFFTAG_IMAGEWIDTH, page.width);
        TIFFSetField(file, TIFFTAG_IMAGELENGTH, page.height);
        TIFFSetField(file, TIFFTAG_BITSPERSAMPLE, bilevel ? 1 : 8);
        TIFFSetField(file, TIFFTAG_SAMPLESPERPIXEL, samples);
        TIFFSetField(file, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(file, TIFFTAG_PHOTOMETRIC, bilevel                         ? PHOTOMETRIC_MINISWHITE
                                                : page.pixels == Pixels::Gray ? PHOTOMETRIC_MINISBLACK
                                                                              : PHOTOMETRIC_RGB);
        TIFFSetField(file, TIFFTAG_COMPRESSION, page.compression);
        if (page.compression == COMPRESSION_CCITTFAX3) TIFFSetField(file, TIFFTAG_GROUP3OPTIONS, 0);
        TIFFSetField(file, TIFFTAG_ROWSPERSTRIP, bilevel ? page.height : 16u);
        TIFFSetField(file, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(file, TIFFTAG_XRESOLUTION, page.xdpi);
        TIFFSetField(file, TIFFTAG_YRESOLUTION, page.ydpi);
        TIFFSetField(file, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        std::vector<std::uint8_t> row(static_cast<std::size_t>(TIFFScanlineSize(file)));
        for (std::uint32_t y = 0; y < page.height; ++y) {
            std::fill(row.begin(), row.end(), 0);
            for (std::uint32_t x = 0; x < page.width; ++x) {
                const std::uint32_t value = page.pixel(x, y);
                if (bilevel) {
                    if (value != 0) row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
                } else if (samples == 1) {
                    row[x] = static_cast<std::uint8_t>(value);
                } else {
                    row[3 * x] = static_cast<std::uint8_t>(value >> 16);
                    row[3 * x + 1] = static_cast<std::uint8_t>(value >> 8);
                    row[3 * x + 2] = static_cast<std::uint8_t>(value);
                }
            }
            if (TIFFWriteScanline(file, row.data(), y, 0) != 1) throw std::runtime_error("TIFFWriteScanline failed");
        }
        if (TIFFWriteDirectory(file) != 1) throw std::runtime_error("TIFFWriteDirectory failed");
    }
}

}  // namespace vexa::test
