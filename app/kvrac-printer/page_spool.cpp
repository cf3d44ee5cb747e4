// A raster page spooled to a page file, one line at a time (see page_spool.h).
//
// Workload: an A0 page at 600 dpi is about 20,000 x 28,000 dots, one call per line,
// and it is taller than wide, so it is turned. Each call converts one line into its
// stored form: an unturned page appends it to the file; a turned page keeps it in the
// band. A full band (about 850 grey lines or 6,700 one-bit lines of an A0 page) is
// turned in memory and written as one tile, one write: about 35 for a grey A0 page, 5
// for a one-bit one. Nothing is compressed and nothing is read back.
#include "kvrac-printer/page_spool.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cassert>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "host/wire.h"
#include "images/bit_block.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// stdio buffer of an unturned page's file.
constexpr size_t write_buffer = 1u << 20;

// Sets s.error to what, with the system's reason for errno_value. Returns -1.
int failed(page_spool& s, const std::string& what, int errno_value) {
    s.error = what + ": " + std::strerror(errno_value);
    return -1;
}

// Converts one input line into its stored form at out (s.line_bytes bytes).
void convert(const page_spool& s, const uint8_t* line, uint8_t* out) {
    const size_t bytes = s.line_bytes;
    if (s.in_bits == 1) {
        // Stored as received (1 = black); the dots past the width are white.
        std::memcpy(out, line, bytes);
        if (s.width % 8) out[bytes - 1] &= static_cast<uint8_t>(0xFF00 >> (s.width % 8));
        return;
    }
    if (!s.bilevel) {
        std::memcpy(out, line, bytes);
        return;
    }
    // Bi-level from grey: a dot below half grey (its top bit clear) is black. Eight dots
    // at a time: their inverted top bits, one in each byte of a word, are gathered into
    // the top byte by one multiplication that moves dot i to bit 63 - i; no two of its
    // partial products meet, so nothing carries.
    const uint32_t whole = s.width / 8;
    for (uint32_t b = 0; b < whole; ++b) {
        uint64_t dots;
        std::memcpy(&dots, line + 8 * static_cast<size_t>(b), 8);
        if constexpr (std::endian::native == std::endian::big) dots = __builtin_bswap64(dots);
        const uint64_t black = (~dots & 0x8080808080808080u) >> 7;
        out[b] = static_cast<uint8_t>((black * 0x8040201008040201u) >> 56);
    }
    if (whole == bytes) return;
    out[whole] = 0;
    for (uint32_t x = whole * 8; x < s.width; ++x)
        if (line[x] < 128) out[whole] |= static_cast<uint8_t>(0x80 >> (x % 8));
}

// A white line in stored form.
void white_line(const page_spool& s, uint8_t* out) {
    std::memset(out, s.bilevel ? 0x00 : 0xFF, s.line_bytes);
}

// Bytes of one write at most: spooling an A0 page took two to three times as long
// when each band's tile of 16 MB went to the kernel in one call as when it went a
// megabyte at a time (measured on Linux 6.18, ext4).
constexpr size_t write_piece_max = 1u << 20;

// Writes n bytes at offset `at` of the file. Returns 0, or -1 with s.error set.
int write_at(page_spool& s, const uint8_t* bytes, size_t n, off_t at) {
    const int fd = fileno(s.file);
    while (n > 0) {
        const ssize_t put = ::pwrite(fd, bytes, std::min(n, write_piece_max), at);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return failed(s, "cannot spool the page", put < 0 ? errno : ENOSPC);
        bytes += put;
        n -= static_cast<size_t>(put);
        at += put;
    }
    return 0;
}

// Turns one byte (8 dots) of the 8 lines of group g into the pieces of their 8 stored
// rows: stored row w - 1 - (8b + k) for dot k. Dots past the width are not stored.
void turn_byte(page_spool& s, uint32_t g, size_t b, size_t piece) {
    const size_t stride = s.line_bytes;
    const uint8_t* lines = s.band.data() + static_cast<size_t>(g) * 8 * stride;
    uint8_t in[8], out[8];
    for (size_t i = 0; i < 8; ++i) in[i] = lines[i * stride + b];
    turn_bit_block(in, out);
    const uint32_t w = s.width;
    uint8_t* to = s.turn.data() + (w - 1 - b * 8) * piece + g;
    for (size_t k = 0; k < 8 && b * 8 + k < w; ++k) to[-static_cast<ptrdiff_t>(k * piece)] = out[k];
}

#if defined(__SSE2__)
// Transposes 16 x 16 bytes: afterwards r[j] holds byte j of every former r[i], in lane
// i. Each of four rounds of interleaving moves a byte's register and lane index one
// bit further round (the eight index bits rotate by one), so four rounds swap them.
void transpose_bytes_16(__m128i r[16]) {
    __m128i t[16];
    for (int round = 0; round < 4; ++round) {
        for (int i = 0; i < 8; ++i) {
            t[2 * i] = _mm_unpacklo_epi8(r[i], r[i + 8]);
            t[2 * i + 1] = _mm_unpackhi_epi8(r[i], r[i + 8]);
        }
        for (int i = 0; i < 16; ++i) r[i] = t[i];
    }
}

// Turns 16 lines (groups g and g + 1) by 16 bytes (128 dots from byte b, all inside the
// width) at once. The 16 x 16 bytes are transposed, so that register j holds byte j
// of every line; then each dot of that byte, taken by the top bit of every lane, gives
// the two piece bytes of its stored row. Within each group the lines
// are loaded last first, so that the group's first line lands in bit 7.
void turn_block_16(page_spool& s, uint32_t g, size_t b, size_t piece) {
    const size_t stride = s.line_bytes;
    const uint8_t* lines = s.band.data() + static_cast<size_t>(g) * 8 * stride + b;
    __m128i r[16];
    for (int i = 0; i < 16; ++i) {
        const int line = (i & 8) + 7 - (i & 7);
        r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lines + line * stride));
    }
    transpose_bytes_16(r);
    const uint32_t w = s.width;
    uint8_t* turn = s.turn.data();
    for (int j = 0; j < 16; ++j) {
        __m128i x = r[j];
        // Dot k of byte b + j: page column 8 (b + j) + k, stored row w - 1 - that.
        uint8_t* to = turn + (w - 1 - (b + static_cast<size_t>(j)) * 8) * piece + g;
        for (int k = 0; k < 8; ++k) {
            const int bits = _mm_movemask_epi8(x);
            to[0] = static_cast<uint8_t>(bits);
            to[1] = static_cast<uint8_t>(bits >> 8);
            to -= piece;
            x = _mm_add_epi8(x, x);
        }
    }
}
#endif

// Turns dots c0 .. c1 - 1 of grey lines j0 .. j1 - 1 of the band into their stored
// rows, a byte at a time.
void turn_grey_bytes(page_spool& s, size_t piece, uint32_t j0, uint32_t j1, uint32_t c0,
                     uint32_t c1) {
    const uint32_t w = s.width;
    for (uint32_t j = j0; j < j1; ++j) {
        const uint8_t* line = s.band.data() + static_cast<size_t>(j) * s.line_bytes;
        for (uint32_t c = c0; c < c1; ++c) s.turn[(w - 1 - c) * piece + j] = line[c];
    }
}

// Turns the n lines of the band (n <= band_lines; the rest of the band is white) into
// s.turn: stored row y, which is page column width - 1 - y, gets one piece of
// `piece` bytes holding dots band_first .. band_first + n - 1 of that column.
void turn_band(page_spool& s, uint32_t n, size_t piece) {
    const uint32_t w = s.width;
    const uint8_t* band = s.band.data();
    uint8_t* turn = s.turn.data();
    if (s.bilevel) {
        // Strips of 512 columns down the band: each strip writes along 512 stored rows
        // at once, which stay in the cache. Where the processor has SSE2, two groups of
        // 8 lines by 16 bytes are turned at once; the rest 8 x 8 dots at a time.
        constexpr size_t strip = 64; // bytes of a line
        const uint32_t groups = (n + 7) / 8;
        const size_t full = w / 8; // bytes whose 8 dots all lie inside the width
        for (size_t b0 = 0; b0 < s.line_bytes; b0 += strip) {
            const size_t b1 = std::min(s.line_bytes, b0 + strip);
            uint32_t g = 0;
#if defined(__SSE2__)
            for (; g + 1 < groups; g += 2) {
                size_t b = b0;
                for (; b + 16 <= std::min(b1, full); b += 16) turn_block_16(s, g, b, piece);
                for (; b < b1; ++b) {
                    turn_byte(s, g, b, piece);
                    turn_byte(s, g + 1, b, piece);
                }
            }
#endif
            for (; g < groups; ++g)
                for (size_t b = b0; b < b1; ++b) turn_byte(s, g, b, piece);
        }
        return;
    }
    // Grey: tiles of 64 x 64 dots keep both sides of the copy in the cache. Where the
    // processor has SSE2, 16 lines by 16 dots are transposed at once and each stored
    // row takes its 16 bytes in one store; the rest goes a byte at a time.
    constexpr uint32_t tile = 64;
    for (uint32_t j0 = 0; j0 < n; j0 += tile) {
        const uint32_t j1 = std::min(n, j0 + tile);
        for (uint32_t c0 = 0; c0 < w; c0 += tile) {
            const uint32_t c1 = std::min(w, c0 + tile);
            uint32_t j = j0;
#if defined(__SSE2__)
            const uint32_t c16 = c0 + (c1 - c0) / 16 * 16; // end of the whole 16-dot blocks
            for (; j + 16 <= j1; j += 16) {
                for (uint32_t c = c0; c < c16; c += 16) {
                    __m128i r[16];
                    for (uint32_t i = 0; i < 16; ++i)
                        r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                            band + static_cast<size_t>(j + i) * s.line_bytes + c));
                    transpose_bytes_16(r);
                    for (uint32_t k = 0; k < 16; ++k)
                        _mm_storeu_si128(
                            reinterpret_cast<__m128i*>(turn + (w - 1 - (c + k)) * piece + j), r[k]);
                }
                turn_grey_bytes(s, piece, j, j + 16, c16, c1);
            }
#endif
            turn_grey_bytes(s, piece, j, j1, c0, c1);
        }
    }
}

// Writes the band's lines received so far (the rest white) to the file, turned: its
// tile, after the full tiles of the bands before it. Returns 0, or -1 with s.error set.
int flush_band(page_spool& s) {
    const uint32_t n = s.rows_written - s.band_first;
    if (n == 0) return 0;
    assert(n <= s.band_lines && s.band_first % s.band_lines == 0);
    const size_t piece = s.bilevel ? (n + 7) / 8 : n;
    // The band's unused lines are white: a one-bit band's last byte of each piece may
    // take dots from them.
    for (uint32_t j = n; j < s.band_lines && j < (n + 7) / 8 * 8; ++j)
        white_line(s, s.band.data() + static_cast<size_t>(j) * s.line_bytes);
    turn_band(s, n, piece);
    const size_t full_piece = s.bilevel ? s.band_lines / 8 : s.band_lines;
    const off_t at = static_cast<off_t>(page_file_header_size) +
                     static_cast<off_t>(s.band_first / s.band_lines) *
                         static_cast<off_t>(full_piece) * static_cast<off_t>(s.width);
    if (write_at(s, s.turn.data(), piece * s.width, at) != 0) return -1;
    s.band_first = s.rows_written;
    return 0;
}

// Stores the line just converted at next_line(s): an unturned page's is appended to the
// file; a turned page's is already in the band, which is written when full. Returns 0,
// or -1 with s.error set.
int store_line(page_spool& s) {
    if (s.turned) {
        ++s.rows_written;
        if (s.rows_written - s.band_first == s.band_lines) return flush_band(s);
        return 0;
    }
    if (std::fwrite(s.row.data(), 1, s.line_bytes, s.file) != s.line_bytes)
        return failed(s, "cannot spool the page", errno);
    ++s.rows_written;
    return 0;
}

// Where the next line's stored form goes.
uint8_t* next_line(page_spool& s) {
    if (!s.turned) return s.row.data();
    return s.band.data() + static_cast<size_t>(s.rows_written - s.band_first) * s.line_bytes;
}

// The header of the page file; complete or not.
void make_header(const page_spool& s, bool complete, uint8_t* h) {
    std::memset(h, 0, page_file_header_size);
    std::memcpy(h, page_file_magic, sizeof page_file_magic);
    le_put_u32(h, page_file_width, s.turned ? s.height : s.width);
    le_put_u32(h, page_file_height, s.turned ? s.width : s.height);
    le_put_u16(h, page_file_bits, s.bilevel ? 1 : 8);
    le_put_u16(h, page_file_state, complete ? page_file_complete : 0);
    le_put_u32(h, page_file_row_bytes, static_cast<uint32_t>(s.row_bytes));
    le_put_u32(h, page_file_tile_dots, s.turned ? s.band_lines : 0);
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
    s.line_bytes = s.bilevel ? (width + 7) / 8 : width;
    const uint32_t stored_width = s.turned ? height : width;
    s.row_bytes = s.bilevel ? (stored_width + 7) / 8 : stored_width;
    if (s.turned) {
        // Whole bytes of every stored row per band: 8 lines at a time when bi-level.
        const size_t lines = std::max<size_t>(1, turn_budget / s.line_bytes);
        size_t k = std::min<size_t>(lines, height);
        if (s.bilevel) k = std::max<size_t>(8, k / 8 * 8);
        s.band_lines = static_cast<uint32_t>(k);
        s.band.assign(k * s.line_bytes, 0);
        const size_t piece = s.bilevel ? k / 8 : k;
        s.turn.assign(piece * width, 0);
    } else {
        s.row.assign(s.line_bytes, 0);
    }

    s.file = std::fopen(path.c_str(), "w+b");
    if (!s.file) return failed(s, "cannot create " + path, errno);
    if (!s.turned) {
        // The buffer must be given: with none, the C library keeps its own 4 KB.
        s.buffer.resize(write_buffer);
        std::setvbuf(s.file, s.buffer.data(), _IOFBF, s.buffer.size());
    }
    const off_t size =
        static_cast<off_t>(page_file_header_size) +
        static_cast<off_t>(s.row_bytes) * static_cast<off_t>(s.turned ? width : height);
    // Reserves the page's room: a full disk fails the page before it is sent. A file
    // system without reservations takes the page as it comes instead.
    const int reserved = ::posix_fallocate(fileno(s.file), 0, size);
    if (reserved != 0 && reserved != EOPNOTSUPP && reserved != EINVAL && reserved != ENODEV) {
        failed(s, "cannot spool the page (" + std::to_string(size >> 20) + " MB)", reserved);
        page_spool_abandon(s);
        return -1;
    }
    uint8_t header[page_file_header_size];
    make_header(s, false, header);
    if (std::fwrite(header, 1, sizeof header, s.file) != sizeof header ||
        std::fflush(s.file) != 0) {
        failed(s, "cannot spool the page", errno);
        page_spool_abandon(s);
        return -1;
    }
    return 0;
}

int page_spool_write(page_spool& s, const uint8_t* line) {
    if (!s.file) return -1;
    if (s.rows_written >= s.height) return 0;
    convert(s, line, next_line(s));
    if (store_line(s) != 0) {
        page_spool_abandon(s);
        return -1;
    }
    return 0;
}

int page_spool_close(page_spool& s) {
    if (!s.file) return s.error.empty() ? 0 : -1;
    // Lines the document did not send are white.
    while (s.rows_written < s.height) {
        white_line(s, next_line(s));
        if (store_line(s) != 0) {
            page_spool_abandon(s);
            return -1;
        }
    }
    uint8_t header[page_file_header_size];
    make_header(s, true, header);
    const bool written = (!s.turned || flush_band(s) == 0) && std::fflush(s.file) == 0 &&
                         write_at(s, header, sizeof header, 0) == 0;
    if (!written) {
        if (s.error.empty()) failed(s, "cannot spool the page", errno);
        page_spool_abandon(s);
        return -1;
    }
    const bool closed = std::fclose(s.file) == 0;
    s.file = nullptr;
    if (!closed) {
        failed(s, "cannot write the page", errno);
        std::remove(s.path.c_str());
        return -1;
    }
    std::vector<uint8_t>().swap(s.band);
    std::vector<uint8_t>().swap(s.turn);
    std::vector<char>().swap(s.buffer);
    return 0;
}

void page_spool_abandon(page_spool& s) {
    if (s.file) {
        std::fclose(s.file);
        std::remove(s.path.c_str());
    }
    s.file = nullptr;
}
