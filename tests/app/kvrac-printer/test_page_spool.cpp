// The spooled page: what the child plots must be the page received, dot for dot, turned
// a quarter turn counter-clockwise when the page is taller than wide. Read back with
// the host's own PNG reader (libpng) and compared with the page's pattern.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <vector>

#include "images/png_image.h"
#include "kvrac-printer/page_spool.h"

namespace fs = std::filesystem;

namespace {

// Dot (x, y) of the test page: black or not, never symmetric under a turn.
bool page_black(uint32_t x, uint32_t y) {
    return (x * 7 + y * 3) % 11 < 3 || (x == 0 && y < 5);
}

// Grey value of dot (x, y) of the grey test page.
uint8_t page_grey(uint32_t x, uint32_t y) {
    return static_cast<uint8_t>((x * 37 + y * 11) % 256);
}

struct decoded {
    int32_t width = 0, height = 0;
    bool mono = false;
    std::vector<std::vector<uint8_t>> rows; // mono: 1 = black; grey: the red sample
};

decoded read_back(const fs::path& path) {
    decoded d;
    png_reader r{};
    EXPECT_EQ(png_reader_open(r, path.string()), 0) << r.error;
    d.width = r.header.width;
    d.height = r.header.height;
    d.mono = r.header.mono;
    png_row row;
    while (png_reader_next(r, &row) == 1) {
        std::vector<uint8_t> v(static_cast<size_t>(row.count));
        for (int32_t i = 0; i < row.count; ++i)
            v[static_cast<size_t>(i)] =
                d.mono ? (row.pixels[i / 8] >> (7 - i % 8) & 1) : row.pixels[i * 3];
        d.rows.push_back(v);
    }
    png_reader_close(r);
    return d;
}

class PageSpool : public ::testing::Test {
  protected:
    fs::path dir = fs::temp_directory_path() / ("kvrac-page-spool-" + std::to_string(::getpid()));
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }

    // Spools a width x height page of 1-bit or 8-bit lines given by dot(x, y) (black
    // as 1 for 1-bit lines, grey for 8-bit), `lines` of them, and reads it back.
    decoded spool(uint32_t width, uint32_t height, unsigned bits, bool bilevel, size_t budget,
                  const std::function<uint8_t(uint32_t, uint32_t)>& dot, uint32_t lines) {
        page_spool s{};
        const fs::path png = dir / "page.png";
        EXPECT_EQ(page_spool_open(s, png.string(), width, height, bits, bilevel, budget), 0)
            << s.error;
        std::vector<uint8_t> line(bits == 1 ? (width + 7) / 8 : width);
        for (uint32_t y = 0; y < lines; ++y) {
            std::fill(line.begin(), line.end(), 0);
            for (uint32_t x = 0; x < width; ++x) {
                if (bits == 8)
                    line[x] = dot(x, y);
                else if (dot(x, y))
                    line[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            }
            EXPECT_EQ(page_spool_write(s, line.data()), 0) << s.error;
        }
        EXPECT_EQ(page_spool_close(s), 0) << s.error;
        EXPECT_FALSE(fs::exists(dir / "page.png.raw")) << "the raw lines are removed";
        return read_back(png);
    }
};

} // namespace

TEST_F(PageSpool, LandscapeGreyPageIsStoredAsReceived) {
    const decoded d = spool(40, 30, 8, false, page_turn_budget, page_grey, 30);
    ASSERT_EQ(d.width, 40);
    ASSERT_EQ(d.height, 30);
    ASSERT_FALSE(d.mono);
    int wrong = 0;
    for (uint32_t y = 0; y < 30; ++y)
        for (uint32_t x = 0; x < 40; ++x) wrong += d.rows[y][x] != page_grey(x, y);
    EXPECT_EQ(wrong, 0);
}

// A portrait page: output row y is input column W-1-y, output column x is input row x.
// Small budgets force bands of a few columns, with a last band narrower than the rest.
TEST_F(PageSpool, PortraitPagesAreTurnedCounterClockwiseInAnyBandSize) {
    for (size_t budget : {size_t{1}, size_t{45 * 3}, size_t{45 * 7}, page_turn_budget}) {
        SCOPED_TRACE(budget);
        const decoded g = spool(29, 45, 8, false, budget, page_grey, 45);
        ASSERT_EQ(g.width, 45);
        ASSERT_EQ(g.height, 29);
        int wrong = 0;
        for (uint32_t y = 0; y < 29; ++y)
            for (uint32_t x = 0; x < 45; ++x) wrong += g.rows[y][x] != page_grey(28 - y, x);
        EXPECT_EQ(wrong, 0);

        // 1-bit lines, a width that is no whole number of bytes.
        const decoded m = spool(
            29, 45, 1, true, budget,
            [](uint32_t x, uint32_t y) { return page_black(x, y) ? 1 : 0; }, 45);
        ASSERT_TRUE(m.mono);
        ASSERT_EQ(m.width, 45);
        ASSERT_EQ(m.height, 29);
        wrong = 0;
        for (uint32_t y = 0; y < 29; ++y)
            for (uint32_t x = 0; x < 45; ++x)
                wrong += m.rows[y][x] != (page_black(28 - y, x) ? 1 : 0);
        EXPECT_EQ(wrong, 0);
    }
}

// A bi-level job whose lines arrive in grey is thresholded at half grey; a page that
// ends early is white below its last line.
TEST_F(PageSpool, GreyLinesOfABiLevelPageAreThresholdedAndMissingLinesAreWhite) {
    const decoded d = spool(
        50, 20, 8, true, page_turn_budget,
        [](uint32_t x, uint32_t y) { return static_cast<uint8_t>(x * 5 + y); }, 12);
    ASSERT_TRUE(d.mono);
    ASSERT_EQ(d.height, 20);
    int wrong = 0;
    for (uint32_t y = 0; y < 20; ++y)
        for (uint32_t x = 0; x < 50; ++x)
            wrong += d.rows[y][x] != (y < 12 && static_cast<uint8_t>(x * 5 + y) < 128 ? 1 : 0);
    EXPECT_EQ(wrong, 0);
}

TEST_F(PageSpool, UnwritableFolderIsReportedWithThePath) {
    page_spool s{};
    EXPECT_EQ(page_spool_open(s, (dir / "missing" / "p.png").string(), 10, 10, 8, false), -1);
    EXPECT_NE(s.error.find("missing/p.png"), std::string::npos) << s.error;
    EXPECT_EQ(page_spool_open(s, (dir / "missing" / "p.png").string(), 10, 20, 1, true), -1);
    EXPECT_NE(s.error.find("p.png.raw"), std::string::npos) << s.error;
}
