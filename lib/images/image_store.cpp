// Images decoded once and read back in another order, from memory or a temporary file.
//
// Workload: a rotated sheet asks for the image one column at a time, left to right,
// some 20,000 columns of up to 28,000 pixels; a photo of 16000 x 12000 pixels is
// 576 MB of colour, more than the budget, while a one-bit drawing of the same size is
// 24 MB. So colour images usually go through the file and one-bit images usually stay
// in memory, and both are written once and read once.
//
// Columns order keeps images as columns, so that a column is read straight through:
// one-bit images as columns of bits, read a byte (eight rows) at a time, made from
// rows gathered 512 at a time with 8 x 8 bit transposes; colour images as columns of
// three-byte pixels, made from rows gathered 64 at a time.
//
// The file: bands of columns one after the other, each written from chunks of rows as
// the source delivers them (one seek per band and chunk) and read back whole. An
// interlaced source delivers its rows in passes, so its rows are first staged whole
// (in memory when they fit, else at the file's start) and then fed to the bands.
#include "images/image_store.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "host/device_tables.h"
#include "images/bit_block.h"
#include "system/files.h"

#ifndef O_BINARY
#define O_BINARY 0
#endif

namespace {

// Bytes of one full row in the compact form.
size_t row_bytes(const image_store& st) {
    return st.mono ? (static_cast<size_t>(st.width) + 7) / 8 : static_cast<size_t>(st.width) * 3;
}

// Bytes that `rows` rows of one column take in columns order, and where row y (a
// multiple of 8 for a one-bit image) starts in a column.
size_t span_bytes(const image_store& st, int64_t rows) {
    return st.mono ? static_cast<size_t>(rows + 7) / 8 : static_cast<size_t>(rows) * 3;
}
size_t span_at(const image_store& st, int64_t y) {
    return st.mono ? static_cast<size_t>(y) / 8 : static_cast<size_t>(y) * 3;
}

// Bytes of one whole column in columns order.
size_t column_bytes(const image_store& st) {
    return span_bytes(st, st.height);
}

int seek_to(std::FILE* f, int64_t offset) {
#ifdef _WIN32
    return _fseeki64(f, offset, SEEK_SET);
#else
    return fseeko(f, static_cast<off_t>(offset), SEEK_SET);
#endif
}

int io_failure(const image_store& st, const char* what, int err, std::string* why) {
    *why = std::string("cannot ") + what + " the temporary file " + st.path + ": " +
           (err ? std::strerror(err) : "the file is shorter than written");
    return -1;
}

int write_at(image_store& st, int64_t offset, const uint8_t* data, size_t n, std::string* why) {
    errno = 0;
    if (seek_to(st.file, offset) != 0 || std::fwrite(data, 1, n, st.file) != n)
        return io_failure(st, "write", errno, why);
    return 0;
}

int read_at(image_store& st, int64_t offset, uint8_t* data, size_t n, std::string* why) {
    errno = 0;
    if (std::fflush(st.file) != 0) return io_failure(st, "write", errno, why);
    if (seek_to(st.file, offset) != 0 || std::fread(data, 1, n, st.file) != n)
        return io_failure(st, "read", errno, why);
    return 0;
}

// Creates the temporary file in folder under a name no other file has. Returns 0, or
// -1 with *why naming the folder and the system's reason.
int open_temp(image_store& st, const std::string& folder, std::string* why) {
    std::error_code ec;
    std::filesystem::path dir = folder;
    if (dir.empty()) dir = std::filesystem::temp_directory_path(ec);
    if (dir.empty()) dir = ".";
    std::random_device seed;
    std::mt19937 pick(seed());
    for (int attempt = 0; attempt < 20; ++attempt) {
        const std::string name =
            (dir / (".kvrac-image-" + std::to_string(pick() % 100000000u) + ".tmp")).string();
        const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_BINARY, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            *why =
                "cannot create a temporary file in " + dir.string() + ": " + std::strerror(errno);
            return -1;
        }
        st.file = ::fdopen(fd, "w+b");
        if (!st.file) {
            *why = "cannot open the temporary file " + name + ": " + std::strerror(errno);
            ::close(fd);
            std::remove(name.c_str());
            return -1;
        }
        // The store is written a column's piece at a time (a few hundred bytes): a
        // buffer of a megabyte makes that a write call a megabyte, not one every 4 KB.
        // (The buffer must be given: with none, the C library keeps its own 4 KB.)
        st.file_buffer.resize(1u << 20);
        std::setvbuf(st.file, st.file_buffer.data(), _IOFBF, st.file_buffer.size());
        st.path = name;
        st.guard = cleanup_guard(name);
        return 0;
    }
    *why = "cannot find a free temporary file name in " + dir.string();
    return -1;
}

// Puts the pixels a decoded row carries into dst, a full row of width pixels in the
// compact form. Pixels a source would place outside the row are dropped.
void place_pixels(uint8_t* dst, const image_row& row, bool mono, int32_t width) {
    if (row.x0 < 0 || row.dx < 1 || row.x0 >= width) return;
    const int32_t count = std::min<int32_t>(row.count, (width - row.x0 - 1) / row.dx + 1);
    if (!mono) {
        if (row.dx == 1) {
            std::memcpy(dst + static_cast<size_t>(row.x0) * 3, row.pixels,
                        static_cast<size_t>(count) * 3);
            return;
        }
        for (int32_t j = 0; j < count; ++j)
            std::memcpy(dst + static_cast<size_t>(row.x0 + j * row.dx) * 3, row.pixels + j * 3, 3);
        return;
    }
    if (row.dx == 1 && row.x0 == 0) {
        std::memcpy(dst, row.pixels, (static_cast<size_t>(count) + 7) / 8);
        return;
    }
    for (int32_t j = 0; j < count; ++j) {
        const int32_t x = row.x0 + j * row.dx;
        const uint8_t m = static_cast<uint8_t>(0x80 >> (x % 8));
        if (row.pixels[j / 8] >> (7 - j % 8) & 1)
            dst[x / 8] |= m;
        else
            dst[x / 8] &= static_cast<uint8_t>(~m);
    }
}

// Rows gathered before they are turned into columns, so that each column receives
// 64 bytes (one-bit: a cache line) or 192 bytes (colour) at a time.
int32_t block_rows(const image_store& st) {
    return st.mono ? 512 : 64;
}

// Turns rows (rb bytes each, a multiple of 8 of them: groups of eight) into bytes
// at, at + 1, ... at + groups - 1 of every column of cols (stride bytes a column).
void rows_to_columns(const uint8_t* rows, size_t rb, int32_t groups, int32_t width, uint8_t* cols,
                     size_t stride, size_t at) {
    uint8_t r[8], c[8];
    for (size_t xb = 0; xb < rb; ++xb) {
        const int32_t x0 = static_cast<int32_t>(xb * 8);
        const int32_t n = std::min<int32_t>(8, width - x0);
        uint8_t* dst = cols + static_cast<size_t>(x0) * stride + at;
        for (int32_t g = 0; g < groups; ++g) {
            const uint8_t* src = rows + static_cast<size_t>(g) * 8 * rb + xb;
            for (int i = 0; i < 8; ++i) r[i] = src[i * rb];
            turn_bit_block(r, c);
            for (int32_t j = 0; j < n; ++j) dst[static_cast<size_t>(j) * stride + g] = c[j];
        }
    }
}

// Rows of the image in order, whole, from the source or from the staged rows.
struct row_feed {
    image_source* source;       // not interlaced: rows as decoded; null = staged
    const uint8_t* staged;      // staged rows in memory; null = in the file
    std::vector<uint8_t> row;   // a row assembled from a partial one
    std::vector<uint8_t> chunk; // staged rows read from the file
    int32_t chunk_y0, chunk_y1; // rows held in chunk
    int32_t next_y;             // the row the next call delivers
    image_row pending;          // a source row read ahead of its turn
    bool has_pending;           // pending holds a row not yet placed
    bool ended;                 // the source has no more rows
};

// Delivers row feed.next_y in *out. Returns 0, or -1 with *why set.
int feed_row(image_store& st, row_feed& feed, const uint8_t** out, std::string* why) {
    const size_t rb = row_bytes(st);
    const int32_t y = feed.next_y++;
    if (!feed.source) {
        if (feed.staged) {
            *out = feed.staged + static_cast<size_t>(y) * rb;
            return 0;
        }
        if (y >= feed.chunk_y1) {
            feed.chunk_y0 = y;
            feed.chunk_y1 = std::min(st.height, y + std::max<int32_t>(1, st.chunk_rows));
            feed.chunk.resize(static_cast<size_t>(feed.chunk_y1 - y) * rb);
            if (read_at(st, static_cast<int64_t>(y) * static_cast<int64_t>(rb), feed.chunk.data(),
                        feed.chunk.size(), why) < 0)
                return -1;
        }
        *out = feed.chunk.data() + static_cast<size_t>(y - feed.chunk_y0) * rb;
        return 0;
    }
    // A row the source does not deliver (it ended early or skipped it) is left zero.
    if (!feed.has_pending && !feed.ended) {
        const int got = feed.source->next(&feed.pending);
        if (got < 0) {
            *why = feed.source->error();
            return -1;
        }
        if (got == 0) feed.ended = true;
        feed.has_pending = got == 1;
    }
    if (feed.has_pending && feed.pending.y == y && feed.pending.x0 == 0 && feed.pending.dx == 1 &&
        feed.pending.count == st.width) {
        feed.has_pending = false;
        *out = feed.pending.pixels;
        return 0;
    }
    feed.row.assign(rb, 0);
    while (feed.has_pending && feed.pending.y <= y) {
        if (feed.pending.y == y) place_pixels(feed.row.data(), feed.pending, st.mono, st.width);
        const int got = feed.source->next(&feed.pending);
        if (got < 0) {
            *why = feed.source->error();
            return -1;
        }
        feed.has_pending = got == 1;
        if (got == 0) feed.ended = true;
    }
    *out = feed.row.data();
    return 0;
}

// Gathers up to `rows` rows from feed (fewer at the image's end: the rest of the last
// group of eight is zero) into buf and turns them into columns from byte at. Returns
// 0 or -1.
int feed_columns(image_store& st, row_feed& feed, int32_t rows, std::vector<uint8_t>& buf,
                 uint8_t* cols, size_t stride, size_t at, std::string* why) {
    const size_t rb = row_bytes(st);
    const int32_t groups = (rows + 7) / 8;
    buf.resize(static_cast<size_t>(groups) * 8 * rb);
    const uint8_t* row = nullptr;
    for (int32_t i = 0; i < rows; ++i) {
        if (feed_row(st, feed, &row, why) < 0) return -1;
        std::memcpy(buf.data() + static_cast<size_t>(i) * rb, row, rb);
    }
    if (st.mono) {
        std::fill(buf.begin() + static_cast<ptrdiff_t>(static_cast<size_t>(rows) * rb), buf.end(),
                  0);
        rows_to_columns(buf.data(), rb, groups, st.width, cols, stride, at);
        return 0;
    }
    for (int32_t x = 0; x < st.width; ++x) {
        uint8_t* dst = cols + static_cast<size_t>(x) * stride + at;
        const uint8_t* src = buf.data() + static_cast<size_t>(x) * 3;
        for (int32_t i = 0; i < rows; ++i, dst += 3, src += rb) std::memcpy(dst, src, 3);
    }
    return 0;
}

// Reads an interlaced source whole into rows: in memory (*memory) when they fit the
// budget, else at the start of the file. Returns 0 or -1.
int stage_rows(image_store& st, image_source& source, size_t budget, std::vector<uint8_t>* memory,
               std::string* why) {
    const size_t rb = row_bytes(st);
    const bool in_memory = static_cast<uint64_t>(rb) * st.height <= budget;
    if (in_memory)
        memory->assign(rb * static_cast<size_t>(st.height), 0);
    else
        st.staged_bytes = static_cast<int64_t>(rb) * st.height;
    std::vector<uint8_t> row(rb);
    std::vector<bool> written(in_memory ? 0 : static_cast<size_t>(st.height), false);
    image_row r;
    for (;;) {
        const int got = source.next(&r);
        if (got < 0) {
            *why = source.error();
            return -1;
        }
        if (got == 0) break;
        if (r.y < 0 || r.y >= st.height) continue;
        if (in_memory) {
            place_pixels(memory->data() + static_cast<size_t>(r.y) * rb, r, st.mono, st.width);
            continue;
        }
        // A partial row joins what earlier passes put in the same row.
        const int64_t at = static_cast<int64_t>(r.y) * static_cast<int64_t>(rb);
        if (written[static_cast<size_t>(r.y)]) {
            if (read_at(st, at, row.data(), rb, why) < 0) return -1;
        } else {
            std::fill(row.begin(), row.end(), 0);
        }
        place_pixels(row.data(), r, st.mono, st.width);
        if (write_at(st, at, row.data(), rb, why) < 0) return -1;
        written[static_cast<size_t>(r.y)] = true;
    }
    // Rows no pass delivered read back as zero, like the rest of a short image.
    for (int32_t y = 0; y < st.height; ++y) {
        if (in_memory || written[static_cast<size_t>(y)]) continue;
        std::fill(row.begin(), row.end(), 0);
        if (write_at(st, static_cast<int64_t>(y) * static_cast<int64_t>(rb), row.data(), rb, why) <
            0)
            return -1;
    }
    return 0;
}

// Columns of the band starting at column x.
int32_t band_columns(const image_store& st, int32_t x) {
    return std::min(st.band_span, st.width - x);
}

// Fills a columns-order store from feed: whole in memory, or through the file.
int fill_columns(image_store& st, row_feed& feed, size_t budget, const std::string& folder,
                 std::string* why) {
    const size_t cb = column_bytes(st);
    const uint64_t whole = static_cast<uint64_t>(cb) * st.width;
    const int32_t block = block_rows(st);
    std::vector<uint8_t> buf;
    if (!st.file && whole <= budget) {
        st.band_span = st.width;
        st.b0 = 0, st.b1 = st.width;
        st.stride = cb;
        st.band.assign(static_cast<size_t>(whole), 0);
        for (int32_t y = 0; y < st.height; y += block)
            if (feed_columns(st, feed, std::min(block, st.height - y), buf, st.band.data(), cb,
                             span_at(st, y), why) < 0)
                return -1;
        return 0;
    }
    // Through the file: half the budget for a band, a quarter for a chunk of rows (more
    // chunks only cost more seeks), the rest left to the plot itself.
    const uint64_t half = std::max<uint64_t>(1, budget / 2),
                   quarter = std::max<uint64_t>(1, budget / 4);
    if (!st.file && open_temp(st, folder, why) < 0) return -1;
    const uint64_t rows = st.mono ? quarter * 8 / static_cast<uint64_t>(st.width) / 8 * 8
                                  : quarter / (3ull * static_cast<uint64_t>(st.width));
    st.chunk_rows = static_cast<int32_t>(std::clamp<uint64_t>(
        rows, st.mono ? 8 : 1, st.mono ? (st.height + 7ull) / 8 * 8 : st.height));
    st.band_span = static_cast<int32_t>(std::clamp<uint64_t>(half / cb, 1, st.width));
    st.band_offset.clear();
    for (int64_t x = 0, at = st.staged_bytes; x < st.width; x += st.band_span) {
        st.band_offset.push_back(at);
        at += static_cast<int64_t>(band_columns(st, static_cast<int32_t>(x))) *
              static_cast<int64_t>(cb);
    }
    // A chunk holds columns of chunk_rows rows; band b keeps, chunk after chunk, its
    // columns' share of each.
    const size_t chunk_stride = span_bytes(st, st.chunk_rows);
    std::vector<uint8_t> chunk(chunk_stride * static_cast<size_t>(st.width));
    for (int32_t y0 = 0; y0 < st.height; y0 += st.chunk_rows) {
        const int32_t n = std::min(st.chunk_rows, st.height - y0);
        for (int32_t i = 0; i < n; i += block)
            if (feed_columns(st, feed, std::min(block, n - i), buf, chunk.data(), chunk_stride,
                             span_at(st, i), why) < 0)
                return -1;
        const size_t piece = span_bytes(st, n);
        for (size_t b = 0; b < st.band_offset.size(); ++b) {
            const int32_t x0 = static_cast<int32_t>(b) * st.band_span, k = band_columns(st, x0);
            errno = 0;
            const int64_t at =
                st.band_offset[b] + static_cast<int64_t>(k) * static_cast<int64_t>(span_at(st, y0));
            if (seek_to(st.file, at) != 0) return io_failure(st, "write", errno, why);
            for (int32_t j = 0; j < k; ++j)
                if (std::fwrite(chunk.data() + static_cast<size_t>(x0 + j) * chunk_stride, 1, piece,
                                st.file) != piece)
                    return io_failure(st, "write", errno, why);
        }
    }
    st.b0 = st.b1 = 0;
    return image_store_hold(st, 0, why);
}

} // namespace

int image_store_fill(image_store& st, image_source& source, image_store_order order, size_t budget,
                     const std::string& folder, std::string* why) {
    st = image_store{};
    st.guard = -1;
    const image_info& info = source.info();
    st.width = info.width, st.height = info.height;
    st.mono = info.mono;
    st.order = order;
    assert(st.width >= 1 && st.height >= 1);
    const size_t rb = row_bytes(st);
    std::vector<uint8_t> staged;
    row_feed feed{};
    feed.source = &source;
    int rc = 0;
    if (info.interlaced || order == image_store_order::rows) {
        // Staged rows that feed columns share the budget with them.
        if (order == image_store_order::columns) budget = std::max<size_t>(1, budget / 2);
        if (static_cast<uint64_t>(rb) * st.height > budget) rc = open_temp(st, folder, why);
        if (rc == 0) rc = stage_rows(st, source, budget, &staged, why);
        feed.source = nullptr;
        feed.staged = staged.empty() ? nullptr : staged.data();
        st.chunk_rows = static_cast<int32_t>(
            std::clamp<uint64_t>(budget / 2 / rb, 1, static_cast<uint64_t>(st.height)));
    }
    if (rc == 0 && order == image_store_order::rows) {
        st.stride = rb;
        if (feed.staged) {
            st.band = std::move(staged);
            st.band_span = st.height, st.b0 = 0, st.b1 = st.height;
        } else {
            st.band_span = st.chunk_rows;
            rc = image_store_hold(st, 0, why);
        }
    } else if (rc == 0) {
        rc = fill_columns(st, feed, budget, folder, why);
    }
    if (rc < 0) image_store_close(st);
    return rc;
}

int image_store_hold(image_store& st, int32_t at, std::string* why) {
    if (at >= st.b0 && at < st.b1) return 0;
    assert(st.file && st.band_span >= 1);
    const int32_t b = at / st.band_span, x0 = b * st.band_span;
    if (st.order == image_store_order::rows) {
        const int32_t y1 = std::min(st.height, x0 + st.band_span);
        st.band.resize(static_cast<size_t>(y1 - x0) * st.stride);
        if (read_at(st, static_cast<int64_t>(x0) * static_cast<int64_t>(st.stride), st.band.data(),
                    st.band.size(), why) < 0)
            return -1;
        st.b0 = x0, st.b1 = y1;
        return 0;
    }
    const int32_t k = band_columns(st, x0);
    st.b0 = st.b1 = 0;
    // The band's chunks, each k columns of a chunk's rows, joined into whole columns.
    const size_t cb = column_bytes(st);
    st.stride = cb;
    st.band.resize(cb * static_cast<size_t>(k));
    std::vector<uint8_t> piece(span_bytes(st, st.chunk_rows) * static_cast<size_t>(k));
    for (int32_t y0 = 0; y0 < st.height; y0 += st.chunk_rows) {
        const size_t n = span_bytes(st, std::min(st.chunk_rows, st.height - y0));
        const size_t at = span_at(st, y0);
        if (read_at(st,
                    st.band_offset[static_cast<size_t>(b)] +
                        static_cast<int64_t>(k) * static_cast<int64_t>(at),
                    piece.data(), n * k, why) < 0)
            return -1;
        for (int32_t j = 0; j < k; ++j)
            std::memcpy(st.band.data() + static_cast<size_t>(j) * cb + at,
                        piece.data() + static_cast<size_t>(j) * n, n);
    }
    st.b0 = x0, st.b1 = x0 + k;
    return 0;
}

void image_store_close(image_store& st) {
    if (st.file) std::fclose(st.file);
    st.file = nullptr;
    std::vector<char>().swap(st.file_buffer);
    if (!st.path.empty()) std::remove(st.path.c_str());
    st.path.clear();
    if (st.guard >= 0) cleanup_forget(st.guard);
    st.guard = -1;
    std::vector<uint8_t>().swap(st.band);
    st.band_offset.clear();
    st.b0 = st.b1 = 0;
}

int64_t image_pixels_limit() {
    // The largest sheet is the largest fixed format: a roll's custom length is the
    // user's to set and is no sheet the driver offers as such.
    double largest = 0;
    for (int row = 1; row <= format_rows; ++row) {
        const format_row f = media_format_row(0, row);
        if (!f.custom) largest = std::max(largest, f.length * f.width);
    }
    const int dpi = model_capability(0, cap_600dpi) == 1 ? 600 : 400;
    return static_cast<int64_t>(largest * dpi * dpi) * 4;
}

std::string image_size_refusal(int64_t width, int64_t height) {
    const int64_t limit = image_pixels_limit();
    if (width * height <= limit) return "";
    return "is " + std::to_string(width) + " x " + std::to_string(height) + " pixels (" +
           std::to_string(width * height / 1000000) + " million), more than the " +
           std::to_string(limit / 1000000) +
           " million pixels kvrac decodes (four times the largest sheet at the highest "
           "resolution); scale the image down before plotting it";
}
