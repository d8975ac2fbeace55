#include "viewer/png_writer.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <new>
#include <utility>

#include "host/host_error.h"

namespace vexa::viewer {

struct PngWriterState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::string bytes;
    // libpng reports an error by calling back and then jumping out; the text is kept here so the
    // jump target can raise it as a HostError.
    char message[200] = {};

    ~PngWriterState() { png_destroy_write_struct(&png, info != nullptr ? &info : nullptr); }
};

namespace {

void OnError(png_structp png, png_const_charp text) {
    auto* state = static_cast<PngWriterState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", text != nullptr ? text : "unknown error");
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void OnWrite(png_structp png, png_bytep data, png_size_t length) {
    auto* state = static_cast<PngWriterState*>(png_get_io_ptr(png));
    try {
        state->bytes.append(reinterpret_cast<const char*>(data), length);
    } catch (const std::bad_alloc&) {
        png_error(png, "out of memory");
    }
}

void OnFlush(png_structp) {}

// Runs one libpng call with the jump target for its errors set here. `call` must hold nothing
// that needs destroying, since an error leaves it by longjmp; the HostError is raised only after.
template <typename Call>
void Guarded(PngWriterState& state, Call&& call) {
    if (setjmp(png_jmpbuf(state.png)) != 0) {
        throw HostError(EINVAL, std::string("Can't write the PNG image: ") + state.message);
    }
    call();
}

}  // namespace

PngWriter::PngWriter(std::uint32_t width, std::uint32_t height, PngPixels pixels) : state_(std::make_unique<PngWriterState>()) {
    PngWriterState& state = *state_;
    state.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, OnError, OnWarning);
    if (state.png == nullptr) throw HostError(ENOMEM, "Can't write the PNG image: out of memory");
    state.info = png_create_info_struct(state.png);
    if (state.info == nullptr) throw HostError(ENOMEM, "Can't write the PNG image: out of memory");
    Guarded(state, [&state, width, height, pixels] {
        png_set_write_fn(state.png, &state, OnWrite, OnFlush);
        const int depth = pixels == PngPixels::Bilevel ? 1 : 8;
        const int color = pixels == PngPixels::Rgb ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY;
        png_set_IHDR(state.png, state.info, width, height, depth, color, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        // Filters buy little on text and line art and cost time; level 2 keeps a fax page small.
        png_set_filter(state.png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
        png_set_compression_level(state.png, 2);
        png_write_info(state.png, state.info);
    });
}

PngWriter::~PngWriter() = default;

void PngWriter::WriteRow(const std::uint8_t* row) {
    PngWriterState& state = *state_;
    Guarded(state, [&state, row] { png_write_row(state.png, const_cast<png_bytep>(row)); });
}

std::string PngWriter::Finish() {
    PngWriterState& state = *state_;
    Guarded(state, [&state] { png_write_end(state.png, nullptr); });
    return std::move(state.bytes);
}

}  // namespace vexa::viewer
