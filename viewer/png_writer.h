// Encodes an image row by row into PNG bytes in memory, for the fax pages the viewer serves. Tuned
// for speed over size: a page is rendered on every view, so little compression and no filtering.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vexa::viewer {

// How each row passed to WriteRow is laid out.
enum class PngPixels {
    Bilevel,  // 1 bit a pixel, most significant bit first, 1 = white (a PNG gray image of depth 1)
    Gray,     // 1 byte a pixel, 0 = black
    Rgb,      // 3 bytes a pixel
};

struct PngWriterState;

class PngWriter {
public:
    // Throws HostError when libpng refuses the header.
    PngWriter(std::uint32_t width, std::uint32_t height, PngPixels pixels);
    ~PngWriter();
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;

    // Exactly `height` rows, top to bottom, each of the size `pixels` gives for `width`.
    void WriteRow(const std::uint8_t* row);
    // Ends the image and hands over the PNG file's bytes.
    std::string Finish();

private:
    std::unique_ptr<PngWriterState> state_;
};

}  // namespace vexa::viewer
