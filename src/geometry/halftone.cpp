// Halftone patterns and the tone curve.
//
// The table is built once, at compile time, from the threshold matrix and is read-only
// from then on: the pattern download reads 256 patterns per job and nothing else uses
// it, so compactness and exactness matter more than speed.
#include "geometry/halftone.h"

#include <array>
#include <cassert>

#include "output/output.h"

namespace {

// Step number of each dot, rows top to bottom, columns left to right: the dot is black
// in every pattern numbered below it. Steps 1..254 occur once, 255 twice.
constexpr uint8_t threshold[halftone_rows][16] = {
    {2, 210, 34, 242, 74, 154, 106, 186, 3, 211, 35, 243, 75, 155, 107, 187},
    {146, 66, 178, 98, 218, 10, 250, 42, 147, 67, 179, 99, 219, 11, 251, 43},
    {194, 18, 226, 50, 138, 90, 170, 122, 195, 19, 227, 51, 139, 91, 171, 123},
    {82, 130, 114, 162, 26, 202, 58, 234, 83, 131, 115, 163, 27, 203, 59, 235},
    {110, 190, 78, 158, 38, 246, 6, 214, 111, 191, 79, 159, 39, 247, 7, 215},
    {254, 46, 222, 14, 182, 102, 150, 70, 255, 47, 223, 15, 183, 103, 151, 71},
    {174, 126, 142, 94, 230, 54, 198, 22, 175, 127, 143, 95, 231, 55, 199, 23},
    {62, 238, 30, 206, 118, 166, 86, 134, 63, 239, 31, 207, 119, 167, 87, 135},
    {4, 212, 36, 244, 76, 156, 108, 188, 5, 213, 37, 245, 77, 157, 109, 189},
    {148, 68, 180, 100, 220, 12, 252, 44, 149, 69, 181, 101, 221, 13, 253, 45},
    {196, 20, 228, 52, 140, 92, 172, 124, 197, 21, 229, 53, 141, 93, 173, 125},
    {84, 132, 116, 164, 28, 204, 60, 236, 85, 133, 117, 165, 29, 205, 61, 237},
    {112, 192, 80, 160, 40, 248, 8, 216, 113, 193, 81, 161, 41, 249, 9, 217},
    {255, 48, 224, 16, 184, 104, 152, 72, 1, 49, 225, 17, 185, 105, 153, 73},
    {176, 128, 144, 96, 232, 56, 200, 24, 177, 129, 145, 97, 233, 57, 201, 25},
    {64, 240, 32, 208, 120, 168, 88, 136, 65, 241, 33, 209, 121, 169, 89, 137},
};

constexpr std::array<uint16_t, halftone_patterns * halftone_rows> expand_all() {
    std::array<uint16_t, halftone_patterns * halftone_rows> table{};
    for (int k = 0; k < halftone_patterns; ++k)
        for (int r = 0; r < halftone_rows; ++r) {
            uint16_t word = 0;
            for (int c = 0; c < 16; ++c)
                if (threshold[r][c] > k) word = static_cast<uint16_t>(word | 0x8000u >> c);
            table[k * halftone_rows + r] = word;
        }
    return table;
}

// The 256 patterns, 16 row words each (8,192 bytes).
constexpr std::array<uint16_t, halftone_patterns* halftone_rows> halftone_table = expand_all();

static_assert(halftone_table[0] == 0xFFFF && halftone_table[255 * halftone_rows] == 0);

// Tone curve: output grey for each input grey.
constexpr int16_t tone[256] = {
    0,   3,   6,   12,  14,  17,  20,  22,  25,  28,  30,  32,  35,  37,  39,  42,  44,  46,  48,
    50,  52,  54,  56,  58,  60,  62,  64,  66,  68,  70,  72,  73,  75,  77,  79,  80,  82,  84,
    85,  87,  89,  90,  92,  93,  95,  97,  98,  100, 101, 102, 104, 105, 107, 108, 110, 111, 112,
    114, 115, 116, 118, 119, 120, 122, 123, 124, 126, 127, 128, 129, 130, 132, 133, 134, 135, 136,
    138, 139, 140, 141, 142, 143, 144, 145, 146, 147, 148, 149, 150, 151, 152, 153, 154, 155, 156,
    157, 158, 159, 160, 161, 162, 163, 164, 165, 166, 167, 168, 169, 170, 170, 171, 172, 173, 174,
    175, 176, 177, 178, 178, 179, 180, 181, 182, 183, 183, 184, 185, 186, 187, 188, 188, 189, 190,
    191, 191, 192, 193, 194, 194, 195, 196, 197, 197, 198, 199, 200, 200, 201, 202, 202, 203, 204,
    204, 205, 206, 207, 207, 208, 209, 209, 210, 210, 211, 212, 212, 213, 214, 214, 215, 215, 216,
    217, 217, 218, 218, 219, 220, 220, 221, 221, 222, 222, 223, 224, 224, 225, 225, 226, 226, 227,
    227, 228, 228, 229, 229, 230, 230, 231, 231, 232, 232, 233, 233, 234, 234, 235, 235, 236, 236,
    237, 237, 238, 238, 239, 239, 239, 240, 240, 241, 241, 242, 242, 242, 243, 243, 244, 244, 245,
    245, 245, 246, 246, 246, 247, 247, 248, 248, 248, 249, 249, 249, 250, 250, 251, 251, 251, 252,
    252, 252, 253, 253, 253, 254, 254, 254, 255,
};

// KTGL pattern record: opcode, word count, then pattern number, width and height in
// dots and the 16 row words.
constexpr uint8_t ktgl_pattern = 0x32;
constexpr int pattern_record_words = 3 + halftone_rows;
constexpr int pattern_record_size = 2 + 2 * pattern_record_words;

} // namespace

uint16_t halftone_row(int k, int r) {
    assert(k >= 0 && k < halftone_patterns && r >= 0 && r < halftone_rows);
    return halftone_table[(k & 0xFF) * halftone_rows + (r & 0xF)];
}

int tone_curve(int grey) {
    assert(grey >= 0 && grey <= 255);
    return tone[grey & 0xFF];
}

void expand_pattern(int k, uint8_t* dest) {
    for (int r = 0; r < halftone_rows; ++r) put_be16(halftone_row(k, r), dest + 2 * r);
}

int download_halftone_patterns() {
    int result = 0;
    for (int i = 0; i < halftone_patterns; ++i) {
        uint8_t record[pattern_record_size];
        record[0] = ktgl_pattern; // define fill pattern i
        record[1] = pattern_record_words;
        put_be16(i, record + 2);
        put_be16(16, record + 4); // 16 dots wide
        put_be16(16, record + 6); // 16 dots high
        expand_pattern(tone_curve(tone_curve(tone_curve(i))), record + 8);
        if (out_write_bytes(pattern_record_size, record) < 0) result = -1;
    }
    return result;
}
