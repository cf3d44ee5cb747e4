// Raster images through the plot handler: message 52, the row requests the host
// receives, the bytes around the image and the image itself decoded by libtiff.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "host/messages.h"
#include "host/settings.h"
#include "output/output.h"
#include "plot/pens.h"
#include "plot/plot_handler.h"
#include "raster/raster_image.h"
#include "raster/rtl_piece.h"
#include "support/fake_host.h"

namespace {

// The test's side of the host: row functions that record each request and answer
// with the line that `line` makes.
struct image_host {
    std::vector<std::vector<uint8_t>> requests;
    int releases = 0;
    // Fills the pixel bytes of line r of L pixels; returns the byte count to report.
    std::function<int(int r, int L, uint8_t* pixels)> line;
    int error_at = -1; // line answered with the error flag
    int end_at = -1;   // line answered with the end flag
    uint8_t result[16] = {};
};

image_host host;
uint8_t pixel_bytes[1 << 16]; // at a fixed address, registered once

const uint8_t* KVRAC_CDECL get_rows(uint8_t* request) {
    host.requests.emplace_back(request, request + raster_request_size);
    const bool rotated = le_i32(request, 0) == le_i32(request, 8) && le_i32(request, 4) == 0 &&
                         le_i32(request, 40) == 7;
    const int r = rotated ? le_i32(request, 0) : le_i32(request, 4);
    const int L = (rotated ? le_i32(request, 12) : le_i32(request, 8)) + 1;
    std::memset(host.result, 0, sizeof host.result);
    le_put_u32(host.result, 0, host_addr_of(pixel_bytes));
    le_put_i32(host.result, 4, host.line ? host.line(r, L, pixel_bytes) : 0);
    if (r == host.end_at) le_put_i16(host.result, 12, 1);
    if (r == host.error_at) le_put_i16(host.result, 14, 1);
    return host.result;
}

void KVRAC_CDECL release_rows(const uint8_t* result) {
    EXPECT_EQ(result, host.result);
    ++host.releases;
}

std::vector<uint8_t> send(std::vector<uint8_t> rec) {
    plot_handler(rec.data());
    return rec;
}

void send_point(int code, int x, int y) {
    auto rec = record(code);
    le_put_u16(rec.data(), 4, x);
    le_put_u16(rec.data(), 6, y);
    send(rec);
}

// A raster header for an image of w x h pixels on the sheet from (x1, y1) to (x2, y2).
std::vector<uint8_t> header(int x1, int y1, int x2, int y2, int w, int h, int kind = 1,
                            int bits = 8, int transparent = 0, int colour = 7) {
    auto rec = record(52);
    le_put_u32(rec.data(), 4, host_addr_of_fn(&get_rows));
    le_put_u32(rec.data(), 8, host_addr_of_fn(&release_rows));
    le_put_i32(rec.data(), 12, 0x1234);
    le_put_i32(rec.data(), 16, x1);
    le_put_i32(rec.data(), 20, y1);
    le_put_i32(rec.data(), 24, x2);
    le_put_i32(rec.data(), 28, y2);
    le_put_i32(rec.data(), 32, kind);
    le_put_i32(rec.data(), 36, w);
    le_put_i32(rec.data(), 40, h);
    le_put_i16(rec.data(), 44, transparent);
    le_put_i16(rec.data(), 46, bits);
    le_put_i16(rec.data(), 48, colour);
    for (int i = 0; i < 72; ++i) rec[50 + i] = static_cast<uint8_t>(i + 1);
    return rec;
}

// The request's eight i32 of pixel rectangle and sheet positions.
std::vector<int> rectangle(const std::vector<uint8_t>& q) {
    std::vector<int> v;
    for (int off = 0; off < 32; off += 4) v.push_back(le_i32(q.data(), off));
    return v;
}

std::string bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s += static_cast<char>(b);
    return s;
}

class RasterImage : public ::testing::Test {
  protected:
    void SetUp() override { host = image_host{}; }

    // Starts a job in mode (resolution and language bits) on paper format `format`:
    // 1 is E-arch, a rotated sheet; 23 is a custom length of 396 mm across a 914 mm
    // roll, a sheet that is not rotated.
    void start(uint16_t mode, int format) {
        fake_host_install();
        fake_store_record(format, 0, mode);
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
        ASSERT_EQ(runtime.coordinate_divisor, 1);
    }
    // The bytes written after the RTL preamble, which ends by making the pen opaque.
    static std::string after_preamble() {
        const std::string end = "PUPA0,0PR;TR0;";
        size_t at = fake.sent.find(end);
        return at == std::string::npos ? "" : fake.sent.substr(at + end.size());
    }
};

TEST_F(RasterImage, UnrotatedAt600DpiAsksRowsFromRowOne) {
    start(0x0100, 23);
    // 100 x 200 plotter units at 1016 per inch and 600 dpi: W = 59, H = 118.
    auto rec = send(header(1000, 2000, 1100, 2200, 10, 20));
    EXPECT_EQ(le_i16(rec.data(), 122), 1);
    EXPECT_EQ(plot.raster_marker, raster_pending);
    EXPECT_EQ(fake.sent, ""); // nothing of the image before the next message
    send(record(8));
    EXPECT_EQ(plot.raster_marker, 0);
    ASSERT_EQ(host.requests.size(), 117u); // rows 1 .. 117
    EXPECT_EQ(host.releases, 117);
    // Row 1 of a 200-unit sheet in 118 rows: from 2001.69 to 2003.38, truncated.
    const std::vector<uint8_t>& q = host.requests[0];
    EXPECT_EQ(rectangle(q), (std::vector<int>{0, 1, 58, 1, 1000, 2001, 1100, 2003}));
    EXPECT_EQ(rectangle(host.requests.back()),
              (std::vector<int>{0, 117, 58, 117, 1000, 2198, 1100, 2200}));
    // Host value, colour image (8, 2, 24, white, key 0 1 2), the constant words.
    auto span = [&q](int from, int to) { return std::string(q.begin() + from, q.begin() + to); };
    EXPECT_EQ(span(32, 44), bytes({0x34, 0x12, 0, 0, 8, 0, 0, 0, 2, 0, 0, 0}));
    EXPECT_EQ(le_i16(q.data(), 46), 24);
    EXPECT_EQ(span(48, 51) + span(52, 55), bytes({255, 255, 255, 0, 1, 2}));
    EXPECT_EQ(span(64, 72), bytes({0, 0, 0, 0, 0, 0, 1, 0}));
    EXPECT_EQ(q[72], 1);
    EXPECT_EQ(q[143], 72);

    // Before the stream: opaque, the pen at (x2, y1), the input window around the image.
    std::string out = after_preamble();
    EXPECT_EQ(out.substr(0, out.find("\x1B%1A")),
              "TR0;PU1100,2000PA1100,2000IW2000,1000,2200,1100");
    EXPECT_EQ(out.compare(out.find("\x1B%1A"), 16, "\x1B%1A\x1B&a0N\x1B*t600R"), 0);
}

TEST_F(RasterImage, RotatedPaperAsksColumnsAndKtgl400UsesSheetUnits) {
    start(0x0200, 1); // RTL/GL2 at 400 dpi: the first line is 0
    send(header(1000, 2000, 1100, 2200, 10, 20));
    send(record(8));
    // W = 100 / 1016 * 400 = 39, H = 78: 39 columns of 78 pixels.
    ASSERT_EQ(host.requests.size(), 39u);
    // Column 5: from 1000 + 5 x 100 / 39 to 1000 + 6 x 100 / 39, over the whole height.
    const std::vector<uint8_t>& q = host.requests[5];
    EXPECT_EQ(rectangle(q), (std::vector<int>{5, 0, 5, 77, 1012, 2000, 1015, 2200}));
    EXPECT_EQ(le_i32(q.data(), 40), 7);
    std::string out = after_preamble();
    EXPECT_EQ(out.substr(0, out.find("\x1B%1A")),
              "TR0;PU1000,2000PA1000,2000IW1000,2000,1100,2200");

    // KTGL+MMR at 400 dpi: the sheet size in units, halved; 1001 units give 500 dots.
    host = image_host{};
    start(0x0240, 23);
    send(header(1000, 2000, 2001, 2100, 7, 7));
    send(record(8));
    ASSERT_EQ(host.requests.size(), 50u); // H = 100 / 2, from line 0
    EXPECT_EQ(le_i32(host.requests[0].data(), 4), 0);
    EXPECT_EQ(le_i32(host.requests[0].data(), 8), 499);
}

TEST_F(RasterImage, OneBitImagesPaintTheirColourIndex) {
    start(0x0100, 23);
    // Colour index 9 stands for black; kind 1 at 2 bits is one-bit and never transparent.
    host.line = [](int, int L, uint8_t* px) {
        for (int i = 0; i < L; ++i) px[i] = i % 2;
        return L;
    };
    send(header(1000, 2000, 1100, 2200, 10, 20, 1, 2, 1, 9));
    send(record(8));
    const std::vector<uint8_t>& q = host.requests[0];
    EXPECT_EQ(le_i32(q.data(), 36), 1);
    EXPECT_EQ(le_i16(q.data(), 46), 1);
    EXPECT_EQ(le_i16(q.data(), 48), 0);
    EXPECT_EQ(le_i16(q.data(), 56), 7);
    std::string out = after_preamble();
    EXPECT_EQ(out.substr(0, 4), "TR0;");
    rtl_piece p = decode_rtl_piece(out);
    ASSERT_EQ(p.pitch, 96); // 59 pixels rounded up to 64, plus 32
    ASSERT_EQ(p.rows, 117);
#ifdef KVRAC_HAVE_TIFF
    for (int row : {0, 50, 116})
        for (int x = 0; x < 96; ++x) EXPECT_EQ(p.black(row, x), x < 59 && x % 2) << row << " " << x;
#endif
    // A negative colour index is no colour of the table: black too.
    host = image_host{};
    send(header(1000, 2000, 1100, 2200, 10, 20, 0, 1, 0, -3));
    send(record(8));
    EXPECT_EQ(le_i16(host.requests[0].data(), 56), 7);
}

TEST_F(RasterImage, ColourRowsAreThreeBytesAPixelAndNeverOverrunTheLine) {
    start(0x0100, 23);
    // 200 units wide: L = 118. A 300-byte row is 100 black pixels, a 302-byte one too.
    host.line = [](int r, int, uint8_t* px) {
        std::memset(px, 0, 302);
        return r % 2 ? 300 : 302;
    };
    send(header(1000, 2000, 1200, 2050, 10, 10));
    send(record(8));
    rtl_piece p = decode_rtl_piece(after_preamble());
    ASSERT_EQ(p.rows, 28); // H = 29, from row 1
#ifdef KVRAC_HAVE_TIFF
    for (int row : {0, 1, 27})
        for (int x = 0; x < p.pitch; ++x) EXPECT_EQ(p.black(row, x), x < 100) << row << " " << x;
#endif
    // A row far longer than the line stops at the line's end; a negative count and
    // pixels the driver cannot reach give white rows in their place.
    host = image_host{};
    host.line = [](int r, int, uint8_t* px) {
        std::memset(px, 0, sizeof pixel_bytes);
        if (r == 2) return -5;
        if (r == 3) le_put_u32(host.result, 0, 0xFFFFFF0u);
        return static_cast<int>(sizeof pixel_bytes);
    };
    send(header(1000, 2000, 1200, 2050, 10, 10));
    send(record(8));
    p = decode_rtl_piece(after_preamble(), after_preamble().find("\x1B*rC") + 1);
    ASSERT_EQ(p.rows, 28);
#ifdef KVRAC_HAVE_TIFF
    for (int x = 0; x < p.pitch; ++x) {
        EXPECT_EQ(p.black(0, x), x < 118) << x;
        EXPECT_EQ(p.black(1, x), false) << x;
        EXPECT_EQ(p.black(2, x), false) << x;
        EXPECT_EQ(p.black(4, x), x < 118) << x;
    }
#endif
}

TEST_F(RasterImage, ErrorFlagShowsTheBoxDropsTheRowsAndRestoresVectorMode) {
    start(0x0100, 23);
    host.error_at = 7;
    host.line = [](int, int, uint8_t*) { return 42; };
    send(header(1000, 2000, 1100, 2200, 10, 20));
    ::testing::internal::CaptureStderr();
    send(record(8));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ADI4.3: image faile=7 59 42\n");
    EXPECT_EQ(host.requests.size(), 7u);
    EXPECT_EQ(host.releases, 7);
    std::string out = after_preamble();
    EXPECT_EQ(out.find("\x1B*r"), out.find("\x1B*rC")); // no piece, only the stream end
    EXPECT_EQ(out.find("*b8M"), std::string::npos);
    EXPECT_NE(out.find("\x1B*t600R\x1B*rC\x1B%0BTR0;PA1100,2000PU0,0PR"), std::string::npos);
    EXPECT_EQ(plot.raster_marker, 0);

    // The end flag ends the image early and normally: the rows so far are sent.
    host = image_host{};
    host.end_at = 4;
    fake.sent.clear();
    send(header(1000, 2000, 1100, 2200, 10, 20));
    send(record(8));
    EXPECT_EQ(host.requests.size(), 4u);
    EXPECT_EQ(decode_rtl_piece(fake.sent).rows, 3);
}

TEST_F(RasterImage, RtlVectorStateIsRestoredAfterTheImage) {
    start(0x0100, 23);
    send_point(3, 10, 10);
    send_point(4, 50, 60);
    auto rec = record(5);
    le_put_u16(rec.data(), 4, 3);
    send(rec);
    rec = record(41);
    le_put_f64(rec.data(), 4, 0.5 / 25.4);
    send(rec);
    rec = record(36);
    le_put_i16(rec.data(), 4, 8);
    send(rec);
    rec = record(7);
    le_put_u16(rec.data(), 4, 2);
    send(rec);
    send_point(3, 70, 80); // a new run is open: the image's ";" ends it
    send(header(1000, 2000, 1100, 2200, 10, 20, 1, 8, 1));
    send(record(2));
    const std::string& s = fake.sent;
    size_t image = s.find(";TR1;PU1100,2000");
    ASSERT_NE(image, std::string::npos);
    EXPECT_NE(s.rfind("PE7<", image), std::string::npos);

    // The pen colours as the preamble wrote them, then the input window and the last
    // pen, width and line type as written.
    size_t colours = s.find("PC1,");
    std::string pen_colours = s.substr(colours, s.find("PUPA0,0PR;") - colours);
    size_t iw = s.find("IW0,0,");
    std::string window = s.substr(iw, s.find(';', iw) + 1 - iw);
    std::string restore =
        "\x1B*rC\x1B%0BTR0;PA1100,2000PU70,80PR" + pen_colours + window + "SP7PW0.500LT-2,1.0";
    EXPECT_EQ(s.compare(s.find("\x1B*rC", image), restore.size(), restore), 0)
        << s.substr(s.find("\x1B*rC", image), 80);
    // The drawing goes on: a move opens a new run.
    EXPECT_EQ(s.substr(s.find("\x1B*rC", image) + restore.size(), 4), ";PUS"); // the trailer
}

TEST_F(RasterImage, KtglVectorStateIsRestoredThroughTheBuffer) {
    start(0x0240, 23);
    auto rec = record(5);
    le_put_u16(rec.data(), 4, 3);
    send(rec);
    rec = record(41);
    le_put_f64(rec.data(), 4, 0.01);
    send(rec);
    send(header(1000, 2000, 1100, 2200, 10, 20, 1, 8, 1));
    send(record(8));
    const std::string stream_end = bytes({0x9B, 0x5D, 0, 2, 2, 0, 0x9B, 0x52, 0, 2, 0, 1});
    std::string s = fake.sent;
    size_t image = s.find(bytes({0x9B, 0x5E, 0, 2, 0, 1})); // transparent
    ASSERT_NE(image, std::string::npos);
    ASSERT_TRUE(s.compare(s.size() - 18, 18, stream_end + bytes({0x9B, 0x5E, 0, 2, 0, 2})) == 0);
    // Image placement at (x2, y1) times the scale factor 0.5.
    size_t place = s.find(bytes({0x9B, 0x5F, 0, 0x1A}), image);
    ASSERT_NE(place, std::string::npos);
    EXPECT_EQ(s.substr(place + 4, 8), bytes({0, 0, 2, 0x26, 0, 0, 3, 0xE8}));

    // The page opening, set-up and kept records wait in the buffer for the trailer.
    fake.sent.clear();
    send(record(2));
    std::string opening = fake.sent.substr(0, 84);
    EXPECT_NE(s.find(opening), std::string::npos); // as the preamble wrote it
    std::string kept;
    for (const kept_instruction* k : {&pens.pen, &pens.area_pen, &pens.width, &pens.line_type})
        kept.append(reinterpret_cast<const char*>(k->bytes), k->length);
    ASSERT_EQ(kept.size(), 12u); // pen, area pen, width; no line type was written
    EXPECT_EQ(fake.sent.compare(fake.sent.size() - 80 - 12, 12, kept), 0);
}

TEST_F(RasterImage, FaultsNeverWriteOutsideTheImage) {
    // An image after moves alone ends their run before the transparency instruction.
    start(0x0100, 23);
    send_point(3, 10, 10);
    send(header(1000, 2000, 1100, 2200, 10, 20));
    send(record(2));
    EXPECT_NE(fake.sent.find("PE7<"), std::string::npos);
    EXPECT_EQ(fake.sent.substr(fake.sent.find("PE7<") + 6, 5), ";TR0;") << fake.sent;
    // An image-only job still gets its trailer.
    const std::string trailer = ";PUSP0;PG;\x1B%-12345X\r\n";
    ASSERT_GT(fake.sent.size(), trailer.size());
    EXPECT_EQ(fake.sent.substr(fake.sent.size() - trailer.size()), trailer);

    // No pixels, no sheet area, unknown host functions, a cancelled job: no byte, no
    // request, and the marker is cleared.
    auto unknown = header(1000, 2000, 1100, 2200, 10, 20);
    le_put_u32(unknown.data(), 4, 0x7FFFFF01u);
    for (auto rec : {header(1000, 2000, 1100, 2200, 0, 20), header(1000, 2000, 1000, 2200, 10, 20),
                     header(1000, 2000, 1100, 2200, 10, -1), unknown}) {
        start(0x0100, 23);
        host = image_host{};
        send(rec);
        send(record(8));
        EXPECT_EQ(fake.sent, "");
        EXPECT_TRUE(host.requests.empty());
        EXPECT_EQ(plot.raster_marker, 0);
    }
    start(0x0100, 23);
    send(record(9)); // cancelled: an image announced later must not follow
    send(header(1000, 2000, 1100, 2200, 10, 20));
    send(record(2));
    EXPECT_EQ(fake.sent, "");
    EXPECT_TRUE(host.requests.empty());
}

TEST_F(RasterImage, AnImageDroppedForWantOfMemoryAsksTheHostForNoRows) {
    // Corners 2 * 10^8 plotter units apart: some 1.2 * 10^8 dots a side at 600 dpi,
    // far more bitmap than memory holds.
    start(0x0100, 23);
    send_point(3, 10, 10);
    send(header(0, 0, 200000000, 200000000, 10, 20));
    send(record(8));
    EXPECT_TRUE(host.requests.empty());
    EXPECT_EQ(host.releases, 0);
    EXPECT_EQ(fake.printed, std::string("\n") + message_text(2)); // the memory message
    // The stream is still framed and closed, and vector mode is restored after it.
    std::string out = after_preamble();
    EXPECT_NE(out.find("\x1B*t600R\x1B*rC\x1B%0BTR0;PA200000000,0PU"), std::string::npos);
    EXPECT_EQ(out.find("*b8M"), std::string::npos);
    EXPECT_EQ(plot.raster_marker, 0);

    // The next image of a usable size is fetched as usual.
    host = image_host{};
    send(header(1000, 2000, 1100, 2200, 10, 20));
    send(record(8));
    EXPECT_EQ(host.requests.size(), 117u);
}

} // namespace
