// Images opened turned a quarter anticlockwise: every pixel of every row checked against
// the pattern the file was written from, one-bit and colour, with the decoded image kept
// in memory or in a temporary file; the crop window taken from the turned image; the
// file decoded once however often the rows are read again.
#include <gtest/gtest.h>

#ifdef KVRAC_HAVE_PNG
#include <cstring>
#include <filesystem>
#include <string>

#include "images/image_source.h"
#include "support/image_files.h"
#include "support/kvrac_runner.h"

namespace {

// The written pattern: one-bit samples are 1 for white, as PNG stores them.
bool black(int x, int y) {
    return (x * 5 + y * 3) % 7 < 3 || x == y;
}
void colour(int x, int y, uint8_t* s) {
    s[0] = static_cast<uint8_t>(x * 11 + y);
    s[1] = static_cast<uint8_t>(y * 7 + 3);
    s[2] = static_cast<uint8_t>(x ^ (y * 2));
}

class TurnedSource : public Kvrac {
  protected:
    // A w x h PNG of the pattern, one-bit or colour.
    std::string write(int w, int h, bool mono) {
        const std::string path = (dir / (mono ? "mono.png" : "colour.png")).string();
        png_file f{w, h, mono ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, mono ? 1 : 8,
                   [mono](int x, int y, uint16_t* s) {
                       if (mono) {
                           s[0] = black(x, y) ? 0 : 1;
                       } else {
                           uint8_t c[3];
                           colour(x, y, c);
                           s[0] = c[0], s[1] = c[1], s[2] = c[2];
                       }
                   }};
        EXPECT_TRUE(write_png_file(path, f));
        return path;
    }
};

// Reads every row of s, a window (cx, cy) of the w x h original turned, and counts the
// pixels that differ from the original's: turned pixel (X, Y) is original pixel
// (w - 1 - Y, X). Returns -1 when rows are missing, repeated or out of place.
long turned_errors(image_source& s, int w, bool mono, int cx, int cy) {
    const int tw = s.info().width, th = s.info().height;
    long errors = 0;
    int32_t expect_y = 0;
    image_row row;
    int got;
    while ((got = s.next(&row)) == 1) {
        if (row.y != expect_y++ || row.x0 != 0 || row.dx != 1 || row.count != tw) return -1;
        for (int X = 0; X < tw; ++X) {
            const int ox = w - 1 - (cy + row.y), oy = cx + X;
            if (mono) {
                errors += (row.pixels[X / 8] >> (7 - X % 8) & 1) != black(ox, oy);
            } else {
                uint8_t c[3];
                colour(ox, oy, c);
                errors += std::memcmp(row.pixels + X * 3, c, 3) != 0;
            }
        }
    }
    if (got < 0 || expect_y != th) return -1;
    return errors;
}

TEST_F(TurnedSource, RowsAreTheOriginalsColumnsFromTheRightEdgeInMemoryAndInAFile) {
    // Sizes that are no multiple of 8 either way, so one-bit columns end mid-byte.
    const int w = 37, h = 90;
    for (const bool mono : {true, false}) {
        const std::string path = write(w, h, mono);
        // 0: the default budget (in memory); 64 bytes: bands of a few columns in a file.
        for (const size_t budget : {size_t{0}, size_t{64}}) {
            SCOPED_TRACE(std::string(mono ? "mono" : "colour") + (budget ? " file" : " memory"));
            const fs::path folder = dir / "store";
            fs::create_directories(folder);
            image_open_options o;
            o.turned = true;
            o.store_budget = budget;
            o.store_folder = folder.string();
            const uint64_t decodes = image_decodes();
            std::string why;
            {
                auto s = open_image_source(path, o, &why);
                ASSERT_TRUE(s) << why;
                EXPECT_EQ(s->info().width, h);
                EXPECT_EQ(s->info().height, w);
                EXPECT_EQ(s->info().mono, mono);
                EXPECT_TRUE(s->info().turned);
                EXPECT_EQ(turned_errors(*s, w, mono, 0, 0), 0);
                if (budget) {
                    EXPECT_FALSE(fs::is_empty(folder)); // the store went to a file
                }
                // Read again from the top: the same rows, and still one decode.
                ASSERT_EQ(s->rewind(), 0);
                EXPECT_EQ(turned_errors(*s, w, mono, 0, 0), 0);
                EXPECT_EQ(image_decodes() - decodes, 1u);
            }
            EXPECT_TRUE(fs::is_empty(folder)); // the temporary file is gone with the source
        }
    }
}

TEST_F(TurnedSource, CropIsAWindowOfTheTurnedImage) {
    const int w = 37, h = 90;
    for (const bool mono : {true, false}) {
        SCOPED_TRACE(mono ? "mono" : "colour");
        const std::string path = write(w, h, mono);
        image_open_options o;
        o.turned = true;
        o.store_budget = 64;
        o.store_folder = dir.string();
        o.crop = image_crop{13, 5, 60, 30}; // inside 90 x 37, not inside 37 x 90
        std::string why;
        auto s = open_image_source(path, o, &why);
        ASSERT_TRUE(s) << why;
        EXPECT_EQ(s->info().width, 60);
        EXPECT_EQ(s->info().height, 30);
        EXPECT_EQ(turned_errors(*s, w, mono, 13, 5), 0);
        // A window that fits the original but not the turned image is refused.
        o.crop = image_crop{0, 0, 37, 90};
        EXPECT_FALSE(open_image_source(path, o, &why));
        EXPECT_NE(why.find("not inside the 90x37 image"), std::string::npos) << why;
    }
}

} // namespace
#endif
