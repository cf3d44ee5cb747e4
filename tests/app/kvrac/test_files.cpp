// What kvrac plot does to the files the user names: devices, FIFOs and standard output
// are written straight through, links are kept, a temporary file is never a fixed name
// and never outlives a failure or a stopping signal.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>

#include "support/kvrac_runner.h"

namespace {

const std::string trailer = ";PUSP0;PG;\x1B%-12345X\r\n";

bool whole_job(const std::string& job) {
    return job.rfind("\x1B%-12345X@PJL", 0) == 0 && job.size() > trailer.size() &&
           job.compare(job.size() - trailer.size(), trailer.size(), trailer) == 0;
}

class Files : public Kvrac {
  protected:
    void SetUp() override {
        Kvrac::SetUp();
        write_file(dir / "a.kvs", "move 0 0\ndraw 100 100\n");
        ASSERT_EQ(run("config" + s()).status, 0);
    }
    std::string s() { return " --settings '" + store() + "'"; }
    run_result plot_to(const std::string& out, const std::string& prefix = "") {
        return run("plot '" + (dir / "a.kvs").string() + "' -o '" + out + "'" + s(), prefix);
    }
    // A plot to j.prn (holding "old job") stopped by the file-size limit: reported with
    // the job's name and the system's reason, the old job kept, nothing left beside it.
    void expect_limit_reported(const run_result& r) {
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("cannot write " + (dir / "j.prn").string() + ": File too large"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(slurp(dir / "j.prn"), "old job");
        EXPECT_TRUE(leftovers("j.prn").empty());
    }
    // The names in the scratch folder beginning with `stem` other than `stem` itself.
    std::vector<std::string> leftovers(const std::string& stem) {
        std::vector<std::string> found;
        for (auto& e : fs::directory_iterator(dir)) {
            std::string name = e.path().filename().string();
            if (name != stem && name.rfind(stem, 0) == 0) found.push_back(name);
        }
        return found;
    }
};

TEST_F(Files, DevicesFifosAndStandardOutputAreWrittenStraightThrough) {
    // A null device and a full device of our own, never the system's.
    ASSERT_EQ(::mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    ASSERT_EQ(::mknod((dir / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
    auto r = plot_to((dir / "null").string());
    EXPECT_EQ(r.status, 0) << r.err;
    struct stat st;
    ASSERT_EQ(::lstat((dir / "null").c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    // A device that refuses the bytes: the file and the system's reason are named.
    r = plot_to((dir / "full").string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find((dir / "full").string() + ": No space left on device"), std::string::npos)
        << r.err;
    ASSERT_EQ(::lstat((dir / "full").c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    // A FIFO: a reader gets the whole job, and the FIFO stays.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0666), 0);
    std::string got;
    std::thread reader([&] { got = slurp(dir / "fifo"); });
    r = plot_to((dir / "fifo").string());
    // Should kvrac never have opened the FIFO, an empty writer ends the reader's wait.
    if (int fd = ::open((dir / "fifo").c_str(), O_WRONLY | O_NONBLOCK); fd >= 0) ::close(fd);
    reader.join();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(whole_job(got));
    ASSERT_EQ(::lstat((dir / "fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    // /dev/stdout is kvrac's own standard output, whatever that is (a file here).
    r = plot_to("/dev/stdout");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(whole_job(r.out));
    EXPECT_TRUE(leftovers("null").empty() && leftovers("fifo").empty());
}

TEST_F(Files, ALinkIsKeptAndItsTargetReplacedWhole) {
    fs::create_directories(dir / "jobs");
    write_file(dir / "jobs" / "plan.prn", "old job");
    fs::permissions(dir / "jobs" / "plan.prn", fs::perms(0640));
    const bool root = ::geteuid() == 0; // then the job can be given to another owner
    if (root) {
        ASSERT_EQ(::chown((dir / "jobs" / "plan.prn").c_str(), 65534, 65534), 0);
    }
    fs::create_symlink("jobs/plan.prn", dir / "link.prn");
    auto r = plot_to((dir / "link.prn").string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir / "link.prn"));
    EXPECT_TRUE(whole_job(slurp(dir / "jobs" / "plan.prn")));
    EXPECT_EQ(fs::status(dir / "jobs" / "plan.prn").permissions(), fs::perms(0640));
    struct stat st;
    ASSERT_EQ(::stat((dir / "jobs" / "plan.prn").c_str(), &st), 0);
    if (root) {
        EXPECT_EQ(st.st_uid, 65534u);
    }

    // A link to a file not there yet: the file is made where the link points.
    fs::create_symlink("jobs/new.prn", dir / "dangling.prn");
    ASSERT_EQ(plot_to((dir / "dangling.prn").string()).status, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.prn"));
    EXPECT_TRUE(whole_job(slurp(dir / "jobs" / "new.prn")));

    // A loop of links is refused, and nothing replaces the links.
    fs::create_symlink("loop2.prn", dir / "loop1.prn");
    fs::create_symlink("loop1.prn", dir / "loop2.prn");
    r = plot_to((dir / "loop1.prn").string());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("symbolic links"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir / "loop1.prn"));
}

TEST_F(Files, AFileNamedLikeAnOldTemporaryFileIsNeverTouched) {
    // A link planted where a fixed temporary name would be, pointing at a victim.
    write_file(dir / "victim", "precious");
    fs::create_symlink("victim", dir / "j.prn.tmp");
    ASSERT_EQ(plot_to((dir / "j.prn").string()).status, 0);
    write_file(dir / "bad.kvs", "frobnicate\n");
    auto r = run("plot '" + (dir / "bad.kvs").string() + "' -o '" + (dir / "j.prn").string() + "'" +
                 s());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(slurp(dir / "victim"), "precious");
    EXPECT_TRUE(whole_job(slurp(dir / "j.prn")));
    EXPECT_EQ(leftovers("j.prn"), std::vector<std::string>{"j.prn.tmp"});
}

TEST_F(Files, TwoPlotsToOneNameLeaveOneWholeJob) {
    // Two scripts long enough for the plots to overlap, each giving a different job.
    std::string a, b;
    for (int i = 0; i < 1500000; ++i) {
        a += "draw " + std::to_string(i % 1000) + " 7\n";
        b += "draw 9 " + std::to_string(i % 900) + "\n";
    }
    write_file(dir / "a.kvs", a);
    write_file(dir / "b.kvs", b);
    const std::string bin = std::string(KVRAC_BINARY);
    auto plot = [&](const char* script, const std::string& out) {
        return "'" + bin + "' plot '" + (dir / script).string() + "' -o '" + out + "'" + s();
    };
    ASSERT_EQ(std::system((plot("a.kvs", (dir / "ja").string()) + " 2>/dev/null").c_str()), 0);
    ASSERT_EQ(std::system((plot("b.kvs", (dir / "jb").string()) + " 2>/dev/null").c_str()), 0);
    const std::string job_a = slurp(dir / "ja"), job_b = slurp(dir / "jb");
    ASSERT_NE(job_a, job_b);
    const std::string out = (dir / "j.prn").string();
    for (int round = 0; round < 4; ++round) {
        const std::string both =
            "(" + plot("a.kvs", out) + " & " + plot("b.kvs", out) + " & wait) 2>/dev/null";
        ASSERT_EQ(std::system(both.c_str()), 0);
        const std::string job = slurp(out);
        EXPECT_TRUE(job == job_a || job == job_b) << "round " << round << ": " << job.size();
        EXPECT_TRUE(leftovers("j.prn").empty());
    }
}

// Runs kvrac plot reading its script from a pipe the test holds, stops it with `sig`
// once its job's temporary file exists, and returns how it ended.
int stopped_plot(const fs::path& dir, const std::string& store, int sig) {
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) return -1;
    const std::string out = (dir / "j.prn").string();
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipe_fds[0], 0);
        ::close(pipe_fds[0]);
        ::close(pipe_fds[1]);
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGTERM, SIG_DFL);
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        ::execl(KVRAC_BINARY, "kvrac", "plot", "-", "-o", out.c_str(), "--settings", store.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipe_fds[0]);
    std::string lines;
    for (int i = 0; i < 20000; ++i) lines += "draw " + std::to_string(i % 5000) + " 3\n";
    if (::write(pipe_fds[1], lines.data(), lines.size()) != static_cast<ssize_t>(lines.size()))
        return -1;
    // The script is still open: kvrac waits for more with its temporary file open.
    bool seen = false;
    for (int tries = 0; tries < 5000 && !seen; ++tries) {
        for (auto& e : fs::directory_iterator(dir))
            seen = seen || e.path().filename().string().rfind("j.prn.", 0) == 0;
        if (!seen) ::usleep(2000);
    }
    ::kill(pid, sig);
    ::close(pipe_fds[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return seen && WIFSIGNALED(status) ? WTERMSIG(status) : -1;
}

TEST_F(Files, AStoppedPlotLeavesNoTemporaryFile) {
    write_file(dir / "j.prn", "old job");
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        EXPECT_EQ(stopped_plot(dir, store(), sig), sig);
        EXPECT_TRUE(leftovers("j.prn").empty()) << strsignal(sig);
        EXPECT_EQ(slurp(dir / "j.prn"), "old job");
    }
}

TEST_F(Files, AFileSizeLimitIsReportedAndCleanedUp) {
    write_file(dir / "j.prn", "old job");
    std::string big;
    for (int i = 0; i < 40000; ++i) big += "draw " + std::to_string(i % 3000) + " 5\n";
    write_file(dir / "a.kvs", big);
    expect_limit_reported(plot_to((dir / "j.prn").string(), "ulimit -f 100; "));
}

// A drawing's job goes through the same output as a script's: what the tests above
// check for scripts, in brief, for a plot file and a DXF file.
TEST_F(Files, DrawingsGetTheSameSafeOutput) {
    write_file(dir / "p.plt", "IN;SP1;PU0,0;PD1000,1000;PU;\n");
    auto plot_drawing = [&](const std::string& drawing, const std::string& out,
                            const std::string& prefix = "") {
        return run("plot '" + (dir / drawing).string() + "' -o '" + out + "'" + s(), prefix);
    };

    // A link is kept and its target replaced; a link where a fixed temporary name would
    // be is left alone.
    fs::create_directories(dir / "jobs");
    write_file(dir / "jobs" / "plan.prn", "old job");
    fs::create_symlink("jobs/plan.prn", dir / "link.prn");
    write_file(dir / "victim", "precious");
    fs::create_symlink("victim", dir / "link.prn.tmp");
    auto r = plot_drawing("p.plt", (dir / "link.prn").string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir / "link.prn"));
    EXPECT_TRUE(whole_job(slurp(dir / "jobs" / "plan.prn")));
    EXPECT_EQ(slurp(dir / "victim"), "precious");

    // A device and a FIFO are written straight and stay what they are; a device that
    // refuses the bytes is named with the system's reason.
    ASSERT_EQ(::mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    ASSERT_EQ(::mknod((dir / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
    EXPECT_EQ(plot_drawing("p.plt", (dir / "null").string()).status, 0);
    r = plot_drawing("p.plt", (dir / "full").string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find((dir / "full").string() + ": No space left on device"), std::string::npos)
        << r.err;
    struct stat st;
    ASSERT_EQ(::lstat((dir / "full").c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0666), 0);
    std::string got;
    std::thread reader([&] { got = slurp(dir / "fifo"); });
    r = plot_drawing("p.plt", (dir / "fifo").string());
    if (int fd = ::open((dir / "fifo").c_str(), O_WRONLY | O_NONBLOCK); fd >= 0) ::close(fd);
    reader.join();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(whole_job(got));
    EXPECT_TRUE(leftovers("null").empty() && leftovers("fifo").empty() &&
                leftovers("full").empty());

    // A write beyond the file-size limit: reported with the job's name, old job kept.
    std::string big = "IN;SP1;PU0,0;PD";
    for (int i = 0; i < 60000; ++i)
        big += std::to_string(i % 3000) + "," + std::to_string(i % 7) + ",";
    big += "0,0;\n";
    write_file(dir / "big.plt", big);
    write_file(dir / "j.prn", "old job");
    expect_limit_reported(plot_drawing("big.plt", (dir / "j.prn").string(), "ulimit -f 100; "));

    // A drawing with nothing to plot leaves no empty job, and an older one as it was.
    write_file(dir / "empty.plt", "IN;\n");
    r = plot_drawing("empty.plt", (dir / "j.prn").string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("nothing plotted: no job written"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(dir / "j.prn"), "old job");
    EXPECT_TRUE(leftovers("j.prn").empty());
    r = plot_drawing("empty.plt", (dir / "new.prn").string());
    EXPECT_FALSE(fs::exists(dir / "new.prn"));

    // --area is checked as for scripts.
    r = run("plot '" + (dir / "p.plt").string() + "' -o '" + (dir / "j.prn").string() +
            "' --area 0.0001x0.0001" + s());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("smaller than one plotter unit"), std::string::npos) << r.err;

#if KVRAC_HAVE_DXF
    // A DXF that fails once its job is open (a block inserting itself is found while
    // the drawing is read): no temporary file, the old job untouched.
    write_file(dir / "self.dxf",
               "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n8\n0\n2\nA\n70\n0\n10\n0\n20\n0\n"
               "0\nINSERT\n8\n0\n2\nA\n10\n0\n20\n0\n0\nENDBLK\n8\n0\n0\nENDSEC\n"
               "0\nSECTION\n2\nENTITIES\n0\nINSERT\n8\n0\n2\nA\n10\n0\n20\n0\n0\nENDSEC\n"
               "0\nEOF\n");
    r = plot_drawing("self.dxf", (dir / "j.prn").string());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("inserts itself"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(dir / "j.prn"), "old job");
    EXPECT_TRUE(leftovers("j.prn").empty());
#endif
}

} // namespace
