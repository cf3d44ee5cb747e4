// Curve flattening and the stroke font, against geometry worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <unistd.h>

#include "drawing/stroke_font.h"
#include "lib/drawing/recording_sink.h"

namespace {

constexpr double pi = std::numbers::pi;

TEST(Flatten, ArcStaysWithinToleranceAndTurnsTheAskedWay) {
    for (double tol : {0.5, 0.01}) {
        std::vector<drawing_point> pts;
        flatten_arc({10, 20}, 100, 0, pi / 2, tol, pts);
        EXPECT_LE(off_circle(pts, {10, 20}, 100), tol + 1e-9);
        EXPECT_NEAR(pts.front().x, 110, 1e-9);
        EXPECT_NEAR(pts.back().y, 120, 1e-9);
        // Anticlockwise from (110, 20) to (10, 120): every point in the first quadrant.
        for (auto p : pts) EXPECT_TRUE(p.x >= 10 - 1e-9 && p.y >= 20 - 1e-9);
        // Within tolerance, but not wastefully fine: no more than twice the chords needed.
        double needed = (pi / 2) / (2 * std::acos(1 - tol / 100));
        EXPECT_LE(pts.size() - 1, 2 * std::ceil(needed) + 1);
    }
    std::vector<drawing_point> cw;
    flatten_arc({0, 0}, 10, 0, -pi / 2, 0.01, cw);
    EXPECT_NEAR(cw.back().y, -10, 1e-9); // clockwise goes down first
}

TEST(Flatten, BulgeSignGivesTheSideOfTheArc) {
    // A half circle from (0,0) to (10,0): bulge 1 turns anticlockwise, so it passes below.
    std::vector<drawing_point> down{{0, 0}}, up{{0, 0}};
    flatten_bulge({0, 0}, {10, 0}, 1, 0.01, down);
    flatten_bulge({0, 0}, {10, 0}, -1, 0.01, up);
    auto lowest = [](const std::vector<drawing_point>& v) {
        double y = 0;
        for (auto p : v) y = std::min(y, p.y);
        return y;
    };
    EXPECT_NEAR(lowest(down), -5, 0.011);
    EXPECT_GT(lowest(up), -1e-9);
    EXPECT_LE(off_circle(down, {5, 0}, 5), 0.01 + 1e-9);
    EXPECT_EQ(down.back().x, 10);
    // A quarter-circle bulge (tan 22.5 degrees) anticlockwise from (0,0) to (10,10) runs
    // from -90 to 0 degrees about (0,10); clockwise (negative) about (10,0).
    std::vector<drawing_point> q{{0, 0}}, r{{0, 0}};
    flatten_bulge({0, 0}, {10, 10}, std::tan(pi / 8), 0.01, q);
    flatten_bulge({0, 0}, {10, 10}, -std::tan(pi / 8), 0.01, r);
    EXPECT_LE(off_circle(q, {0, 10}, 10), 0.01 + 1e-9);
    EXPECT_LE(off_circle(r, {10, 0}, 10), 0.01 + 1e-9);
    // No bulge: just the end point.
    std::vector<drawing_point> straight{{0, 0}};
    flatten_bulge({0, 0}, {3, 4}, 0, 0.01, straight);
    EXPECT_EQ(straight.size(), 2u);
}

TEST(Flatten, SplinesMatchTheirClosedForms) {
    // A clamped quadratic B-spline with three control points is a Bezier curve.
    std::vector<drawing_point> cp{{0, 0}, {50, 100}, {100, 0}};
    std::vector<drawing_point> pts;
    ASSERT_TRUE(flatten_spline(2, cp, {0, 0, 0, 1, 1, 1}, {}, 0.05, pts));
    EXPECT_NEAR(pts.front().x, 0, 1e-9);
    EXPECT_NEAR(pts.back().x, 100, 1e-9);
    for (size_t i = 1; i < pts.size(); ++i) {
        drawing_point m{(pts[i].x + pts[i - 1].x) / 2, (pts[i].y + pts[i - 1].y) / 2};
        // B(t) = (100 t, 200 t (1 - t)): the curve's y at the chord midpoint's x.
        double t = m.x / 100;
        EXPECT_LE(std::fabs(200 * t * (1 - t) - m.y), 0.05 * 2.5) << i;
    }
    // A rational quadratic with weights 1, cos 45, 1 is an exact quarter circle.
    std::vector<drawing_point> arc;
    ASSERT_TRUE(flatten_spline(2, {{1, 0}, {1, 1}, {0, 1}}, {0, 0, 0, 1, 1, 1},
                               {1, std::sqrt(0.5), 1}, 0.001, arc));
    EXPECT_LE(off_circle(arc, {0, 0}, 1), 0.001 + 1e-9);
    // Malformed: too few control points, knots out of order.
    std::vector<drawing_point> bad;
    EXPECT_FALSE(flatten_spline(3, cp, {}, {}, 0.1, bad));
    EXPECT_FALSE(flatten_spline(2, cp, {0, 0, 1, 0, 1, 1}, {}, 0.1, bad));
}

TEST(Affine, ComposeAppliesRightToLeft) {
    affine m = compose(translation(5, 0), rotation_deg(90));
    drawing_point p = apply(m, {1, 0});
    EXPECT_DOUBLE_EQ(p.x, 5);
    EXPECT_DOUBLE_EQ(p.y, 1);
    EXPECT_NEAR(max_scale(compose(scaling(2, 3), rotation_deg(30))), 3, 1e-12);
    EXPECT_NEAR(max_scale(compose(rotation_deg(30), scaling(2, 3))), 3, 1e-12);
}

// The font file's 'H' is "G]KFK[ RYFY[ RKPYP": bearings -11 and +11, stems at x -7 and
// +7 from y -12 (cap) to 9 (baseline) in the file's grid, 21 units tall.
class Font : public ::testing::Test {
  protected:
    const stroke_font* font = nullptr;
    void SetUp() override {
        std::string why;
        font = stroke_font_default(&why);
        if (!font) GTEST_SKIP() << why;
    }
    box strokes_of(const std::string& text, double h, double angle = 0,
                   text_halign ha = text_halign::left, size_t* missing = nullptr) {
        std::vector<std::vector<drawing_point>> s;
        text_run r{text, {0, 0}, h, angle, 1, 0, ha, text_valign::baseline, 1.6};
        size_t m = stroke_text(*font, r, s);
        if (missing) *missing = m;
        return bounds_of(s);
    }
};

TEST_F(Font, KnownGlyphGivesItsBoundingBox) {
    box b = strokes_of("H", 21);
    EXPECT_NEAR(b.x0, 4, 1e-9);
    EXPECT_NEAR(b.x1, 18, 1e-9);
    EXPECT_NEAR(b.y0, 0, 1e-9);
    EXPECT_NEAR(b.y1, 21, 1e-9);
    box two = strokes_of("HH", 21);
    EXPECT_NEAR(two.x1, 22 + 18, 1e-9); // the second H after an advance of 22
    box c = strokes_of("H", 21, 0, text_halign::center);
    EXPECT_NEAR(c.x0, -7, 1e-9);
    EXPECT_NEAR(c.x1, 7, 1e-9);
    box half = strokes_of("H", 10.5);
    EXPECT_NEAR(half.y1, 10.5, 1e-9);
    EXPECT_NEAR(half.x1, 9, 1e-9);
    box turned = strokes_of("H", 21, 90);
    EXPECT_NEAR(turned.x0, -21, 1e-9);
    EXPECT_NEAR(turned.x1, 0, 1e-9);
    EXPECT_NEAR(turned.y0, 4, 1e-9);
}

TEST_F(Font, FrenchAccentsAreComposedAboveOrBelowTheLetter) {
    std::vector<std::vector<drawing_point>> e, eacute, c, ccedil, i, icirc;
    auto run = [&](const char* t, auto& out) {
        stroke_text(*font,
                    text_run{t, {0, 0}, 21, 0, 1, 0, text_halign::left, text_valign::baseline, 1.6},
                    out);
    };
    run("E", e), run("É", eacute), run("c", c), run("ç", ccedil), run("i", i), run("î", icirc);
    EXPECT_EQ(eacute.size(), e.size() + 1);
    EXPECT_GT(bounds_of(eacute).y1, 21); // the acute stands over the capital
    EXPECT_NEAR(bounds_of(eacute).x0, bounds_of(e).x0, 1e-9);
    EXPECT_LT(bounds_of(ccedil).y0, -1); // the cedilla hangs below the baseline
    EXPECT_EQ(icirc.size(), i.size());   // the i's dot gives way to the accent
    size_t missing = 9;
    box word = strokes_of("àâäéèêëîïôöùûüÿçœæÀÂÉÈÊÇŒ«»°", 10, 0, text_halign::left, &missing);
    EXPECT_EQ(missing, 0u);
    EXPECT_GT(word.x1, 0);
    strokes_of("日", 10, 0, text_halign::left, &missing);
    EXPECT_EQ(missing, 1u);
    strokes_of("\xff\xfe", 10, 0, text_halign::left, &missing); // not UTF-8
    EXPECT_EQ(missing, 2u);
}

TEST_F(Font, LinesStackDownward) {
    box b = strokes_of("H\nH", 21);
    EXPECT_NEAR(b.y0, -1.6 * 21, 1e-9);
    EXPECT_NEAR(b.y1, 21, 1e-9);
}

TEST(FontFile, MissingOrBrokenFileIsNamed) {
    stroke_font f;
    std::string why;
    EXPECT_EQ(stroke_font_load("/nonexistent/x.jhf", &f, &why), 2);
    EXPECT_NE(why.find("/nonexistent/x.jhf"), std::string::npos);
    std::string path = ::testing::TempDir() + "/broken-" + std::to_string(getpid()) + ".jhf";
    std::FILE* out = std::fopen(path.c_str(), "w");
    std::fputs("    1  9MWRFRT RRYQZR[SZRY\n    2  5JZNF", out); // cut short
    std::fclose(out);
    EXPECT_EQ(stroke_font_load(path, &f, &why), 2);
    EXPECT_NE(why.find(path), std::string::npos) << why;
}

} // namespace
