// Pen, line-type and width instructions in both languages; each ends an open PE run.
#include <gtest/gtest.h>

#include <cmath>

#include "geometry/vector.h"
#include "host/settings.h"
#include "output/output.h"
#include "plot/pens.h"
#include "support/fake_host.h"

namespace {

class Pens : public ::testing::Test {
  protected:
    void SetUp() override { start(0); }
    void TearDown() override { out_close(); }
    static void start(uint16_t mode_flags) {
        fake_host_install();
        host_link.abort_flag = abort_clear;
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
};

TEST_F(Pens, PreambleColoursAreGreyLevelsAndKeepTheBlackPenWithoutRed) {
    settings.mode_flags = mode_red_pen; // no effect: this model cannot print red
    ASSERT_EQ(write_pen_colours(), 0);
    std::string t = text();
    EXPECT_EQ(t.rfind("PC1,76,76,76PC2,226,226,226PC3,", 0), 0u); // (30 r + 59 g + 11 b) / 100
    EXPECT_NE(t.find("PC7,0,0,0PC8,191,191,191PC9,"), std::string::npos);
    EXPECT_EQ(t.substr(t.size() - 11), "PC255,0,0,0");
    EXPECT_EQ(pens.black_pen, 7);
}

TEST_F(Pens, EveryPenRequestSelectsTheBlackPenAfterClosingTheRun) {
    vector_move_to(3, 3);
    ASSERT_EQ(select_pen(2), 0);
    EXPECT_EQ(text(), "PE7<ee;SP7");
    EXPECT_EQ(vec.state, vec_idle);
    start(mode_ktgl);
    ASSERT_EQ(select_pen(5), 0);
    EXPECT_EQ(text(), std::string("\x41\x01\x00\x07\x47\x01\x00\x05", 8));
    EXPECT_EQ(pens.area_pen.length, 4); // kept for after a raster image
}

TEST_F(Pens, LineTypesBeyondTheCountOrThePatternsAreSolid) {
    const int types[] = {0, 1, 3, 8, 9, 70};
    const char* expected[] = {"LT", "LT-1,1.0", "LT-3,2.0", "LT-8,2.0", "LT", "LT"};
    pens.line_type_count = 100;
    for (int i = 0; i < 6; ++i) {
        output.out_fill = 0;
        ASSERT_EQ(set_line_type(types[i]), 0);
        EXPECT_EQ(text(), expected[i]) << types[i];
    }
    start(mode_ktgl);
    pens.line_type_count = 100;
    set_line_type(8);
    set_line_type(9);
    EXPECT_EQ(text(), std::string("\x43\x01\x00\x08\x43\x01\x00\x00", 8));
}

TEST_F(Pens, WidthsAreClampedAndNeverNonFinite) {
    const double widths[] = {0.35 / 25.4, 0.01, 0, -1, 20, NAN, INFINITY};
    const char* rtl[] = {"PW0.350",   "PW0.254",   "PW0.000",  "PW297.000",
                         "PW297.000", "PW297.000", "PW297.000"};
    const int ktgl[] = {5, 4, 1, 511, 511, 511, 511};
    for (int i = 0; i < 7; ++i) {
        start(0);
        ASSERT_EQ(set_pen_width(widths[i]), 0);
        EXPECT_EQ(text(), rtl[i]) << i;
        start(mode_ktgl);
        ASSERT_EQ(set_pen_width(widths[i]), 0);
        EXPECT_EQ(text(), std::string("\x40\x01", 2) + char(ktgl[i] >> 8) + char(ktgl[i] & 0xFF))
            << i;
    }
}

} // namespace
