// The tone correction table built from five control values.
#include <gtest/gtest.h>

#include "color/correction.h"

namespace {

void build(int p0, int p1, int p2, int p3, int p4) {
    const int p[5] = {p0, p1, p2, p3, p4};
    for (int k = 0; k < 5; ++k) correction.points[k] = p[k];
    build_correction_table();
}

TEST(Correction, EvenlySpacedPointsGiveTheIdentity) {
    build(0, 64, 128, 192, 255);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(correction_at(i), i) << i;
}

TEST(Correction, EqualPointsGiveAConstant) {
    // In exact arithmetic the curve is v everywhere. The fixed evaluation order rounds
    // the Bernstein weights' sum just below 1 at some inputs, so those entries truncate
    // to v - 1; the ends are exact and nothing ever exceeds v.
    build(0, 0, 0, 0, 0);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(correction_at(i), 0) << i;
    for (int v : {1, 77, 254, 255}) {
        build(v, v, v, v, v);
        EXPECT_EQ(correction_at(0), v);
        EXPECT_EQ(correction_at(255), v);
        for (int i = 0; i < 256; ++i) {
            ASSERT_LE(correction_at(i), v) << v << " at " << i;
            ASSERT_GE(correction_at(i), v - 1) << v << " at " << i;
        }
    }
}

TEST(Correction, DefaultCurve) {
    reset_correction();
    EXPECT_EQ(correction_at(0), 0);
    EXPECT_EQ(correction_at(64), 123);
    EXPECT_EQ(correction_at(128), 187);
    EXPECT_EQ(correction_at(192), 228);
    EXPECT_EQ(correction_at(255), 255);

    build(0, 123, 187, 228, 255);
    const int start[5] = {0, 1, 3, 5, 7};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(correction_at(i), start[i]) << i;
    EXPECT_EQ(correction_at(64), 103);
    const int end[5] = {253, 253, 254, 254, 255};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(correction_at(251 + i), end[i]) << 251 + i;
    // At t = 2/3 the curve is exactly 208: the evaluation order keeps it there.
    EXPECT_EQ(correction_at(170), 208);
    for (int i = 1; i < 256; ++i) EXPECT_GE(correction_at(i), correction_at(i - 1)) << i;
}

TEST(Correction, ResetPointsTakesTheDefaultValues) {
    reset_correction_points();
    const int expected[5] = {0, 123, 187, 228, 255};
    for (int k = 0; k < 5; ++k) EXPECT_EQ(correction.points[k], expected[k]);
    EXPECT_EQ(correction_at(1), 1); // the rebuilt curve, not the default table
    EXPECT_EQ(correction_at(170), 208);
}

TEST(Correction, DefaultPointsAreWhatTheResetStoresAndLeaveTheStateAlone) {
    build(10, 20, 30, 40, 50);
    uint8_t shown[5];
    default_correction_points(shown);
    // A host reads the defaults without touching the working curve.
    EXPECT_EQ(correction.points[2], 30);
    EXPECT_EQ(correction_at(255), 50);
    reset_correction_points();
    for (int k = 0; k < 5; ++k) EXPECT_EQ(shown[k], correction.points[k]) << k;
}

TEST(Correction, EntriesAndOutOfRangeControlValues) {
    set_correction_at(3, 0x1FF);
    EXPECT_EQ(correction_at(3), 0xFF);
    EXPECT_EQ(correction_at(256 + 3), 0xFF); // inputs use their low 8 bits
    // Gamma steps can carry P1 and P3 outside a byte: the ends stay exact.
    build(0, -3, 128, 258, 255);
    EXPECT_EQ(correction_at(0), 0);
    EXPECT_EQ(correction_at(255), 255);
}

} // namespace
