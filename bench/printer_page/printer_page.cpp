// printer_page: writes one drawing-like test page as an 8-bit grey PWG raster document
// and as the PNG of the same pixels (1-bit for a bi-level page), for the printer
// application's end-to-end benchmark.
//   printer_page MEDIA DPI bilevel|grey OUT.pwg OUT.png [turned]
// MEDIA is a PWG self-describing name (iso_a0_841x1189mm). With `turned`, the PNG holds
// the page turned a quarter turn counter-clockwise (its right edge as the top row), as
// the printer application plots a page taller than wide; the whole page is then held in
// memory once. Prints the page's size in pixels ("WIDTH HEIGHT").
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/kvrac-printer/page_files.h"

int main(int argc, char** argv) {
    const bool turned = argc == 7 && std::strcmp(argv[6], "turned") == 0;
    if ((argc != 6 && !turned) ||
        (std::strcmp(argv[3], "bilevel") && std::strcmp(argv[3], "grey"))) {
        std::fprintf(stderr,
                     "usage: printer_page MEDIA DPI bilevel|grey OUT.pwg OUT.png [turned]\n");
        return 2;
    }
    test_page page;
    page.media = argv[1];
    page.dpi = std::atoi(argv[2]);
    page.bilevel = std::strcmp(argv[3], "bilevel") == 0;
    int width = 0, height = 0;
    if (page.dpi <= 0 || !page_pixels(page, width, height)) {
        std::fprintf(stderr, "printer_page: no page for media %s at %s dpi\n", argv[1], argv[2]);
        return 2;
    }
    page.rows = drawing_rows(width, height, page.dpi);
    // The printer takes 8-bit grey raster: a bi-level page is sent as grey with black and
    // white dots only (and printed with print-color-mode bi-level).
    test_page sent = page;
    if (page.bilevel) {
        sent.bilevel = false;
        sent.rows = [rows = page.rows](int y, uint8_t* grey, int n) {
            rows(y, grey, n);
            for (int x = 0; x < n; ++x) grey[x] = grey[x] < 128 ? 0 : 255;
        };
    }
    std::string error = write_pwg(argv[4], {sent});
    if (error.empty() && !turned) error = write_page_png(argv[5], page);
    if (error.empty() && turned) {
        std::vector<uint8_t> dots(static_cast<size_t>(width) * height);
        for (int y = 0; y < height; ++y)
            page.rows(y, dots.data() + static_cast<size_t>(y) * width, width);
        // Row r of the turned page is column width-1-r of the page, top to bottom.
        error =
            write_grey_png(argv[5], height, width, page.bilevel, [&](int r, uint8_t* grey, int n) {
                for (int x = 0; x < n; ++x)
                    grey[x] = dots[static_cast<size_t>(x) * width + (width - 1 - r)];
            });
    }
    if (!error.empty()) {
        std::fprintf(stderr, "printer_page: %s\n", error.c_str());
        return 1;
    }
    std::printf("%d %d\n", width, height);
    return 0;
}
