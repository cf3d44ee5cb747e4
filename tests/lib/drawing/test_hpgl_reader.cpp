// HP-GL/2 plot files written by hand, read into a recording sink.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "drawing/hpgl_reader.h"
#include "lib/drawing/recording_sink.h"

namespace {

struct reading {
    recording_sink sink;
    drawing_report report;
};

reading read(const std::string& text) {
    reading r;
    hpgl_read(text.data(), text.size(), "test.plt", r.sink, r.report);
    return r;
}

std::vector<drawing_point> pts(std::initializer_list<drawing_point> l) {
    return l;
}

void expect_points(const std::vector<drawing_point>& got, const std::vector<drawing_point>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_NEAR(got[i].x, want[i].x, 1e-9) << i;
        EXPECT_NEAR(got[i].y, want[i].y, 1e-9) << i;
    }
}

TEST(HpglReader, AbsoluteAndRelativeMovesMakeOnePath) {
    reading r = read("IN;SP2;PU100,200;PD300,200,300,400;PR-200,0;PU;PA0,0;PD10,0;");
    ASSERT_EQ(r.sink.paths.size(), 2u);
    expect_points(r.sink.paths[0].points, pts({{100, 200}, {300, 200}, {300, 400}, {100, 400}}));
    EXPECT_EQ(r.sink.paths[0].style.colour, 2);
    EXPECT_NEAR(r.sink.paths[0].style.weight_mm, 0.35, 1e-12); // the default pen width
    expect_points(r.sink.paths[1].points, pts({{0, 0}, {10, 0}}));
    EXPECT_EQ(r.report.units, drawing_units::plotter);
    EXPECT_DOUBLE_EQ(r.report.unit_mm, 0.025);
    EXPECT_TRUE(r.report.notes.empty());
}

TEST(HpglReader, SeparatorsAndCaseAreLoose) {
    reading r = read("in sp1 pu 0 0 pd 100 0\n100 100;pu");
    ASSERT_EQ(r.sink.paths.size(), 1u);
    expect_points(r.sink.paths[0].points, pts({{0, 0}, {100, 0}, {100, 100}}));
}

TEST(HpglReader, ArcsAndCirclesAreRoundAndTurnTheRightWay) {
    reading r = read("IN;SP1;PA1000,0;PD;AA0,0,90;PU;PA500,500;CI200;PA0,0;PD10,0;");
    ASSERT_EQ(r.sink.paths.size(), 3u);
    const auto& arc = r.sink.paths[0].points;
    EXPECT_NEAR(arc.front().x, 1000, 1e-9);
    EXPECT_NEAR(arc.back().x, 0, 1e-6);
    EXPECT_NEAR(arc.back().y, 1000, 1e-6);
    for (auto p : arc) EXPECT_GE(p.y, -1e-9); // anticlockwise from +x: through the first quadrant
    EXPECT_LE(off_circle(arc, {0, 0}, 1000), r.sink.tol + 1e-9);
    const auto& circle = r.sink.paths[1];
    EXPECT_TRUE(circle.closed);
    EXPECT_LE(off_circle(circle.points, {500, 500}, 200), r.sink.tol + 1e-9);
    // CI leaves the pen at the centre: the next PA/PD starts from (0,0) as asked.
    expect_points(r.sink.paths[2].points, pts({{0, 0}, {10, 0}}));
    // AR: centre relative to the pen; a negative sweep turns clockwise.
    reading cw = read("IN;SP1;PA0,0;PD;AR100,0,-90;");
    ASSERT_EQ(cw.sink.paths.size(), 1u);
    EXPECT_NEAR(cw.sink.paths[0].points.back().x, 100, 1e-6);
    EXPECT_NEAR(cw.sink.paths[0].points.back().y, 100, 1e-6);
}

TEST(HpglReader, ScalingRotationAndWindow) {
    // P1 P2 at (0,0) and (1000,2000); user units 0..10 in both directions.
    reading sc = read("IN;IP0,0,1000,2000;SC0,10,0,10;SP1;PU0,0;PD10,10;PR-5,0;");
    ASSERT_EQ(sc.sink.paths.size(), 1u);
    expect_points(sc.sink.paths[0].points, pts({{0, 0}, {1000, 2000}, {500, 2000}}));
    // Point-factor scaling: 40 plotter units a user unit (millimetres).
    reading pf = read("IN;SC0,40,0,40,2;SP1;PU1,1;PD2,1;");
    expect_points(pf.sink.paths.at(0).points, pts({{40, 40}, {80, 40}}));
    // RO 90 on a page of 8000 x 6000: (x, y) lands at (6000 - y, x).
    reading ro = read("PS8000,6000;IN;RO90;SP1;PU100,200;PD300,200;");
    expect_points(ro.sink.paths.at(0).points, pts({{5800, 100}, {5800, 300}}));
    EXPECT_FALSE(ro.report.no_origin);
    reading bare = read("IN;RO90;SP1;PU100,200;PD300,200;"); // no page size: extents decide
    EXPECT_TRUE(bare.report.no_origin);
    // A segment outside the input window is not drawn.
    reading iw = read("IN;IW0,0,500,500;SP1;PU0,0;PD400,0,600,0;PU;");
    expect_points(iw.sink.paths.at(0).points, pts({{0, 0}, {400, 0}}));
}

TEST(HpglReader, EncodedPolylinesDecode) {
    // Base 64: 100 -> 200 (sign folded) -> "G" then 3 + 191 = 194 "\xC2"; 0 -> "\xBF".
    std::string pe = "IN;SP1;PE<=\xBF\xBF"
                     "G\xC2\xBF"
                     "\xBF"
                     "G\xC2;";
    // '=' absolute (0,0) pen up, then (+100, 0) and (0, +100) pen down.
    reading r = read(pe);
    ASSERT_EQ(r.sink.paths.size(), 1u);
    expect_points(r.sink.paths[0].points, pts({{0, 0}, {100, 0}, {100, 100}}));
    // Seven-bit mode: 100 -> 200 = 8 + 6*32 -> "G"(63+8) then 95+6 "e".
    reading seven = read("IN;SP1;PE7<=__Ge_;");
    expect_points(seven.sink.paths.at(0).points, pts({{0, 0}, {100, 0}}));
}

TEST(HpglReader, FillsRectanglesAndPolygonMode) {
    reading r =
        read("IN;SP3;PA100,100;RA200,300;ER-50,-50;PA0,0;PM0;PD100,0,100,100,0,100,0,0;PM2;FP;EP;");
    ASSERT_EQ(r.sink.fills.size(), 2u);
    expect_points(r.sink.fills[0].at(0), pts({{100, 100}, {200, 100}, {200, 300}, {100, 300}}));
    EXPECT_EQ(r.sink.fill_styles[0].colour, 3);
    expect_points(r.sink.fills[1].at(0), pts({{0, 0}, {100, 0}, {100, 100}, {0, 100}, {0, 0}}));
    // ER edges a rectangle; EP edges the polygon buffer.
    ASSERT_EQ(r.sink.paths.size(), 2u);
    expect_points(r.sink.paths[0].points, pts({{100, 100}, {50, 100}, {50, 50}, {100, 50}}));
    EXPECT_TRUE(r.sink.paths[1].closed);
}

TEST(HpglReader, LabelsWithTerminatorSizeAndDirection) {
    reading r = read("IN;SP1;PA1000,2000;SI0.187,0.269;DI0,1;LBLégende\x03PA0,0;DT@;LBab@;");
    ASSERT_EQ(r.sink.texts.size(), 2u);
    EXPECT_EQ(r.sink.texts[0].utf8, "L\xC3\x83\xC2\xA9gende"); // bytes read as Latin-1
    EXPECT_NEAR(r.sink.texts[0].at.x, 1000, 1e-9);
    EXPECT_NEAR(r.sink.texts[0].height, 0.269 * 400, 1e-9); // cm to plotter units
    EXPECT_NEAR(r.sink.texts[0].angle_deg, 90, 1e-9);
    EXPECT_EQ(r.sink.texts[1].utf8, "ab");
}

TEST(HpglReader, UnknownInstructionsAreCountedOnce) {
    reading r = read("IN;SP1;WG100,0,90;XX;WG5,5,5;PD10,10;CT1;");
    ASSERT_EQ(r.report.notes.size(), 1u);
    EXPECT_EQ(r.report.notes[0], "4 instruction(s) not plotted: CT, WG x2, XX");
    EXPECT_EQ(r.sink.paths.size(), 1u);
}

TEST(HpglReader, EscapesAndBinaryDataAreStepped) {
    // PJL, an RTL raster row whose data holds "PD" bytes, then back to HP-GL/2.
    std::string job = "\x1B%-12345X@PJL ENTER LANGUAGE=HPGL2\r\n\x1B%0B;IN;SP1;PU0,0;PD5,0;"
                      "\x1B%0A\x1B*b6WPD9,9;\x1B%0BPU10,10;PD20,10;PG;\x1B%-12345X";
    reading r = read(job);
    ASSERT_EQ(r.sink.paths.size(), 2u);
    expect_points(r.sink.paths[1].points, pts({{10, 10}, {20, 10}}));
}

TEST(HpglReader, SecondPageIsNoted) {
    reading one = read("IN;SP1;PD10,10;PG;");
    EXPECT_TRUE(one.report.notes.empty());
    reading two = read("IN;SP1;PD10,10;PG;PU;PD0,5;PG;");
    EXPECT_EQ(two.sink.paths.size(), 1u);
    ASSERT_EQ(two.report.notes.size(), 1u);
    EXPECT_NE(two.report.notes[0].find("only the first"), std::string::npos);
}

TEST(HpglReader, ArbitraryBytesNeverCrash) {
    std::mt19937 rng(13);
    const std::string alphabet = "PAPDPUPRCIAAARPEPMFPRAERSCIPIWLTLBDT;,-0123456789.\x1B%B\x03 ";
    for (int round = 0; round < 300; ++round) {
        std::string s;
        size_t n = rng() % 400;
        for (size_t i = 0; i < n; ++i)
            s += rng() % 4 ? alphabet[rng() % alphabet.size()] : static_cast<char>(rng());
        reading r = read(s);
        for (const auto& p : r.sink.paths)
            for (auto q : p.points) EXPECT_TRUE(std::isfinite(q.x) && std::isfinite(q.y));
    }
}

TEST(HpglReader, MissingFileIsNamed) {
    recording_sink s;
    drawing_report rep;
    try {
        hpgl_read_file("/nonexistent/plan.plt", s, rep);
        FAIL() << "no failure";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/plan.plt"), std::string::npos);
    }
}

} // namespace
