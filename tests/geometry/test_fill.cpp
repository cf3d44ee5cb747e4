// Halftone patterns, the pattern download, pen definitions and the fixed KTGL blocks.
#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <vector>

#include "geometry/capture_host.h"
#include "geometry/halftone.h"
#include "geometry/ktgl_page.h"
#include "host/settings.h"
#include "plot/output.h"
#include "plot/pens.h"

namespace {

using bytes_t = std::vector<uint8_t>;

// The threshold matrix as printed for the printer's halftone (step numbers).
const int matrix[16][16] = {
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

int black_dots(int k) {
    int n = 0;
    for (int r = 0; r < 16; ++r) n += std::popcount(halftone_row(k, r));
    return n;
}

class Fills : public ::testing::Test {
  protected:
    void SetUp() override {
        capture::install();
        settings.mode_flags = mode_ktgl | mode_red_pen;
        settings.red_pen = 1;
        runtime.current_model = 0;
        pens_reset();
        ASSERT_EQ(out_open(), 0);
    }
    void TearDown() override { out_close(); }
    static bytes_t written() {
        return bytes_t(output.out_buffer, output.out_buffer + output.out_fill);
    }
};

TEST(Halftone, TheTableIsTheThresholdMatrixExpanded) {
    for (int k = 0; k < 256; ++k)
        for (int r = 0; r < 16; ++r) {
            uint16_t word = 0;
            for (int c = 0; c < 16; ++c)
                if (matrix[r][c] > k) word |= static_cast<uint16_t>(0x8000 >> c);
            ASSERT_EQ(halftone_row(k, r), word) << "pattern " << k << " row " << r;
        }
    for (int k = 0; k < 255; ++k) {
        EXPECT_EQ(black_dots(k), 256 - k);
        for (int r = 0; r < 16; ++r) // nested: white stays white
            ASSERT_EQ(halftone_row(k + 1, r) & ~halftone_row(k, r), 0);
    }
    EXPECT_EQ(black_dots(255), 0);
}

TEST(Halftone, TellingPatterns) {
    uint8_t p[32];
    expand_pattern(1, p);
    for (int r = 0; r < 16; ++r) EXPECT_EQ(p[2 * r] << 8 | p[2 * r + 1], r == 13 ? 0xFF7F : 0xFFFF);
    const uint16_t half[16] = {0x5555, 0xAAAA, 0xAAAA, 0x5555, 0x5555, 0xAAAA, 0xAAAA, 0x5555,
                               0x5555, 0xAAAA, 0xAAAA, 0x5555, 0x5555, 0xAA2A, 0xAAEA, 0x5555};
    expand_pattern(128, p);
    for (int r = 0; r < 16; ++r) EXPECT_EQ(p[2 * r] << 8 | p[2 * r + 1], half[r]) << r;
}

TEST(Halftone, ToneCurveRunsFromBlackToWhiteWithoutFalling) {
    EXPECT_EQ(tone_curve(0), 0);
    EXPECT_EQ(tone_curve(255), 255);
    for (int i = 1; i < 256; ++i) ASSERT_GE(tone_curve(i), tone_curve(i - 1));
    EXPECT_EQ(tone_curve(tone_curve(tone_curve(1))), 35);
    EXPECT_EQ(tone_curve(tone_curve(tone_curve(128))), 244);
}

TEST_F(Fills, PatternRecordsCarryTheTripleCurvedPattern) {
    ASSERT_EQ(download_halftone_patterns(), 0);
    bytes_t b = written();
    ASSERT_EQ(b.size(), 256u * 40);
    auto record = [&](int i) { return bytes_t(b.begin() + 40 * i, b.begin() + 40 * i + 40); };
    bytes_t r0 = {0x32, 0x13, 0, 0, 0, 16, 0, 16};
    r0.resize(40, 0xFF);
    EXPECT_EQ(record(0), r0);
    bytes_t r255 = {0x32, 0x13, 0, 255, 0, 16, 0, 16};
    r255.resize(40, 0);
    EXPECT_EQ(record(255), r255);
    uint8_t p35[32];
    expand_pattern(35, p35);
    EXPECT_EQ(bytes_t(b.begin() + 48, b.begin() + 80), bytes_t(p35, p35 + 32));
    EXPECT_EQ(black_dots(35), 221);
}

TEST_F(Fills, PenDefinitionsCarryGreyLevelsAndMoveTheBlackPen) {
    ASSERT_EQ(define_ktgl_pens(), 0);
    bytes_t b = written();
    ASSERT_EQ(b.size(), 256u * 12);
    auto pen = [&](int i) { return bytes_t(b.begin() + 12 * i, b.begin() + 12 * i + 12); };
    // The model cannot print red, so pen 1 stays a grey pen despite mode_red_pen.
    EXPECT_EQ(pen(1), (bytes_t{0x30, 5, 0, 1, 0, 76, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(pen(7), (bytes_t{0x30, 5, 0, 7, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(pen(8), (bytes_t{0x30, 5, 0, 8, 0, 191, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(pens.black_pen, 255);
}

TEST_F(Fills, PageBlocksAndDrawingSetUp) {
    bytes_t reset;
    for (int round = 0; round < 5; ++round)
        reset.insert(reset.end(),
                     {0x18, 1, 0, 0, 0x18, 2, 0, 0, 0x18, 2, 0xFF, uint8_t(0xFF - round)});
    reset.insert(reset.end(), {0x18, 1, 0, 0, 0x18, 2, 0, 0, 0x18, 2});

    ASSERT_EQ(write_ktgl_page_opening(), 0);
    bytes_t opening = reset;
    opening.insert(opening.end(), {0xF2, 4, 8, 2, 'V', 'T', '9', '2', '7', '0', 0x20, 0, 0x23, 0});
    EXPECT_EQ(written(), opening);
    EXPECT_EQ(written().size(), 84u);

    output.out_fill = 0;
    ASSERT_EQ(write_ktgl_page_closing(), 0);
    bytes_t closing = reset;
    closing.insert(closing.end(), {0xF3, 1, 0, 1});
    EXPECT_EQ(written(), closing);
    EXPECT_EQ(written().size(), 74u);

    output.out_fill = 0;
    ASSERT_EQ(write_ktgl_drawing_setup(), 0);
    bytes_t setup = {0x41, 1, 0, 7, 0x47, 1, 0, 7};
    const std::vector<std::vector<int>> types = {{1, 0, 100, 0},
                                                 {2, 25, 50, 25},
                                                 {3, 35, 30, 35},
                                                 {4, 40, 10, 0, 10, 40},
                                                 {5, 35, 10, 10, 10, 35},
                                                 {6, 25, 10, 10, 10, 10, 10, 25},
                                                 {7, 35, 10, 0, 10, 0, 10, 35},
                                                 {8, 25, 10, 0, 10, 10, 10, 0, 10, 25}};
    for (const std::vector<int>& t : types) {
        setup.push_back(0x36);
        setup.push_back(static_cast<uint8_t>(t.size()));
        for (int w : t) setup.insert(setup.end(), {0, static_cast<uint8_t>(w)});
    }
    setup.insert(setup.end(), {0x42, 1, 0, 1, 0x44, 1, 0, 2, 0x45, 1, 0, 3,
                               0x39, 1, 0, 0, 0x48, 1, 0, 2, 0x50, 1, 0, 1});
    EXPECT_EQ(written(), setup);
}

TEST_F(Fills, BlocksFailAsAWholeOnceTheJobIsAborted) {
    host_link.abort_flag = abort_fatal;
    EXPECT_EQ(write_ktgl_page_opening(), -1);
    EXPECT_EQ(download_halftone_patterns(), -1);
    EXPECT_EQ(define_ktgl_pens(), -1);
    EXPECT_EQ(pens.black_pen, 255); // the loop still runs to the end
    EXPECT_EQ(output.out_fill, 0);
}

} // namespace
