// A raster page spooled to PNG, one row at a time (see page_spool.h).
//
// Workload: an A0 page at 600 dpi is about 20,000 x 28,000 dots, one call per line.
// Each call converts one line and hands it to libpng; nothing else is kept.
#include "kvrac-printer/page_spool.h"

#include <png.h>
#include <zlib.h>

#include <cerrno>
#include <csetjmp>
#include <cstring>

namespace {

png_structp png_of(page_spool& s) {
    return static_cast<png_structp>(s.png);
}

png_infop info_of(page_spool& s) {
    return static_cast<png_infop>(s.info);
}

void on_png_error(png_structp png, png_const_charp message) {
    auto* s = static_cast<page_spool*>(png_get_error_ptr(png));
    s->error = message;
    png_longjmp(png, 1);
}

void on_png_warning(png_structp, png_const_charp) {}

// Converts one input line into s.row.
void convert(page_spool& s, const uint8_t* line) {
    const size_t bytes = s.row.size();
    if (s.in_bits == 1) {
        // 1 = black in the input; PNG grey 0 is black.
        for (size_t i = 0; i < bytes; ++i) s.row[i] = static_cast<uint8_t>(~line[i]);
        if (s.width % 8) s.row[bytes - 1] |= static_cast<uint8_t>(0xFF >> (s.width % 8));
        return;
    }
    if (!s.bilevel) {
        std::memcpy(s.row.data(), line, bytes);
        return;
    }
    // Bi-level from grey: a dot below half grey is black.
    std::memset(s.row.data(), 0xFF, bytes);
    for (uint32_t x = 0; x < s.width; ++x)
        if (line[x] < 128) s.row[x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
}

} // namespace

int page_spool_open(page_spool& s, const std::string& path, uint32_t width, uint32_t height,
                    unsigned in_bits, bool bilevel) {
    s = page_spool{};
    if (width == 0 || height == 0 || (in_bits != 1 && in_bits != 8)) {
        s.error = "the page has no dots or an unsupported depth";
        return -1;
    }
    s.width = width;
    s.height = height;
    s.in_bits = in_bits;
    s.bilevel = bilevel || in_bits == 1;
    s.row.assign(s.bilevel ? (width + 7) / 8 : width, 0xFF);
    s.file = std::fopen(path.c_str(), "wb");
    if (!s.file) {
        s.error = "cannot create " + path + ": " + std::strerror(errno);
        return -1;
    }
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &s, on_png_error, on_png_warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    s.png = png;
    s.info = info;
    if (!png || !info) {
        s.error = "out of memory";
        page_spool_abandon(s);
        return -1;
    }
    if (setjmp(png_jmpbuf(png))) {
        page_spool_abandon(s);
        return -1;
    }
    png_init_io(png, s.file);
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, Z_RLE);
    png_set_filter(png, 0, PNG_FILTER_NONE);
    png_set_IHDR(png, info, width, height, s.bilevel ? 1 : 8, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    return 0;
}

int page_spool_write(page_spool& s, const uint8_t* line) {
    if (!s.png || s.rows_written >= s.height) return s.png ? 0 : -1;
    if (setjmp(png_jmpbuf(png_of(s)))) {
        page_spool_abandon(s);
        return -1;
    }
    convert(s, line);
    png_write_row(png_of(s), s.row.data());
    ++s.rows_written;
    return 0;
}

int page_spool_close(page_spool& s) {
    if (!s.png) return s.file ? -1 : 0;
    if (setjmp(png_jmpbuf(png_of(s)))) {
        page_spool_abandon(s);
        return -1;
    }
    // Lines the document did not send are white.
    std::memset(s.row.data(), 0xFF, s.row.size());
    if (s.bilevel && s.width % 8) s.row.back() |= static_cast<uint8_t>(0xFF >> (s.width % 8));
    while (s.rows_written < s.height) {
        png_write_row(png_of(s), s.row.data());
        ++s.rows_written;
    }
    png_write_end(png_of(s), info_of(s));
    png_structp png = png_of(s);
    png_infop info = info_of(s);
    png_destroy_write_struct(&png, &info);
    s.png = s.info = nullptr;
    const bool ok = std::fflush(s.file) == 0 && !std::ferror(s.file);
    const bool closed = std::fclose(s.file) == 0;
    s.file = nullptr;
    if (!ok || !closed) {
        s.error = std::string("cannot write the page: ") + std::strerror(errno);
        return -1;
    }
    return 0;
}

void page_spool_abandon(page_spool& s) {
    if (s.png) {
        png_structp png = png_of(s);
        png_infop info = info_of(s);
        png_destroy_write_struct(&png, info ? &info : nullptr);
    }
    s.png = s.info = nullptr;
    if (s.file) std::fclose(s.file);
    s.file = nullptr;
}
