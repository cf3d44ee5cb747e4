// MMR coder: ITU-T T.6 two-dimensional coding with the T.4 run-length codes.
//
// Workload. A raster image reaches the coder as a page bitmap that is either CAD-like
// (long white stretches, thin lines and text strokes: a few black runs per row, most
// of them lying almost exactly under a run of the row above) or an ordered-dither
// grey (a change every few pixels, on every row). An A0 sheet at 600 dpi is some
// 20,000 pixels by 28,000 rows, so the coder sees hundreds of millions of pixels per
// image, and both kinds must go fast:
//   - rows become run lists first, found over 64-pixel groups: a group that is all one
//     colour is passed over with one compare; otherwise one word marks every pixel
//     that differs from its left neighbour, and each mark becomes a list entry with
//     one trailing-zero count, the marks taken in pixel order;
//   - coding then works on changing elements, never on pixels; the search for b1 on
//     the reference row resumes from where it stopped, so a row costs time in
//     proportion to its changes, not its width;
//   - the bit writer moves whole 32-bit words and works on a local copy of its state
//     inside the row loop, so the accumulator stays in registers.
//
// Positions in run lists are pixel indices. The imaginary white element before pixel
// 0 is taken as position -1 for the b1 search and as 0 for the first run length.
#include "raster/mmr.h"

#include <bit>
#include <cassert>
#include <climits>
#include <cstring>

// ---------------------------------------------------------------------------------
// Code tables (T.4 modified Huffman run lengths, T.6 mode codes), written as
// (length, code value) and held left-aligned.

namespace {

constexpr mmr_code code(int length, uint32_t value) {
    return mmr_code{value << (32 - length), length};
}

} // namespace

const mmr_code mmr_white_codes[mmr_run_table_size] = {
    // terminating codes, runs 0..63
    code(8, 0x35), code(6, 0x07), code(4, 0x07), code(4, 0x08), code(4, 0x0B), code(4, 0x0C),
    code(4, 0x0E), code(4, 0x0F), code(5, 0x13), code(5, 0x14), code(5, 0x07), code(5, 0x08),
    code(6, 0x08), code(6, 0x03), code(6, 0x34), code(6, 0x35), code(6, 0x2A), code(6, 0x2B),
    code(7, 0x27), code(7, 0x0C), code(7, 0x08), code(7, 0x17), code(7, 0x03), code(7, 0x04),
    code(7, 0x28), code(7, 0x2B), code(7, 0x13), code(7, 0x24), code(7, 0x18), code(8, 0x02),
    code(8, 0x03), code(8, 0x1A), code(8, 0x1B), code(8, 0x12), code(8, 0x13), code(8, 0x14),
    code(8, 0x15), code(8, 0x16), code(8, 0x17), code(8, 0x28), code(8, 0x29), code(8, 0x2A),
    code(8, 0x2B), code(8, 0x2C), code(8, 0x2D), code(8, 0x04), code(8, 0x05), code(8, 0x0A),
    code(8, 0x0B), code(8, 0x52), code(8, 0x53), code(8, 0x54), code(8, 0x55), code(8, 0x24),
    code(8, 0x25), code(8, 0x58), code(8, 0x59), code(8, 0x5A), code(8, 0x5B), code(8, 0x4A),
    code(8, 0x4B), code(8, 0x32), code(8, 0x33), code(8, 0x34),
    // make-up codes, runs 64..1728
    code(5, 0x1B), code(5, 0x12), code(6, 0x17), code(7, 0x37), code(8, 0x36), code(8, 0x37),
    code(8, 0x64), code(8, 0x65), code(8, 0x68), code(8, 0x67), code(9, 0xCC), code(9, 0xCD),
    code(9, 0xD2), code(9, 0xD3), code(9, 0xD4), code(9, 0xD5), code(9, 0xD6), code(9, 0xD7),
    code(9, 0xD8), code(9, 0xD9), code(9, 0xDA), code(9, 0xDB), code(9, 0x98), code(9, 0x99),
    code(9, 0x9A), code(6, 0x18), code(9, 0x9B),
    // extended make-up codes shared by both colours, runs 1792..2560
    code(11, 0x08), code(11, 0x0C), code(11, 0x0D), code(12, 0x12), code(12, 0x13), code(12, 0x14),
    code(12, 0x15), code(12, 0x16), code(12, 0x17), code(12, 0x1C), code(12, 0x1D), code(12, 0x1E),
    code(12, 0x1F)};

const mmr_code mmr_black_codes[mmr_run_table_size] = {
    // terminating codes, runs 0..63
    code(10, 0x37), code(3, 0x02), code(2, 0x03), code(2, 0x02), code(3, 0x03), code(4, 0x03),
    code(4, 0x02), code(5, 0x03), code(6, 0x05), code(6, 0x04), code(7, 0x04), code(7, 0x05),
    code(7, 0x07), code(8, 0x04), code(8, 0x07), code(9, 0x18), code(10, 0x17), code(10, 0x18),
    code(10, 0x08), code(11, 0x67), code(11, 0x68), code(11, 0x6C), code(11, 0x37), code(11, 0x28),
    code(11, 0x17), code(11, 0x18), code(12, 0xCA), code(12, 0xCB), code(12, 0xCC), code(12, 0xCD),
    code(12, 0x68), code(12, 0x69), code(12, 0x6A), code(12, 0x6B), code(12, 0xD2), code(12, 0xD3),
    code(12, 0xD4), code(12, 0xD5), code(12, 0xD6), code(12, 0xD7), code(12, 0x6C), code(12, 0x6D),
    code(12, 0xDA), code(12, 0xDB), code(12, 0x54), code(12, 0x55), code(12, 0x56), code(12, 0x57),
    code(12, 0x64), code(12, 0x65), code(12, 0x52), code(12, 0x53), code(12, 0x24), code(12, 0x37),
    code(12, 0x38), code(12, 0x27), code(12, 0x28), code(12, 0x58), code(12, 0x59), code(12, 0x2B),
    code(12, 0x2C), code(12, 0x5A), code(12, 0x66), code(12, 0x67),
    // make-up codes, runs 64..1728
    code(10, 0x0F), code(12, 0xC8), code(12, 0xC9), code(12, 0x5B), code(12, 0x33), code(12, 0x34),
    code(12, 0x35), code(13, 0x6C), code(13, 0x6D), code(13, 0x4A), code(13, 0x4B), code(13, 0x4C),
    code(13, 0x4D), code(13, 0x72), code(13, 0x73), code(13, 0x74), code(13, 0x75), code(13, 0x76),
    code(13, 0x77), code(13, 0x52), code(13, 0x53), code(13, 0x54), code(13, 0x55), code(13, 0x5A),
    code(13, 0x5B), code(13, 0x64), code(13, 0x65),
    // extended make-up codes shared by both colours, runs 1792..2560
    code(11, 0x08), code(11, 0x0C), code(11, 0x0D), code(12, 0x12), code(12, 0x13), code(12, 0x14),
    code(12, 0x15), code(12, 0x16), code(12, 0x17), code(12, 0x1C), code(12, 0x1D), code(12, 0x1E),
    code(12, 0x1F)};

const mmr_code mmr_vertical_codes[7] = {
    code(1, 0x1),                               // V0
    code(3, 0x3), code(6, 0x03), code(7, 0x03), // VR1, VR2, VR3
    code(3, 0x2), code(6, 0x02), code(7, 0x02), // VL1, VL2, VL3
};
const mmr_code mmr_pass_code = code(4, 0x1);
const mmr_code mmr_horizontal_code = code(3, 0x1);
const mmr_code mmr_eol_code = code(12, 0x001);

// ---------------------------------------------------------------------------------
// Module state.

namespace {

// The bit writer: the coded buffer being filled and the bits not yet stored.
struct mmr_writer {
    uint8_t* out;     // coded buffer of the current piece; null before the first reset
    int32_t capacity; // bytes of the coded buffer, >= 0
    int32_t count;    // bytes stored, a multiple of 4 until the end of block, 0..capacity
    uint32_t acc;     // pending code bits, left-aligned; bits below them are 0
    int32_t bits;     // number of pending bits, 0..31
    int32_t overflow; // 1 once a word did not fit in the coded buffer (later words dropped)
};

struct mmr_module {
    mmr_writer writer; // bit writer of the piece in progress
    int32_t width;     // coded width P of the piece, pixels, >= 1
};

mmr_module mmr;

// Mode codes by a1 - b1 + 3 (VL3 .. VR3), derived from mmr_vertical_codes.
const mmr_code vertical_by_offset[7] = {
    mmr_vertical_codes[6], mmr_vertical_codes[5], mmr_vertical_codes[4], mmr_vertical_codes[0],
    mmr_vertical_codes[1], mmr_vertical_codes[2], mmr_vertical_codes[3]};

// Stores one full accumulator word at the output position (native byte order; see
// to_transmission_order), or latches the overflow when it would not fit.
inline void store_word(mmr_writer& w, uint32_t word) {
    if (w.capacity - w.count < 4) {
        w.overflow = 1;
        return;
    }
    std::memcpy(w.out + w.count, &word, 4);
    w.count += 4;
}

// Appends `length` (1..32) bits of a left-aligned code.
inline void put_bits(mmr_writer& w, uint32_t bits, int32_t length) {
    assert(length >= 1 && length <= 32 && w.bits >= 0 && w.bits <= 31);
    int32_t total = w.bits + length;
    if (total < 32) {
        w.acc |= bits >> w.bits;
        w.bits = total;
        return;
    }
    store_word(w, w.acc | bits >> w.bits);
    total -= 32;
    // total > 0 implies w.bits >= 1, so the shift is at most 31.
    w.acc = total ? bits << (length - total) : 0;
    w.bits = total;
}

inline void put_code(mmr_writer& w, const mmr_code& c) {
    put_bits(w, c.bits, c.length);
}

// Make-up codes while the run is 64 or more, then the terminating code.
inline void put_run(mmr_writer& w, const mmr_code* table, int32_t run) {
    assert(run >= 0);
    while (run >= 64) {
        if (run >= 2624) {
            put_code(w, table[63 + 2560 / 64]);
            run -= 2560;
        } else {
            put_code(w, table[63 + run / 64]);
            run &= 63;
        }
    }
    put_code(w, table[run]);
}

// `bytes` (1..8) row bytes as a word, byte i in bits 8i..8i+7; bits beyond are 0.
inline uint64_t load_le(const uint8_t* p, int32_t bytes) {
    uint64_t x = 0;
    for (int32_t i = bytes - 1; i >= 0; --i) x = x << 8 | p[i];
    return x;
}

// Eight row bytes as load_le puts them, in one load where the machine allows.
inline uint64_t load_le8(const uint8_t* p) {
    if constexpr (std::endian::native == std::endian::little) {
        uint64_t x;
        std::memcpy(&x, p, 8);
        return x;
    }
    return load_le(p, 8);
}

// Reverses the bits of every byte of x: a word of load_le then holds pixel k of its
// group in bit k, since a row byte holds its first pixel in bit 7.
inline uint64_t pixel_order(uint64_t x) {
    x = (x >> 4 & 0x0F0F0F0F0F0F0F0Full) | (x & 0x0F0F0F0F0F0F0F0Full) << 4;
    x = (x >> 2 & 0x3333333333333333ull) | (x & 0x3333333333333333ull) << 2;
    x = (x >> 1 & 0x5555555555555555ull) | (x & 0x5555555555555555ull) << 1;
    return x;
}

// Codes one row given as a run list against the reference run list (T.6 2-D coding).
// Both lists end with the closing pair (P, P) and two sentinel copies of P.
void code_row(mmr_writer& w, const int32_t* current, const int32_t* reference, int32_t width) {
    const int32_t* a = current + 1;   // changing elements of the row: starts at even indices
    const int32_t* b = reference + 1; // changing elements of the row above
    int32_t a0 = -1;                  // -1: the imaginary white element before pixel 0
    int32_t colour = 0;               // colour of a0: 0 white, 1 black
    int32_t i = 0;                    // index of a1 in a (parity equals colour)
    int32_t j = 0;                    // first index in b with b[j] > a0
    for (;;) {
        while (b[j] <= a0) ++j;
        // b1 is the first element right of a0 whose index parity equals a0's colour
        // (black starts for a white a0, black ends for a black a0); b2 follows it.
        int32_t k = j + ((j ^ colour) & 1);
        int32_t b1 = b[k];
        int32_t b2 = b[k + 1];
        int32_t a1 = a[i];
        assert(a1 > a0 && b1 > a0);
        if (a1 > b2) {
            put_code(w, mmr_pass_code);
            a0 = b2;
            continue; // b2 < a1 <= P, so the row goes on
        }
        int32_t d = a1 - b1;
        if (d >= -3 && d <= 3) {
            put_code(w, vertical_by_offset[d + 3]);
            a0 = a1;
            colour ^= 1;
            i += 1;
        } else {
            int32_t a2 = a[i + 1];
            int32_t start = a0 < 0 ? 0 : a0;
            put_code(w, mmr_horizontal_code);
            if (colour == 0) {
                put_run(w, mmr_white_codes, a1 - start);
                put_run(w, mmr_black_codes, a2 - a1);
            } else {
                put_run(w, mmr_black_codes, a1 - start);
                put_run(w, mmr_white_codes, a2 - a1);
            }
            a0 = a2;
            i += 2;
        }
        if (a0 >= width) break;
    }
    assert(a0 == width);
}

} // namespace

// ---------------------------------------------------------------------------------
// Run lists.

int32_t mmr_list_entries(int32_t width) {
    assert(width >= 1);
    return width + 6;
}

int32_t mmr_row_runs(const uint8_t* row, int32_t width, int32_t* list) {
    assert(width >= 1);
    int32_t* e = list + 1;
    uint64_t before = 0; // colour of the pixel before the group: 0 white, 1 black
    int32_t groups = width >> 6;
    for (int32_t g = 0; g < groups; ++g) {
        uint64_t x = load_le8(row + 8 * g);
        if (x == 0 - before) continue; // all of the colour in force: no change
        x = pixel_order(x);
        // A change is a pixel whose colour differs from the one on its left.
        uint64_t t = x ^ (x << 1 | before);
        before = x >> 63;
        int32_t base = g << 6;
        for (; t; t &= t - 1) *e++ = base + std::countr_zero(t);
    }
    int32_t tail = width & 63;
    if (tail) {
        uint64_t x = pixel_order(load_le(row + 8 * groups, (tail + 7) / 8));
        uint64_t t = (x ^ (x << 1 | before)) & ~(~uint64_t{0} << tail);
        before = x >> (tail - 1) & 1;
        int32_t base = groups << 6;
        for (; t; t &= t - 1) *e++ = base + std::countr_zero(t);
    }
    if (before) *e++ = width; // a black run reaching the row's end
    int32_t changes = static_cast<int32_t>(e - (list + 1));
    assert(changes % 2 == 0 && changes <= width + 1);
    e[0] = e[1] = e[2] = e[3] = width; // closing pair and sentinels
    list[0] = changes / 2 + 1;
    return list[0];
}

void mmr_white_line(int32_t* list, int32_t width) {
    list[0] = 1;
    list[1] = list[2] = list[3] = list[4] = width;
}

// ---------------------------------------------------------------------------------
// Coding.

void mmr_reset(uint8_t* coded, int32_t capacity, int32_t width) {
    assert(coded || capacity == 0);
    assert(capacity >= 0 && width >= 1);
    mmr.writer = mmr_writer{coded, capacity, 0, 0, 0, 0};
    mmr.width = width;
}

int mmr_code_rows(const uint8_t* first_row, int32_t rows, int32_t stride, int32_t* current,
                  int32_t* reference) {
    int32_t width = mmr.width;
    if (rows < 0 || (rows > 0 && static_cast<int64_t>(stride) * 8 < width)) return -1;
    mmr_writer w = mmr.writer; // local copy: stays in registers across the row loop
    const uint8_t* row = first_row;
    for (int32_t r = 0; r < rows; ++r) {
        mmr_row_runs(row, width, current);
        code_row(w, current, reference, width);
        if (w.overflow) break;
        int32_t* t = current;
        current = reference;
        reference = t;
        row += stride;
    }
    mmr.writer = w;
    return w.overflow ? -1 : 0;
}

int32_t mmr_end_block() {
    mmr_writer& w = mmr.writer;
    put_code(w, mmr_eol_code);
    put_code(w, mmr_eol_code);
    if (w.bits > 0) {
        int32_t held = w.bits;
        store_word(w, w.acc);
        if (!w.overflow && held < 16) w.count -= 2;
        w.acc = 0;
        w.bits = 0;
    }
    if (w.overflow) return -1;
    assert(w.count % 2 == 0);
    return w.count;
}

int mmr_put_bits(uint32_t code, int32_t length) {
    put_bits(mmr.writer, code, length);
    return mmr.writer.overflow ? -1 : 0;
}

int mmr_put_run(const mmr_code* table, int32_t run) {
    put_run(mmr.writer, table, run);
    return mmr.writer.overflow ? -1 : 0;
}

void to_transmission_order(uint8_t* coded, int32_t count) {
    assert(count >= 0);
    int32_t words = (count + 3) / 4;
    for (int32_t n = 0; n < words; ++n) {
        uint8_t* p = coded + 4 * n;
        uint32_t word;
        std::memcpy(&word, p, 4);
        p[0] = static_cast<uint8_t>(word >> 24);
        p[1] = static_cast<uint8_t>(word >> 16);
        p[2] = static_cast<uint8_t>(word >> 8);
        p[3] = static_cast<uint8_t>(word);
    }
}

int32_t mmr_code_piece(const uint8_t* first_row, int32_t rows, int32_t stride, int32_t width,
                       int32_t* lists, uint8_t* coded, int32_t capacity) {
    if (width < 1 || capacity < 0) return -1;
    int32_t entries = mmr_list_entries(width);
    int32_t* current = lists;
    int32_t* reference = lists + entries;
    mmr_reset(coded, capacity, width);
    mmr_white_line(reference, width);
    if (mmr_code_rows(first_row, rows, stride, current, reference) < 0) return -1;
    int32_t count = mmr_end_block();
    if (count < 0) return -1;
    to_transmission_order(coded, count);
    return count;
}

int64_t mmr_worst_case_bytes(int32_t rows, int32_t width) {
    // Per row at most 7 bits for each of the P + 1 positions a0 crosses, plus the
    // extra cost of a leading white run of 0 and a closing run of 0 (under 32 bits).
    int64_t row_bytes = (7 * static_cast<int64_t>(width) + 32 + 7) / 8;
    int64_t total = static_cast<int64_t>(rows < 0 ? 0 : rows) * row_bytes + 16;
    return total > INT32_MAX ? INT32_MAX : total;
}
