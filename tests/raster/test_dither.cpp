// Row conversion and ordered dither: expected dots worked out by hand from the
// matrix rule, its stated entries and the grey rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "color/correction.h"
#include "raster/dither.h"

namespace {

struct image {
    std::vector<uint8_t> bytes;
    page_bitmap page{};
    // Opens an image width source pixels wide with room for capacity device rows.
    image(int32_t width, int32_t capacity, int32_t n = 1, int32_t transparent = 0) {
        bytes.assign((size_t)capacity * page_row_bytes(width * n), 0);
        page = {bytes.data(), 0, width * n, 0, capacity};
        EXPECT_EQ(raster_rows_begin(&page, n, transparent, 0, 1, 2), 0);
    }
    ~image() { raster_rows_end(); }
    bool black(int row, int col) const {
        return bytes[(size_t)row * page.row_bytes + col / 8] >> (7 - col % 8) & 1;
    }
};

// Each grey input maps to itself, so a grey g has dither level 255 - g.
void identity_correction() {
    for (int i = 0; i < 256; i++) correction.table[i] = (uint8_t)i;
}

// Adds `rows` rows of width pixels of grey (255 - level).
void add_level_rows(int rows, int width, int level) {
    std::vector<uint8_t> px((size_t)width * 3, (uint8_t)(255 - level));
    for (int r = 0; r < rows; r++) ASSERT_EQ(raster_add_row(width, px.data(), 0, 0, 0, 0), 0);
}

} // namespace

TEST(Dither, MatrixFromCore) {
    const int row0[10] = {1, 209, 33, 241, 73, 153, 105, 185, 2, 210};
    for (int c = 0; c < 10; c++) EXPECT_EQ(raster_threshold(0, c), row0[c]);
    EXPECT_EQ(raster_threshold(15, 15), 136);
    EXPECT_EQ(raster_threshold(8, 0), 3);    // core 0, lower-left quarter
    EXPECT_EQ(raster_threshold(13, 0), 255); // core 63 at (5, 0)
    EXPECT_EQ(raster_threshold(13, 8), 256);
    EXPECT_EQ(raster_threshold(16, -1), raster_threshold(0, 15));
    std::set<int> seen;
    for (int r = 0; r < 16; r++)
        for (int c = 0; c < 16; c++) seen.insert(raster_threshold(r, c));
    EXPECT_EQ(seen.size(), 256u);
    EXPECT_EQ(*seen.begin(), 1);
    EXPECT_EQ(*seen.rbegin(), 256);
}

TEST(Dither, Levels) {
    identity_correction();
    // 20 pixels: columns 16..19 reuse matrix columns 0..3; pitch 64 leaves 44 padding.
    for (int level : {0, 1, 128, 254, 255}) {
        SCOPED_TRACE(level);
        image im(20, 32);
        add_level_rows(32, 20, level);
        ASSERT_EQ(im.page.rows, 32);
        ASSERT_EQ(im.page.row_bytes, 8);
        for (int r = 0; r < 32; r++) {
            for (int c = 0; c < 64; c++) {
                int m = r % 16, k = c % 16;
                bool want = false;
                if (c >= 20)
                    want = false;
                else if (level == 255)
                    want = true;
                else if (level == 1)
                    want = m == 0 && k == 0;
                else if (level == 128) {
                    bool even_rows = m % 4 == 0 || m % 4 == 3;
                    want = even_rows ? k % 2 == 0 : k % 2 == 1;
                } else if (level == 254)
                    want = !(m == 13 && (k == 0 || k == 8));
                EXPECT_EQ(im.black(r, c), want) << r << "," << c;
            }
        }
    }
}

TEST(Dither, ReplicationUsesConsecutiveMatrixRows) {
    identity_correction();
    image im(3, 4, 2);
    // Levels 128, 255, 0, then a fourth pixel beyond the declared width.
    const uint8_t px[12] = {127, 127, 127, 0, 0, 0, 255, 255, 255, 0, 0, 0};
    ASSERT_EQ(raster_add_row(3, px, 0, 0, 0, 0), 0);
    ASSERT_EQ(raster_add_row(4, px, 0, 0, 0, 0), 0);
    EXPECT_EQ(im.page.rows, 4);
    EXPECT_EQ(im.page.row_bytes * 8, 64); // 6 pixels, rounded to 32, plus 32
    // Level 128 is black on even columns in matrix rows 0 and 3, odd ones in 1 and 2.
    const bool first[4][2] = {{true, false}, {false, true}, {false, true}, {true, false}};
    for (int r = 0; r < 4; r++) {
        EXPECT_EQ(im.black(r, 0), first[r][0]);
        EXPECT_EQ(im.black(r, 1), first[r][1]);
        EXPECT_TRUE(im.black(r, 2) && im.black(r, 3));
        EXPECT_FALSE(im.black(r, 4) || im.black(r, 5) || im.black(r, 6) || im.black(r, 7));
    }
}

// A correction table that gives level 255 only to grey g makes the pixel all black
// exactly when its grey is g.
static bool grey_is(uint8_t red, uint8_t green, uint8_t blue, int g) {
    for (int i = 0; i < 256; i++) correction.table[i] = i == g ? 0 : 255;
    image im(1, 1);
    const uint8_t px[3] = {red, green, blue};
    EXPECT_EQ(raster_add_row(1, px, 0, 0, 0, 0), 0);
    return im.black(0, 0);
}

TEST(Dither, GreyRuleThroughCorrectionTable) {
    EXPECT_TRUE(grey_is(10, 20, 30, 18));
    EXPECT_FALSE(grey_is(10, 20, 40, 18)); // 1920 / 100 = 19
    EXPECT_TRUE(grey_is(200, 200, 200, 200));
    EXPECT_TRUE(grey_is(255, 0, 0, 76));
    EXPECT_TRUE(grey_is(0, 0, 255, 28));

    // White mapped to 127 (level 128) dithers white areas and the padding alike.
    identity_correction();
    correction.table[255] = 127;
    image im(3, 1);
    const uint8_t white[9] = {255, 255, 255, 255, 255, 255, 255, 255, 255};
    ASSERT_EQ(raster_add_row(3, white, 0, 0, 0, 0), 0);
    for (int c = 0; c < 64; c++) EXPECT_EQ(im.black(0, c), c % 2 == 0) << c;
}

TEST(Dither, KeyColourAndMono) {
    for (int i = 0; i < 256; i++) correction.table[i] = i == 255 ? 255 : 0; // any tone black
    const uint8_t px[15] = {0, 1, 2, 0, 1, 3, 1, 1, 2, 0, 2, 2, 255, 255, 255};
    {
        image im(5, 1, 1, 1); // key (0, 1, 2)
        ASSERT_EQ(raster_add_row(5, px, 0, 0, 0, 0), 0);
        const bool want[5] = {false, true, true, true, false};
        for (int c = 0; c < 5; c++) EXPECT_EQ(im.black(0, c), want[c]) << c;
    }
    {
        image im(5, 1); // opaque: the key colour prints
        ASSERT_EQ(raster_add_row(5, px, 0, 0, 0, 0), 0);
        EXPECT_TRUE(im.black(0, 0));
    }
    {
        image im(4, 2, 1, 1);
        const uint8_t mono[4] = {0, 1, 200, 0};
        ASSERT_EQ(raster_add_row(4, mono, 1, 0, 1, 3), 0); // foreground not the key
        ASSERT_EQ(raster_add_row(4, mono, 1, 0, 1, 2), 0); // foreground is the key
        for (int c = 0; c < 4; c++) {
            EXPECT_EQ(im.black(0, c), c == 1 || c == 2) << c;
            EXPECT_FALSE(im.black(1, c)) << c;
        }
    }
}

TEST(Dither, FaultyRows) {
    identity_correction();
    const std::vector<uint8_t> black(40 * 3, 0);
    image im(3, 4);
    // A zero-width row keeps its place as a white row and does not narrow later rows.
    EXPECT_EQ(raster_add_row(0, nullptr, 0, 0, 0, 0), 0);
    // A row longer than the declared width is cut to it.
    EXPECT_EQ(raster_add_row(40, black.data(), 0, 0, 0, 0), 0);
    // 7 colour bytes hold 2 whole pixels; the 7th byte is never read.
    std::vector<uint8_t> seven(7, 0);
    EXPECT_EQ(raster_add_row(7 / 3, seven.data(), 0, 0, 0, 0), 0);
    EXPECT_EQ(raster_add_row(-1, black.data(), 0, 0, 0, 0), -1);
    EXPECT_EQ(raster_add_row(3, black.data(), 2, 0, 0, 0), -1);
    EXPECT_EQ(im.page.rows, 3);
    for (int c = 0; c < 64; c++) {
        EXPECT_FALSE(im.black(0, c));
        EXPECT_EQ(im.black(1, c), c < 3) << c;
        EXPECT_EQ(im.black(2, c), c < 2) << c;
    }
    EXPECT_EQ(raster_add_row(1, black.data(), 0, 0, 0, 0), 0);
    EXPECT_EQ(raster_add_row(1, black.data(), 0, 0, 0, 0), -1); // bitmap full
    EXPECT_EQ(im.page.rows, 4);
    raster_rows_end();
    EXPECT_EQ(raster_add_row(1, black.data(), 0, 0, 0, 0), -1); // no image open

    uint8_t rgb[3];
    EXPECT_EQ(raster_basic_colour(2, rgb), 0);
    EXPECT_EQ(rgb[0] + rgb[1] * 256 + rgb[2] * 65536, 255 + 255 * 256);
    EXPECT_EQ(raster_basic_colour(9, rgb), 0);
    EXPECT_EQ(rgb[0] + rgb[1] + rgb[2], 0);
    EXPECT_EQ(raster_basic_colour(-3, rgb), -1);
    EXPECT_EQ(rgb[0] + rgb[1] + rgb[2], 0);
}

// The host repeats each line of an enlarged image over several rows, often in the same
// buffer rewritten. Every row of such a sequence must come out as it does when it
// follows no row it could be taken for: here, after blank mono rows up to its place.
TEST(Dither, RepeatedRowsMatchRowsConvertedAfresh) {
    identity_correction();
    correction.table[40] = 7; // a correction the levels must pass through
    struct step {
        int32_t count, mode;
        std::vector<uint8_t> bytes;
    };
    std::vector<step> steps;
    std::vector<uint8_t> line = {40, 40, 40, 0, 1, 2, 200, 90, 10, 255, 255, 255, 17, 99, 3};
    const auto add = [&](int32_t count, int32_t mode) {
        steps.push_back({count, mode, line});
        ASSERT_EQ(raster_add_row(count, line.data(), mode, 0, 0, 0), 0);
    };
    const int32_t width = 5, n = 2, rows = 2 * 11;
    std::vector<uint8_t> sequence;
    {
        image im(width, rows, n, 1); // key (0, 1, 2)
        add(5, raster_mode_colour);
        add(5, raster_mode_colour); // the same bytes again
        line[14] = 200;             // rewritten in place: the last pixel differs
        add(5, raster_mode_colour);
        add(4, raster_mode_colour); // same leading bytes, fewer pixels
        add(7, raster_mode_colour); // more than the width: the same 5 pixels as before
        add(5, raster_mode_colour);
        add(5, raster_mode_mono); // mono levels replace the colour ones
        add(5, raster_mode_colour);
        line[1] = 1;
        add(5, raster_mode_colour); // a pixel now the key colour
        add(0, raster_mode_colour);
        add(0, raster_mode_colour);
        ASSERT_EQ(im.page.rows, rows);
        sequence = im.bytes;
    }
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(i);
        image im(width, rows, n, 1);
        for (size_t k = 0; k < i; ++k) ASSERT_EQ(raster_add_row(0, nullptr, 1, 0, 0, 0), 0);
        ASSERT_EQ(raster_add_row(steps[i].count, steps[i].bytes.data(), steps[i].mode, 0, 0, 0), 0);
        const size_t first = i * n * im.page.row_bytes, end = first + n * im.page.row_bytes;
        EXPECT_TRUE(
            std::equal(sequence.begin() + first, sequence.begin() + end, im.bytes.begin() + first));
    }
}
