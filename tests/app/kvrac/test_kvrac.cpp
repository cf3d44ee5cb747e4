// The kvrac program end to end: its commands run as a user runs them.
#include <gtest/gtest.h>

#include "support/kvrac_runner.h"

namespace {

// The defaults as 40 stored bytes, written out from the record's definition.
const unsigned char default_store[40] = {
    1,    0,    0,   0,                 // copies 1
    1,    0,    0,   0,                 // media_format 1 (E-arch)
    0x8C, 1,    0,   0,                 // custom_length_mm 396
    0,    0,    0,   0,   0,   0, 0, 0, // media type, programme, margins, bin
    1,    0,    0,   0,                 // red_pen 1
    2,    0,                            // reserved_word 2
    0,    0,                            // margin_mm 0
    0x00, 0x10,                         // plot_flags: halftone fill
    0x00, 0x11,                // mode_flags: 600 dpi, paper rotated (E-arch is longer than wide)
    0,    0,                   // model_index 0
    0,    123,  187, 228, 255, // correction points
    0,                         // spare
};

TEST_F(Kvrac, ConfigCreatesTheStoreWithTheDefaultBytes) {
    auto r = run("config --settings '" + store() + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(store()), std::string(reinterpret_cast<const char*>(default_store), 40));
    EXPECT_EQ(r.err, "");

    // The default store path when neither option nor variable is given.
    r = run("config");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fs::file_size(dir / ".config/kvrac/settings.bin"), 40u);
    // The variable names the store too.
    r = run("show");
    EXPECT_EQ(r.status, 0);
    std::string cmd = "KVRAC_SETTINGS='" + (dir / "env.bin").string() + "' '" + KVRAC_BINARY +
                      "' config >/dev/null 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(fs::file_size(dir / "env.bin"), 40u);
}

TEST_F(Kvrac, ConfigKeepsAValidStoreAndResetRestoresTheDefaults) {
    unsigned char custom[40];
    std::copy(std::begin(default_store), std::end(default_store), custom);
    custom[0] = 3;  // copies
    custom[4] = 15; // A4
    custom[26] = 4; // margin
    custom[39] = 9; // spare byte kept as found
    { std::ofstream(store(), std::ios::binary).write(reinterpret_cast<char*>(custom), 40); }
    ASSERT_EQ(run("config --settings '" + store() + "'").status, 0);
    std::string kept = slurp(store());
    EXPECT_EQ(kept[0], 3);
    EXPECT_EQ(kept[4], 15);
    EXPECT_EQ(kept[26], 4);
    EXPECT_EQ(kept[39], 9);

    ASSERT_EQ(run("config --reset --settings '" + store() + "'").status, 0);
    std::string reset = slurp(store());
    EXPECT_EQ(reset.substr(0, 39), std::string(reinterpret_cast<const char*>(default_store), 39));
}

TEST_F(Kvrac, AnEmptyStoreIsReplacedOnlyBySuccessfulSave) {
    { std::ofstream(store(), std::ios::binary); }
    // No file may grow: writing the temporary file fails, and the store must stay.
    auto r = run("config --settings '" + store() + "'", "trap '' XFSZ; ulimit -f 0; ");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("\xC3\x89"
                         "chec de la sauvegarde"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(store()), std::string::npos) << r.err;
    EXPECT_EQ(fs::file_size(store()), 0u);
    r = run("config --settings '" + store() + "'");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(slurp(store()), std::string(reinterpret_cast<const char*>(default_store), 40));
    for (auto& e : fs::directory_iterator(dir)) // no temporary file left behind
        EXPECT_EQ(e.path().filename().string().find("s.bin."), std::string::npos);
}

// A --settings path that holds something else (a script named by mistake, a picture, a
// folder) is read as "nothing stored" but never replaced, whichever command would save.
TEST_F(Kvrac, AStoreOfAnotherSizeIsNeverOverwritten) {
    const std::string script = "move 0 0\ndraw 100 100\n# " + std::string(4000, 'x') + "\n";
    write_file(dir / "plan.kvs", script);
    write_file(dir / "short.bin", "short");
    const std::string plot = "plot '" + (dir / "plan.kvs").string() + "' -o '" +
                             (dir / "j.prn").string() + "' --settings ";
    for (const std::string& args : {"config --settings '" + (dir / "plan.kvs").string() + "'",
                                    plot + "'" + (dir / "plan.kvs").string() + "'",
                                    "config --settings '" + (dir / "short.bin").string() + "'"}) {
        auto r = run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("kvrac will not overwrite it"), std::string::npos) << r.err;
    }
    EXPECT_EQ(slurp(dir / "plan.kvs"), script);
    EXPECT_EQ(slurp(dir / "short.bin"), "short");
    EXPECT_FALSE(fs::exists(dir / "j.prn"));

    fs::create_directories(store());
    auto r = run("config --settings '" + store() + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("is a folder"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_directory(store()));
}

// Only the default store's folder is created; a named store needs its folder.
TEST_F(Kvrac, OnlyTheDefaultStoreFolderIsCreated) {
    auto r = run("config --settings '" + (dir / "no" / "such" / "s.bin").string() + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("the folder " + (dir / "no" / "such").string() + " of the settings store"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(dir / "no"));
    ASSERT_EQ(run("config").status, 0); // HOME is the scratch folder
    EXPECT_EQ(fs::file_size(dir / ".config" / "kvrac" / "settings.bin"), 40u);
}

// A symbolic link to the store is kept; the save replaces what it points at.
TEST_F(Kvrac, AStoreBehindALinkKeepsTheLink) {
    fs::create_directories(dir / "real");
    fs::create_symlink("real/s.bin", dir / "link.bin");
    ASSERT_EQ(run("config --settings '" + (dir / "link.bin").string() + "'").status, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "link.bin"));
    EXPECT_EQ(fs::file_size(dir / "real" / "s.bin"), 40u);
}

TEST_F(Kvrac, ShowSpellsOutTheStore) {
    auto r = run("show --settings '" + store() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no settings stored"), std::string::npos);
    ASSERT_EQ(run("config --settings '" + store() + "'").status, 0);
    r = run("show --settings '" + store() + "'");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("E-arch(36po)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("halftone fill"), std::string::npos);
    EXPECT_NE(r.out.find("600 dpi"), std::string::npos);
    EXPECT_NE(r.out.find("0,123,187,228,255"), std::string::npos);
    EXPECT_NE(r.out.find("Utiliser param. Prog."), std::string::npos);
}

TEST_F(Kvrac, FormatsListsEveryRow) {
    auto r = run("formats");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("15   A4"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("11.68 x 8.266 in (297 x 210 mm)"), std::string::npos);
    EXPECT_NE(r.out.find("33   Format perso. largeur A0"), std::string::npos);
    EXPECT_NE(r.out.find("default length 1189 mm"), std::string::npos);
    EXPECT_NE(r.out.find("41   Format perso. largeur Sp. A2 435mm"), std::string::npos);
    int lines = 0;
    for (char ch : r.out) lines += ch == '\n';
    EXPECT_EQ(lines, 42); // heading and 41 formats
}

TEST_F(Kvrac, HelpAndUsageErrors) {
    for (const char* args :
         {"--help", "help", "config --help", "show -h", "formats --help", "help config"}) {
        auto r = run(args);
        EXPECT_EQ(r.status, 0) << args;
        EXPECT_NE(r.out.find("Usage: kvrac"), std::string::npos) << args;
    }
    EXPECT_EQ(run("").status, 2);
    EXPECT_EQ(run("frobnicate").status, 2);
    EXPECT_EQ(run("config --bogus").status, 2);
    EXPECT_EQ(run("config --settings").status, 2);
    EXPECT_EQ(run("show extra").status, 2);
}

} // namespace
