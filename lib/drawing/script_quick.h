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
// The block must hold a zero byte after the bytes read, then quick_padding more bytes:
// every load below stays inside the block, and a line stops at its end.
//
// On x86-64 processors with SSSE3 (nearly all), the usual form "move X Y" with single
// spaces and a line feed is read a whole line at a time in vector registers; every
// other form goes to the word-at-a-time reader.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KVRAC_QUICK_SSSE3 1
#include <immintrin.h>
#endif

// Bytes the block must hold after its zero byte.
constexpr size_t quick_padding = 32;

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

#if KVRAC_QUICK_SSSE3
namespace script_quick {

// The byte shuffles that place the digits of X and Y, read after "move " with lengths
// nx and ny (1 to 5) and one space between them, right-aligned in eight bytes each:
// X in bytes 0-7, Y in bytes 8-15, leading bytes zero (index 0x80).
struct digit_shuffles {
    alignas(16) uint8_t of[6][6][16];
    constexpr digit_shuffles() : of{} {
        for (int nx = 1; nx <= 5; ++nx)
            for (int ny = 1; ny <= 5; ++ny)
                for (int i = 0; i < 8; ++i) {
                    const int dx = i - (8 - nx), dy = i - (8 - ny);
                    of[nx][ny][i] = static_cast<uint8_t>(dx >= 0 ? dx : 0x80);
                    of[nx][ny][8 + i] = static_cast<uint8_t>(dy >= 0 ? nx + 1 + dy : 0x80);
                }
    }
};
inline constexpr digit_shuffles shuffles;

// The command word and its space as the low five bytes of a little-endian word.
constexpr uint64_t word5(const char (&w)[6]) {
    uint64_t v = 0;
    for (int i = 4; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(w[i]);
    return v;
}

// quick_line for "move X Y\n" or "draw X Y\n" with single spaces and numbers of one to
// five digits: the sixteen bytes after the command word are classed digit or not at
// once, the two lengths read off the mask, the digits shuffled into place and summed in
// pairs, fours and eights by three multiply-adds. Null for anything else.
[[gnu::target("ssse3"), gnu::always_inline]] inline const unsigned char*
line_ssse3(const unsigned char* p, quick_point& q) {
    const uint64_t head = load_le64(p) & 0xFFFFFFFFFFu;
    if (head == word5("draw "))
        q.draw = true;
    else if (head == word5("move "))
        q.draw = false;
    else
        return nullptr;
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 5));
    const __m128i digits = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
    const __m128i is_digit = _mm_cmpeq_epi8(_mm_min_epu8(digits, _mm_set1_epi8(9)), digits);
    const uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(is_digit));
    const int nx = std::countr_one(mask);
    if (nx == 0 || nx > 5 || p[5 + nx] != ' ') return nullptr;
    const int ny = std::countr_one(mask >> (nx + 1));
    if (ny == 0 || ny > 5 || p[6 + nx + ny] != '\n') return nullptr;
    const __m128i placed = _mm_shuffle_epi8(
        digits, _mm_load_si128(reinterpret_cast<const __m128i*>(shuffles.of[nx][ny])));
    const __m128i pairs = _mm_maddubs_epi16(placed, _mm_set1_epi16(0x010A)); // 10, 1
    const __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00010064)); // 100, 1
    const __m128i eights = _mm_madd_epi16(_mm_packs_epi32(fours, fours),     // 10000, 1
                                          _mm_set1_epi32(0x00012710));
    const uint64_t both = static_cast<uint64_t>(_mm_cvtsi128_si64(eights));
    const uint32_t x = static_cast<uint32_t>(both), y = static_cast<uint32_t>(both >> 32);
    if (x > 65535 || y > 65535) return nullptr;
    q.lf = true;
    q.x = static_cast<uint16_t>(x);
    q.y = static_cast<uint16_t>(y);
    return p + 7 + nx + ny;
}

// Whether this processor has SSSE3 (asked once).
inline bool have_ssse3() {
    static const bool have = __builtin_cpu_supports("ssse3");
    return have;
}

} // namespace script_quick
#endif
