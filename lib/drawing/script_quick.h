// The quick path of the script reader: the line "move X Y" or "draw X Y" in plotter
// units, read straight from the reader's block in one pass, with no copy and no call.
// Inline here so that a caller reading runs of such lines (script_points) keeps the
// whole loop in registers.
//
// It takes words parted by spaces or tabs, blanks after Y, and a line end of a line
// feed or a carriage return and line feed that lies in the block. Everything else (mm
// and in units, signs, decimals, comments, other blanks, a line split across blocks, a
// bad line) is left to the general parser, which then reads the same line; where the
// quick path takes a line, its result is the one the general parser gives.
//
// The block must hold a zero byte after the bytes read, then seven more bytes: every
// load below stays inside the block, and a line stops at its end.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace script_quick {

// Eight bytes at p as one number whose lowest byte is p[0], whatever the machine's
// byte order.
inline uint64_t load_le64(const unsigned char* p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
    return w;
}

// A number read at some p: its value, and p past its digits; value -1 when the bytes
// at p are not a plain number.
struct read_number {
    int32_t value;
    const unsigned char* end;
};

// The digits at p when there are more than five: a loop, as such numbers are rare.
[[gnu::noinline]] inline read_number long_number(const unsigned char* p) {
    const unsigned char* start = p;
    uint32_t v = 0;
    for (uint32_t d; (d = static_cast<uint32_t>(*p) - '0') <= 9 && p - start <= 9; ++p)
        v = v * 10 + d;
    if (p - start > 9 || v > 65535) return {-1, p};
    return {static_cast<int32_t>(v), p};
}

// A run of decimal digits at p in plotter units: its value, or -1 when it is not one a
// plain number can be (none, more than 9 digits, or above 65535). The common numbers,
// up to five digits, are taken eight bytes at a time with no loop: a mask finds the
// first byte that is not a digit, and three multiplications add up the digits before
// it, in pairs, then fours, then all.
inline read_number number(const unsigned char* p) {
    const uint64_t w = load_le64(p);
    const uint64_t digits = w - 0x3030303030303030u; // each digit byte's value
    // The high bit of each byte that is not a digit: below '0' the subtraction wraps,
    // above '9' the addition reaches 0x80. Borrows and carries can only garble bytes
    // after the first such byte, and only the first counts.
    const uint64_t other = (digits | (w + 0x4646464646464646u)) & 0x8080808080808080u;
    const int n = other ? std::countr_zero(other) >> 3 : 8;
    if (n == 0) return {-1, p};
    if (n > 5) return long_number(p);
    // The n digits to the top bytes, under leading zeros (the first, most significant
    // digit in the lowest of them). Each multiplication adds a lane's value, times its
    // weight, into the lane above, which then holds both: pairs of digits in 16-bit
    // lanes, fours in 32-bit lanes, then all eight; no lane overflows.
    uint64_t v = digits << (64 - 8 * n);
    v = ((v * (1 + (10 << 8))) >> 8) & 0x00FF00FF00FF00FFu;
    v = ((v * (1 + (100 << 16))) >> 16) & 0x0000FFFF0000FFFFu;
    v = (v * (1 + (10000ull << 32))) >> 32;
    return {v > 65535 ? -1 : static_cast<int32_t>(v), p + n};
}

// Passes the blanks at p, spaces and tabs; p itself when there is none. A single space
// before a word, the usual gap, takes one test.
inline const unsigned char* gap(const unsigned char* p) {
    if (*p == ' ' && p[1] > ' ') return p + 1;
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

} // namespace script_quick

// A move or draw read by the quick path.
struct quick_point {
    bool draw;     // a draw (else a move)
    bool lf;       // the line ended in a line feed alone
    uint16_t x, y; // plotter units
};

// Reads the line at p when the quick path takes it: returns the start of the next
// line, with the line's command in q; null when the line is left to the general parser.
inline const unsigned char* quick_line(const unsigned char* p, quick_point& q) {
    using namespace script_quick;
    if (std::memcmp(p, "move", 4) == 0)
        q.draw = false;
    else if (std::memcmp(p, "draw", 4) == 0)
        q.draw = true;
    else
        return nullptr;
    const unsigned char* s = gap(p + 4);
    if (s == p + 4) return nullptr;
    const read_number x = number(s);
    if (x.value < 0) return nullptr;
    s = gap(x.end);
    if (s == x.end) return nullptr;
    const read_number y = number(s);
    if (y.value < 0) return nullptr;
    p = y.end;
    if (*p != '\n') p = gap(p);
    if (*p == '\n') {
        q.lf = true;
        ++p;
    } else if (p[0] == '\r' && p[1] == '\n') {
        q.lf = false;
        p += 2;
    } else {
        return nullptr;
    }
    q.x = static_cast<uint16_t>(x.value);
    q.y = static_cast<uint16_t>(y.value);
    return p;
}
