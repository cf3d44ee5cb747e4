// The vector encoder. Short sequences are compared with texts worked out by hand from
// the PE rules; a long random session is read back as a plotter would (hpgl_reader.h)
// and the pen's path compared with the points sent.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <random>

#include "geometry/hpgl_reader.h"
#include "geometry/vector.h"
#include "host/settings.h"
#include "output/output.h"
#include "plot/pens.h"
#include "plot/polygons.h"
#include "support/fake_host.h"

namespace {

using bytes_t = std::vector<uint8_t>;

class Vectors : public ::testing::Test {
  protected:
    void SetUp() override { start(plot_halftone, 0, 2.0); }
    void TearDown() override { out_close(); }

    static void start(uint16_t plot_flags, uint16_t mode_flags, double scale) {
        fake_host_install();
        host_link.abort_flag = abort_clear;
        settings.plot_flags = plot_flags;
        settings.mode_flags = mode_flags;
        runtime.current_model = 0;
        runtime.scale_factor = scale;
        vec.small_sheet = 1;
        ASSERT_EQ(out_open(), 0);
        output.job_drawn = 0;
        pens_reset();
        pens_job_start();
        vector_job_start();
    }
    static std::string text() {
        return std::string(reinterpret_cast<char*>(output.out_buffer), output.out_fill);
    }
    static bytes_t bytes() {
        return bytes_t(output.out_buffer, output.out_buffer + output.out_fill);
    }

    // What the plot handler does for a move, a draw and a filled polygon.
    static int move(int x, int y) {
        if (reselect_pen_if_pending() < 0) return -1;
        return vector_move_to(static_cast<uint16_t>(x), static_cast<uint16_t>(y));
    }
    static int draw(int x, int y) {
        return vector_draw_to(static_cast<uint16_t>(x), static_cast<uint16_t>(y));
    }
    static int polygon(int pen, std::vector<uint16_t> xy) {
        bytes_t v(2 * xy.size());
        for (size_t i = 0; i < xy.size(); ++i) le_put_u16(v.data(), static_cast<int>(2 * i), xy[i]);
        int result = draw_polygon(pen, static_cast<int>(xy.size() / 2), v.data());
        if (result == 0) pens.reselect_pending = 1;
        return result;
    }
};

TEST_F(Vectors, PeNumbersInBothBasesDecodeBackOverTheWholeRange) {
    for (int32_t n : {0, 1, -1, 100, -300}) encode_pe_number(n);
    EXPECT_EQ(text(), "_abGeXq");
    std::vector<int32_t> values = {0, 1, -1, 15, -16, 31, 32, -33, INT32_MAX, INT32_MIN};
    // Every short displacement, across the bound where numbers stop being looked up.
    for (int32_t n = -1100; n <= 1100; ++n) values.push_back(n);
    std::mt19937 rng(7);
    for (int i = 0; i < 200; ++i) values.push_back(static_cast<int32_t>(rng()));
    for (int flags : {0, int{plot_pe_base64}}) {
        start(static_cast<uint16_t>(flags), 0, 1.0);
        for (int32_t n : values) {
            output.out_fill = 0;
            ASSERT_EQ(encode_pe_number(n), 0);
            std::string s = text();
            for (char c : s) ASSERT_TRUE(flags || static_cast<uint8_t>(c) < 127) << "7-bit";
            size_t i = 0;
            int64_t back = 0;
            ASSERT_TRUE(read_pe_number(s, i, flags != 0, back) && i == s.size()) << n;
            EXPECT_EQ(back, n);
            // As few digits as the folded value needs.
            const uint64_t folded = 2 * static_cast<uint64_t>(std::llabs(int64_t{n})) + (n < 0);
            size_t digits = 1;
            while (folded >> (digits * (flags ? 6 : 5))) ++digits;
            EXPECT_EQ(s.size(), digits) << n;
        }
    }
    output.out_fill = 0;
    encode_pe_number(0);
    encode_pe_number(100);
    EXPECT_EQ(text(), "\xBF\x47\xC2");
}

TEST_F(Vectors, RunsFlagsAndLifts) {
    move(10, 20);
    draw(13, 20);
    draw(13, 25);
    select_pen(3);
    EXPECT_EQ(text(), "PE7<G`Oak__s;SP7"); // (20,40) up, (+6,0) and (0,+10) down
    EXPECT_EQ(output.job_drawn, 1);

    start(plot_halftone, 0, 2.0);
    move(1, 1);
    move(2, 2);
    EXPECT_EQ(text(), "PE7<cc<cc"); // each move carries its flag

    start(plot_halftone, 0, 0.5);
    draw(2, 0);
    vector_lift_pen();
    vector_lift_pen(); // already pending: nothing
    draw(2, 2);        // a zero pen-up move uses up the flag
    EXPECT_EQ(text(), "PE7a_<___a");
    EXPECT_EQ(vec.state, vec_moved);
    close_vector_run();
    vector_lift_pen(); // idle: nothing
    EXPECT_EQ(text(), "PE7a_<___a;");

    start(plot_pe_base64, 0, 1.0);
    move(0, 0);
    EXPECT_EQ(text(), "PE<\xBF\xBF");
}

TEST_F(Vectors, RepeatedPointsAreDroppedOnlyOnceTheStateIsSettled) {
    move(1, 1);
    move(1, 1); // written: the previous state was idle
    move(1, 1); // dropped
    EXPECT_EQ(text(), "PE7<cc<__");
    draw(1, 1); // a dot where the pen was moved to: kept
    draw(2, 1);
    draw(2, 1); // dropped
    EXPECT_EQ(text(), "PE7<cc<____c_");

    start(plot_halftone, 0, 0.5);
    draw(3, 3);
    draw(2, 2); // both (1, 1): a zero displacement
    EXPECT_EQ(text(), "PE7aa__");
}

TEST_F(Vectors, PolygonsInPolygonModeWithHalftoneOrSolidFill) {
    runtime.scale_factor = 1.0;
    ASSERT_EQ(polygon(7, {0, 0, 4, 0, 4, 3}), 0);
    EXPECT_EQ(text(), "SP7PE7<__;PM0PE7g__ehf;PM2FP");
    EXPECT_EQ(output.job_drawn, 1);
    start(0, 0, 1.0);
    ASSERT_EQ(polygon(3, {0, 0, 4, 0, 4, 3}), 0);
    EXPECT_EQ(text(), "SP7PE7<__;PM0PE7g__ehf;PM2FPSP3");
}

// The reselection after a fill closes a run a draw opened in between, so the move
// opens a new one instead of writing "<" outside any run.
TEST_F(Vectors, PenReselectionAfterAFillNeverLeavesAFlagOutsideARun) {
    runtime.scale_factor = 1.0;
    select_pen(2);
    polygon(5, {0, 0, 4, 0, 4, 3});
    move(1, 1);
    EXPECT_EQ(text(), "SP7SP5PE7<__;PM0PE7g__ehf;PM2FP;SP7PE7<aa");
    polygon(5, {0, 0, 4, 0, 4, 3});
    draw(2, 2);
    move(3, 3);
    EXPECT_EQ(text().substr(text().rfind("FP")), "FPPE7cc;SP7PE7<aa");
}

TEST_F(Vectors, ARandomSessionReadsBackAsThePointsSent) {
    for (int flags : {int{plot_halftone}, int{plot_pe_base64}}) {
        start(static_cast<uint16_t>(flags), 0, 2.0);
        std::mt19937 rng(static_cast<unsigned>(flags));
        std::vector<int64_t> expected; // end points of lines and outline edges, device units
        for (int step = 0; step < 3000; ++step) {
            int x = static_cast<int>(rng() % 30000), y = static_cast<int>(rng() % 30000);
            switch (rng() % 8) {
            case 0:
            case 1:
            case 2:
                ASSERT_EQ(move(x, y), 0);
                break;
            case 3:
            case 4:
            case 5:
                ASSERT_EQ(draw(x, y), 0);
                expected.insert(expected.end(), {2 * x, 2 * y});
                break;
            case 6:
                ASSERT_EQ(vector_lift_pen(), 0);
                continue;
            default:
                ASSERT_EQ(polygon(7, {uint16_t(x), uint16_t(y), 9, 9, 100, 7}), 0);
                expected.insert(expected.end(), {18, 18, 200, 14, 2 * x, 2 * y});
            }
            ASSERT_EQ(vec.current.x, 2 * x);
        }
        close_vector_run();
        hpgl_reading r = read_hpgl(text());
        ASSERT_EQ(r.fault, "");
        EXPECT_FALSE(r.run_open);
        std::vector<int64_t> lines;
        for (const hpgl_event& e : r.events)
            if (e.kind == 'D') lines.insert(lines.end(), {e.x, e.y});
        EXPECT_EQ(lines, expected);
    }
}

// Points become trunc(point * scale factor) whatever the factor: the plot area's whole
// halves (an integer product) and any other (a floating-point one), and a factor
// changed between two points is used from the next point on.
TEST_F(Vectors, PointsAreScaledByTheFactorInForceAtEachPoint) {
    const uint16_t points[] = {0, 1, 3, 7, 999, 12345, 40001, 65535};
    for (double factor : {0.5, 1.0, 2.0, 8.0, 16.0, 1.25, 0.3, 7.5}) {
        start(plot_halftone, 0, 1.0);
        runtime.scale_factor = factor;
        for (uint16_t x : points) {
            const uint16_t y = static_cast<uint16_t>(65535 - x);
            ASSERT_EQ(draw(x, y), 0);
            EXPECT_EQ(vec.current.x, static_cast<int32_t>(x * factor)) << factor << " " << x;
            EXPECT_EQ(vec.current.y, static_cast<int32_t>(y * factor)) << factor << " " << y;
        }
    }
}

TEST_F(Vectors, PolygonMessagesFindTheirVerticesAndIgnoreShortCounts) {
    runtime.scale_factor = 1.0;
    std::vector<uint8_t> rec = record(33, 64);
    host_link.message = rec.data();
    for (int n : {0, 1, -5}) {
        le_put_i16(rec.data(), 10, n);
        le_put_i16(rec.data(), 6, n);
        EXPECT_EQ(draw_polygon_inline(), 0);
        EXPECT_EQ(draw_polygon_by_reference(), 0);
    }
    EXPECT_EQ(output.out_fill, 0);
    uint16_t xy[] = {0, 0, 4, 0, 4, 3};
    for (int i = 0; i < 6; ++i) le_put_u16(rec.data(), 12 + 2 * i, xy[i]);
    le_put_i16(rec.data(), 10, 3);
    ASSERT_EQ(draw_polygon_inline(), 0);
    EXPECT_EQ(text(), "SP7PE7<__;PM0PE7g__ehf;PM2FP");

    output.out_fill = 0;
    bytes_t vertices(rec.begin() + 12, rec.begin() + 24);
    le_put_i16(rec.data(), 4, 7);
    le_put_i16(rec.data(), 6, 3);
    le_put_u32(rec.data(), 8, 0xDEAD0000u); // nobody's address
    EXPECT_EQ(draw_polygon_by_reference(), -1);
    EXPECT_EQ(output.out_fill, 0);
    host_addr a = host_addr_of(vertices.data());
    le_put_u32(rec.data(), 8, a);
    ASSERT_EQ(draw_polygon_by_reference(), 0);
    host_addr_forget(a);
    host_link.message = nullptr;
    EXPECT_EQ(text(), "SP7PE7<__;PM0PE7g__ehf;PM2FP");
}

TEST_F(Vectors, KtglSegmentsMarksAndPolygons) {
    start(plot_halftone, mode_ktgl, 1.0);
    move(100, 200);
    EXPECT_EQ(output.out_fill, 0);
    draw(150, 180);
    EXPECT_EQ(bytes(), (bytes_t{0x64, 4, 0, 100, 0, 200, 0, 50, 0xFF, 0xEC}));
    output.out_fill = 0;
    vec.small_sheet = 0;
    draw(140, 190);
    put_mark(300, 7); // changes no register
    EXPECT_EQ(bytes(),
              (bytes_t{0x6B, 8, 0, 0, 0, 150, 0, 0, 0, 180, 0xFF, 0xFF, 0xFF, 0xF6, 0, 0, 0, 10,
                       0x6B, 8, 0, 0, 1, 44,  0, 0, 0, 7,   0,    0,    0,    0,    0, 0, 0, 0}));
    EXPECT_EQ(vec.current.x, 140);

    start(plot_halftone, mode_ktgl, 1.0);
    ASSERT_EQ(polygon(5, {10, 10, 20, 10, 20, 30}), 0);
    EXPECT_EQ(bytes(),
              (bytes_t{0x47, 1, 0, 5, 0xFF, 0x7C, 0, 6, 0, 10, 0, 10, 0, 10, 0, 0, 0, 0, 0, 20}));
    output.out_fill = 0;
    vec.small_sheet = 0;
    std::vector<uint16_t> many(2 * ktgl_polygon_max_vertices_32, 1);
    ASSERT_EQ(polygon(5, many), 0);
    EXPECT_EQ(output.out_fill, 4 + 4 + 8 * ktgl_polygon_max_vertices_32);
    bytes_t head = bytes();
    EXPECT_EQ(bytes_t(head.begin() + 4, head.begin() + 8), (bytes_t{0xFF, 0x83, 0xFF, 0xFC}));
    output.out_fill = 0;
    many.insert(many.end(), {1, 1});
    EXPECT_EQ(polygon(5, many), -1); // its word count would not fit: nothing written
    EXPECT_EQ(output.out_fill, 0);
}

TEST_F(Vectors, WithTheAbortFlagSetNothingMoves) {
    move(5, 5);
    host_link.abort_flag = abort_fatal;
    EXPECT_EQ(put_point_text(9, 9), -1);
    EXPECT_EQ(draw(9, 9), -1);
    EXPECT_EQ(vec.current.x, 10);
    EXPECT_EQ(vec.last_in_x, 5);
    EXPECT_EQ(output.job_drawn, 0);
}

} // namespace
