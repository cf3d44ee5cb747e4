// Filled polygons through the plot handler: the pens a fill selects and the vertex
// counts a message record can hold.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "geometry/hpgl_reader.h"
#include "geometry/vector.h"
#include "host/settings.h"
#include "output/output.h"
#include "plot/plot_handler.h"
#include "support/fake_host.h"

namespace {

std::vector<uint8_t> send(std::vector<uint8_t> rec) {
    plot_handler(rec.data());
    return rec;
}

// A message 33 record: pen and n vertices inline (only the first vertices given are
// set; the rest stay 0).
std::vector<uint8_t> inline_polygon(int pen, int n, const std::vector<uint16_t>& xy) {
    auto rec = record(33);
    le_put_i16(rec.data(), 6, pen);
    le_put_i16(rec.data(), 10, n);
    for (size_t i = 0; i < xy.size(); ++i)
        le_put_u16(rec.data(), static_cast<int>(12 + 2 * i), xy[i]);
    return rec;
}

class Polygons : public ::testing::Test {
  protected:
    void TearDown() override { out_close(); }
    // 49, 50, 29, 46, 30 with the given plot flags and mode; the preamble then waits
    // in the output buffer and `mark` is where the polygon's bytes will start.
    void start(uint16_t plot_flags, uint16_t mode = 0x0100) {
        fake_host_install();
        fake_store_record(23, 0, mode, plot_flags);
        auto rec = record(49);
        le_put_i16(rec.data(), 4, 1);
        rec[7] = 2;
        ASSERT_EQ(plot_handler(rec.data()), 0);
        send(record(50));
        rec = record(29);
        le_put_i16(rec.data(), 4, 3);
        send(rec);
        send(record(46));
        ASSERT_EQ(le_i16(send(record(30)).data(), 0), 0);
        mark = output.out_fill;
    }
    std::string written() const {
        return std::string(reinterpret_cast<const char*>(output.out_buffer) + mark,
                           output.out_fill - mark);
    }
    int32_t mark = 0;
};

TEST_F(Polygons, PensAboveThePaletteAreKeptAsMessageFiveKeepsThem) {
    const std::vector<uint16_t> triangle = {0, 0, 4, 0, 4, 3};
    start(plot_halftone);
    auto rec = send(inline_polygon(300, 3, triangle));
    EXPECT_EQ(le_i16(rec.data(), 0), 0);
    EXPECT_EQ(written().substr(0, 9), "SP300PE7<"); // halftone: the message's pen fills
    EXPECT_EQ(written().substr(written().size() - 6), ";PM2FP");

    start(0); // solid fill: the black pen fills, then the message's pen is selected again
    send(inline_polygon(300, 3, triangle));
    EXPECT_EQ(written().substr(0, 7), "SP7PE7<");
    EXPECT_EQ(written().substr(written().size() - 11), ";PM2FPSP300");

    // A negative pen cannot be written: it stands for the black pen.
    start(plot_halftone);
    send(inline_polygon(-2, 3, triangle));
    EXPECT_EQ(written().substr(0, 7), "SP7PE7<");

    // KTGL: message 5 and the polygon carry pen 300 in the same area pen record.
    start(plot_halftone, 0x0240);
    rec = record(5);
    le_put_u16(rec.data(), 4, 300);
    send(rec);
    // (the line pen record names the black pen, the last pen of grey 0: 255)
    EXPECT_EQ(written(), std::string("\x41\x01\x00\xFF\x47\x01\x01\x2C", 8));
    mark = output.out_fill;
    send(inline_polygon(300, 3, triangle));
    EXPECT_EQ(written().substr(0, 4), std::string("\x47\x01\x01\x2C", 4));
}

TEST_F(Polygons, InlineCountsTheRecordCannotHoldAreRefusedWithNothingWritten) {
    start(plot_halftone);
    send(record(3)); // a move opens a run the polygon would otherwise close
    const int32_t before = output.out_fill;
    const int16_t state = vec.state;
    for (int n : {514, 600, 32767}) {
        auto rec = send(inline_polygon(7, n, {}));
        EXPECT_EQ(le_i16(rec.data(), 0), -1) << n;
        EXPECT_EQ(output.out_fill, before) << n;
        EXPECT_EQ(vec.state, state) << n;
    }

    // 513 vertices fill the record to its last byte and are all drawn.
    std::vector<uint16_t> xy;
    for (int i = 0; i < 513; ++i) {
        xy.push_back(static_cast<uint16_t>(100 + 7 * i));
        xy.push_back(static_cast<uint16_t>(i % 2 ? 900 : 50));
    }
    mark = output.out_fill;
    auto rec = send(inline_polygon(7, 513, xy));
    ASSERT_EQ(le_i16(rec.data(), 0), 0);
    const std::string text = written();
    const size_t run = text.find("PE7<");
    ASSERT_NE(run, std::string::npos);
    // The reader knows nothing of polygon mode: PM0 and PM2FP only end the runs.
    hpgl_reading r = read_hpgl(text.substr(run));
    ASSERT_EQ(r.fault, "");
    ASSERT_EQ(r.events.size(), 514u); // move to vertex 0, 512 edges, back to vertex 0
    auto device = [](uint16_t v) { return static_cast<int64_t>(v * runtime.scale_factor); };
    for (int i = 0; i < 513; ++i) {
        EXPECT_EQ(r.events[i].x, device(xy[2 * i])) << i;
        EXPECT_EQ(r.events[i].y, device(xy[2 * i + 1])) << i;
    }
    EXPECT_EQ(r.events[513].x, device(xy[0]));
    EXPECT_EQ(r.events[513].kind, 'D');
}

} // namespace
