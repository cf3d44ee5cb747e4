// Runs the kvrac program as a user does, in a scratch folder per test.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;


struct run_result {
    int status;
    std::string out;
    std::string err;
};

inline std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class Kvrac : public ::testing::Test {
  protected:
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("kvrac-test-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs kvrac with args. prefix is shell text run first in kvrac's own shell (for
    // example a limit); standard error then passes through a pipe, so the limit does not
    // touch the file that collects it.
    run_result run(const std::string& args, const std::string& prefix = "") {
        fs::path out = dir / "stdout", err = dir / "stderr";
        std::string env = "env -u KVRAC_SETTINGS HOME='" + dir.string() + "' XDG_CONFIG_HOME= '" +
                          KVRAC_BINARY + "' " + args;
        std::string cmd = prefix.empty()
                              ? env + " >'" + out.string() + "' 2>'" + err.string() + "' </dev/null"
                              : "(" + prefix + env +
                                    " 2>&1 >/dev/null </dev/null; echo \"exit=$?\") | cat >'" +
                                    err.string() + "'";
        int raw = std::system(cmd.c_str());
        run_result r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
        if (size_t at = r.err.rfind("exit="); !prefix.empty() && at != std::string::npos) {
            r.status = std::atoi(r.err.c_str() + at + 5);
            r.err.erase(at);
        }
        return r;
    }
    std::string store() const { return (dir / "s.bin").string(); }
};

inline void write_file(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}
