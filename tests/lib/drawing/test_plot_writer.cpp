// Placement, clipping and the pen table: the commands a drawing becomes.
#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

#include "drawing/plot_writer.h"

namespace {

// 1016 plotter units an inch: 40 per millimetre exactly.
const sheet_geometry sheet{4000, 2000, 1016, 600}; // 100 x 50 mm

struct recorded {
    std::vector<script_command> cmds;
    std::string trace() const { // "M x,y D x,y P n L n W" for the easy cases
        std::string s;
        for (const auto& c : cmds) {
            switch (c.op) {
            case script_op::move:
                s += "M" + std::to_string(c.x) + "," + std::to_string(c.y) + " ";
                break;
            case script_op::draw:
                s += "D" + std::to_string(c.x) + "," + std::to_string(c.y) + " ";
                break;
            case script_op::pen:
                s += "P" + std::to_string(c.number) + " ";
                break;
            case script_op::linetype:
                s += "L" + std::to_string(c.number) + " ";
                break;
            case script_op::width:
                s += "W ";
                break;
            case script_op::polygon:
                s += "F" + std::to_string(c.number) + " ";
                break;
            default:
                s += "? ";
            }
        }
        return s;
    }
};

using ops = std::function<void(drawing_sink&)>;

int run(const ops& draw, placement_options place, recorded& out, drawing_summary& sum,
        const pen_table& pens = {}, drawing_units units = drawing_units::mm) {
    std::string why;
    auto read = [&](drawing_sink& s, drawing_report& r) {
        r.units = units;
        r.unit_mm = units == drawing_units::mm ? 1 : units == drawing_units::inch ? 25.4 : 0;
        draw(s);
    };
    plot_emitter emit = [&](const script_command& c) {
        out.cmds.push_back(c);
        return 0;
    };
    int rc = plot_drawing(read, place, pens, sheet, emit, &sum, &why);
    EXPECT_TRUE(why.empty()) << why;
    return rc;
}

void line(drawing_sink& s, double x0, double y0, double x1, double y1, int colour = 7) {
    drawing_point p[2] = {{x0, y0}, {x1, y1}};
    s.path({colour, -1, 0}, p, 2, false);
}

TEST(PlotWriter, OneToOneMillimetresFromTheDrawingOrigin) {
    recorded r;
    drawing_summary sum;
    placement_options place;
    place.anchor = drawing_anchor::origin;
    ASSERT_EQ(
        run([](drawing_sink& s) { line(s, 10, 5, 60, 5), line(s, 60, 5, 60, 30); }, place, r, sum),
        0);
    // One style set-up, then one pen-down run: the second line starts where the first ended.
    EXPECT_EQ(r.trace(), "P7 L0 W M400,200 D2400,200 D2400,1200 ");
    EXPECT_NEAR(r.cmds[2].width_inch, 0.25 / 25.4, 1e-12); // the default width
    EXPECT_EQ(sum.paths, 2);
    EXPECT_TRUE(summary_lines(sum).empty());

    recorded half;
    place.scale = 0.5; // 1:2
    place.origin_x_mm = 1;
    run([](drawing_sink& s) { line(s, 10, 5, 60, 5); }, place, half, sum);
    EXPECT_EQ(half.trace(), "P7 L0 W M240,100 D1240,100 ");
}

TEST(PlotWriter, ExtentsAnchorFitCenterAndRotate) {
    auto square = [](drawing_sink& s) {
        drawing_point p[4] = {{1000, 1000}, {1010, 1000}, {1010, 1010}, {1000, 1010}};
        s.path({1, -1, 0}, p, 4, true);
    };
    recorded r;
    drawing_summary sum;
    placement_options place; // extents: the square's corner goes to the sheet's corner
    run(square, place, r, sum);
    EXPECT_EQ(r.trace(), "P1 L0 W M0,0 D400,0 D400,400 D0,400 D0,0 ");

    recorded fit;
    place.fit = true; // 10 mm into 100 x 50 mm: 5 times, so 2000 units a side
    run(square, place, fit, sum);
    EXPECT_EQ(fit.trace(), "P1 L0 W M0,0 D2000,0 D2000,2000 D0,2000 D0,0 ");

    recorded centred;
    place.center = true;
    run(square, place, centred, sum);
    EXPECT_EQ(centred.trace(), "P1 L0 W M1000,0 D3000,0 D3000,2000 D1000,2000 D1000,0 ");

    // A 20 x 10 rectangle turned a quarter: 10 wide and 20 tall, corner at the origin.
    recorded turned;
    placement_options q;
    q.rotate = 90;
    run([](drawing_sink& s) { line(s, 0, 0, 20, 0), line(s, 20, 0, 20, 10); }, q, turned, sum);
    EXPECT_EQ(turned.trace(), "P7 L0 W M400,0 D400,800 D0,800 ");
}

TEST(PlotWriter, ClipsToThePrintableAreaAndSaysWhere) {
    recorded r;
    drawing_summary sum;
    placement_options place;
    place.anchor = drawing_anchor::origin;
    run(
        [](drawing_sink& s) {
            line(s, 90, 10, 110, 10);  // cut at the right edge (100 mm)
            line(s, 90, 20, 120, 20);  // again
            line(s, -5, 30, 5, 30);    // left edge
            line(s, 10, 40, 10, 60);   // top edge (50 mm)
            line(s, 200, 10, 210, 10); // wholly outside
        },
        place, r, sum);
    EXPECT_EQ(sum.cut[1], 2);
    EXPECT_EQ(sum.cut[0], 1);
    EXPECT_EQ(sum.cut[3], 1);
    EXPECT_EQ(sum.outside, 1);
    std::string trace = r.trace();
    EXPECT_NE(trace.find("M3600,400 D4000,400 "), std::string::npos) << trace;
    EXPECT_NE(trace.find("M0,1200 D200,1200 "), std::string::npos) << trace;
    EXPECT_NE(trace.find("M400,1600 D400,2000 "), std::string::npos) << trace;
    auto lines = summary_lines(sum);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "1 entity cut at the left edge");
    EXPECT_EQ(lines[1], "2 entities cut at the right edge");
    EXPECT_EQ(lines[3], "1 entity lies wholly outside the printable area (not plotted)");
    // A path that leaves and comes back is lifted while outside.
    recorded back;
    run(
        [](drawing_sink& s) {
            drawing_point p[3] = {{90, 10}, {110, 20}, {90, 30}};
            s.path({7, -1, 0}, p, 3, false);
        },
        place, back, sum);
    EXPECT_EQ(back.trace(), "P7 L0 W M3600,400 D4000,600 M4000,1000 D3600,1200 ");
}

TEST(PlotWriter, AreasAreClippedAndJoined) {
    recorded r;
    drawing_summary sum;
    placement_options place;
    place.anchor = drawing_anchor::origin;
    run(
        [](drawing_sink& s) {
            s.fill({3, -1, 0}, {{{90, 10}, {110, 10}, {110, 20}, {90, 20}}});
        },
        place, r, sum);
    ASSERT_EQ(r.cmds.size(), 1u);
    EXPECT_EQ(r.cmds[0].op, script_op::polygon);
    EXPECT_EQ(r.cmds[0].number, 3);
    std::vector<uint16_t> want = {3600, 400, 4000, 400, 4000, 800, 3600, 800, 3600, 400};
    EXPECT_EQ(r.cmds[0].points, want);
    EXPECT_EQ(sum.cut[1], 1);
    // An outer ring and a hole: one polygon through both, back to the first vertex.
    recorded holed;
    run(
        [](drawing_sink& s) {
            s.fill({3, -1, 0}, {{{0, 0}, {10, 0}, {10, 10}, {0, 10}}, {{2, 2}, {4, 2}, {4, 4}}});
        },
        place, holed, sum);
    std::vector<uint16_t> joined = {0,  0,  400, 0,  400, 400, 0,  400, 0, 0,
                                    80, 80, 160, 80, 160, 160, 80, 80,  0, 0};
    EXPECT_EQ(holed.cmds.at(0).points, joined);
}

TEST(PlotWriter, SpooledAndReparsedPassesAgree) {
    // With a scale the first pass spools the final operations and the second replays
    // them; --fit reads the drawing twice. The same scale must give the same commands.
    auto draw = [](drawing_sink& s) {
        std::vector<drawing_point> arc;
        flatten_arc({5, 5}, 5, 0, 3, s.tolerance(), arc);
        s.path({2, 0.3, 1}, arc.data(), arc.size(), false);
        s.fill({4, -1, 0}, {{{0, 0}, {10, 0}, {10, 10}}});
        line(s, 0, 10, 10, 10);
    };
    recorded spooled, reparsed;
    drawing_summary a, b;
    placement_options scaled;
    scaled.scale = 5; // what --fit gives 10 mm in a 50 mm high area
    placement_options fit;
    fit.fit = true;
    run(draw, scaled, spooled, a);
    run(draw, fit, reparsed, b);
    EXPECT_EQ(spooled.trace(), reparsed.trace());
    EXPECT_GT(spooled.cmds.size(), 20u);
    EXPECT_DOUBLE_EQ(a.scale, b.scale);
}

TEST(PenTable, MapsColoursAndWeights) {
    std::string path = ::testing::TempDir() + "/pens-" + std::to_string(getpid()) + ".txt";
    std::ofstream(path) << "# colour pen width\n1 2 0.5mm\n3 4 0.02in force\n* 7 0.35mm\n";
    pen_table t;
    std::string why;
    ASSERT_EQ(pen_table_load(path, &t, &why), 0) << why;
    pen_choice red = pen_for(t, {1, -1, 0});
    EXPECT_EQ(red.pen, 2);
    EXPECT_NEAR(red.width_inch, 0.5 / 25.4, 1e-12);
    pen_choice own = pen_for(t, {1, 0.7, 0}); // the drawing's weight wins without force
    EXPECT_NEAR(own.width_inch, 0.7 / 25.4, 1e-12);
    pen_choice forced = pen_for(t, {3, 0.7, 0});
    EXPECT_EQ(forced.pen, 4);
    EXPECT_NEAR(forced.width_inch, 0.02, 1e-12);
    pen_choice other = pen_for(t, {200, -1, 0});
    EXPECT_EQ(other.pen, 7);
    EXPECT_NEAR(other.width_inch, 0.35 / 25.4, 1e-12);
    pen_choice none = pen_for(pen_table{}, {5, 0, 0}); // zero weight: one dot at 600 dpi
    EXPECT_EQ(none.pen, 5);
    EXPECT_NEAR(none.width_inch, 1.0 / 600, 1e-12);

    for (const char* bad : {"1 300\n", "x 2\n", "1 2 wide\n", "1 2 force\n", "1\n"}) {
        std::ofstream(path) << "# ok\n" << bad;
        EXPECT_EQ(pen_table_load(path, &t, &why), 2) << bad;
        EXPECT_NE(why.find(".txt:2:"), std::string::npos) << why;
    }
}

TEST(PlotWriter, StyleChangesAreSentOnlyWhenTheyChange) {
    recorded r;
    drawing_summary sum;
    placement_options place;
    place.anchor = drawing_anchor::origin;
    run(
        [](drawing_sink& s) {
            drawing_point a[2] = {{0, 0}, {10, 0}}, b[2] = {{0, 5}, {10, 5}},
                          c[2] = {{0, 9}, {10, 9}};
            s.path({2, 0.5, 3}, a, 2, false);
            s.path({2, 0.5, 3}, b, 2, false);
            s.path({2, 0.5, 0}, c, 2, false);
        },
        place, r, sum);
    EXPECT_EQ(r.trace(), "P2 L3 W M0,0 D400,0 M0,200 D400,200 L0 M0,360 D400,360 ");
}

TEST(PlotWriter, EmptyDrawingAndUnknownUnits) {
    recorded r;
    drawing_summary sum;
    placement_options place;
    EXPECT_EQ(run([](drawing_sink&) {}, place, r, sum), 0);
    EXPECT_TRUE(r.cmds.empty());
    EXPECT_EQ(summary_lines(sum).at(0), "the drawing has nothing to plot");
    run([](drawing_sink& s) { line(s, 0, 0, 1, 0); }, place, r, sum, {}, drawing_units::unknown);
    EXPECT_NE(summary_lines(sum).at(0).find("--units"), std::string::npos);
    recorded in;
    place.units = drawing_units::inch;
    run([](drawing_sink& s) { line(s, 0, 0, 1, 0); }, place, in, sum, {}, drawing_units::unknown);
    EXPECT_EQ(in.trace(), "P7 L0 W M0,0 D1016,0 ");
}

TEST(PlotWriter, FileWithoutAMeaningfulOriginIsPlacedByExtents) {
    drawing_summary sum;
    std::string why;
    std::vector<script_command> cmds;
    auto read = [](drawing_sink& s, drawing_report& r) {
        r.unit_mm = 1;
        r.no_origin = true;
        line(s, -50, -20, -40, -20);
    };
    placement_options place;
    place.anchor = drawing_anchor::origin;
    ASSERT_EQ(plot_drawing(
                  read, place, {}, sheet,
                  [&](const script_command& c) {
                      cmds.push_back(c);
                      return 0;
                  },
                  &sum, &why),
              0);
    ASSERT_EQ(cmds.size(), 5u);
    EXPECT_EQ(cmds[3].x, 0); // the move to the extents' corner
    EXPECT_EQ(cmds[4].x, 400);
    EXPECT_EQ(sum.outside, 0);
}

TEST(PlotWriter, ReaderFailureStopsWithItsMessage) {
    drawing_summary sum;
    std::string why;
    auto read = [](drawing_sink&, drawing_report&) { throw drawing_failure("x.dxf:12: bad"); };
    int rc = plot_drawing(
        read, {}, {}, sheet, [](const script_command&) { return 0; }, &sum, &why);
    EXPECT_EQ(rc, 2);
    EXPECT_EQ(why, "x.dxf:12: bad");
    // A driver refusal stops the plot with status 1.
    auto one = [](drawing_sink& s, drawing_report&) { line(s, 0, 0, 1, 1); };
    EXPECT_EQ(plot_drawing(
                  one, {}, {}, sheet, [](const script_command&) { return 1; }, &sum, &why),
              1);
}

} // namespace
