// Bad or unusual input to kvrac: every case gets a clear word, never silence, and
// harmless differences in how a script was saved make no difference to the job.
#include <gtest/gtest.h>

#include "support/kvrac_runner.h"

namespace {

class Input : public Kvrac {
  protected:
    std::string s() { return " --settings '" + store() + "'"; }
    run_result plot(const std::string& script, const std::string& extra = "") {
        write_file(dir / "a.kvs", script);
        return run("plot '" + (dir / "a.kvs").string() + "'" + s() + extra);
    }
    // The job of a script, or "" when the plot failed.
    std::string job_of(const std::string& script) {
        fs::remove(dir / "a.prn");
        return plot(script).status == 0 ? slurp(dir / "a.prn") : "";
    }
};

TEST_F(Input, LineEndsAndAByteOrderMarkMakeNoDifference) {
    const std::string lf = "unit mm\nmove 10 10\ndraw 20.5 10\n# note\ndraw 20 30\n";
    const std::string job = job_of(lf);
    ASSERT_FALSE(job.empty());
    auto with_ends = [&](const std::string& end) {
        std::string t;
        for (char c : lf) t += c == '\n' ? end : std::string(1, c);
        return t;
    };
    EXPECT_EQ(job_of(with_ends("\r\n")), job);
    EXPECT_EQ(job_of(with_ends("\r")), job);
    EXPECT_EQ(job_of("\xEF\xBB\xBF" + with_ends("\r\n")), job);
    EXPECT_EQ(job_of("\xEF\xBB\xBF" + lf), job);
    // Mixed line ends, and a last line without its end.
    EXPECT_EQ(job_of("unit mm\rmove 10 10\r\ndraw 20.5 10\n# note\rdraw 20 30"), job);

    // A line end split across the reader's 1 MiB blocks: the carriage return is the
    // last byte of the first block, its line feed (or the next line) the first of the
    // second.
    const size_t block = 1 << 20;
    const std::string pad = "#" + std::string(block - 2, 'x');
    const std::string body = "unit mm\r\nmove 10 10\r\ndraw 20.5 10\r\ndraw 20 30\r\n";
    EXPECT_EQ(job_of(pad + "\r\n" + body), job);
    EXPECT_EQ(job_of(pad + "\r" + "unit mm\rmove 10 10\rdraw 20.5 10\rdraw 20 30\r"), job);
    // ... and the split line end counts once.
    auto r = plot(pad + "\r\nmove 1\r\n");
    EXPECT_NE(r.err.find("a.kvs:2: move needs 2 operands"), std::string::npos) << r.err;
}

TEST_F(Input, MessagesShowUnprintableBytesEscaped) {
    auto r = plot("move 0 0\nmov\xE9 1 2\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("a.kvs:2: unknown command 'mov\\xE9'"), std::string::npos) << r.err;
    r = plot("move 0 0\ndraw 1 \xC2\x9B"
             "5\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("not a number: '\\xC2\\x9B5'"), std::string::npos) << r.err;
    // Well-formed UTF-8 is shown as it is.
    r = plot("d\xC3\xA9placer 1 2\n");
    EXPECT_NE(r.err.find("unknown command 'd\xC3\xA9placer'"), std::string::npos) << r.err;
}

TEST_F(Input, ADamagedPngDocumentIsNamedAndWritesNoJob) {
    // A PNG is plotted as a document; one cut short after its signature is refused.
    write_file(dir / "photo.png", std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16));
    auto r = run("plot '" + (dir / "photo.png").string() + "'" + s());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find((dir / "photo.png").string() + ": file ends early"), std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(dir / "photo.prn"));
}

TEST_F(Input, AScriptThatDrawsNothingWarnsAndWritesNoJob) {
    write_file(dir / "a.prn", "old job");
    auto r = plot("# only set-up\nunit mm\npen 3\nmove 10 10\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("warning: " + (dir / "a.kvs").string() + " draws nothing"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(slurp(dir / "a.prn"), "old job");
    for (auto& e : fs::directory_iterator(dir))
        EXPECT_EQ(e.path().filename().string().find("a.prn."), std::string::npos);
}

TEST_F(Input, ADrawingBeyondTheAreaWarnsHowFar) {
    // A 10 x 5 in area at 1016 units an inch ends at (10160, 5080).
    auto r = plot("move 0 0\ndraw 10160 5080\ndraw 12192 100\npolygon 7 0 0 100 6096 5 5\n",
                  " --area 10x5");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("warning: " + (dir / "a.kvs").string() +
                         ": 2 commands reach beyond the 10x5 in plot area (as far as 12x6 in)"),
              std::string::npos)
        << r.err;
    r = plot("move 0 0\ndraw 10160 5080\n", " --area 10x5");
    EXPECT_EQ(r.err, "");
}

TEST_F(Input, WidthsTakeTheirOwnUnitOrTheScripts) {
    // Widths are written in millimetres with three decimals.
    const struct {
        const char* script;
        const char* width;
    } cases[] = {
        {"unit mm\nwidth 0.5\n", "PW0.500"},   {"unit mm\nwidth 0.02in\n", "PW0.508"},
        {"unit in\nwidth 0.02\n", "PW0.508"},  {"unit in\nwidth 0.35mm\n", "PW0.350"},
        {"unit plu\nwidth 0.02\n", "PW0.508"}, {"width 0.25mm\n", "PW0.250"},
    };
    for (const auto& c : cases) {
        const std::string job = job_of(std::string(c.script) + "move 0 0\ndraw 5 5\n");
        EXPECT_NE(job.find(c.width), std::string::npos) << c.script;
    }
    auto r = plot("width 0.5cm\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("not a width: '0.5cm' (a number, in mm or in"), std::string::npos);
}

TEST_F(Input, CancelAndTinyAreasAreExplained) {
    auto r = plot("move 0 0\ndraw 1 1\ncancel\ndraw 2 2\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("a.kvs:3: the plot was cancelled"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "a.prn"));

    r = plot("move 0 0\ndraw 1 1\n", " --area 0.0001x0.0001");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("smaller than one plotter unit"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "a.prn"));
    EXPECT_EQ(plot("move 0 0\ndraw 1 1\n", " --area 0.001x1").status, 0); // 1.016 units
}

TEST_F(Input, CommandLineSlipsGetHelpfulAnswers) {
    auto r = run("--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "kvrac 3.0.0\n");
    EXPECT_EQ(run("plot -V").out, "kvrac 3.0.0\n");

    r = run("plot a.kvs --fromat A4" + s());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "kvrac: unknown option --fromat (did you mean --format?)\n"
                     "Try 'kvrac help plot'.\n");
    r = run("config --resett" + s());
    EXPECT_EQ(r.err, "kvrac: unknown option --resett (did you mean --reset?)\n"
                     "Try 'kvrac help config'.\n");
    r = run("config --zzz" + s());
    EXPECT_EQ(r.err, "kvrac: unknown option --zzz\nTry 'kvrac help config'.\n");
    r = run("shwo");
    EXPECT_EQ(r.err, "kvrac: no such command: shwo (did you mean show?)\nTry 'kvrac --help'.\n");
    r = run("pl\x1B[2Jot");
    EXPECT_EQ(r.err, "kvrac: no such command: pl\\x1B[2Jot\nTry 'kvrac --help'.\n");
    r = run("config --fill dots" + s());
    EXPECT_EQ(r.err, "kvrac: --fill takes solid or halftone, not 'dots'\n"
                     "Try 'kvrac help config'.\n");

    // Option words in any letter case give the same settings.
    ASSERT_EQ(
        run("config --fill solid --media film --manual-feed no --program manual" + s()).status, 0);
    const std::string lower = slurp(store());
    fs::remove(store());
    r = run("config --fill Solid --media FILM --manual-feed No --program MANUAL" + s());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(store()), lower);
}

} // namespace
