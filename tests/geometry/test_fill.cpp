// Halftone patterns, the pattern download, pen definitions and the fixed KTGL blocks.
#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <vector>

#include "geometry/halftone.h"
#include "geometry/ktgl_page.h"
#include "host/settings.h"
#include "output/output.h"
#include "plot/pens.h"
#include "support/fake_host.h"

namespace {

using bytes_t = std::vector<uint8_t>;

int black_dots(int k) {
    int n = 0;
    for (int r = 0; r < 16; ++r) n += std::popcount(halftone_row(k, r));
    return n;
}

class Fills : public ::testing::Test {
  protected:
    void SetUp() override {
        fake_host_install();
        host_link.abort_flag = abort_clear;
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

// Nested patterns with one dot fewer per step fix the whole threshold matrix but the
// order of its two 255 steps; the telling rows below pin the rest.
TEST(Halftone, PatternsAreNestedWithOneDotFewerPerStep) {
    for (int k = 0; k < 255; ++k) {
        EXPECT_EQ(black_dots(k), 256 - k);
        for (int r = 0; r < 16; ++r) ASSERT_EQ(halftone_row(k + 1, r) & ~halftone_row(k, r), 0);
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

} // namespace
