// The script reader's quick path for moves and draws, line by line and in runs, against
// its general parser: the same script read every way must give the same commands,
// errors and line numbers.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "drawing/script.h"

namespace fs = std::filesystem;

namespace {

constexpr double steps_per_inch = 1016.0;

// A scratch file holding `text`, removed with the object.
struct script_file {
    fs::path path;
    explicit script_file(const std::string& text, const std::string& name = "s.kvs") {
        path =
            fs::temp_directory_path() / ("kvrac-script-" + std::to_string(::getpid()) + "-" + name);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (!f) return;
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    ~script_file() { fs::remove(path); }
};

// One result of the reader as text: what it returned, at which line, and the command or
// the error.
std::string describe(int got, const script_reader& r, const script_command& c) {
    std::string s = std::to_string(got) + " @" + std::to_string(r.line_number) + " ";
    if (got == 2) return s + r.error;
    if (got != 1) return s;
    s += std::to_string(static_cast<int>(c.op));
    switch (c.op) {
    case script_op::move:
    case script_op::draw:
        return s + " " + std::to_string(c.x) + " " + std::to_string(c.y);
    case script_op::pen:
    case script_op::linetype:
    case script_op::linetypes:
        return s + " " + std::to_string(c.number);
    case script_op::width:
        return s + " " + std::to_string(c.width_inch);
    case script_op::polygon:
        s += " " + std::to_string(c.number);
        for (uint16_t v : c.points) s += " " + std::to_string(v);
        return s;
    default:
        return s;
    }
}

// How the file is read: line by line with the quick path, by the general parser
// alone, or as a caller plotting a drawing reads it (runs of moves and draws through
// script_points, each run stopped now and then by the caller, the rest by script_next),
// also with the word-at-a-time reader alone, as on a processor without vector reading.
enum class reading { quick, general, runs, runs_by_words };

// Every result of reading the file to its end, carrying on after bad lines (the reader
// has consumed a bad line when it reports it).
std::vector<std::string> read_all(const fs::path& path, reading how) {
    script_reader r{};
    std::vector<std::string> out;
    if (script_open(r, path.string(), steps_per_inch) != 0) return {"open: " + r.error};
    script_command cmd{};
    long taken = 0;
    for (int n = 0; n < 10000000; ++n) {
        r.error.clear();
        auto point = [&](bool draw, uint16_t x, uint16_t y) {
            cmd.op = draw ? script_op::draw : script_op::move;
            cmd.x = x;
            cmd.y = y;
            out.push_back(describe(1, r, cmd));
            return ++taken % 97 != 0;
        };
        if (how == reading::runs) script_points(r, point);
        if (how == reading::runs_by_words) script_quick::points_loop(r, point, quick_line);
        int got = how == reading::general ? script_next_general(r, cmd) : script_next(r, cmd);
        out.push_back(describe(got, r, cmd));
        if (got == 0) break;
    }
    script_close(r);
    return out;
}

void expect_same(const std::string& text, const std::string& name) {
    script_file f(text, name);
    std::vector<std::string> general = read_all(f.path, reading::general);
    for (reading how : {reading::quick, reading::runs, reading::runs_by_words}) {
        std::vector<std::string> quick = read_all(f.path, how);
        ASSERT_EQ(quick.size(), general.size()) << name;
        for (size_t i = 0; i < quick.size(); ++i)
            ASSERT_EQ(quick[i], general[i]) << name << " #" << i;
    }
}

// Random pieces of move and draw lines, well and badly formed.
struct line_maker {
    std::mt19937 rng;
    explicit line_maker(unsigned seed) : rng(seed) {}

    size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); }
    template <size_t N> const char* one(const char* const (&v)[N]) { return v[pick(N)]; }

    std::string number() {
        static const char* const forms[] = {
            "0",          "7",      "65535", "65536", "99999", "00042",      "000000000012",
            "0000000001", "123456", "+12",   "-0",    "-3",    "12.5",       "12.49",
            ".5",         "5.",     "1e3",   "x",     "",      "4294967308", "1,2"};
        if (pick(3) == 0) return std::to_string(pick(70000)); // a plain number
        return one(forms);
    }
    std::string blank() {
        // Spaces and tabs, and the other control bytes the parser also takes as blanks.
        static const std::string forms[] = {
            " ", " ", " ", "  ", "\t", " \t ", "\v", "\f", std::string(1, '\0')};
        return forms[pick(std::size(forms))];
    }
    std::string line() {
        static const char* const words[] = {"move",   "draw", "draw", "move",  " move",
                                            "\tdraw", "Move", "mov",  "drawx", "text"};
        static const char* const tails[] = {"",   "",        "",   " ", "\t",   "  ",
                                            "#c", " # note", " 9", "x", "\x01", ";"};
        static const char* const others[] = {"unit mm",
                                             "unit in",
                                             "unit plu",
                                             "unit plu",
                                             "pen 3",
                                             "lift",
                                             "",
                                             "# comment",
                                             "polygon 2 1 1 5 5 9 1",
                                             "width 0.35mm",
                                             "linetype 2",
                                             "unit cm"};
        if (pick(10) == 0) return one(others);
        return std::string(one(words)) + blank() + number() + blank() + number() + one(tails);
    }
    std::string end() {
        static const char* const ends[] = {"\n", "\n", "\n", "\n", "\r\n", "\r\n", "\r", "\n\r"};
        return one(ends);
    }
};

TEST(ScriptQuickPath, AgreesWithTheGeneralParserOnGeneratedLines) {
    for (unsigned seed = 1; seed <= 40; ++seed) {
        line_maker m(seed);
        std::string text;
        // Some files keep one kind of line end throughout, others mix them.
        const bool mixed = seed % 3 == 0;
        const std::string fixed_end = seed % 3 == 1 ? "\r\n" : "\n";
        for (int i = 0; i < 400; ++i) text += m.line() + (mixed ? m.end() : fixed_end);
        if (seed % 4 == 0) text += m.line(); // a last line without its end
        expect_same(text, "gen" + std::to_string(seed));
    }
}

TEST(ScriptQuickPath, AgreesAcrossReadBlocksAndAfterAByteOrderMark) {
    // More than two read blocks of mostly good lines, so that lines, and carriage return
    // and line feed pairs, are split at block ends in many places.
    line_maker m(99);
    std::string text = "\xEF\xBB\xBF"
                       "draw 5 6\n";
    while (text.size() < (5u << 19)) {
        if (m.pick(50) == 0)
            text += m.line() + m.end();
        else
            text += (m.pick(2) ? "move " : "draw ") + std::to_string(m.pick(65536)) + " " +
                    std::to_string(m.pick(65536)) + (m.pick(4) ? "\n" : "\r\n");
    }
    expect_same(text, "blocks");
}

TEST(ScriptQuickPath, ReadsWhatTheLinesSay) {
    // Checked by hand, not only against the general parser.
    script_file f("move 00012\t 7 \r\ndraw 65535 0\ndraw 65536 0\nmove 1 2 # here\n"
                  "unit in\ndraw 1 2\nunit plu\ndraw 3 4");
    script_reader r{};
    ASSERT_EQ(script_open(r, f.path.string(), steps_per_inch), 0);
    script_command c{};
    ASSERT_EQ(script_next(r, c), 1);
    EXPECT_EQ(c.op, script_op::move);
    EXPECT_EQ(c.x, 12);
    EXPECT_EQ(c.y, 7);
    EXPECT_EQ(r.line_number, 1);
    ASSERT_EQ(script_next(r, c), 1);
    EXPECT_EQ(c.op, script_op::draw);
    EXPECT_EQ(c.x, 65535);
    EXPECT_EQ(c.y, 0);
    ASSERT_EQ(script_next(r, c), 2);
    EXPECT_NE(r.error.find(":3: coordinate 65536 is outside the plot range 0..65535"),
              std::string::npos)
        << r.error;
    r.error.clear(); // read on past the bad line
    ASSERT_EQ(script_next(r, c), 1);
    EXPECT_EQ(c.op, script_op::move);
    EXPECT_EQ(c.x, 1);
    EXPECT_EQ(c.y, 2);
    ASSERT_EQ(script_next(r, c), 1); // in inches after `unit in`
    EXPECT_EQ(c.x, 1016);
    EXPECT_EQ(c.y, 2032);
    EXPECT_EQ(r.line_number, 6);
    ASSERT_EQ(script_next(r, c), 1); // the last line, without its line end
    EXPECT_EQ(c.x, 3);
    EXPECT_EQ(c.y, 4);
    EXPECT_EQ(r.line_number, 8);
    EXPECT_EQ(script_next(r, c), 0);
    script_close(r);
}

} // namespace

// A read that fails is reported with the system's reason, not taken for the end of the
// script, whether the file was read ahead (a regular file: /proc/self/mem, whose first
// page cannot be read) or not.
TEST(ScriptReader, AFailedReadIsAnErrorWithItsReason) {
    script_reader r{};
    ASSERT_EQ(script_open(r, "/proc/self/mem", steps_per_inch), 0);
    script_command c{};
    EXPECT_EQ(script_next(r, c), 2);
    EXPECT_NE(r.error.find("/proc/self/mem: read error: "), std::string::npos) << r.error;
    script_close(r);
}
