// The job reader against what was sent to the driver: the same script plotted in both
// output languages, the segments of a script, the pixels of an image, and damaged jobs.
#include <gtest/gtest.h>

#include <png.h>

#include <cmath>
#include <random>
#include <sstream>

#include "jobread/job_reader.h"
#include "support/kvrac_runner.h"

namespace {

struct sheet_job {
    std::string bytes;
};

class JobReader : public Kvrac {
  protected:
    // Plots script with fresh settings made by config options, then switched to KTGL+MMR
    // at 400 dpi and/or solid fill in the stored record when asked.
    std::string plot(const std::string& script, bool ktgl, bool solid,
                     const std::string& config = "", bool base64 = false) {
        EXPECT_EQ(run("config --reset --settings '" + store() + "' " + config).status, 0);
        std::string rec = slurp(store());
        if (base64) rec[29] = static_cast<char>(rec[29] | 0x20);
        if (ktgl) {
            rec[30] = static_cast<char>(rec[30] | 0x40);
            rec[31] = 0x02; // 400 dpi
        }
        if (solid) rec[29] = static_cast<char>(rec[29] & ~0x10);
        write_file(store(), rec);
        write_file(dir / "a.kvs", script);
        auto r = run("plot '" + (dir / "a.kvs").string() + "' -o '" + (dir / "a.prn").string() +
                     "' --settings '" + store() + "'");
        EXPECT_EQ(r.status, 0) << r.err;
        return slurp(dir / "a.prn");
    }
};

struct rendered {
    int rc = -1;
    std::string error;
    view_picture pic;
    job_summary sum;
};

rendered render(const std::string& job, double dpi) {
    rendered r;
    view_request want;
    want.dpi = dpi;
    r.rc = read_job_memory(reinterpret_cast<const uint8_t*>(job.data()), job.size(), want, &r.pic,
                           &r.sum, &r.error);
    return r;
}

bool dark(const view_picture& p, int x, int y) {
    return x >= 0 && y >= 0 && x < p.width && y < p.height &&
           p.grey[static_cast<size_t>(y) * p.width + x] < 128;
}

bool dark_near(const view_picture& p, int x, int y, int r) {
    for (int dy = -r; dy <= r; ++dy)
        for (int dx = -r; dx <= r; ++dx)
            if (dark(p, x + dx, y + dy)) return true;
    return false;
}

// Dark pixels of a with no dark pixel within 1 pixel in b, and their number in all.
std::pair<long, long> unmatched(const view_picture& a, const view_picture& b) {
    long miss = 0, all = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            if (dark(a, x, y)) {
                ++all;
                if (!dark_near(b, x, y, 1)) ++miss;
            }
    return {miss, all};
}

// Mean darkness (0 white .. 1 black) of the picture over a rectangle of pixels.
double darkness(const view_picture& p, int x0, int y0, int x1, int y1) {
    double sum = 0;
    long n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x, ++n)
            sum += 1 - p.grey[static_cast<size_t>(y) * p.width + x] / 255.0;
    return n ? sum / n : 0;
}

// A drawing in millimetres touching every kind of vector instruction, and a one-bit
// image.
std::string hand_made() {
    return "unit mm\n"
           "pen 7\nwidth 0.5mm\nmove 20 20\ndraw 300 20\ndraw 300 200\ndraw 20 200\ndraw 20 20\n"
           "width 2mm\nmove 40 40\ndraw 280 180\n"
           "width 0.35mm\nlinetype 2\nmove 40 180\ndraw 280 40\n"
           "linetype 5\nmove 40 100\ndraw 280 100\nlinetype 0\n"
           "polygon 9 320 20 420 20 420 120 320 120\n"
           "polygon 3 440 20 540 20 490 150\n"
           "image 600 250 700 350 " KVRAC_SOURCE_DIR "/examples/logo.png\nmove 0 0\n";
}

std::string random_script(unsigned seed, int lines) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> x(10, 880), y(10, 600), w(0, 3), lt(0, 8);
    std::ostringstream s;
    s << "unit mm\n";
    for (int i = 0; i < lines; ++i) {
        if (i % 10 == 0) s << "width " << w(rng) * 0.4 << "mm\nlinetype " << lt(rng) << "\n";
        s << (i % 4 == 0 ? "move " : "draw ") << x(rng) << " " << y(rng) << "\n";
    }
    s << "polygon 5 " << x(rng) << " " << y(rng) << " " << x(rng) << " " << y(rng) << " " << x(rng)
      << " " << y(rng) << "\n";
    return s.str();
}

} // namespace

// The same script in both languages gives the same picture, sheet rotated or not, with
// solid fills. The allowed differences are rounding: plotter units are 1/1016 inch in
// one language and 1/800 (then 1/400 on the sheet) in the other, and images are sent at
// 600 and 400 dpi, so an edge may move by a pixel.
TEST_F(JobReader, BothLanguagesDrawTheSamePicture) {
    struct sheet {
        const char* config;
        bool rotated;
    } sheets[] = {{"", true}, {"--format 23 --length 700", false}};
    for (const sheet& sh : sheets) {
        for (const std::string& script : {hand_made(), random_script(11, 400)}) {
            rendered rtl = render(plot(script, false, true, sh.config), 40);
            rendered ktgl = render(plot(script, true, true, sh.config), 40);
            ASSERT_EQ(rtl.rc, 0) << rtl.error;
            ASSERT_EQ(ktgl.rc, 0) << ktgl.error;
            EXPECT_EQ(rtl.sum.rotated, sh.rotated);
            EXPECT_EQ(ktgl.sum.rotated, sh.rotated);
            ASSERT_EQ(rtl.pic.width, ktgl.pic.width) << sh.config;
            ASSERT_EQ(rtl.pic.height, ktgl.pic.height);
            EXPECT_EQ(rtl.sum.lines, ktgl.sum.lines);
            EXPECT_EQ(rtl.sum.polygons, ktgl.sum.polygons);
            EXPECT_EQ(rtl.sum.images, ktgl.sum.images);
            auto [miss_a, all_a] = unmatched(rtl.pic, ktgl.pic);
            auto [miss_b, all_b] = unmatched(ktgl.pic, rtl.pic);
            EXPECT_GT(all_a, 1000);
            EXPECT_LE(miss_a, all_a / 500) << sh.config;
            EXPECT_LE(miss_b, all_b / 500) << sh.config;
        }
    }
}

// PE runs in base 64 draw exactly what base 32 draws.
TEST_F(JobReader, Base64AndBase32RunsDrawTheSame) {
    const std::string script = random_script(23, 300);
    const std::string b32 = plot(script, false, true), b64 = plot(script, false, true, "", true);
    ASSERT_NE(b64.find("PE<"), std::string::npos);
    rendered a = render(b32, 30), b = render(b64, 30);
    ASSERT_EQ(a.rc, 0);
    ASSERT_EQ(b.rc, 0) << b.error;
    EXPECT_EQ(a.sum.lines, b.sum.lines);
    EXPECT_GT(a.sum.lines, 200u);
    EXPECT_TRUE(a.pic.grey == b.pic.grey);
}

// Halftone fills differ by design: the HP-GL/2 printer shades a pen's grey itself,
// while a KTGL job carries its own patterns, lightened by the tone curve. Both give a
// grey that is neither white nor black, the KTGL one lighter.
TEST_F(JobReader, HalftoneFillsAreGreyAndTheKtglOneLighter) {
    const std::string script = "unit in\npolygon 9 2 2 12 2 12 12 2 12\n"; // pen 9: grey 127
    rendered rtl = render(plot(script, false, false), 20);
    rendered ktgl = render(plot(script, true, false), 20);
    ASSERT_EQ(rtl.rc, 0);
    ASSERT_EQ(ktgl.rc, 0);
    const int h = rtl.pic.height;
    const double a = darkness(rtl.pic, 60, h - 220, 220, h - 60);
    const double b = darkness(ktgl.pic, 60, h - 220, 220, h - 60);
    EXPECT_NEAR(a, 1 - 127 / 255.0, 0.05);
    EXPECT_GT(b, 0.02);
    EXPECT_LT(b, a);
    // Outside the square: white.
    EXPECT_EQ(darkness(rtl.pic, 300, h - 220, 400, h - 60), 0);
}

// Each segment of a random script is dark along its length and everything farther than
// its half width plus two pixels from every segment stays white, at two resolutions and
// in both languages.
TEST_F(JobReader, SegmentsAreWhereTheScriptPutThem) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> c(20, 500);
    struct seg {
        double x0, y0, x1, y1;
    };
    std::vector<seg> segs;
    std::string script = "unit mm\nwidth 0.5mm\n";
    for (int i = 0; i < 30; ++i) {
        seg s{double(c(rng)), double(c(rng)), double(c(rng)), double(c(rng))};
        segs.push_back(s);
        script += "move " + std::to_string(int(s.x0)) + " " + std::to_string(int(s.y0)) +
                  "\ndraw " + std::to_string(int(s.x1)) + " " + std::to_string(int(s.y1)) + "\n";
    }
    for (bool ktgl : {false, true}) {
        const std::string job = plot(script, ktgl, true);
        for (double dpi : {25.0, 72.0}) {
            rendered r = render(job, dpi);
            ASSERT_EQ(r.rc, 0) << r.error;
            const double k = dpi / 25.4; // pixels per millimetre
            auto to_px = [&](double xmm, double ymm) {
                return std::pair<double, double>{xmm * k, r.pic.height - ymm * k};
            };
            for (const seg& s : segs)
                for (double t : {0.1, 0.5, 0.9}) {
                    auto [x, y] = to_px(s.x0 + t * (s.x1 - s.x0), s.y0 + t * (s.y1 - s.y0));
                    EXPECT_TRUE(dark_near(r.pic, int(x), int(y), 1))
                        << (ktgl ? "KTGL" : "RTL") << " " << dpi << " dpi at " << x << "," << y;
                }
            long stray = 0;
            for (int y = 0; y < r.pic.height; y += 3)
                for (int x = 0; x < r.pic.width; x += 3) {
                    double best = 1e9;
                    for (const seg& s : segs) {
                        auto [ax, ay] = to_px(s.x0, s.y0);
                        auto [bx, by] = to_px(s.x1, s.y1);
                        double dx = bx - ax, dy = by - ay, l2 = dx * dx + dy * dy;
                        double t = l2 > 0 ? ((x + 0.5 - ax) * dx + (y + 0.5 - ay) * dy) / l2 : 0;
                        t = std::clamp(t, 0.0, 1.0);
                        best = std::min(best,
                                        std::hypot(x + 0.5 - ax - t * dx, y + 0.5 - ay - t * dy));
                    }
                    if (best > 0.25 * k + 2 && dark(r.pic, x, y)) ++stray;
                }
            EXPECT_EQ(stray, 0) << (ktgl ? "KTGL" : "RTL") << " " << dpi << " dpi";
        }
    }
}

// Widths come out at scale and dashes in their proportions: a 2 mm line is 2 mm thick
// at 100 dpi, and line type 2 (dash 25 %, gap 50 %, dash 25 %) inks half its length.
TEST_F(JobReader, WidthsAndDashesAreDrawnToScale) {
    const std::string script = "unit mm\nwidth 2mm\nmove 50 50\ndraw 450 50\n"
                               "width 0.5mm\nlinetype 2\nmove 50 150\ndraw 850 150\n";
    for (bool ktgl : {false, true}) {
        rendered r = render(plot(script, ktgl, true), 100);
        ASSERT_EQ(r.rc, 0) << r.error;
        const double k = 100 / 25.4;
        int thick = 0;
        for (int y = int(r.pic.height - 60 * k); y < int(r.pic.height - 40 * k); ++y)
            thick += dark(r.pic, int(250 * k), y);
        EXPECT_NEAR(thick, 2 * k, 1.0) << (ktgl ? "KTGL" : "RTL");
        const int row = int(r.pic.height - 150 * k);
        int inked = 0, all = 0;
        for (int x = int(60 * k); x < int(840 * k); ++x, ++all)
            inked += dark_near(r.pic, x, row, 0);
        EXPECT_NEAR(double(inked) / all, 0.5, 0.05) << (ktgl ? "KTGL" : "RTL");
    }
}

namespace {

// A one-bit PNG of w x h whose pixel (x, y) is black when black(x, y).
template <class F> void write_mono_png(const fs::path& path, int w, int h, F black) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<uint8_t> row((w + 7) / 8);
    for (int y = 0; y < h; ++y) {
        std::fill(row.begin(), row.end(), 0);
        for (int x = 0; x < w; ++x)
            if (!black(x, y)) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8)); // 1 = white
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

} // namespace

// A one-bit image comes back dot for dot at the raster's own resolution, inside the
// rectangle the script asked for: each picture pixel is the PNG pixel the host sampled
// for that spot of the sheet, give or take a dot.
TEST_F(JobReader, ImagesComeBackAtTheirRectangle) {
    auto pattern = [](int x, int y) { return ((x / 3) + (y / 5)) % 2 == 0 || x == y; };
    write_mono_png(dir / "p.png", 60, 40, pattern);
    // 1 x 2/3 inch at (1 in, 2 in).
    const std::string script = "unit in\nimage 1 2 2 2.6666667 p.png\nmove 0 0\n";
    // The picture shows the PNG upright, whichever way the sheet lies: its top row at
    // the rectangle's top, its first column at the left.
    struct lang {
        bool ktgl;
        double dpi;
        const char* config;
    } langs[] = {{false, 600, ""},
                 {true, 400, ""},
                 {false, 600, "--format 23 --length 700"},
                 {true, 400, "--format 23 --length 700"}};
    for (const lang& l : langs) {
        rendered r = render(plot(script, l.ktgl, true, l.config), l.dpi);
        ASSERT_EQ(r.rc, 0) << r.error;
        EXPECT_EQ(r.sum.images, 1u);
        long wrong = 0, n = 0;
        const int x0 = int(1 * l.dpi), x1 = int(2 * l.dpi);
        const int y0 = r.pic.height - int(2.6666667 * l.dpi), y1 = r.pic.height - int(2 * l.dpi);
        for (int y = y0 + 2; y < y1 - 2; ++y)
            for (int x = x0 + 2; x < x1 - 2; ++x) {
                // The sheet spot of the pixel, as a fraction of the rectangle.
                double fx = (x + 0.5 - x0) / (x1 - x0), fy = (y1 - (y + 0.5)) / (y1 - y0);
                int px = int(fx * 60), py = int((1 - fy) * 40);
                bool want = pattern(px, py);
                // Rounding of the rectangle to whole dots may shift the image by a dot.
                bool seen = false;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) seen |= dark(r.pic, x + dx, y + dy) == want;
                if (!seen) ++wrong;
                ++n;
            }
        EXPECT_LT(wrong, n / 100) << (l.ktgl ? "KTGL " : "RTL ") << l.config << ": " << wrong
                                  << " of " << n;
        // Around the rectangle: white.
        EXPECT_EQ(darkness(r.pic, x1 + 5, y0, x1 + 50, y1), 0);
        EXPECT_EQ(darkness(r.pic, x0, y1 + 5, x1, y1 + 50), 0);
    }
}

// Damaged jobs: never a crash; either an error naming the byte, or a picture of what
// came before with a warning.
TEST_F(JobReader, DamagedJobsGiveAnErrorOrAPartialPicture) {
    const std::string script = "unit mm\nwidth 1mm\nmove 10 10\ndraw 200 200\ndraw 400 10\n"
                               "image 20 300 120 400 " KVRAC_SOURCE_DIR "/examples/logo.png\n"
                               "move 0 0\n";
    const std::string rtl = plot(script, false, true), ktgl = plot(script, true, true);

    rendered r = render("hello", 10);
    EXPECT_EQ(r.rc, 2);
    EXPECT_EQ(r.error, "not a job: no PJL or KTGL header at byte 0");

    for (const std::string* job : {&rtl, &ktgl}) {
        // Cut everywhere (in steps), never a crash; cut inside the raster: an error with
        // the offset.
        for (size_t cut = 1; cut < job->size(); cut += job->size() / 97 + 1) {
            rendered c = render(job->substr(0, cut), 10);
            EXPECT_GE(c.rc, 0);
        }
    }
    size_t raster = rtl.find("\x1B*b8M");
    ASSERT_NE(raster, std::string::npos);
    rendered c = render(rtl.substr(0, raster + 40), 10);
    EXPECT_EQ(c.rc, 1);
    EXPECT_NE(c.error.find("truncated RTL raster at byte"), std::string::npos) << c.error;
    // The line before the image is still drawn.
    EXPECT_EQ(c.sum.lines, 2u);

    // A PE run cut in the middle.
    size_t pe = rtl.find("PE7<");
    rendered p = render(rtl.substr(0, pe + 7), 10);
    EXPECT_EQ(p.rc, 1);
    EXPECT_NE(p.error.find("PE run cut at byte"), std::string::npos) << p.error;

    // MMR that does not decode: the raster's code bytes turned to garbage.
    std::string bad = rtl;
    size_t w = bad.find('W', raster) + 1 + 4;
    for (size_t i = w; i < w + 200; ++i) bad[i] = static_cast<char>(0x00);
    rendered m = render(bad, 10);
    EXPECT_EQ(m.rc, 0);
    ASSERT_FALSE(m.sum.warnings.empty());
    EXPECT_NE(m.sum.warnings[0].find("does not decode"), std::string::npos) << m.sum.warnings[0];

    // A huge declared raster: warned, not allocated.
    std::string huge = rtl;
    size_t t = huge.find("\x1B*r", raster - 40);
    huge.replace(t, huge.find('S', t) - t, "\x1B*r2000000000");
    rendered hu = render(huge, 10);
    EXPECT_EQ(hu.rc, 0);
    ASSERT_FALSE(hu.sum.warnings.empty());
    EXPECT_NE(hu.sum.warnings[0].find("declares"), std::string::npos) << hu.sum.warnings[0];
    // Code lengths far beyond the file: a fault at the record, nothing read ahead.
    std::string long_code = ktgl;
    const size_t code = long_code.find("\x9B\x5C");
    ASSERT_NE(code, std::string::npos);
    long_code.replace(code + 2, 4, "\x7F\x00\x00\x00");
    rendered lc = render(long_code, 10);
    EXPECT_EQ(lc.rc, 1);
    EXPECT_EQ(lc.error, "truncated KTGL raster at byte " + std::to_string(code));
    std::string long_block = rtl;
    const size_t b8 = long_block.find("\x1B*b", raster + 3);
    long_block.replace(b8, long_block.find('W', b8) - b8, "\x1B*b2000000000");
    rendered lb = render(long_block, 10);
    EXPECT_EQ(lb.rc, 1);
    EXPECT_EQ(lb.error, "truncated RTL raster at byte " + std::to_string(b8)) << lb.error;

    // A KTGL placement of 2^31 - 1 dots a row: warned, nothing allocated for it.
    std::string wide = ktgl;
    size_t place = wide.find("\x9B\x5F\x00\x1A");
    ASSERT_NE(place, std::string::npos);
    wide.replace(place + 12, 4, "\x7F\xFF\xFF\xFF");
    rendered wi = render(wide, 10);
    EXPECT_EQ(wi.rc, 0) << wi.error;
    ASSERT_FALSE(wi.sum.warnings.empty());
    EXPECT_NE(wi.sum.warnings[0].find("too large to draw"), std::string::npos)
        << wi.sum.warnings[0];

    // Random bytes after a valid header, in both languages.
    std::mt19937 rng(3);
    for (int i = 0; i < 200; ++i) {
        std::string junk = i % 2 ? ktgl.substr(0, 6) : rtl.substr(0, 9);
        for (int k = 0; k < 400; ++k) junk += static_cast<char>(rng());
        rendered z = render(junk, 5);
        EXPECT_GE(z.rc, 0);
    }
}

// Unknown instructions are counted once per kind and the rest still renders.
TEST_F(JobReader, UnknownInstructionsAreListedOnce) {
    std::string job = plot("unit mm\nmove 10 10\ndraw 100 100\n", false, true);
    size_t at = job.find("SP7");
    job.insert(at, "ZZ1;ZZ2;QQ;");
    rendered r = render(job, 10);
    ASSERT_EQ(r.rc, 0) << r.error;
    ASSERT_EQ(r.sum.unknown.size(), 2u);
    EXPECT_EQ(r.sum.unknown[0].rfind("QQ x1", 0), 0u) << r.sum.unknown[0];
    EXPECT_EQ(r.sum.unknown[1].rfind("ZZ x2 (first at byte " + std::to_string(at) + ")", 0), 0u)
        << r.sum.unknown[1];
    EXPECT_EQ(r.sum.lines, 1u);
}
