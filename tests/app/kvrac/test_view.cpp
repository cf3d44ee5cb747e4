// kvrac view and kvrac plot --preview, run as a user runs them.
#include <gtest/gtest.h>

#include "support/kvrac_runner.h"

namespace {

class View : public Kvrac {
  protected:
    std::string s() const { return " --settings '" + store() + "'"; }
    std::string path(const char* name) const { return (dir / name).string(); }
    // Plots script into a.prn (KTGL+MMR when asked), returning kvrac's result.
    run_result plot(const std::string& script, bool ktgl = false, const std::string& more = "") {
        EXPECT_EQ(run("config --reset" + s()).status, 0);
        if (ktgl) {
            std::string rec = slurp(store());
            rec[30] = static_cast<char>(rec[30] | 0x40);
            rec[31] = 0x02;
            write_file(store(), rec);
        }
        write_file(dir / "a.kvs", script);
        return run("plot '" + path("a.kvs") + "' -o '" + path("a.prn") + "'" + s() + more);
    }
};

// Width and height from a PNG's header (0 when it is no PNG).
std::pair<int, int> png_size(const std::string& png) {
    if (png.size() < 24 || png.compare(1, 3, "PNG") != 0) return {0, 0};
    auto be = [&](size_t at) {
        return int(uint8_t(png[at])) << 24 | int(uint8_t(png[at + 1])) << 16 |
               int(uint8_t(png[at + 2])) << 8 | int(uint8_t(png[at + 3]));
    };
    return {be(16), be(20)};
}

const char drawing[] = "unit mm\nwidth 0.5mm\nmove 100 100\ndraw 300 100\ndraw 300 250\n"
                       "pen 9\nlinetype 3\ndraw 100 250\npolygon 8 400 100 500 100 450 200\n";

} // namespace

TEST_F(View, PreviewWritesTheJobAndItsPicture) {
    auto r = plot(drawing, false, " --preview '" + path("a.png") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(slurp(dir / "a.prn").empty());
    // E-arch, 48 x 36 inches: the long side 2000 pixels.
    EXPECT_EQ(png_size(slurp(dir / "a.png")), std::make_pair(2000, 1500));

    // kvrac view with the default name and a chosen resolution.
    r = run("view '" + path("a.prn") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(png_size(slurp(dir / "a.png")), std::make_pair(2000, 1500));
    r = run("view '" + path("a.prn") + "' --dpi 10 -o '" + path("small.png") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(png_size(slurp(dir / "small.png")), std::make_pair(480, 360));
}

TEST_F(View, SummarySaysWhatTheJobHolds) {
    ASSERT_EQ(plot(drawing, false, " --label 'Plan 7' --copies 3").status, 0);
    auto r = run("view --summary '" + path("a.prn") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("language:    HP-GL/2 + HP-RTL"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1219.2 x 914.4 mm"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("copies:      3"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("label:       Plan 7"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("PJL:         DEFAULT FINISHPROGID=BYPASS"), std::string::npos);
    EXPECT_NE(r.out.find("lines:       3"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("polygons:    1"), std::string::npos) << r.out;
    // Every pen draws with the black pen; the halftone polygon keeps its own.
    EXPECT_NE(r.out.find("pens used:   7 8"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("extent:      100.0..500.0 x 100.0..250.0 mm"), std::string::npos)
        << r.out;
    EXPECT_FALSE(fs::exists(dir / "a.png")); // --summary alone draws nothing

    ASSERT_EQ(plot(drawing, true).status, 0);
    r = run("view --summary '" + path("a.prn") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("language:    KTGL+MMR"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("lines:       3"), std::string::npos) << r.out;
    // The set-up's pen 7 draws until the pen selection picks the last black pen, 255.
    EXPECT_NE(r.out.find("pens used:   7 8 255"), std::string::npos) << r.out;
}

TEST_F(View, BadJobsAndBadUsage) {
    write_file(dir / "notes.txt", "shopping list\n");
    auto r = run("view '" + path("notes.txt") + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("not a job: no PJL or KTGL header at byte 0"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "notes.png"));

    ASSERT_EQ(plot(drawing).status, 0);
    std::string job = slurp(dir / "a.prn");
    write_file(dir / "cut.prn", job.substr(0, job.find("PE7<") + 6));
    r = run("view '" + path("cut.prn") + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("PE run cut at byte"), std::string::npos) << r.err;
    EXPECT_GT(png_size(slurp(dir / "cut.png")).first, 0); // what came before is drawn

    EXPECT_EQ(run("view").status, 2);
    EXPECT_EQ(run("view '" + path("a.prn") + "' --dpi 0").status, 2);
    EXPECT_EQ(run("view '" + path("a.prn") + "' --page 2").status, 2);
    EXPECT_EQ(run("view '" + path("a.prn") + "' -o '" + path("a.prn") + "'").status, 2);
    EXPECT_EQ(slurp(dir / "a.prn"), job);
    r = run("view --help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Usage: kvrac view JOB"), std::string::npos);
    EXPECT_NE(run("help").out.find("view "), std::string::npos);
    EXPECT_NE(run("help view").out.find("Usage: kvrac view JOB"), std::string::npos);
}

TEST_F(View, TakesTheCommonOptionsAnywhere) {
    ASSERT_EQ(plot(drawing).status, 0);
    // The global options may come before the command, as for every other command.
    auto r = run("--settings '" + store() + "' view --summary '" + path("a.prn") + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("language:"), std::string::npos) << r.out;
    r = run("--version view");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("kvrac ", 0), 0u) << r.out;
    r = run("view '" + path("a.prn") + "' --sumary");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("did you mean --summary?"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Try 'kvrac help view'."), std::string::npos) << r.err;
    r = run("view '" + path("a.prn") + "' '" + path("a.prn") + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("one job, not several"), std::string::npos) << r.err;
    EXPECT_EQ(run("view '" + path("a.prn") + "' --dpi").status, 2);
    // Plot-only options are not view's.
    r = run("view '" + path("a.prn") + "' --area 3x3");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("unknown option --area"), std::string::npos) << r.err;
}
