// kvrac plot end to end: scripts in, job files out.
#include <gtest/gtest.h>

#include <cctype>

#include "geometry/hpgl_reader.h"

#include "support/kvrac_runner.h"

namespace {

// The RTL/GL2 job opening for the default settings (E-arch 48 x 36 in, 600 dpi, one
// copy, Bond, finisher bypass, no margin): 1016 steps per inch give a plot area of
// 48768 x 36576 steps.
const std::string default_opening = "\x1B%-12345X@PJL\r\n"
                                    "@PJL DEFAULT FINISHPROGID=BYPASS\r\n"
                                    "@PJL ENTER LANGUAGE=HPGL2\r\n"
                                    "\x1B%0B;BP2,1;IN;MT0;"
                                    "PS48768,36576IP0,0,48768,36576SC0,48768,0,36576"
                                    "IW0,0,48768,36576;XF4,0;LA1,4,2,4SP7RFNP256"
                                    "CR0,255,0,255,0,255";
const std::string default_trailer = ";PUSP0;PG;\x1B%-12345X\r\n";

// Splits a job into opening, the 255 pen colours, and what follows "PUPA0,0PR;TR0;".
struct job_parts {
    bool ok;
    std::string body; // between the set-up and the trailer
};

job_parts split_job(const std::string& job) {
    const std::string setup_end = "PUPA0,0PR;TR0;";
    if (job.compare(0, default_opening.size(), default_opening) != 0) return {false, ""};
    size_t pcs = default_opening.size();
    size_t body = job.find(setup_end, pcs);
    if (body == std::string::npos) return {false, ""};
    // Exactly 255 pen colours "PCn,g,g,g", pens 1 to 255 in order.
    std::string colours = job.substr(pcs, body - pcs);
    size_t at = 0;
    for (int pen = 1; pen <= 255; ++pen) {
        const std::string head = "PC" + std::to_string(pen) + ",";
        if (colours.compare(at, head.size(), head) != 0) return {false, ""};
        at += head.size();
        for (int field = 0; field < 3; ++field) {
            size_t digits = at;
            while (at < colours.size() && std::isdigit(static_cast<unsigned char>(colours[at])))
                ++at;
            if (at == digits || (field < 2 && (at >= colours.size() || colours[at++] != ',')))
                return {false, ""};
        }
    }
    if (at != colours.size()) return {false, ""};
    body += setup_end.size();
    if (job.size() < body + default_trailer.size() ||
        job.compare(job.size() - default_trailer.size(), default_trailer.size(), default_trailer))
        return {false, ""};
    return {true, job.substr(body, job.size() - default_trailer.size() - body)};
}

class Plot : public Kvrac {
  protected:
    std::string settings_opt() { return " --settings '" + store() + "'"; }
    run_result plot(const std::string& script_text, const std::string& extra = "") {
        write_file(dir / "a.kvs", script_text);
        return run("plot '" + (dir / "a.kvs").string() + "'" + settings_opt() + extra);
    }
};

TEST_F(Plot, FirstPlotConfiguresAndWritesTheJob) {
    auto r = plot("# a line\nmove 100 200\n\ndraw 300 200   # along x\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fs::file_size(store()), 40u); // configured with the defaults first
    std::string job = slurp(dir / "a.prn");
    job_parts parts = split_job(job);
    ASSERT_TRUE(parts.ok) << job.substr(0, 400);
    // Opener and pen-up flag, move by (100, 200), draw by (200, 0), in base 32:
    // 100 -> "Ge", 200 -> "Ok", 0 -> "_".
    EXPECT_EQ(parts.body, "PE7<GeOkOk_");
    EXPECT_NE(job.find("PC1,76,76,76"), std::string::npos);
    EXPECT_NE(job.find("PC8,191,191,191"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "a.prn.tmp"));
}

TEST_F(Plot, UnitsPensLineTypesAndWidths) {
    auto r = plot("unit mm\nmove 25.4 0\nunit in\ndraw 1 0\nunit plu\n"
                  "pen 3\nlinetype 3\nwidth 0.35mm\nlinetype 0\nwidth -1\ndraw 1016 10\n");
    ASSERT_EQ(r.status, 0) << r.err;
    job_parts parts = split_job(slurp(dir / "a.prn"));
    ASSERT_TRUE(parts.ok);
    // 25.4 mm and 1 in are both 1016 steps ("O^`" in base 32), so the draw is a zero
    // displacement. Pen 3 prints with the black pen 7; line type 3 has the pattern
    // length 2.0; 0.35 mm is PW0.350; a negative width is the largest. The instructions
    // follow each other without separators; the last draw moves by (0, 10) ("_s").
    EXPECT_EQ(parts.body, "PE7<O^`___;SP7LT-3,2.0PW0.350LTPW297.000PE7_s");
}

TEST_F(Plot, PolygonsInlineAndByReference) {
    std::string big = "polygon 7";
    for (int i = 0; i < 600; ++i) big += " " + std::to_string(i) + " " + std::to_string(i % 2);
    auto r = plot("polygon 7 0 0 10 0 10 10\n" + big + "\nmove 5 5\n");
    ASSERT_EQ(r.status, 0) << r.err;
    job_parts parts = split_job(slurp(dir / "a.prn"));
    ASSERT_TRUE(parts.ok);
    // Triangle: pen, pen-up move to (0, 0), polygon mode, edges (10, 0), (0, 10),
    // (-10, -10) back to the start, fill. 10 is "s" and -10 "t" in base 32.
    const std::string triangle = "SP7PE7<__;PM0PE7s__stt;PM2FP";
    EXPECT_EQ(parts.body.substr(0, triangle.size()), triangle);
    // The 600-vertex polygon (sent by reference) follows; the move then selects the
    // job's current pen again (pen 1, as no pen was selected) and moves by (5, 5).
    size_t second = parts.body.find("SP7PE7<", triangle.size());
    ASSERT_EQ(second, triangle.size());
    size_t fill = parts.body.find(";PM2FP", second);
    ASSERT_NE(fill, std::string::npos);
    EXPECT_EQ(parts.body.substr(fill), ";PM2FP;SP1PE7<ii");

    // Read back, the big polygon's outline is exactly the vertices sent.
    hpgl_reading reading = read_hpgl(parts.body.substr(second, fill + 6 - second));
    ASSERT_EQ(reading.fault, "");
    std::vector<std::pair<int64_t, int64_t>> outline;
    for (const hpgl_event& e : reading.events)
        if (e.kind == 'D') outline.emplace_back(e.x, e.y);
    ASSERT_EQ(outline.size(), 600u);
    using point = std::pair<int64_t, int64_t>;
    for (int i = 1; i < 600; ++i) EXPECT_EQ(outline[i - 1], point(i, i % 2));
    EXPECT_EQ(outline.back(), point(0, 0));
}

TEST_F(Plot, BadLinesAreReportedAndNothingIsWritten) {
    write_file(dir / "a.prn", "old job");
    struct bad {
        const char* script;
        const char* message;
    };
    const bad cases[] = {
        {"move 1 2\nfrobnicate 3\n", "a.kvs:2: unknown command 'frobnicate'"},
        {"move 1\n", "a.kvs:1: move needs 2 operands"},
        {"\n\ndraw 1 2 3\n", "a.kvs:3: draw takes 2 operands"},
        {"move x 2\n", "a.kvs:1: not a number: 'x'"},
        {"move 65536 2\n", "a.kvs:1: coordinate 65536 is outside"},
        {"unit mm\nmove -1 0\n", "a.kvs:2: coordinate -1 is outside"},
        {"pen 70000\n", "a.kvs:1: 70000 is outside 0..65535"},
        {"polygon 7 1 2 3\n", "a.kvs:1: polygon needs X Y pairs"},
        {"unit feet\n", "a.kvs:1: unit must be plu, mm or in"},
        {"width thick\n", "a.kvs:1: not a width"},
    };
    for (const bad& b : cases) {
        auto r = plot(b.script);
        EXPECT_EQ(r.status, 2) << b.script;
        EXPECT_NE(r.err.find(b.message), std::string::npos) << r.err;
        EXPECT_EQ(slurp(dir / "a.prn"), "old job") << b.script;
        EXPECT_FALSE(fs::exists(dir / "a.prn.tmp"));
    }
    auto r = run("plot '" + (dir / "missing.kvs").string() + "'" + settings_opt());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("missing.kvs"), std::string::npos);
}

TEST_F(Plot, OutputChoices) {
    auto r = plot("move 0 0\ndraw 1 1\n", " -o -");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(split_job(r.out).ok);
    EXPECT_FALSE(fs::exists(dir / "a.prn"));

    r = plot("move 0 0\ndraw 1 1\n", " -o '" + (dir / "job.out").string() + "'");
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(split_job(slurp(dir / "job.out")).ok);
}

TEST_F(Plot, SmallerAreaAndCancel) {
    auto r = plot("move 0 0\ndraw 1 1\n", " --area 10x5");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string job = slurp(dir / "a.prn");
    EXPECT_NE(job.find("PS10160,5080IP0,0,10160,5080SC0,10160,0,5080IW0,0,10160,5080;"),
              std::string::npos);
    EXPECT_EQ(plot("move 0 0\n", " --area 100x5").status, 2);
    EXPECT_EQ(plot("move 0 0\n", " --area big").status, 2);

    // A cancelled plot: the driver refuses the next draw; no job file is written.
    fs::remove(dir / "a.prn");
    r = plot("move 0 0\ndraw 1 1\ncancel\ndraw 2 2\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fs::exists(dir / "a.prn"));
}

TEST_F(Plot, AStoreSelectingKtglGivesAKtglJob) {
    ASSERT_EQ(run("config" + settings_opt()).status, 0);
    std::string stored = slurp(store());
    stored[30] = 0x40; // mode_flags: KTGL+MMR, 600 dpi (0x0100 kept in the high byte)
    write_file(store(), stored);
    auto r = plot("move 0 0\ndraw 100 0\n");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string job = slurp(dir / "a.prn");
    const std::string begin("\x9B\x5E\x00\x02\x00\x02", 6); // job begin
    const std::string end("\x9B\x5E\x00\x02\x00\x00", 6);   // job end
    EXPECT_EQ(job.substr(0, 6), begin);
    EXPECT_EQ(job.substr(job.size() - 6), end);
    // The draw: one segment record from (0, 0) by 50 KTGL units (scale 0.5); E-arch is
    // longer than 40.9575 in, so coordinates take the 32-bit form.
    const std::string segment("\x6B\x08\0\0\0\0\0\0\0\0\0\0\0\x32\0\0\0\0", 18);
    EXPECT_NE(job.find(segment), std::string::npos);
    EXPECT_EQ(slurp(store())[30], 0x40); // the plot kept the stored language
}

TEST_F(Plot, ReportAndLegend) {
    ASSERT_EQ(run("config" + settings_opt()).status, 0);
    auto r = run("report" + settings_opt());
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Traceur : 9270/9250 Wide Format"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("R\xC3\xA9solution d'image : 600dpi"), std::string::npos) << r.out;
    r = run("legend" + settings_opt());
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Type de ligne No. 0 = Ligne solide"), std::string::npos);
    fs::remove(store());
    r = run("report" + settings_opt());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no settings stored in " + store() + " (run 'kvrac config')"),
              std::string::npos)
        << r.err;
}

} // namespace
