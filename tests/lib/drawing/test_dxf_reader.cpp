// DXF drawings the tests write themselves, read into a recording sink.
#include <gtest/gtest.h>

#if KVRAC_HAVE_DXF

#include <cmath>
#include <fstream>
#include <numbers>
#include <unistd.h>

#include "drawing/plot_writer.h"
#include "dxf/dxf_reader.h"
#include "lib/drawing/recording_sink.h"

namespace {

// Writes DXF group code / value pairs.
struct dxf_text {
    std::string s;
    dxf_text& operator()(int code, const std::string& v) {
        s += std::to_string(code) + "\n" + v + "\n";
        return *this;
    }
    dxf_text& operator()(int code, double v) {
        char b[64];
        std::snprintf(b, sizeof b, "%.12g", v);
        return (*this)(code, std::string(b));
    }
};

// A drawing in millimetres with layers and line types, blocks, then entities.
struct drawing {
    dxf_text head, blocks, entities;
    std::string layers; // extra LAYER records
    drawing() {
        head(0, "SECTION")(2, "HEADER")(9, "$ACADVER")(1, "AC1015")(9, "$INSUNITS")(70,
                                                                                    4)(0, "ENDSEC");
    }
    void layer(const std::string& name, int colour, int flags = 0,
               const std::string& lt = "CONTINUOUS") {
        dxf_text t;
        t(0, "LAYER")(2, name)(70, flags)(62, colour)(6, lt);
        layers += t.s;
    }
    std::string text() const {
        dxf_text t;
        t(0, "SECTION")(2, "TABLES")(0, "TABLE")(2, "LTYPE")(70, 3);
        t(0, "LTYPE")(2, "CONTINUOUS")(70, 0)(3, "")(72, 65)(73, 0)(40, 0.0);
        t(0, "LTYPE")(2, "DASHED")(70, 0)(3, "")(72, 65)(73, 2)(40, 0.75)(49, 0.5)(49, -0.25);
        t(0, "LTYPE")(2, "DASHDOT")(70, 0)(3, "")(72, 65)(73, 4)(40, 1.0)(49, 0.5)(49, -0.25)(
            49, 0.0)(49, -0.25);
        t(0, "ENDTAB")(0, "TABLE")(2, "LAYER")(70, 1);
        t(0, "LAYER")(2, "0")(70, 0)(62, 7)(6, "CONTINUOUS");
        t.s += layers;
        t(0, "ENDTAB")(0, "ENDSEC");
        dxf_text b;
        b(0, "SECTION")(2, "BLOCKS");
        b.s += blocks.s;
        b(0, "ENDSEC")(0, "SECTION")(2, "ENTITIES");
        b.s += entities.s;
        b(0, "ENDSEC")(0, "EOF");
        return head.s + t.s + b.s;
    }
};

void line(dxf_text& t, double x1, double y1, double x2, double y2, const std::string& layer = "0",
          int colour = 256) {
    t(0, "LINE")(8, layer)(62, colour)(10, x1)(20, y1)(11, x2)(21, y2);
}

struct result {
    recording_sink sink;
    drawing_report report;
    std::string error;
};

result read(const std::string& text, bool stroke = false) {
    static int n = 0;
    // Tests run as parallel processes: the file name carries the process.
    std::string path = ::testing::TempDir() + "/kvrac-dxf-" + std::to_string(getpid()) + "-" +
                       std::to_string(++n) + ".dxf";
    std::ofstream(path, std::ios::binary) << text;
    result r;
    r.sink.stroke_text = stroke;
    if (dxf_check_file(path, &r.error) != 0) return r;
    try {
        dxf_read_file(path, r.sink, r.report);
    } catch (const drawing_failure& f) {
        r.error = f.what();
    }
    return r;
}

void near(drawing_point p, double x, double y, const char* what = "") {
    EXPECT_NEAR(p.x, x, 1e-9) << what;
    EXPECT_NEAR(p.y, y, 1e-9) << what;
}

TEST(DxfReader, LinesLayersAndColours) {
    drawing d;
    d.layer("red", 1);
    d.layer("off", -3);
    d.layer("frozen", 4, 1);
    line(d.entities, 0, 0, 10, 0, "red");
    line(d.entities, 0, 1, 10, 1, "off");
    line(d.entities, 0, 2, 10, 2, "frozen");
    line(d.entities, 0, 3, 10, 3, "red", 5); // its own colour over the layer's
    d.entities(0, "POINT")(8, "0")(10, 4.0)(20, 5.0);
    result r = read(d.text());
    ASSERT_TRUE(r.error.empty()) << r.error;
    ASSERT_EQ(r.sink.paths.size(), 3u);
    near(r.sink.paths[0].points[1], 10, 0);
    EXPECT_EQ(r.sink.paths[0].style.colour, 1);
    EXPECT_EQ(r.sink.paths[1].style.colour, 5);
    EXPECT_EQ(r.sink.paths[2].points.size(), 1u); // a point is a dot
    EXPECT_DOUBLE_EQ(r.report.unit_mm, 1);
}

TEST(DxfReader, ArcsCirclesAndBulgesTurnTheRightWay) {
    drawing d;
    d.entities(0, "ARC")(8, "0")(10, 0.0)(20, 0.0)(40, 10.0)(50, 0.0)(51, 90.0);
    d.entities(0, "ARC")(8, "0")(10, 0.0)(20, 0.0)(40, 10.0)(50, 270.0)(51, 0.0); // through 360
    d.entities(0, "CIRCLE")(8, "0")(10, 5.0)(20, 5.0)(40, 2.0);
    d.entities(0, "LWPOLYLINE")(8, "0")(90, 2)(70, 0)(10, 0.0)(20, 0.0)(42, 1.0)(10, 10.0)(20, 0.0);
    d.entities(0, "ELLIPSE")(8, "0")(10, 0.0)(20, 0.0)(11, 4.0)(21, 0.0)(40, 0.5)(41, 0.0)(
        42, std::numbers::pi);
    result r = read(d.text());
    ASSERT_TRUE(r.error.empty()) << r.error;
    ASSERT_EQ(r.sink.paths.size(), 5u);
    const double tol = r.sink.tol + 1e-9;
    const auto& a = r.sink.paths[0].points;
    near(a.front(), 10, 0), near(a.back(), 0, 10);
    for (auto p : a) EXPECT_TRUE(p.x >= -1e-9 && p.y >= -1e-9); // the first quadrant
    EXPECT_LE(off_circle(a, {0, 0}, 10), tol);
    const auto& wrap = r.sink.paths[1].points; // 270 to 0 anticlockwise: the fourth quadrant
    for (auto p : wrap) EXPECT_TRUE(p.x >= -1e-9 && p.y <= 1e-9);
    EXPECT_LE(off_circle(r.sink.paths[2].points, {5, 5}, 2), tol);
    const auto& bulge = r.sink.paths[3].points; // bulge 1: a half circle below the chord
    double lowest = 0;
    for (auto p : bulge) lowest = std::min(lowest, p.y);
    EXPECT_NEAR(lowest, -5, tol);
    const auto& e = r.sink.paths[4].points; // upper half of a 4 x 2 ellipse
    near(e.front(), 4, 0), near(e.back(), -4, 0);
    double top = 0;
    for (auto p : e) top = std::max(top, p.y);
    EXPECT_NEAR(top, 2, tol);
}

TEST(DxfReader, MirroredArcsFollowTheirExtrusion) {
    // An arc written with its extrusion towards -Z (what mirroring makes): its plane's x
    // axis points to world -x. Centre (5,0) and 0..90 degrees in that plane are centre
    // (-5,0) and 90..180 degrees in the world.
    drawing d;
    d.entities(0, "ARC")(8, "0")(10, 5.0)(20, 0.0)(40, 10.0)(210, 0.0)(220, 0.0)(230, -1.0)(
        50, 0.0)(51, 90.0);
    result r = read(d.text());
    ASSERT_EQ(r.sink.paths.size(), 1u) << r.error;
    const auto& a = r.sink.paths[0].points;
    EXPECT_LE(off_circle(a, {-5, 0}, 10), r.sink.tol + 1e-9);
    for (auto p : a) EXPECT_TRUE(p.x <= -5 + 1e-9 && p.y >= -1e-9) << p.x << "," << p.y;
}

TEST(DxfReader, BlocksLandWhereInserted) {
    drawing d;
    // Block "T": a unit line from its base point (1,0) to (2,0).
    d.blocks(0, "BLOCK")(8, "0")(2, "T")(70, 0)(10, 1.0)(20, 0.0)(30, 0.0);
    line(d.blocks, 1, 0, 2, 0, "0", 0); // BYBLOCK colour
    d.blocks(0, "ENDBLK")(8, "0");
    // Block "N" inserts T twice as large at (5,0).
    d.blocks(0, "BLOCK")(8, "0")(2, "N")(70, 0)(10, 0.0)(20, 0.0)(30, 0.0);
    d.blocks(0, "INSERT")(8, "0")(2, "T")(10, 5.0)(20, 0.0)(41, 2.0)(42, 2.0);
    d.blocks(0, "ENDBLK")(8, "0");
    d.entities(0, "INSERT")(8, "0")(62, 3)(2, "T")(10, 10.0)(20, 10.0)(50, 90.0); // turned
    d.entities(0, "INSERT")(8, "0")(2, "T")(10, 0.0)(20, 20.0)(70, 2)(71, 3)(44, 5.0)(45, 4.0);
    d.entities(0, "INSERT")(8, "0")(2, "N")(10, 100.0)(20, 0.0)(50, 180.0);
    result r = read(d.text());
    ASSERT_TRUE(r.error.empty()) << r.error;
    ASSERT_EQ(r.sink.paths.size(), 1u + 6u + 1u);
    near(r.sink.paths[0].points[0], 10, 10, "turned start");
    near(r.sink.paths[0].points[1], 10, 11, "turned end");
    EXPECT_EQ(r.sink.paths[0].style.colour, 3); // BYBLOCK takes the insert's colour
    // The 2 x 3 array: columns 5 apart, rows 4 apart.
    std::vector<std::pair<double, double>> starts;
    for (size_t i = 1; i <= 6; ++i)
        starts.push_back({r.sink.paths[i].points[0].x, r.sink.paths[i].points[0].y});
    std::sort(starts.begin(), starts.end());
    std::vector<std::pair<double, double>> want = {{0, 20}, {0, 24}, {0, 28},
                                                   {5, 20}, {5, 24}, {5, 28}};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_NEAR(starts[i].first, want[i].first, 1e-9);
        EXPECT_NEAR(starts[i].second, want[i].second, 1e-9);
    }
    // Nested: N at (100,0) turned half a turn; T inside at (5,0) scaled 2: from (95,0) to (93,0).
    near(r.sink.paths[7].points[0], 95, 0, "nested start");
    near(r.sink.paths[7].points[1], 93, 0, "nested end");
}

TEST(DxfReader, LayerZeroInBlocksFollowsTheInsertLayer) {
    drawing d;
    d.layer("hidden", -2);
    d.layer("blue", 5);
    d.blocks(0, "BLOCK")(8, "0")(2, "B")(70, 0)(10, 0.0)(20, 0.0)(30, 0.0);
    line(d.blocks, 0, 0, 1, 0, "0");
    line(d.blocks, 0, 1, 1, 1, "blue");
    d.blocks(0, "ENDBLK")(8, "0");
    d.entities(0, "INSERT")(8, "hidden")(2, "B")(10, 0.0)(20, 0.0);
    result r = read(d.text());
    ASSERT_TRUE(r.error.empty()) << r.error;
    ASSERT_EQ(r.sink.paths.size(), 1u); // the layer-0 line is hidden with the insert's layer
    EXPECT_EQ(r.sink.paths[0].style.colour, 5);
}

TEST(DxfReader, LineTypesMapByTheirDashes) {
    drawing d;
    d.layer("dash", 7, 0, "DASHED");
    line(d.entities, 0, 0, 1, 0, "dash");
    d.entities(0, "LINE")(8, "0")(6, "DASHDOT")(10, 0.0)(20, 1.0)(11, 1.0)(21, 1.0);
    d.entities(0, "LINE")(8, "0")(6, "NOSUCH")(10, 0.0)(20, 2.0)(11, 1.0)(21, 2.0);
    result r = read(d.text());
    ASSERT_EQ(r.sink.paths.size(), 3u) << r.error;
    EXPECT_EQ(r.sink.paths[0].style.line_type, 3); // long dash, short gap
    EXPECT_EQ(r.sink.paths[1].style.line_type, 4); // dash dot
    EXPECT_EQ(r.sink.paths[2].style.line_type, 0);
}

TEST(DxfReader, SolidsAndHatches) {
    drawing d;
    // SOLID corners come 1, 2, 4, 3 around the outline.
    d.entities(0, "SOLID")(8, "0")(10, 0.0)(20, 0.0)(11, 10.0)(21, 0.0)(12, 0.0)(22, 5.0)(13, 10.0)(
        23, 5.0);
    d.entities(0, "HATCH")(8, "0")(10, 0.0)(20, 0.0)(30, 0.0)(2, "SOLID")(70, 1)(71, 0)(91, 1)(
        92, 2)(72, 0)(73, 1)(93, 4)(10, 20.0)(20, 0.0)(10, 30.0)(20, 0.0)(10, 30.0)(20, 10.0)(
        10, 20.0)(20, 10.0)(97, 0)(75, 0)(76, 1)(98, 0);
    // A pattern of horizontal lines 2 apart over a 10 x 10 square.
    d.entities(0, "HATCH")(8, "0")(10, 0.0)(20, 0.0)(30, 0.0)(2, "LINES")(70, 0)(71, 0)(91, 1)(
        92, 2)(72, 0)(73, 1)(93, 4)(10, 0.0)(20, 20.0)(10, 10.0)(20, 20.0)(10, 10.0)(20, 30.0)(
        10, 0.0)(20, 30.0)(97, 0)(75, 0)(76, 1)(52, 0.0)(41, 1.0)(77, 0)(78, 1)(53, 0.0)(43, 0.0)(
        44, 0.0)(45, 0.0)(46, 2.0)(79, 0)(98, 0);
    result r = read(d.text());
    ASSERT_TRUE(r.error.empty()) << r.error;
    ASSERT_EQ(r.sink.fills.size(), 2u);
    const auto& solid = r.sink.fills[0][0];
    ASSERT_EQ(solid.size(), 4u);
    near(solid[0], 0, 0), near(solid[1], 10, 0), near(solid[2], 10, 5), near(solid[3], 0, 5);
    EXPECT_EQ(r.sink.fills[1][0].size(), 4u);
    // Hatch lines at y = 22, 24, 26, 28 (and on the edges), each from x 0 to 10.
    int inside = 0;
    for (const auto& p : r.sink.paths) {
        ASSERT_EQ(p.points.size(), 2u);
        EXPECT_NEAR(std::fabs(p.points[1].x - p.points[0].x), 10, 1e-9);
        EXPECT_NEAR(std::fmod(p.points[0].y, 2.0), 0, 1e-9);
        if (p.points[0].y > 20.5 && p.points[0].y < 29.5) ++inside;
    }
    EXPECT_EQ(inside, 4);
}

TEST(DxfReader, TextAndDimensions) {
    drawing d;
    d.blocks(0, "BLOCK")(8, "0")(2, "*D1")(70, 1)(10, 0.0)(20, 0.0)(30, 0.0);
    line(d.blocks, 0, -5, 50, -5);
    d.blocks(0, "ENDBLK")(8, "0");
    d.entities(0, "TEXT")(8, "0")(10, 1.0)(20, 2.0)(40, 3.5)(1, "R\xE9sum\xE9 %%d")(50, 90.0);
    d.entities(0, "TEXT")(8, "0")(10, 0.0)(20, 0.0)(40, 2.0)(1, "C")(72, 1)(11, 50.0)(21, 60.0);
    d.entities(0, "MTEXT")(8, "0")(10, 5.0)(20, 6.0)(40, 2.5)(71, 5)(3, "Ligne {\\fArial;un}")(
        1, "\\Pdeux");
    d.entities(0, "DIMENSION")(8, "0")(2, "*D1")(10, 0.0)(20, 0.0)(70, 0)(1, "")(13, 0.0)(23, 0.0)(
        14, 50.0)(24, 0.0);
    result r = read(d.text());
    ASSERT_TRUE(r.error.empty()) << r.error;
    ASSERT_EQ(r.sink.texts.size(), 3u);
    EXPECT_EQ(r.sink.texts[0].utf8, "Résumé °"); // Windows-1252 before R2007
    EXPECT_NEAR(r.sink.texts[0].height, 3.5, 1e-12);
    EXPECT_NEAR(r.sink.texts[0].angle_deg, 90, 1e-9);
    near(r.sink.texts[0].at, 1, 2);
    near(r.sink.texts[1].at, 50, 60); // centred: the alignment point
    EXPECT_EQ(r.sink.texts[1].halign, text_halign::center);
    EXPECT_EQ(r.sink.texts[2].utf8, "Ligne un\ndeux");
    EXPECT_EQ(r.sink.texts[2].valign, text_valign::middle);
    ASSERT_EQ(r.sink.paths.size(), 1u); // the dimension's block
    near(r.sink.paths[0].points[1], 50, -5);
}

TEST(DxfReader, BadFilesAreRefusedWithFileAndLine) {
    auto error_of = [](const std::string& text) { return read(text).error; };
    drawing d;
    line(d.entities, 0, 0, 1, 1);
    std::string good = d.text();
    EXPECT_EQ(error_of(good), "");
    std::string cut = good.substr(0, good.size() / 2);
    cut = cut.substr(0, cut.rfind('\n') + 1);
    EXPECT_NE(error_of(cut).find("truncated"), std::string::npos);
    EXPECT_NE(error_of("hello\nworld\n").find(":1: not a DXF file"), std::string::npos);
    std::string garbled = good;
    garbled.replace(garbled.find("\n10\n"), 4, "\nxx\n");
    std::string e = error_of(garbled);
    EXPECT_NE(e.find("a group code was expected, not 'xx'"), std::string::npos) << e;
    EXPECT_NE(e.find(".dxf:"), std::string::npos) << e;

    drawing self;
    self.blocks(0, "BLOCK")(8, "0")(2, "A")(70, 0)(10, 0.0)(20, 0.0)(30, 0.0);
    self.blocks(0, "INSERT")(8, "0")(2, "B")(10, 0.0)(20, 0.0);
    self.blocks(0, "ENDBLK")(8, "0");
    self.blocks(0, "BLOCK")(8, "0")(2, "B")(70, 0)(10, 0.0)(20, 0.0)(30, 0.0);
    self.blocks(0, "INSERT")(8, "0")(2, "A")(10, 0.0)(20, 0.0);
    self.blocks(0, "ENDBLK")(8, "0");
    self.entities(0, "INSERT")(8, "0")(2, "A")(10, 0.0)(20, 0.0);
    e = error_of(self.text());
    EXPECT_NE(e.find("inserts itself"), std::string::npos) << e;

    drawing huge;
    huge.entities(0, "LWPOLYLINE")(8, "0")(90, 4000000000.0)(70, 0)(10, 0.0)(20, 0.0);
    e = error_of(huge.text());
    EXPECT_NE(e.find("absurd count"), std::string::npos) << e;

    drawing array;
    array.blocks(0, "BLOCK")(8, "0")(2, "A")(70, 0)(10, 0.0)(20, 0.0)(30, 0.0);
    array.blocks(0, "ENDBLK")(8, "0");
    array.entities(0, "INSERT")(8, "0")(2, "A")(10, 0.0)(20, 0.0)(70, 30000)(71, 30000);
    const std::string array_text = array.text();
    e = error_of(array_text);
    EXPECT_NE(e.find("absurd array"), std::string::npos) << e;
    // The line named is the entity's "0" line in the file.
    size_t at = array_text.find("INSERT");
    long line_no = std::count(array_text.begin(), array_text.begin() + static_cast<long>(at), '\n');
    EXPECT_NE(e.find(":" + std::to_string(line_no) + ":"), std::string::npos) << e;
}

TEST(DxfReader, SplinesFromControlPointsAndKnots) {
    drawing d;
    // A cubic Bezier as a clamped B-spline: ends on its first and last control points,
    // and at t = 1/2 passes (P0 + 3 P1 + 3 P2 + P3) / 8 = (1.5, 0.75).
    auto spline = [&](std::initializer_list<double> knots) {
        d.entities(0, "SPLINE")(8, "0")(70, 8)(71, 3)(72, static_cast<int>(knots.size()))(73, 4)(74,
                                                                                                 0);
        for (double k : knots) d.entities(40, k);
        for (auto [x, y] : {std::pair{0.0, 0.0}, {1.0, 1.0}, {2.0, 1.0}, {3.0, 0.0}})
            d.entities(10, x)(20, y)(30, 0.0);
    };
    spline({0, 0, 0, 0, 1, 1, 1, 1});
    spline({0, 0, 1}); // knots that do not fit: drawn with a clamped uniform vector
    result r = read(d.text());
    ASSERT_TRUE(r.error.empty()) << r.error;
    ASSERT_EQ(r.sink.paths.size(), 2u);
    for (const auto& p : r.sink.paths) {
        near(p.points.front(), 0, 0), near(p.points.back(), 3, 0);
        double best = 1e9;
        for (auto q : p.points) best = std::min(best, std::hypot(q.x - 1.5, q.y - 0.75));
        EXPECT_LT(best, 1e-9);
        for (auto q : p.points) EXPECT_LE(q.y, 0.75 + r.sink.tol);
    }
}

TEST(DxfReader, NumbersThatAreNoNumbersEndNeitherInACrashNorALoop) {
    drawing d;
    // Angles far beyond a turn once looped for ever; "nan" coordinates became NaN points.
    d.entities(0, "ARC")(8, "0")(10, 0.0)(20, 0.0)(40, 1.0)(50, 1e300)(51, -1e300);
    d.entities(0, "ELLIPSE")(8, "0")(10, 0.0)(20, 0.0)(11, 2.0)(21, 0.0)(40, 0.5)(41, 1e300)(42,
                                                                                             0.0);
    d.entities(0, "LINE")(8, "0")(10, "nan")(20, 0.0)(11, 1.0)(21, 1.0);
    line(d.entities, 0, 0, 2, 2);
    result r = read(d.text());
    ASSERT_TRUE(r.error.empty()) << r.error;
    // Through the whole pipeline: only finite points reach the plot commands.
    std::string path = ::testing::TempDir() + "/kvrac-nan-" + std::to_string(getpid()) + ".dxf";
    std::ofstream(path) << d.text();
    std::vector<script_command> cmds;
    drawing_summary sum;
    std::string why;
    placement_options place;
    int rc =
        plot_drawing([&](drawing_sink& s, drawing_report& rep) { dxf_read_file(path, s, rep); },
                     place, {}, {40000, 30000, 1016, 600},
                     [&](const script_command& c) {
                         cmds.push_back(c);
                         return 0;
                     },
                     &sum, &why);
    EXPECT_EQ(rc, 0) << why;
    EXPECT_FALSE(cmds.empty());
}

TEST(DxfReader, HatchPolylineLoopAfterAnotherEdge) {
    // A second polyline boundary arriving in a loop that already holds points: its first
    // vertex once looked back before the start of its list (found by fuzzing, an overflow
    // under AddressSanitizer).
    drawing d;
    d.entities(0, "HATCH")(8, "0")(2, "SOLID")(70, 1)(91, 1)(92, 2)(93, 3)(10, 0.0)(20, 0.0);
    d.entities(10, 5.0)(20, 0.0)(10, 5.0)(20, 5.0)(98, 0)(40, 1.0)(10, 0.0)(20, 5.0);
    result r = read(d.text());
    EXPECT_TRUE(r.error.empty()) << r.error;
    for (const auto& f : r.sink.fills)
        for (const auto& ring : f)
            for (auto p : ring) EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
}

TEST(DxfReader, UnsupportedEntitiesAreCounted) {
    drawing d;
    d.entities(0, "XLINE")(8, "0")(10, 0.0)(20, 0.0)(11, 1.0)(21, 0.0);
    d.entities(0, "3DFACE")(8, "0")(10, 0.0)(20, 0.0)(11, 1.0)(21, 0.0)(12, 1.0)(22, 1.0)(13, 0.0)(
        23, 1.0);
    d.entities(0, "INSERT")(8, "0")(2, "NOSUCH")(10, 0.0)(20, 0.0);
    result r = read(d.text());
    ASSERT_EQ(r.report.notes.size(), 1u);
    EXPECT_EQ(r.report.notes[0],
              "3 entities not plotted: 3DFACE, INSERT of an undefined block, XLINE");
}

} // namespace

#endif
