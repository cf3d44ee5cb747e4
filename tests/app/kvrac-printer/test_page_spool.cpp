// The spooled page: what the child plots must be the page received, dot for dot, turned
// a quarter turn counter-clockwise when the page is taller than wide. Read back through
// the image source the child uses and compared with the page's pattern, computed here
// dot by dot.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "kvrac-printer/page_source.h"
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

// Opens path as the job child does: by its first bytes, with the page file's opener added.
std::unique_ptr<image_source> open_page(const fs::path& path, std::string* why) {
    image_sources_add(open_page_source);
    return open_image_source(path.string(), image_open_options{}, why);
}

decoded read_back(const fs::path& path) {
    decoded d;
    std::string why;
    auto source = open_page(path, &why);
    EXPECT_TRUE(source) << why;
    if (!source) return d;
    d.width = source->info().width;
    d.height = source->info().height;
    d.mono = source->info().mono;
    EXPECT_FALSE(source->info().interlaced);
    image_row row;
    int got;
    while ((got = source->next(&row)) == 1) {
        EXPECT_EQ(row.y, static_cast<int32_t>(d.rows.size()));
        EXPECT_EQ(row.x0, 0);
        EXPECT_EQ(row.dx, 1);
        EXPECT_EQ(row.count, d.width);
        std::vector<uint8_t> v(static_cast<size_t>(row.count));
        for (int32_t i = 0; i < row.count; ++i) {
            const uint8_t* p = row.pixels + i * 3;
            if (!d.mono) {
                EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]) << "grey as red = green = blue";
            }
            v[static_cast<size_t>(i)] = d.mono ? (row.pixels[i / 8] >> (7 - i % 8) & 1) : p[0];
        }
        // The compact form leaves a one-bit row's unused dots white.
        if (d.mono && row.count % 8) {
            EXPECT_EQ(row.pixels[row.count / 8] & (0xFF >> (row.count % 8)), 0);
        }
        d.rows.push_back(v);
    }
    EXPECT_EQ(got, 0) << source->error();
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
        const fs::path page = dir / "page.page";
        EXPECT_EQ(page_spool_open(s, page.string(), width, height, bits, bilevel, budget), 0)
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
        EXPECT_EQ(fs::directory_iterator(dir)->path(), page) << "the page file alone";
        return read_back(page);
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

// A one-bit page wider than the strips a band is turned in (512 dots), in bands of 64
// lines with a last band of 12.
TEST_F(PageSpool, WideOneBitPortraitPageIsTurnedAcrossStrips) {
    const uint32_t w = 1030, h = 1100;
    const decoded m = spool(
        w, h, 1, true, (w + 7) / 8 * 64,
        [](uint32_t x, uint32_t y) { return page_black(x, y) ? 1 : 0; }, h);
    ASSERT_EQ(m.width, static_cast<int32_t>(h));
    ASSERT_EQ(m.height, static_cast<int32_t>(w));
    int wrong = 0;
    for (uint32_t y = 0; y < w; ++y)
        for (uint32_t x = 0; x < h; ++x)
            wrong += m.rows[y][x] != (page_black(w - 1 - y, x) ? 1 : 0);
    EXPECT_EQ(wrong, 0);
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
    EXPECT_EQ(page_spool_open(s, (dir / "missing" / "p.page").string(), 10, 10, 8, false), -1);
    EXPECT_NE(s.error.find("missing/p.page"), std::string::npos) << s.error;
    EXPECT_EQ(page_spool_open(s, (dir / "missing" / "p.page").string(), 10, 20, 1, true), -1);
    EXPECT_NE(s.error.find("missing/p.page"), std::string::npos) << s.error;
}

// A file size limit stands for a full disk: the page is refused with the system's
// reason as soon as it starts (its room is reserved then), and nothing is left behind.
TEST_F(PageSpool, PageWithoutRoomIsRefusedAtOnceWithTheReason) {
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string errors[2];
    int results[2];
    const uint32_t heights[2] = {100, 400}; // as received, and turned
    for (int i = 0; i < 2; ++i) {
        page_spool s{};
        results[i] = page_spool_open(s, (dir / "big.page").string(), 200, heights[i], 8, false);
        errors[i] = s.error;
        page_spool_abandon(s);
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(results[i], -1);
        EXPECT_NE(errors[i].find(std::strerror(EFBIG)), std::string::npos) << errors[i];
    }
    EXPECT_FALSE(fs::exists(dir / "big.page"));
}

// An abandoned page (a cancel, a failed write) leaves nothing behind.
TEST_F(PageSpool, AbandonedPageIsRemoved) {
    for (uint32_t height : {10u, 40u}) {
        page_spool s{};
        const fs::path page = dir / "cut.page";
        ASSERT_EQ(page_spool_open(s, page.string(), 20, height, 1, true), 0) << s.error;
        std::vector<uint8_t> line(3, 0xA5);
        EXPECT_EQ(page_spool_write(s, line.data()), 0);
        page_spool_abandon(s);
        EXPECT_FALSE(fs::exists(page));
    }
}

class PageSource : public PageSpool {
  protected:
    // A finished 1-bit page of 16 x 30 dots (turned to 30 x 16).
    fs::path finished_page() {
        page_spool s{};
        const fs::path page = dir / "p.page";
        EXPECT_EQ(page_spool_open(s, page.string(), 16, 30, 1, true), 0) << s.error;
        std::vector<uint8_t> line = {0xF0, 0x0F};
        for (int y = 0; y < 30; ++y) EXPECT_EQ(page_spool_write(s, line.data()), 0) << s.error;
        EXPECT_EQ(page_spool_close(s), 0) << s.error;
        return page;
    }

    // Why opening path is refused ("" when it opens).
    std::string refusal(const fs::path& path) {
        std::string why;
        auto source = open_page(path, &why);
        return source ? "" : why;
    }
};

TEST_F(PageSource, ShortOrUnfinishedPagesAreRefusedWithTheReason) {
    const fs::path page = finished_page();
    ASSERT_EQ(refusal(page), "");
    const auto size = fs::file_size(page);
    ASSERT_EQ(size, 32u + 16 * 4); // 16 rows of 30 dots, 4 bytes each

    fs::resize_file(page, size - 1);
    EXPECT_NE(refusal(page).find("the file has 95 bytes where it should have 96"),
              std::string::npos)
        << refusal(page);

    fs::resize_file(page, 20);
    EXPECT_NE(refusal(page).find("header"), std::string::npos) << refusal(page);

    // A page whose spool stopped before its end: open, not finished.
    page_spool s{};
    ASSERT_EQ(page_spool_open(s, page.string(), 16, 8, 1, true), 0);
    EXPECT_NE(refusal(page).find("never finished"), std::string::npos) << refusal(page);
    page_spool_abandon(s);

    // A header that does not add up.
    const fs::path bad = finished_page();
    {
        std::fstream f(bad, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(page_file_row_bytes);
        f.put(9);
    }
    EXPECT_NE(refusal(bad).find("damaged"), std::string::npos) << refusal(bad);
}

TEST_F(PageSource, PageCutShortWhileReadIsAnErrorNotTheEnd) {
    const fs::path page = finished_page();
    std::string why;
    auto source = open_page(page, &why);
    ASSERT_TRUE(source) << why;
    fs::resize_file(page, 32 + 4 * 3);
    image_row row;
    EXPECT_EQ(source->next(&row), -1);
    EXPECT_NE(source->error().find("row 1 of 16"), std::string::npos) << source->error();
    EXPECT_EQ(source->next(&row), -1) << "stays failed";
    EXPECT_EQ(source->rewind(), -1);
}

TEST_F(PageSource, RewindReadsTheSameRowsAndCountsADecode) {
    const fs::path page = finished_page();
    std::string why;
    const uint64_t before = image_decodes();
    auto source = open_page(page, &why);
    ASSERT_TRUE(source) << why;
    std::vector<std::vector<uint8_t>> passes[2];
    for (auto& rows : passes) {
        image_row row;
        while (source->next(&row) == 1) rows.emplace_back(row.pixels, row.pixels + 4);
        EXPECT_EQ(source->rewind(), 0);
    }
    EXPECT_EQ(passes[0].size(), 16u);
    EXPECT_EQ(passes[0], passes[1]);
    // Turned: stored row y is page column 15 - y; every line was 0xF0 0x0F, so columns
    // 0-3 and 12-15 are black along the whole row.
    EXPECT_EQ(passes[0][0], (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFC}));
    EXPECT_EQ(passes[0][5], (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(image_decodes() - before, 3u); // the open and two rewinds
}

TEST_F(PageSource, OtherFilesAreLeftToTheirOwnReaders) {
    const fs::path other = dir / "x.png";
    std::ofstream(other) << "\x89PNG\r\n\x1a\n and not a page";
    const uint8_t head[16] = {0x89, 'P', 'N', 'G'};
    std::string why;
    EXPECT_FALSE(open_page_source(other.string(), head, sizeof head, {}, &why));
    EXPECT_EQ(why, "");
    image_open_options second;
    second.page = 2;
    const fs::path page = finished_page();
    EXPECT_FALSE(open_page_source(page.string(), page_file_magic, 8, second, &why));
    EXPECT_NE(why.find("page 2"), std::string::npos) << why;
}
