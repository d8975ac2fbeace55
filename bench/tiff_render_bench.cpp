// How long the viewer takes to show a fax: it opens the file, counts its pages and renders the
// first page as PNG, as the server does for one page view. Writes a 20-page G4 fax of text-like
// pages into a temporary folder and prints the fastest and the median of a number of runs.
//   build: cmake --build BUILD --target tiff_render_bench
//   run:   BUILD/bench/tiff_render_bench [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/posix/temp_dir.h"
#include "tests/viewer/tiff_writer.h"
#include "viewer/tiff_pages.h"

namespace {

// Rows of "words": strokes a few pixels wide in lines 24 pixels high, 16 apart, inside margins,
// so the G4 data (about 65 KB a page) is far from a blank page's few hundred bytes.
std::uint32_t TextLike(std::uint32_t x, std::uint32_t y) {
    if (x < 120 || x > 1600 || y < 150 || y > 2050 || y % 40 >= 24) return 0;
    if ((x / 60 + y / 40) % 7 == 0) return 0;  // gaps between words
    return (x / 3 * 7 + y / 4 * 13) % 11 < 3 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    vexa::test::TempDir dir;
    const auto path = dir / "fax.tif";
    vexa::test::TiffPage page{.pixel = TextLike};
    vexa::test::WriteTiff(path, std::vector<vexa::test::TiffPage>(20, page));

    std::vector<double> times;
    std::size_t pngBytes = 0;
    int pages = 0;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        vexa::viewer::TiffDocument document(path);
        pages = document.PageCount();
        pngBytes = document.RenderPng(1).size();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    std::printf("%d-page G4 fax of %ju bytes, page 1 (1728 x 2200) as a PNG of %zu bytes\n", pages,
                static_cast<std::uintmax_t>(std::filesystem::file_size(path)), pngBytes);
    std::printf("open + PageCount + RenderPng(1): fastest %.1f ms, median %.1f ms over %d runs\n", times.front(),
                times[times.size() / 2], runs);
    return 0;
}
