// Pens, line types and widths: what each message writes in both languages, and that
// each one ends an open PE run first.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "geometry/capture_host.h"
#include "geometry/vector.h"
#include "host/messages.h"
#include "host/settings.h"
#include "plot/output.h"
#include "plot/pens.h"

namespace {

class Pens : public ::testing::Test {
  protected:
    void SetUp() override { start(0); }
    void TearDown() override { out_close(); }
    static void start(uint16_t mode_flags) {
        capture::install();
        load_message_texts();
        settings.plot_flags = plot_halftone;
        settings.mode_flags = mode_flags;
        settings.red_pen = 1;
        runtime.current_model = 0;
        runtime.scale_factor = 1.0;
        ASSERT_EQ(out_open(), 0);
        pens_reset();
        pens_job_start();
        pens.line_type_count = 8;
        vector_job_start();
    }
    static std::string text() {
        return std::string(reinterpret_cast<char*>(output.out_buffer), output.out_fill);
    }
    static std::vector<uint8_t> bytes() {
        return std::vector<uint8_t>(output.out_buffer, output.out_buffer + output.out_fill);
    }
    static std::string kept(const kept_instruction& k) {
        return std::string(reinterpret_cast<const char*>(k.bytes), static_cast<size_t>(k.length));
    }
};

TEST_F(Pens, GreyLevelsOfThePalette) {
    EXPECT_EQ(pen_grey(8), 191); // BF BF BF is grey already
    EXPECT_EQ(pen_grey(1), 76);  // FF 00 00: 30 * 255 / 100
    EXPECT_EQ(pen_grey(7), 0);
    EXPECT_EQ(pen_grey(2), 226); // FF FF 00: (30 + 59) * 255 / 100
    char pc[32];
    pen_colour_text(1, pc);
    EXPECT_STREQ(pc, "PC1,76,76,76");
}

TEST_F(Pens, PreambleColoursKeepTheBlackPenOnAModelWithoutRed) {
    settings.mode_flags = mode_red_pen; // no effect: the model cannot print red
    ASSERT_EQ(write_pen_colours(), 0);
    std::string t = text();
    EXPECT_EQ(t.rfind("PC1,76,76,76PC2,", 0), 0u);
    EXPECT_NE(t.find("PC8,191,191,191PC9,"), std::string::npos);
    EXPECT_EQ(t.substr(t.size() - 11), "PC255,0,0,0");
    EXPECT_EQ(pens.black_pen, 7);
}

TEST_F(Pens, EveryPenRequestSelectsTheBlackPenAfterClosingTheRun) {
    vector_move_to(3, 3);
    ASSERT_EQ(select_pen(2), 0);
    EXPECT_EQ(text(), "PE7<ee;SP7");
    EXPECT_EQ(vec.state, vec_idle);
    EXPECT_EQ(kept(pens.pen), "SP7");

    start(mode_ktgl);
    ASSERT_EQ(select_pen(5), 0);
    EXPECT_EQ(bytes(), (std::vector<uint8_t>{0x41, 1, 0, 7, 0x47, 1, 0, 5}));
    EXPECT_EQ(pens.area_pen.length, 4);
}

TEST_F(Pens, LineTypes) {
    const char* expected[] = {"LT", "LT-1,1.0", "LT-3,2.0", "LT-8,2.0", "LT", "LT"};
    int types[] = {0, 1, 3, 8, 9, 70};
    pens.line_type_count = 100; // a host that allows too many still gets valid output
    for (int i = 0; i < 6; ++i) {
        output.out_fill = 0;
        ASSERT_EQ(set_line_type(types[i]), 0);
        EXPECT_EQ(text(), expected[i]) << types[i];
    }
    pens.line_type_count = 2;
    output.out_fill = 0;
    set_line_type(3);
    EXPECT_EQ(text(), "LT");

    start(mode_ktgl);
    set_line_type(8);
    set_line_type(9);
    EXPECT_EQ(bytes(), (std::vector<uint8_t>{0x43, 1, 0, 8, 0x43, 1, 0, 0}));
}

TEST_F(Pens, WidthsAreClampedAndNeverNonFinite) {
    const double widths[] = {0.35 / 25.4, 0, -1, 20, NAN, INFINITY};
    const char* rtl[] = {"PW0.350", "PW0.000", "PW297.000", "PW297.000", "PW297.000", "PW297.000"};
    const int ktgl[] = {5, 1, 511, 511, 511, 511};
    for (int i = 0; i < 6; ++i) {
        start(0);
        ASSERT_EQ(set_pen_width(widths[i]), 0);
        EXPECT_EQ(text(), rtl[i]) << i;
        EXPECT_EQ(kept(pens.width), rtl[i]);
        start(mode_ktgl);
        ASSERT_EQ(set_pen_width(widths[i]), 0);
        EXPECT_EQ(bytes(), (std::vector<uint8_t>{0x40, 1, uint8_t(ktgl[i] >> 8), uint8_t(ktgl[i])}))
            << i;
    }
}

TEST_F(Pens, ReselectionOnlyWhenPending) {
    pens.current_pen = 7;
    ASSERT_EQ(reselect_pen_if_pending(), 0);
    EXPECT_EQ(output.out_fill, 0);
    pens.reselect_pending = 1;
    ASSERT_EQ(reselect_pen_if_pending(), 0);
    EXPECT_EQ(text(), ";SP7");
    EXPECT_EQ(pens.reselect_pending, 0);
}

TEST_F(Pens, LegendOfLineTypes) {
    list_line_types();
    EXPECT_EQ(capture::log.printed, "\nType de ligne No. 0 = Ligne solide"
                                    "\n                1 = ................................"
                                    "\n                2 = ----    ----    ----    ----    "
                                    "\n                3 = -----   -----   -----   -----   "
                                    "\n                4 = ------. ------. ------. ------. "
                                    "\n                5 = ---- -  ---- -  ---- -  ---- -  "
                                    "\n                6 = --- - - --- - - --- - - --- - - "
                                    "\n                7 = ------ . . ------ . . ------ . ."
                                    "\n");
}

} // namespace
