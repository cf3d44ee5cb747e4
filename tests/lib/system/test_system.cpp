// The system helpers on their own: the signal cleanup of temporary files, writing a
// job's bytes behind, and the escaping of bytes a terminal would act on.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

#include "system/files.h"
#include "system/text.h"

namespace fs = std::filesystem;

namespace {

// In a child: guards `count` fresh files (forgetting the one at `forget`, if any), then
// raises `sig`. Returns the signal that ended the child, or -1.
int guarded_child(const fs::path& dir, int count, int forget, int sig) {
    pid_t pid = ::fork();
    if (pid == 0) {
        for (int i = 0; i < count; ++i) {
            const fs::path p = dir / ("t" + std::to_string(i));
            std::ofstream(p) << "partial";
            const int slot = cleanup_guard(p.string());
            if (slot < 0) ::_exit(3);
            if (i == forget) cleanup_forget(slot);
        }
        ::raise(sig);
        ::_exit(4); // the signal did not end the program
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
}

TEST(Cleanup, AStoppingSignalRemovesTheGuardedFilesOnlyAndStillEndsTheProgram) {
    const fs::path dir =
        fs::temp_directory_path() / ("kvrac-cleanup-" + std::to_string(::getpid()));
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        EXPECT_EQ(guarded_child(dir, 3, 1, sig), sig);
        EXPECT_FALSE(fs::exists(dir / "t0"));
        EXPECT_TRUE(fs::exists(dir / "t1")); // forgotten: renamed into place, say
        EXPECT_FALSE(fs::exists(dir / "t2"));
    }
    fs::remove_all(dir);
}

// Asking for the bytes to be written behind, between writes, changes nothing of what
// lands: in a job file (bytes still in the stream's buffer among them) and in a pipe,
// where the system cannot do it.
TEST(Output, WritingBehindKeepsEveryByteInFilesAndPipes) {
    const fs::path path =
        fs::temp_directory_path() / ("kvrac-behind-" + std::to_string(::getpid()));
    std::string why;
    output_file out;
    ASSERT_EQ(output_open(path.string(), out, &why), 0) << why;
    std::string expected;
    for (int i = 0; i < 3; ++i) {
        const std::string piece(100000 + i, static_cast<char>('a' + i));
        ASSERT_EQ(std::fwrite(piece.data(), 1, piece.size(), out.stream), piece.size());
        output_write_behind(out.stream);
        expected += piece;
    }
    ASSERT_EQ(output_commit(out, &why), 0) << why;
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), expected);
    fs::remove(path);

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::FILE* w = ::fdopen(fds[1], "wb");
    ASSERT_NE(w, nullptr);
    std::fputs("first ", w);
    output_write_behind(w);
    std::fputs("second", w);
    EXPECT_EQ(std::fflush(w), 0);
    EXPECT_EQ(std::ferror(w), 0);
    std::fclose(w);
    char got[32] = {};
    EXPECT_EQ(::read(fds[0], got, sizeof got - 1), 12);
    EXPECT_STREQ(got, "first second");
    ::close(fds[0]);
}

TEST(Text, PrintableTextEscapesWhatATerminalWouldActOn) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"move 1 2", "move 1 2"},
        {"a\x1B[2Jb", "a\\x1B[2Jb"}, // an escape sequence
        {std::string("n\0l\x7F", 4), "n\\x00l\\x7F"},
        {"d\xC3\xA9j\xC3\xA0 \xE2\x82\xAC \xF0\x9F\x96\x8A",
         "d\xC3\xA9j\xC3\xA0 \xE2\x82\xAC \xF0\x9F\x96\x8A"},
        {"caf\xE9", "caf\\xE9"}, // Latin-1, not UTF-8
        {"\xC2\x9B"
         "1m",
         "\\xC2\\x9B1m"},                             // C1 control sequence introducer
        {"\xC0\xAF", "\\xC0\\xAF"},                   // overlong '/'
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"},          // a surrogate
        {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"}, // past U+10FFFF
        {"\xE2\x82", "\\xE2\\x82"},                   // cut short
        {"back\\slash", "back\\slash"},
    };
    for (const auto& c : cases) EXPECT_EQ(printable_text(c.in), c.out) << c.out;
}

} // namespace
