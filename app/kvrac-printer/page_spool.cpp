// A raster page spooled to PNG, one row at a time (see page_spool.h).
//
// Workload: an A0 page at 600 dpi is about 20,000 x 28,000 dots, one call per line.
// Each call converts one line and hands it to libpng (or appends it to the raw file of
// a page to be turned); nothing else is kept. Turning reads the raw file once per band
// of columns, each band as large as page_turn_budget allows: about 35 passes over the
// raw lines of an A0 page in 8-bit grey, 5 in 1-bit.
#include "kvrac-printer/page_spool.h"

#include <png.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csetjmp>
#include <cstdint>
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

// A white stored row.
void white_row(page_spool& s) {
    std::memset(s.row.data(), 0xFF, s.row.size());
}

// Makes libpng's structures for s.file. Returns -1 when libpng cannot start.
int begin_png(page_spool& s) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &s, on_png_error, on_png_warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    s.png = png;
    s.info = info;
    if (!png || !info) {
        s.error = "out of memory";
        return -1;
    }
    return 0;
}

// Writes the header of a width x height grey PNG. Errors longjmp to the caller's setjmp.
void write_png_header(page_spool& s, uint32_t width, uint32_t height) {
    png_structp png = png_of(s);
    png_init_io(png, s.file);
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, Z_RLE);
    png_set_filter(png, 0, PNG_FILTER_NONE);
    png_set_IHDR(png, info_of(s), width, height, s.bilevel ? 1 : 8, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info_of(s));
}

// Writes the turned page from the raw lines in raw (s.height rows of s.row.size()
// bytes): output row y is input column width - 1 - y, read from the top row down.
// Returns 0, or -1 with s.error set. libpng errors longjmp to the caller's setjmp.
int write_turned(page_spool& s, std::FILE* raw) {
    const size_t stride = s.row.size();
    const uint32_t w = s.width, h = s.height;
    // Columns per band: as many as the budget holds, whole bytes for a 1-bit page.
    const size_t columns = std::max<size_t>(1, s.turn_budget / h);
    uint32_t k = static_cast<uint32_t>(std::min<size_t>(columns * (s.bilevel ? 8 : 1), UINT32_MAX));
    k = std::min(k, s.bilevel ? (w + 7) / 8 * 8 : w);
    std::vector<uint8_t> band;
    std::vector<uint8_t> out(s.bilevel ? (h + 7) / 8 : h);
    const int fd = fileno(raw);
    // Bands from the right edge leftwards, since output rows begin with the last column.
    uint32_t hi = w;
    while (hi > 0) {
        // Byte-aligned band start for a 1-bit page.
        uint32_t lo = hi > k ? hi - k : 0;
        if (s.bilevel) lo = lo / 8 * 8;
        const size_t first = s.bilevel ? lo / 8 : lo;
        const size_t last = s.bilevel ? (hi - 1) / 8 + 1 : hi; // byte past the band
        const size_t span = last - first;
        band.resize(span * h);
        for (uint32_t r = 0; r < h; ++r) {
            const off_t at =
                static_cast<off_t>(r) * static_cast<off_t>(stride) + static_cast<off_t>(first);
            size_t done = 0;
            while (done < span) {
                ssize_t got = ::pread(fd, band.data() + r * span + done, span - done,
                                      at + static_cast<off_t>(done));
                if (got <= 0) {
                    s.error = std::string("cannot read the spooled page: ") +
                              (got < 0 ? std::strerror(errno) : "it is short");
                    return -1;
                }
                done += static_cast<size_t>(got);
            }
        }
        for (uint32_t c = hi; c-- > lo;) {
            if (s.bilevel) {
                std::fill(out.begin(), out.end(), 0xFF);
                const size_t byte = c / 8 - first;
                const uint8_t mask = static_cast<uint8_t>(0x80 >> (c % 8));
                for (uint32_t r = 0; r < h; ++r)
                    if (!(band[r * span + byte] & mask))
                        out[r / 8] &= static_cast<uint8_t>(~(0x80 >> (r % 8)));
            } else {
                const size_t col = c - first;
                for (uint32_t r = 0; r < h; ++r) out[r] = band[r * span + col];
            }
            png_write_row(png_of(s), out.data());
        }
        hi = lo;
    }
    return 0;
}

} // namespace

int page_spool_open(page_spool& s, const std::string& path, uint32_t width, uint32_t height,
                    unsigned in_bits, bool bilevel, size_t turn_budget) {
    s = page_spool{};
    s.turn_budget = turn_budget;
    if (width == 0 || height == 0 || (in_bits != 1 && in_bits != 8)) {
        s.error = "the page has no dots or an unsupported depth";
        return -1;
    }
    s.path = path;
    s.width = width;
    s.height = height;
    s.in_bits = in_bits;
    s.bilevel = bilevel || in_bits == 1;
    s.turned = height > width;
    s.row.assign(s.bilevel ? (width + 7) / 8 : width, 0xFF);
    if (s.turned) {
        s.raw_path = path + ".raw";
        s.file = std::fopen(s.raw_path.c_str(), "w+b");
        if (!s.file) {
            s.error = "cannot create " + s.raw_path + ": " + std::strerror(errno);
            return -1;
        }
        return 0;
    }
    s.file = std::fopen(path.c_str(), "wb");
    if (!s.file) {
        s.error = "cannot create " + path + ": " + std::strerror(errno);
        return -1;
    }
    if (begin_png(s) != 0) {
        page_spool_abandon(s);
        return -1;
    }
    if (setjmp(png_jmpbuf(png_of(s)))) {
        page_spool_abandon(s);
        return -1;
    }
    write_png_header(s, width, height);
    return 0;
}

int page_spool_write(page_spool& s, const uint8_t* line) {
    if (!s.file) return -1;
    if (s.rows_written >= s.height) return 0;
    convert(s, line);
    if (s.turned) {
        if (std::fwrite(s.row.data(), 1, s.row.size(), s.file) != s.row.size()) {
            s.error = std::string("cannot spool the page: ") + std::strerror(errno);
            page_spool_abandon(s);
            return -1;
        }
    } else {
        if (setjmp(png_jmpbuf(png_of(s)))) {
            page_spool_abandon(s);
            return -1;
        }
        png_write_row(png_of(s), s.row.data());
    }
    ++s.rows_written;
    return 0;
}

namespace {

// Writes the PNG from the received lines: the white lines still missing, or the whole
// turned page from the raw lines in raw. Returns 0, or -1 with s.error set.
int finish_png(page_spool& s, std::FILE* raw) {
    if (setjmp(png_jmpbuf(png_of(s)))) return -1;
    if (raw) {
        write_png_header(s, s.height, s.width);
        if (write_turned(s, raw) != 0) return -1;
    } else {
        while (s.rows_written < s.height) {
            png_write_row(png_of(s), s.row.data());
            ++s.rows_written;
        }
    }
    png_write_end(png_of(s), info_of(s));
    return 0;
}

} // namespace

int page_spool_close(page_spool& s) {
    if (!s.file) return s.error.empty() ? 0 : -1;
    // Lines the document did not send are white.
    white_row(s);
    if (s.bilevel && s.width % 8) s.row.back() |= static_cast<uint8_t>(0xFF >> (s.width % 8));
    std::FILE* raw = nullptr;
    if (s.turned) {
        while (s.rows_written < s.height) {
            if (std::fwrite(s.row.data(), 1, s.row.size(), s.file) != s.row.size()) break;
            ++s.rows_written;
        }
        raw = s.file;
        s.file = nullptr;
        if (s.rows_written < s.height || std::fflush(raw) != 0) {
            s.error = std::string("cannot spool the page: ") + std::strerror(errno);
            std::fclose(raw);
            page_spool_abandon(s);
            return -1;
        }
        s.file = std::fopen(s.path.c_str(), "wb");
        if (!s.file || begin_png(s) != 0) {
            if (s.error.empty()) s.error = "cannot create " + s.path + ": " + std::strerror(errno);
            std::fclose(raw);
            page_spool_abandon(s);
            return -1;
        }
    }
    const int finished = finish_png(s, raw);
    if (raw) std::fclose(raw);
    if (finished != 0) {
        page_spool_abandon(s);
        return -1;
    }
    png_structp png = png_of(s);
    png_infop info = info_of(s);
    png_destroy_write_struct(&png, &info);
    s.png = s.info = nullptr;
    if (!s.raw_path.empty()) std::remove(s.raw_path.c_str());
    s.raw_path.clear();
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
    if (!s.raw_path.empty()) std::remove(s.raw_path.c_str());
    s.raw_path.clear();
}
