// kvrac config and kvrac plot with dialog options, about and curve, end to end.
#include <gtest/gtest.h>

#include <vector>

#ifdef KVRAC_HAVE_PNG
#include <png.h>
#endif

#include "support/kvrac_runner.h"

namespace {

std::string bytes(std::initializer_list<int> b) {
    std::string s;
    for (int v : b) s += static_cast<char>(v);
    return s;
}

class ConfigOptions : public Kvrac {
  protected:
    std::string s() const { return " --settings '" + store() + "'"; }
};

TEST_F(ConfigOptions, OptionsBecomeTheStoredRecord) {
    auto r = run("config" + s() +
                 " --media Film --format A4 --copies 3 --margin 5 --fill solid --resolution 300"
                 " --program 3 --finisher-margins off --bin 2 --manual-feed yes --gamma 2");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(slurp(store()), bytes({
                                  3,    0,    0,   0,   // copies 3
                                  15,   0,    0,   0,   // A4
                                  0x8C, 1,    0,   0,   // custom length 396, untouched
                                  1,    0,              // Film
                                  3,    0,              // Programme 3
                                  1,    0,              // "Toujours desactive"
                                  3,    0,              // "Bac 2" is row 3
                                  1,    0,    0,   0,   // red pen 1
                                  2,    0,              // reserved word
                                  5,    0,              // margin 5 mm
                                  0,    0,              // solid fill
                                  0x80, 0x14,           // 300 dpi, manual feed, A4 rotated
                                  0,    0,              // model 0
                                  0,    131,  197, 236, // two Gamma steps: +4, +5, +4
                                  255,  0,
                              }));

    // A custom format with its length, a dragged curve, then three Teinte steps down.
    r = run("config" + s() +
            " --format 'format perso. largeur a0' --length 3000 --curve 10,60,140,200,240"
            " --tint -3");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string rec = slurp(store());
    EXPECT_EQ(rec.substr(4, 8), bytes({33, 0, 0, 0, 0xB8, 0x0B, 0, 0}));
    EXPECT_EQ(rec.substr(30, 2), bytes({0x80, 0x14})); // still 300 dpi, manual feed, rotated
    EXPECT_EQ(rec.substr(34, 5), bytes({7, 57, 137, 197, 237}));

    // Dragging reaches any rising curve from any other, and the reset comes first.
    for (const char* curve : {"0,5,10,15,20", "235,240,245,250,255", "0,64,128,192,255"}) {
        r = run("config" + s() + " --curve-defaults --curve " + curve);
        ASSERT_EQ(r.status, 0) << r.err;
        int v[5];
        ASSERT_EQ(std::sscanf(curve, "%d,%d,%d,%d,%d", &v[0], &v[1], &v[2], &v[3], &v[4]), 5);
        EXPECT_EQ(slurp(store()).substr(34, 5), bytes({v[0], v[1], v[2], v[3], v[4]})) << curve;
    }
    r = run("config" + s() + " --curve-defaults");
    EXPECT_EQ(slurp(store()).substr(34, 5), bytes({0, 123, 187, 228, 255}));
}

TEST_F(ConfigOptions, RefusedValuesLeaveTheStoreAsItWas) {
    // Nothing stored: a refusal stores nothing either.
    auto r = run("config" + s() + " --copies 0");
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(fs::exists(store()));

    ASSERT_EQ(run("config" + s() + " --copies 4 --margin 2").status, 0);
    const std::string before = slurp(store());
    const struct {
        const char* options;
        const char* says;
    } refused[] = {
        {"--margin 11", "D\xC3\xA9"
                        "finir la marge dans la plage de 0 \xC3\xA0 10."},
        {"--format 33 --length 15001", "Longueur du format personnalis\xC3\xA9: D\xC3\xA9"
                                       "finir la longueur \xC3\xA0 15000 ou moins."},
        {"--length 100", "custom-length format"},
        {"--red-pen yes", "does not offer red-pen printing"},
        {"--red-pen-number 3", "does not offer red-pen printing"},
        {"--language ktgl", "does not offer a choice of output language"},
        {"--program manual --bin 4", "only with a programme"},
        {"--gamma 8", "--gamma 8 (step 8 of 8)"},
        {"--saturation 1", "cannot go further"},
        {"--copies 5 --resolution 300 --tint 1", "--tint 1 (step 1 of 1)"},
    };
    for (const auto& c : refused) {
        r = run("config" + s() + " " + c.options);
        EXPECT_EQ(r.status, 2) << c.options;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.options << ": " << r.err;
        EXPECT_EQ(slurp(store()), before) << c.options;
    }
    // A copy count outside 1..99 gets one reason, however it is outside.
    for (const char* copies : {"0", "100", "-1", "1.5"}) {
        r = run("config" + s() + " --copies " + copies);
        EXPECT_EQ(r.status, 2) << copies;
        EXPECT_NE(r.err.find(std::string("--copies takes a whole number 1..99, not '") + copies +
                             "'\nTry 'kvrac help config'."),
                  std::string::npos)
            << r.err;
    }
    // Values the options themselves do not take never reach the dialog.
    for (const char* bad :
         {"--media Paper", "--format A7", "--fill dots", "--curve 0,3,9,20,30",
          "--curve 0,10,20,30", "--bin 14", "--program 21", "--label X", "--gamma", "--length 0"}) {
        r = run("config" + s() + " " + bad);
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_EQ(slurp(store()), before) << bad;
    }
}

class PlotOptions : public ConfigOptions {
  protected:
    void SetUp() override {
        ConfigOptions::SetUp();
        write_file(dir / "a.kvs", "move 0 0\ndraw 100 100\n");
    }
    std::string plot(const std::string& options) {
        return "plot '" + (dir / "a.kvs").string() + "' -o '" + (dir / "a.prn").string() + "'" +
               s() + " " + options;
    }
    std::string job() const { return slurp(dir / "a.prn"); }
};

TEST_F(PlotOptions, LabelIsTypedAndTheDialogCancelled) {
    // A stored KTGL+MMR record (E-arch, rotated, 400 dpi) is no choice of this model's
    // dialog, yet "Annuler" keeps it exactly.
    std::string ktgl =
        bytes({1, 0, 0, 0, 1, 0, 0, 0, 0x8C, 1,    0,    0,    0, 0, 0, 0,   0,   0,   0,   0,
               1, 0, 0, 0, 2, 0, 0, 0, 0,    0x10, 0x40, 0x12, 0, 0, 0, 123, 187, 228, 255, 0});
    write_file(store(), ktgl);
    auto r = run(plot("--label 'Plan A-1, rev. 2'"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(store()), ktgl);
    EXPECT_NE(job().find("Plan A-1, rev. 2"), std::string::npos); // in the KTGL label record

    ASSERT_EQ(run("config --reset" + s()).status, 0);
    const std::string defaults = slurp(store());
    r = run(plot("--label 'Plan A-1'"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(job().find("BP1,\"Plan A-1\",2,1;IN;"), std::string::npos);
    EXPECT_EQ(slurp(store()), defaults);

    // A quote would end the quoted label early; an accent is no ASCII: both refused,
    // with the dialog's warning, and no job.
    fs::remove(dir / "a.prn");
    for (const char* label : {"'say \"A\"'", "'\xC3\x89tage 2'"}) {
        r = run(plot(std::string("--label ") + label));
        EXPECT_EQ(r.status, 2) << label;
        EXPECT_NE(r.err.find("\xC3\x89tiquette: Entrer un message seulement en caract\xC3\xA8res "
                             "alphanum\xC3\xA9riques ASCII."),
                  std::string::npos)
            << r.err;
        EXPECT_FALSE(fs::exists(dir / "a.prn"));
    }
}

TEST_F(PlotOptions, OtherOptionsAreAppliedWithOkAndStored) {
    auto r = run(plot("--copies 2 --fill solid --label X"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(job().find("BP1,\"X\",2,2;IN;"), std::string::npos);
    const std::string rec = slurp(store());
    EXPECT_EQ(rec[0], 2);
    EXPECT_EQ(rec.substr(28, 2), bytes({0, 0})); // solid fill

    r = run(plot("--copies 0"));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(slurp(store()), rec);
}

TEST_F(ConfigOptions, AboutAndCurveLookWithoutSaving) {
    auto r = run("about" + s());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Au sujet du pilote\nOrvix 9270/9250 Wide Format [Ver. 3.0.0] ADI 4.3\n");
    EXPECT_FALSE(fs::exists(store()));

    ASSERT_EQ(run("config" + s() + " --curve 10,60,140,200,240").status, 0);
    const std::string before = slurp(store());
    const std::string png = (dir / "c.png").string();
    r = run("curve" + s() + " --png '" + png + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "input  output\n"
                     "    0      10\n"
                     "   64      60\n"
                     "  128     140\n"
                     "  192     200\n"
                     "  255     240\n");
    EXPECT_EQ(slurp(store()), before);
#ifdef KVRAC_HAVE_PNG
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, png.c_str()));
    image.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> px(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, px.data(), 0, nullptr));
    ASSERT_EQ(image.width, 255u);
    ASSERT_EQ(image.height, 257u);
    auto rgb = [&](int x, int y) {
        size_t at = (static_cast<size_t>(y) * image.width + x) * 3;
        return px[at] << 16 | px[at + 1] << 8 | px[at + 2];
    };
    // Handles 1..3 at y = 257 - (257 * v / 255): 197, 116, 56; their squares are red.
    EXPECT_EQ(rgb(61, 195), 0xFF0000);
    EXPECT_EQ(rgb(126, 117), 0xFF0000);
    EXPECT_EQ(rgb(190, 57), 0xFF0000);
    EXPECT_EQ(rgb(250, 250), 0x000000); // the black square
#endif
}

TEST_F(ConfigOptions, HelpNamesTheOptions) {
    auto r = run("help config");
    EXPECT_EQ(r.status, 0);
    for (const char* name : {"--media", "--curve-defaults", "--manual-feed", "--saturation"})
        EXPECT_NE(r.out.find(name), std::string::npos) << name;
    r = run("plot --help");
    EXPECT_NE(r.out.find("--label TEXT"), std::string::npos);
    EXPECT_EQ(run("curve --help").status, 0);
    EXPECT_EQ(run("about --help").status, 0);
}

} // namespace
