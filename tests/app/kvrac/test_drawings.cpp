// kvrac plot of drawings end to end: DXF files and HP-GL/2 plot files in, jobs out,
// the jobs read back as a plotter would.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "geometry/hpgl_reader.h"
#include "support/kvrac_runner.h"

namespace {

// The pen moves of a job's vector part (between the set-up and the trailer).
std::vector<hpgl_event> events_of(const std::string& job) {
    const std::string setup_end = "PUPA0,0PR;TR0;";
    size_t body = job.find(setup_end);
    size_t end = job.rfind(";PUSP0;PG;");
    if (body == std::string::npos || end == std::string::npos || end < body) return {};
    hpgl_reading r = read_hpgl(job.substr(body + setup_end.size(), end - body - setup_end.size()));
    EXPECT_EQ(r.fault, "");
    return r.events;
}

bool has(const std::vector<hpgl_event>& ev, char kind, int64_t x, int64_t y) {
    return std::any_of(ev.begin(), ev.end(),
                       [&](const hpgl_event& e) { return e.kind == kind && e.x == x && e.y == y; });
}

std::string dxf(const std::string& entities, int insunits = 4) {
    return "0\nSECTION\n2\nHEADER\n9\n$INSUNITS\n70\n" + std::to_string(insunits) +
           "\n0\nENDSEC\n0\nSECTION\n2\nENTITIES\n" + entities + "0\nENDSEC\n0\nEOF\n";
}

std::string line(double x1, double y1, double x2, double y2) {
    char b[200];
    std::snprintf(b, sizeof b, "0\nLINE\n8\n0\n10\n%g\n20\n%g\n11\n%g\n21\n%g\n", x1, y1, x2, y2);
    return b;
}

class Drawings : public Kvrac {
  protected:
    run_result plot(const std::string& name, const std::string& content,
                    const std::string& extra = "") {
        write_file(dir / name, content);
        return run("plot '" + (dir / name).string() + "' -o '" + (dir / "job.prn").string() +
                   "' --settings '" + store() + "' " + extra);
    }
    std::string job() const { return slurp(dir / "job.prn"); }
};

#if KVRAC_HAVE_DXF
TEST_F(Drawings, DxfPlotsAtScaleWithOriginAndFit) {
    // An L of 100 mm and 50 mm: 4000 and 2000 plotter units at 1016 a inch.
    const std::string l = dxf(line(10, 10, 110, 10) + line(10, 10, 10, 60));
    auto r = plot("plan.dxf", l);
    ASSERT_EQ(r.status, 0) << r.err;
    auto ev = events_of(job());
    EXPECT_TRUE(has(ev, 'M', 0, 0)); // the extents' corner at the area's corner
    EXPECT_TRUE(has(ev, 'D', 4000, 0));
    EXPECT_TRUE(has(ev, 'D', 0, 2000));

    r = plot("plan.dxf", l, "--scale 1:2 --origin 10,5");
    ASSERT_EQ(r.status, 0) << r.err;
    ev = events_of(job());
    EXPECT_TRUE(has(ev, 'D', 400 + 2000, 200)) << ev.size();
    EXPECT_TRUE(has(ev, 'D', 400, 200 + 1000));

    // --fit: 100 x 50 mm into the 48768 x 36576 unit area: the width limits, 487.68 units
    // a millimetre.
    r = plot("plan.dxf", l, "--fit");
    ASSERT_EQ(r.status, 0) << r.err;
    ev = events_of(job());
    EXPECT_TRUE(has(ev, 'D', 48768, 0));
    EXPECT_TRUE(has(ev, 'D', 0, 24384));

    // Inches from the header: 1 in is 1016 units.
    r = plot("inch.dxf", dxf(line(0, 0, 1, 0), 1));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(events_of(job()), 'D', 1016, 0));
}

TEST_F(Drawings, WhatFallsOutsideIsCutAndSaid) {
    // 2000 mm is wider than the 48 in (1219.2 mm) area.
    auto r = plot("wide.dxf", dxf(line(0, 0, 2000, 0) + line(0, 10, 10, 10)));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("wide.dxf: 1 entity cut at the right edge"), std::string::npos) << r.err;
    auto ev = events_of(job());
    EXPECT_TRUE(has(ev, 'D', 48768, 0));
}

TEST_F(Drawings, BadDxfWritesNothingAndNamesTheLine) {
    write_file(dir / "job.prn", "old job");
    std::string text = dxf(line(0, 0, 1, 1));
    auto r = plot("cut.dxf", text.substr(0, 60));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cut.dxf:"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("truncated"), std::string::npos) << r.err;
    EXPECT_EQ(job(), "old job");
    EXPECT_FALSE(fs::exists(dir / "job.prn.tmp"));

    std::string self = "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n8\n0\n2\nA\n70\n0\n10\n0\n20\n0\n"
                       "0\nINSERT\n8\n0\n2\nA\n10\n0\n20\n0\n0\nENDBLK\n8\n0\n0\nENDSEC\n"
                       "0\nSECTION\n2\nENTITIES\n0\nINSERT\n8\n0\n2\nA\n10\n0\n20\n0\n0\nENDSEC\n"
                       "0\nEOF\n";
    r = plot("self.dxf", self);
    EXPECT_EQ(r.status, 2);
    // Named at the insert that closes the loop (line 17, inside block A).
    EXPECT_NE(r.err.find("self.dxf:17: block 'A' inserts itself"), std::string::npos) << r.err;
    EXPECT_EQ(job(), "old job");
}

TEST_F(Drawings, KtglJobsToo) {
    // A stored KTGL+MMR record (E-arch, 400 dpi): the same drawing in the binary language.
    const unsigned char rec[40] = {1, 0,    0,    0,    1, 0, 0, 0,   0x8C, 1,   0,   0, 0, 0,
                                   0, 0,    0,    0,    0, 0, 1, 0,   0,    0,   2,   0, 0, 0,
                                   0, 0x10, 0x40, 0x12, 0, 0, 0, 123, 187,  228, 255, 0};
    write_file(store(), std::string(reinterpret_cast<const char*>(rec), 40));
    auto r = plot("plan.dxf", dxf(line(0, 0, 100, 0)));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_GT(job().size(), 100u);
    EXPECT_EQ(job().find("PUPA0,0PR;TR0;"), std::string::npos); // no HP-GL/2 set-up
}
#endif

TEST_F(Drawings, OwnJobReadBackAsPlotFilePlotsTheSameLines) {
    std::string script = "move 100 100\ndraw 5000 100\ndraw 5000 3000\ndraw 100 100\n"
                         "pen 2\nmove 7000 7000\ndraw 7100 7300\n";
    auto r = plot("a.kvs", script);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string first = job();
    auto before = events_of(first);
    ASSERT_FALSE(before.empty());
    r = plot("again.plt", first);
    ASSERT_EQ(r.status, 0) << r.err;
    auto after = events_of(job());
    // The same pen-down segments (a plot file may regroup moves, never lines).
    auto segments = [](const std::vector<hpgl_event>& ev) {
        std::vector<std::array<int64_t, 4>> s;
        int64_t x = 0, y = 0;
        for (const auto& e : ev) {
            if (e.kind == 'D' && (e.x != x || e.y != y)) s.push_back({x, y, e.x, e.y});
            x = e.x, y = e.y;
        }
        std::sort(s.begin(), s.end());
        return s;
    };
    EXPECT_EQ(segments(before), segments(after));
    EXPECT_EQ(segments(before).size(), 4u);
}

TEST_F(Drawings, HandWrittenPlotFileWithRelativeMovesAndCircles) {
    auto r = plot("hand.plt", "IN;SP1;PU1000,1000;PD2000,1000;PR0,500;PU;PA4000,4000;CI400;ZZ;");
    ASSERT_EQ(r.status, 0) << r.err;
    auto ev = events_of(job());
    EXPECT_TRUE(has(ev, 'M', 1000, 1000));
    EXPECT_TRUE(has(ev, 'D', 2000, 1000));
    EXPECT_TRUE(has(ev, 'D', 2000, 1500));
    // The circle: every drawn point 400 from (4000, 4000) within a unit of rounding.
    int on_circle = 0;
    for (const auto& e : ev) {
        double d = std::hypot(static_cast<double>(e.x - 4000), static_cast<double>(e.y - 4000));
        if (d > 300 && d < 1000) {
            EXPECT_NEAR(d, 400, 1.5);
            ++on_circle;
        }
    }
    EXPECT_GT(on_circle, 20);
    EXPECT_NE(r.err.find("1 instruction(s) not plotted: ZZ"), std::string::npos) << r.err;
}

TEST_F(Drawings, ScriptTextIsStrokedWithAccents) {
    // 'H' is 21 font units tall with its stems 4 and 18 units from the pen: at a height
    // of 210 units, x from 1040 to 1180 and y from 1000 to 1210.
    auto r = plot("t.kvs", "text 1000 1000 210 \"H\"\n");
    ASSERT_EQ(r.status, 0) << r.err;
    auto ev = events_of(job());
    int64_t x0 = 1 << 30, x1 = 0, y0 = 1 << 30, y1 = 0;
    for (const auto& e : ev)
        x0 = std::min(x0, e.x), x1 = std::max(x1, e.x), y0 = std::min(y0, e.y),
        y1 = std::max(y1, e.y);
    EXPECT_EQ(x0, 1040);
    EXPECT_EQ(x1, 1180);
    EXPECT_EQ(y0, 1000);
    EXPECT_EQ(y1, 1210);
    r = plot("t.kvs", "unit mm\ntext 100 10 5 \"Élève # à côté\" center # a comment\n");
    ASSERT_EQ(r.status, 0) << r.err;
    r = plot("t.kvs", "text 10 10 5 \"H\" sideways\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("t.kvs:1:"), std::string::npos) << r.err;
    r = plot("t.kvs", "text 65500 10 500 \"long\"\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("outside the plot range"), std::string::npos) << r.err;
}

TEST_F(Drawings, FormatByContentThenNameAndOptionsOnlyForDrawings) {
    auto r = plot("plan.txt", "IN;SP1;PU0,0;PD100,0;");
    ASSERT_EQ(r.status, 0) << r.err; // an HP-GL/2 file named .txt
    EXPECT_TRUE(has(events_of(job()), 'D', 100, 0));
    r = plot("a.kvs", "move 0 0\ndraw 10 10\n", "--fit");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("act on drawings"), std::string::npos) << r.err;
    r = plot("hand.plt", "IN;", "--scale 2");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--scale takes A:B"), std::string::npos) << r.err;
    r = plot("hand.plt", "IN;", "--pens /nonexistent/pens.txt");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("/nonexistent/pens.txt"), std::string::npos) << r.err;
    r = run("plot --help");
    EXPECT_NE(r.out.find("--fit"), std::string::npos);

    // A plot file name that is a folder, or that is missing, is said to be so.
    fs::create_directories(dir / "folder.plt");
    r = run("plot '" + (dir / "folder.plt").string() + "' --settings '" + store() + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("folder.plt: not a file"), std::string::npos) << r.err;
    r = run("plot '" + (dir / "none.plt").string() + "' --settings '" + store() + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("none.plt: No such file"), std::string::npos) << r.err;
}

} // namespace
