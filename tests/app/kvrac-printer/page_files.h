// Test pages for the printer application, written two ways: as a PWG raster document
// (what CUPS, macOS and Windows send; written with libcups' raster writer) and as a PNG
// of the same pixels (what `kvrac plot` reads), so that a job printed through the server
// can be compared byte for byte with `kvrac plot` of the same page.
//
// A page is described by a row function that fills one row of grey levels (0 black to
// 255 white). Pages are written a row at a time: an A0 sheet at 600 dpi (about 560 MB
// of 8-bit pixels) never sits in memory.
#pragma once

#include <cups/raster.h>
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

// Fills row y (width grey levels, 0 black .. 255 white) of a page.
using page_rows = std::function<void(int y, uint8_t* grey, int width)>;

// A page: its size in pixels, resolution, depth and content. A bi-level page is written
// as PWG black_1 and one-bit PNG; a grey level below 128 is a black dot.
struct test_page {
    std::string media; // PWG self-describing name, e.g. "iso_a4_210x297mm"
    int dpi = 600;
    bool bilevel = true;
    page_rows rows;
};

// The page's size in pixels for its media and resolution, exactly as the PWG raster
// header states it. Returns false when media is not a PWG media name libcups knows.
inline bool page_pixels(const test_page& page, int& width, int& height) {
    pwg_media_t* media = pwgMediaForPWG(page.media.c_str());
    if (!media) return false;
    cups_page_header2_t header;
    if (!cupsRasterInitPWGHeader(&header, media, page.bilevel ? "black_1" : "sgray_8", page.dpi,
                                 page.dpi, "one-sided", "normal"))
        return false;
    width = static_cast<int>(header.cupsWidth);
    height = static_cast<int>(header.cupsHeight);
    return true;
}

// Writes pages as one PWG raster document at path. Returns "" on success, else what
// failed.
inline std::string write_pwg(const std::string& path, const std::vector<test_page>& pages) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return "cannot create " + path;
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE_PWG);
    std::string error;
    for (const test_page& page : pages) {
        pwg_media_t* media = pwgMediaForPWG(page.media.c_str());
        cups_page_header2_t header;
        if (!media || !cupsRasterInitPWGHeader(&header, media, page.bilevel ? "black_1" : "sgray_8",
                                               page.dpi, page.dpi, "one-sided", "normal")) {
            error = "no PWG raster header for " + page.media;
            break;
        }
        if (!cupsRasterWriteHeader2(ras, &header)) {
            error = "cannot write a page header";
            break;
        }
        const int width = static_cast<int>(header.cupsWidth);
        std::vector<uint8_t> grey(width), line(header.cupsBytesPerLine);
        for (unsigned y = 0; y < header.cupsHeight && error.empty(); ++y) {
            page.rows(static_cast<int>(y), grey.data(), width);
            if (page.bilevel) {
                // black_1: one bit per dot, most significant first, 1 is black.
                std::fill(line.begin(), line.end(), 0);
                for (int x = 0; x < width; ++x)
                    if (grey[x] < 128) line[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            } else {
                // sgray_8: one byte per dot, 0 is black.
                std::copy(grey.begin(), grey.end(), line.begin());
            }
            if (cupsRasterWritePixels(ras, line.data(), header.cupsBytesPerLine) !=
                header.cupsBytesPerLine)
                error = "cannot write page rows";
        }
        if (!error.empty()) break;
    }
    cupsRasterClose(ras);
    if (::close(fd) != 0 && error.empty()) error = "cannot write " + path;
    return error;
}

// Writes a greyscale PNG of width x height whose rows come from rows: one-bit (0 black,
// 1 white; a grey level of 128 or more is white) when one_bit, else 8-bit. Returns "" on
// success, else what failed.
inline std::string write_grey_png(const std::string& path, int width, int height, bool one_bit,
                                  const page_rows& rows) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return "cannot create " + path;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return "libpng failed writing " + path;
    }
    png_init_io(png, f);
    // Large flat pages compress well at a low level; the default level costs minutes on A0.
    png_set_compression_level(png, 1);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                 one_bit ? 1 : 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<uint8_t> grey(width), row(width);
    for (int y = 0; y < height; ++y) {
        rows(y, grey.data(), width);
        if (one_bit) {
            std::fill(row.begin(), row.end(), 0);
            for (int x = 0; x < width; ++x)
                if (grey[x] >= 128) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            png_write_row(png, row.data());
        } else {
            png_write_row(png, grey.data());
        }
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0 ? "" : "cannot write " + path;
}

// Writes one page as a PNG of the same pixels: one-bit greyscale for a bi-level page,
// 8-bit greyscale otherwise. Returns "" on success, else what failed.
inline std::string write_page_png(const std::string& path, const test_page& page) {
    int width = 0, height = 0;
    if (!page_pixels(page, width, height)) return "unknown media " + page.media;
    return write_grey_png(path, width, height, page.bilevel, page.rows);
}

// A drawing-like page: a white sheet with a black frame 1/4 inch in, a grid of thin lines
// every inch, a filled square and a grey ramp near the top (on a bi-level page the
// ramp's darker half is black), and a mark off the diagonal
// so that a page turned or mirrored does not look the same. seed shifts the pattern so
// that two pages of one document differ.
inline page_rows drawing_rows(int width, int height, int dpi, int seed = 0) {
    return [=](int y, uint8_t* grey, int w) {
        const int frame = dpi / 4, step = dpi, line = dpi > 300 ? 3 : 2;
        for (int x = 0; x < w; ++x) {
            uint8_t v = 255;
            const bool in_frame =
                x >= frame && x < width - frame && y >= frame && y < height - frame;
            const bool on_frame = in_frame && (x < frame + line || x >= width - frame - line ||
                                               y < frame + line || y >= height - frame - line);
            if (on_frame)
                v = 0;
            else if (in_frame && ((x + seed * 37) % step < line || (y + seed * 53) % step < line))
                v = 0;
            else if (x >= width / 8 && x < width / 4 && y >= height / 8 && y < height / 4)
                v = 0; // filled square
            else if (x >= width / 4 && x < width / 2 && y >= height / 8 && y < height / 4)
                v = static_cast<uint8_t>(((x - width / 4) * 255) / (width / 4)); // ramp
            else if (x >= width * 3 / 4 && x < width * 3 / 4 + dpi / 2 && y >= height / 2 &&
                     y < height / 2 + dpi / 3)
                v = 0; // off-diagonal mark
            grey[x] = v;
        }
    };
}
