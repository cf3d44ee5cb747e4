// Raster stream: framing bytes as the printer languages define them, band sizes and
// moves, and every MMR piece decoded by libtiff against the rows that were added.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "color/correction.h"
#include "host/host_services.h"
#include "host/messages.h"
#include "host/wire.h"
#include "platform/host_address.h"
#include "raster/dither.h"
#include "raster/raster_stream.h"
#include "raster/tiff_t6.h"

namespace {

// ---------------------------------------------------------------------------------
// A fake host that records what the driver writes and prints.

std::vector<std::string> writes; // one entry per host_write call
std::string printed;

int KVRAC_CDECL fake_write(int one, int zero, const void* bytes, int count, int zero2) {
    EXPECT_EQ(one, 1);
    EXPECT_EQ(zero, 0);
    EXPECT_EQ(zero2, 0);
    writes.emplace_back(static_cast<const char*>(bytes), count);
    return 1;
}
void KVRAC_CDECL fake_print(const char* text) {
    printed += text;
}
void KVRAC_CDECL fake_send_text(const char*) {}
int KVRAC_CDECL fake_load(int, void*) {
    return 1;
}
int KVRAC_CDECL fake_save(int, const void*) {
    return 1;
}
int KVRAC_CDECL fake_192(int, int) {
    return 0;
}

uint8_t table[host_service_table_size];

std::string stream_bytes() {
    std::string all;
    for (const auto& w : writes) all += w;
    return all;
}

std::string bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s += static_cast<char>(b);
    return s;
}

std::string be32(uint32_t v) {
    return bytes({int(v >> 24), int(v >> 16 & 255), int(v >> 8 & 255), int(v & 255)});
}

// Packs a string of '0' and '1' (spaces ignored) into bytes, first bit most significant,
// then cuts or pads to `length` bytes.
std::string pack(const std::string& bits, size_t length) {
    std::string out;
    int n = 0;
    for (char c : bits) {
        if (c == ' ') continue;
        if (n % 8 == 0) out += '\0';
        if (c == '1') out.back() = static_cast<char>(out.back() | (0x80 >> (n % 8)));
        ++n;
    }
    out.resize(length, '\0');
    return out;
}

const std::string eofb = "000000000001 000000000001";

// KTGL records of the stream.
const std::string res400 = bytes({0x9B, 0x52, 0x00, 0x02, 0x00, 0x01});
const std::string res200 = bytes({0x9B, 0x52, 0x00, 0x02, 0x00, 0x00});
const std::string mode_on = bytes({0x9B, 0x5D, 0x00, 0x02, 0x02, 0x07});
const std::string mode_off = bytes({0x9B, 0x5D, 0x00, 0x02, 0x02, 0x00});
const std::string image_end = bytes({0x9B, 0x5E, 0x00, 0x02, 0x00, 0x01});

std::string placement(int x, int y, int sw, int sh, int dw, int dh) {
    return bytes({0x9B, 0x5F, 0x00, 0x1A}) + be32(x) + be32(y) + be32(sw) + be32(sh) + be32(dw) +
           be32(dh) + bytes({0x00, 0x01});
}

std::string white_fill(int x, int y, int width, int rows, const std::string& res) {
    return placement(x, y, 32, 1, width, rows) + mode_on + bytes({0x9B, 0x5C, 0, 0, 0, 4}) +
           bytes({0x80, 0x08, 0x00, 0x80}) + mode_off + image_end + res;
}

// ---------------------------------------------------------------------------------
// Images: rows added as one byte per pixel, nonzero = black foreground.

// Black where the test pattern says so: lines, a diagonal and dots.
bool pattern(int x, int y) {
    return (x + 3 * y) % 97 < 4 || y % 61 == 0 || (x * 7 + y * 13) % 1009 == 0 || x == y;
}

void add_rows(int width, int first, int count, bool (*black)(int, int) = pattern) {
    std::vector<uint8_t> row(width);
    for (int y = first; y < first + count; ++y) {
        for (int x = 0; x < width; ++x) row[x] = black(x, y) ? 1 : 0;
        ASSERT_EQ(raster_add_row(width, row.data(), raster_mode_mono, 0, 0, 0), 0);
    }
}

struct piece {
    int pitch;        // from the block's first 4 bytes (RTL) or the placement (KTGL)
    int rows;         // from "\e*r%dT" (RTL) or the placement (KTGL)
    std::string code; // the MMR code
};

// Splits an HP-RTL stream into escapes, HP-GL/2 text and transfer blocks; collects
// the pieces and, in `between`, everything sent between one block and the next
// "\e*r%dS".
struct rtl_stream {
    std::vector<std::string> tokens; // escapes and text, blocks as "<block>"
    std::vector<piece> pieces;
};

rtl_stream parse_rtl(const std::string& s) {
    rtl_stream r;
    int rows = -1;
    size_t pos = 0;
    while (pos < s.size()) {
        if (s[pos] != '\x1b') {
            size_t end = s.find('\x1b', pos);
            if (end == std::string::npos) end = s.size();
            r.tokens.push_back(s.substr(pos, end - pos));
            pos = end;
            continue;
        }
        size_t end = pos + 1;
        while (end < s.size() && !std::isupper(static_cast<unsigned char>(s[end]))) ++end;
        std::string esc = s.substr(pos, end - pos + 1);
        pos = end + 1;
        int n = 0;
        if (std::sscanf(esc.c_str(), "\x1b*r%dT", &n) == 1 && esc.back() == 'T') rows = n;
        if (esc.size() > 4 && esc.compare(0, 3, "\x1b*b") == 0 && esc.back() == 'W') {
            n = std::atoi(esc.c_str() + 3);
            std::string block = s.substr(pos, n);
            pos += n;
            EXPECT_GE(n, 8);
            piece p;
            const uint8_t* b = reinterpret_cast<const uint8_t*>(block.data());
            p.pitch = b[0] << 24 | b[1] << 16 | b[2] << 8 | b[3];
            p.rows = rows;
            p.code = block.substr(4);
            r.pieces.push_back(p);
            r.tokens.push_back(esc);
            r.tokens.push_back("<block>");
            continue;
        }
        r.tokens.push_back(esc);
    }
    return r;
}

// Sends an HP-RTL image of width x height pixels (n = 1, bands along y) whose black
// pixels `black` gives, closes the stream and parses everything written.
rtl_stream send_rtl_image(int width, int height, bool (*black)(int, int) = pattern) {
    raster_begin(width, height, 1, 0, 0, 0, 0, 0, 0, 1, 2);
    add_rows(width, 0, height, black);
    raster_finish();
    raster_end();
    return parse_rtl(stream_bytes());
}

// A KTGL record: command and payload (the coded-data record's 32-bit length removed).
struct record {
    int command;
    std::string payload;
};

std::vector<record> parse_ktgl(const std::string& s) {
    std::vector<record> out;
    size_t pos = 0;
    while (pos + 4 <= s.size()) {
        EXPECT_EQ(static_cast<uint8_t>(s[pos]), 0x9B) << "at " << pos;
        if (static_cast<uint8_t>(s[pos]) != 0x9B) break;
        int command = static_cast<uint8_t>(s[pos + 1]);
        const uint8_t* p = reinterpret_cast<const uint8_t*>(s.data() + pos + 2);
        size_t length, head;
        if (command == 0x5C) {
            length = static_cast<size_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
            head = 6;
        } else {
            length = static_cast<size_t>(p[0]) << 8 | p[1];
            head = 4;
        }
        out.push_back({command, s.substr(pos + head, length)});
        pos += head + length;
    }
    EXPECT_EQ(pos, s.size());
    return out;
}

int payload_i32(const std::string& payload, int index) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(payload.data()) + 4 * index;
    return static_cast<int>(static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]);
}

// Decodes a piece with libtiff and compares it with rows first.. of the image: pixels
// below `width` from `black`, the padding white.
void expect_piece(const piece& p, int first, int width, bool (*black)(int, int) = pattern) {
#ifdef KVRAC_HAVE_TIFF
    std::vector<uint8_t> out;
    std::string err = t6::decode(reinterpret_cast<const uint8_t*>(p.code.data()),
                                 static_cast<int>(p.code.size()), p.pitch, p.rows, out);
    ASSERT_EQ(err, "") << "piece at row " << first;
    int row_bytes = (p.pitch + 7) / 8;
    for (int y = 0; y < p.rows; ++y) {
        for (int x = 0; x < p.pitch; ++x) {
            bool got = out[static_cast<size_t>(y) * row_bytes + x / 8] & (0x80 >> (x % 8));
            bool want = x < width && black(x, first + y);
            if (got != want) {
                ADD_FAILURE() << "row " << first + y << " pixel " << x;
                return;
            }
        }
    }
#else
    (void)p, (void)first, (void)width, (void)black;
#endif
}

class RasterStream : public ::testing::Test {
  protected:
    void SetUp() override {
        std::memset(table, 0, sizeof table);
        le_put_u32(table, host_print_offset, host_addr_of_fn(fake_print));
        le_put_u32(table, host_send_text_offset, host_addr_of_fn(fake_send_text));
        le_put_u32(table, host_write_offset, host_addr_of_fn(fake_write));
        le_put_u32(table, host_load_config_offset, host_addr_of_fn(fake_load));
        le_put_u32(table, host_save_config_offset, host_addr_of_fn(fake_save));
        le_put_u32(table, host_service_192_offset, host_addr_of_fn(fake_192));
        saved_table = host_link.service_table;
        host_link.service_table = table;
        reset_correction();
        load_message_texts();
        writes.clear();
        printed.clear();
    }
    void TearDown() override {
        raster_end();
        host_link.service_table = saved_table;
    }
    const uint8_t* saved_table = nullptr;
};

} // namespace

// ---------------------------------------------------------------------------------

TEST(RasterBands, BandRowsFollowTheThirtySecondRule) {
    EXPECT_EQ(raster_band_rows(1000), 32);
    EXPECT_EQ(raster_band_rows(1024), 32);
    EXPECT_EQ(raster_band_rows(1056), 64);
    EXPECT_EQ(raster_band_rows(5000), 160);
    EXPECT_EQ(raster_band_rows(28100), 896);
    // Fewer than 32 rows: one band of all of them, never an empty band.
    EXPECT_EQ(raster_band_rows(31), 31);
    EXPECT_EQ(raster_band_rows(1), 1);
}

TEST_F(RasterStream, ResolutionBitsAndTheEscapeAlwaysAgree) {
    EXPECT_EQ(select_resolution(0x0100, 0), 600);
    EXPECT_EQ(select_resolution(0x0200 | 0x0040, 0), 400);
    EXPECT_EQ(select_resolution(0x0400, 0), 300);
    EXPECT_EQ(select_resolution(0x0800, 0), 200);
    EXPECT_EQ(select_resolution(0x0300, 0), 200); // two bits: the resolution stays
    EXPECT_EQ(select_resolution(0x0200, 1), 400); // KTGL: the escape is left alone...
    EXPECT_EQ(select_resolution(0x0000, 0), 400); // ...until RTL keeps 400 and says so
    raster_begin(1, 1, 1, 0, 0, 0, 0, 0, 0, 1, 2);
    ASSERT_GE(writes.size(), 3u);
    EXPECT_EQ(writes[2], "\x1b*t400R");
}

TEST_F(RasterStream, RtlPieceFramingByteForByte) {
    // 100 white pixels, n = 1: pitch 160 (S = 20); two rows code as V0 V0 EOFB.
    select_resolution(0x0100, 0);
    raster_begin(100, 2, 1, 0, 0, 0, 0, 0, 0, 1, 2);
    add_rows(100, 0, 2, [](int, int) { return false; });
    raster_finish();
    raster_end();
    std::vector<std::string> expected = {"\x1b%1A",  "\x1b&a0N", "\x1b*t600R", "\x1b*r160S",
                                         "\x1b*r2T", "\x1b*r1A", "\x1b",       "*b8M",
                                         "\x1b",     "*b8W",     be32(160),    pack("11" + eofb, 4),
                                         "\x1b*rC",  "\x1b%0B"};
    EXPECT_EQ(writes, expected);
    EXPECT_EQ(writes[10], bytes({0x00, 0x00, 0x00, 0xA0}));
}

TEST_F(RasterStream, KtglPieceFramingByteForByteAt200Dpi) {
    // 100-pixel rows (pitch 160), 32 white rows, opaque, placed at (1000, 2000).
    select_resolution(0x0800, 1);
    raster_begin(100, 32, 1, 1, 0, 1000, 2000, 0, 0, 1, 2);
    add_rows(100, 0, 32, [](int, int) { return false; });
    raster_finish();
    raster_end();
    std::string code = pack(std::string(32, '1') + eofb, 8); // 56 bits: 24 in the last word
    std::string expected = res200 + white_fill(1000, 2000, 100, 32, res200) +
                           placement(1000, 2000, 160, 32, 320, 64) + mode_on + bytes({0x9B, 0x5C}) +
                           be32(8) + code + mode_off + res400;
    EXPECT_EQ(stream_bytes(), expected);
}

TEST_F(RasterStream, KtglTransparentImageHasNoWhiteFill) {
    select_resolution(0x0200, 1);
    raster_begin(64, 3, 1, 1, 0, 7, 9, 1, 255, 255, 255);
    add_rows(64, 0, 3);
    raster_finish();
    raster_end();
    std::vector<record> records = parse_ktgl(stream_bytes());
    ASSERT_EQ(records.size(), 6u);
    EXPECT_EQ(records[0].command, 0x52); // resolution
    EXPECT_EQ(records[1].command, 0x5F); // placement, straight away
    EXPECT_EQ(bytes({0x9B, 0x5F, 0x00, 0x1A}) + records[1].payload,
              placement(7, 9, 96, 3, 96, 3)); // 400 dpi: destination = source
    EXPECT_EQ(records[2].command, 0x5D);
    EXPECT_EQ(records[3].command, 0x5C);
    expect_piece({96, 3, records[3].payload}, 0, 64);
    EXPECT_EQ(stream_bytes().substr(stream_bytes().size() - 12), mode_off + res400);
}

TEST_F(RasterStream, BandedRtlImageAt400DpiMovesByTheBand) {
    // W' = 4000: S = 504, 4 x 5000 x 604 > 10 MiB. B = 160: 31 bands and one of 40.
    select_resolution(0x0200, 0);
    rtl_stream r = send_rtl_image(4000, 5000);
    ASSERT_EQ(r.pieces.size(), 32u);
    for (size_t k = 0; k < r.pieces.size(); ++k) {
        EXPECT_EQ(r.pieces[k].pitch, 4032);
        EXPECT_EQ(r.pieces[k].rows, k < 31 ? 160 : 40);
        expect_piece(r.pieces[k], static_cast<int>(160 * k), 4000);
    }
    // Between two blocks: close raster, HP-GL/2 move by 160 / 400 x 1016 = 406.4,
    // reopen raster at 400 dpi, then the next piece's header.
    std::vector<std::string> move = {"\x1b*rC",  "\x1b%0B",    "PR0,406",    "\x1b%1A",
                                     "\x1b&a0N", "\x1b*t400R", "\x1b*r4032S"};
    size_t block = 0;
    while (r.tokens[block] != "<block>") ++block;
    EXPECT_EQ(std::vector<std::string>(r.tokens.begin() + block + 1,
                                       r.tokens.begin() + block + 1 + move.size()),
              move);
    EXPECT_EQ(r.tokens.back(), "\x1b%0B");
}

TEST_F(RasterStream, BandsAlongXMoveTheOtherWay) {
    select_resolution(0x0200, 0);
    raster_begin(20000, 1100, 1, 0, 1, 0, 0, 0, 0, 1, 2); // band axis 1
    add_rows(20000, 0, 1100);
    raster_finish();
    rtl_stream r = parse_rtl(stream_bytes());
    ASSERT_FALSE(r.pieces.empty());
    // 4 x 1100 x 2604 > 10 MiB: B = 64, advance 64 / 400 x 1016 = 162.56.
    EXPECT_EQ(r.pieces.size(), 18u);
    EXPECT_NE(std::find(r.tokens.begin(), r.tokens.end(), "PR162,0"), r.tokens.end());
}

TEST_F(RasterStream, EstimateOfExactly10MiBIsOnePiece) {
    // W' = 3264: S = 412, S + 100 = 512; 4 x 5120 x 512 = 10,485,760.
    select_resolution(0x0100, 0);
    rtl_stream r = send_rtl_image(3264, 5120);
    ASSERT_EQ(r.pieces.size(), 1u);
    EXPECT_EQ(r.pieces[0].rows, 5120);
    EXPECT_EQ(r.pieces[0].pitch, 3296);
    expect_piece(r.pieces[0], 0, 3264);

    // One row more: banded, B = 160, 32 full bands and a band of one row.
    writes.clear();
    r = send_rtl_image(3264, 5121);
    ASSERT_EQ(r.pieces.size(), 33u);
    EXPECT_EQ(r.pieces[31].rows, 160);
    EXPECT_EQ(r.pieces[32].rows, 1);
    expect_piece(r.pieces[32], 5120, 3264);
}

TEST_F(RasterStream, BandedKtglImageAdvancesThePlacement) {
    // 400 dpi, opaque, bands along y from (100, 200): fill and image per band.
    select_resolution(0x0200, 1);
    raster_begin(20000, 1100, 1, 1, 0, 100, 200, 0, 0, 1, 2);
    add_rows(20000, 0, 1100);
    raster_finish();
    raster_end();
    std::vector<record> records = parse_ktgl(stream_bytes());
    std::vector<int> image_y;
    int fills = 0, pieces = 0, first = 0;
    for (size_t k = 0; k < records.size(); ++k) {
        const record& rec = records[k];
        if (rec.command != 0x5F) continue;
        EXPECT_EQ(payload_i32(rec.payload, 0), 100);
        if (payload_i32(rec.payload, 2) == 32) { // white fill: 32 x 1 over W' x rows
            ++fills;
            EXPECT_EQ(payload_i32(rec.payload, 4), 20000);
            continue;
        }
        image_y.push_back(payload_i32(rec.payload, 1));
        int rows = payload_i32(rec.payload, 3);
        EXPECT_EQ(payload_i32(rec.payload, 5), rows);
        ASSERT_EQ(records[k + 2].command, 0x5C);
        expect_piece({payload_i32(rec.payload, 2), rows, records[k + 2].payload}, first, 20000);
        first += rows;
        ++pieces;
    }
    EXPECT_EQ(first, 1100);
    EXPECT_EQ(pieces, 18); // B = 64: 17 bands and one of 12 rows
    EXPECT_EQ(fills, pieces);
    for (size_t k = 0; k < image_y.size(); ++k)
        EXPECT_EQ(image_y[k], 200 + 64 * static_cast<int>(k));
}

// ---------------------------------------------------------------------------------
// Faults.

TEST_F(RasterStream, FewerThan32RowsWithBandingIsOneBand) {
    // Rows of over 1.3 MB: two rows already estimate more than 10 MiB.
    const int width = 10485000;
    select_resolution(0x0100, 0);
    auto sparse = [](int x, int y) { return x % 100000 < 3 + y; };
    rtl_stream r = send_rtl_image(width, 2, sparse);
    ASSERT_EQ(r.pieces.size(), 1u);
    EXPECT_EQ(r.pieces[0].rows, 2);
    EXPECT_EQ(std::count_if(r.tokens.begin(), r.tokens.end(),
                            [](const std::string& t) { return t.rfind("PR", 0) == 0; }),
              0);
    expect_piece(r.pieces[0], 0, width, sparse);
}

TEST_F(RasterStream, ImageWithoutRowsSendsOnlyTheStreamStartAndEnd) {
    select_resolution(0x0100, 0);
    raster_begin(100, 50, 1, 0, 0, 0, 0, 0, 0, 1, 2);
    raster_finish();
    raster_end();
    EXPECT_EQ(stream_bytes(), "\x1b%1A\x1b&a0N\x1b*t600R\x1b*rC\x1b%0B");
    raster_end(); // closed once only
    EXPECT_EQ(stream_bytes(), "\x1b%1A\x1b&a0N\x1b*t600R\x1b*rC\x1b%0B");
}

TEST_F(RasterStream, ImageTooLargeForMemoryIsDroppedAndTheStreamClosed) {
    select_resolution(0x0100, 0);
    struct {
        int width, height, n;
    } cases[] = {{1 << 30, 1 << 20, 1}, {1 << 30, 2, 4}, {100, 100, 0}};
    for (const auto& c : cases) {
        writes.clear();
        printed.clear();
        raster_begin(c.width, c.height, c.n, 0, 0, 0, 0, 0, 0, 1, 2);
        uint8_t px[4] = {1, 1, 1, 1};
        EXPECT_EQ(raster_add_row(4, px, raster_mode_mono, 0, 0, 0), -1);
        raster_finish();
        raster_end();
        EXPECT_EQ(stream_bytes(), "\x1b%1A\x1b&a0N\x1b*t600R\x1b*rC\x1b%0B");
        EXPECT_EQ(printed, std::string("\n") + message_text(2));
    }
}

TEST_F(RasterStream, PieceCodedBeyondItsEstimateIsCodedAgainWhole) {
    // One row of 4096 alternating pixels codes to about 3 KB; the buffer for one row
    // is 4 x (S + 100) = 2,464 bytes.
    auto alternating = [](int x, int) { return x % 2 == 1; };
    select_resolution(0x0100, 0);
    rtl_stream r = send_rtl_image(4096, 1, alternating);
    ASSERT_EQ(r.pieces.size(), 1u);
    EXPECT_GT(r.pieces[0].code.size(), 2464u);
    expect_piece(r.pieces[0], 0, 4096, alternating);
}

TEST_F(RasterStream, RowsBeyondTheDeclaredSizeAreCut) {
    // Rows twice the declared width keep only the declared pixels; a row beyond the
    // declared height is refused.
    select_resolution(0x0100, 0);
    raster_begin(50, 3, 1, 0, 0, 0, 0, 0, 0, 1, 2);
    std::vector<uint8_t> row(100, 1);
    for (int y = 0; y < 3; ++y)
        ASSERT_EQ(raster_add_row(100, row.data(), raster_mode_mono, 0, 0, 0), 0);
    EXPECT_EQ(raster_add_row(100, row.data(), raster_mode_mono, 0, 0, 0), -1);
    raster_finish();
    rtl_stream r = parse_rtl(stream_bytes());
    ASSERT_EQ(r.pieces.size(), 1u);
    EXPECT_EQ(r.pieces[0].rows, 3);
    EXPECT_EQ(r.pieces[0].pitch, 96);
    expect_piece(r.pieces[0], 0, 50, [](int, int) { return true; });
}
