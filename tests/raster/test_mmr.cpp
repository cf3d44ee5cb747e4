// MMR coder: exact bytes for hand-worked codes, and every other piece decoded by
// libtiff's T.6 decoder and compared with the bitmap it was coded from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "raster/dither.h"
#include "raster/mmr.h"
#include "raster/tiff_t6.h"

namespace {

// A test bitmap: rows of `stride` bytes, most significant bit first, 1 = black.
struct bitmap {
    int width = 0;
    int rows = 0;
    int stride = 0;
    std::vector<uint8_t> bytes;
};

bitmap make_bitmap(int width, int rows, int stride = 0) {
    bitmap b;
    b.width = width;
    b.rows = rows;
    b.stride = stride ? stride : (width + 31) / 32 * 4;
    b.bytes.assign(static_cast<size_t>(b.stride) * rows, 0);
    return b;
}

void set_pixel(bitmap& b, int x, int y) {
    b.bytes[static_cast<size_t>(y) * b.stride + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
}

bool pixel(const uint8_t* row, int x) {
    return row[x / 8] & (0x80 >> (x % 8));
}

void black_span(bitmap& b, int x0, int x1, int y) {
    for (int x = x0; x < x1; ++x) set_pixel(b, x, y);
}

// Packs a string of '0' and '1' (spaces ignored) into bytes, first bit most significant.
std::vector<uint8_t> pack(const std::string& bits) {
    std::vector<uint8_t> out;
    int n = 0;
    for (char c : bits) {
        if (c == ' ') continue;
        if (n % 8 == 0) out.push_back(0);
        if (c == '1') out.back() |= static_cast<uint8_t>(0x80 >> (n % 8));
        ++n;
    }
    return out;
}

const std::string eofb = "000000000001 000000000001";

// Codes b as one piece into a buffer of the worst-case size, checks the guard bytes
// behind it, and returns the code.
std::vector<uint8_t> code_piece(const bitmap& b) {
    std::vector<int32_t> lists(2 * static_cast<size_t>(mmr_list_entries(b.width)));
    int32_t capacity = static_cast<int32_t>(mmr_worst_case_bytes(b.rows, b.width));
    std::vector<uint8_t> coded(static_cast<size_t>(capacity) + 16, 0x5A);
    int32_t count = mmr_code_piece(b.bytes.data(), b.rows, b.stride, b.width, lists.data(),
                                   coded.data(), capacity);
    EXPECT_GE(count, 4);
    EXPECT_EQ(count % 2, 0);
    for (size_t i = capacity; i < coded.size(); ++i) EXPECT_EQ(coded[i], 0x5A);
    coded.resize(count < 0 ? 0 : count);
    return coded;
}

// Codes b and decodes the result with libtiff; every pixel must come back.
void expect_round_trip(const bitmap& b, const std::string& what) {
    SCOPED_TRACE(what);
    std::vector<uint8_t> coded = code_piece(b);
#ifdef KVRAC_HAVE_TIFF
    std::vector<uint8_t> decoded;
    std::string err =
        t6::decode(coded.data(), static_cast<int>(coded.size()), b.width, b.rows, decoded);
    ASSERT_EQ(err, "");
    int row_bytes = (b.width + 7) / 8;
    int wrong = 0;
    for (int y = 0; y < b.rows && wrong < 5; ++y) {
        const uint8_t* src = &b.bytes[static_cast<size_t>(y) * b.stride];
        const uint8_t* got = &decoded[static_cast<size_t>(y) * row_bytes];
        for (int x = 0; x < b.width; ++x) {
            if (pixel(src, x) != pixel(got, x)) {
                ADD_FAILURE() << "pixel " << x << " of row " << y << " differs";
                ++wrong;
                break;
            }
        }
    }
#else
    GTEST_SKIP() << "libtiff not available";
#endif
}

} // namespace

// ---------------------------------------------------------------------------------
// Exact bytes.

TEST(MmrBytes, WhiteRowOf32PixelsIs80080080) {
    bitmap b = make_bitmap(32, 1);
    std::vector<uint8_t> expected = {0x80, 0x08, 0x00, 0x80};
    EXPECT_EQ(code_piece(b), expected);
}

TEST(MmrBytes, WhitePieceIsOneV0PerRowThenEndOfBlock) {
    for (int rows : {1, 2, 7, 8, 9, 40}) {
        bitmap b = make_bitmap(100, rows);
        std::vector<uint8_t> expected = pack(std::string(rows, '1') + eofb);
        int bits = rows + 24;
        // The last word counts 2 bytes below 16 bits, else 4.
        size_t length = bits / 32 * 4 + (bits % 32 == 0 ? 0 : bits % 32 < 16 ? 2 : 4);
        expected.resize(length, 0);
        EXPECT_EQ(code_piece(b), expected) << rows << " rows";
    }
}

TEST(MmrBytes, RowStartingBlackBeginsWithHorizontalAndWhiteZero) {
    bitmap b = make_bitmap(32, 1);
    black_span(b, 0, 4, 0);
    // H, white 0, black 4, then V0 onto the end of the row; 39 bits, 7 in the last word.
    std::vector<uint8_t> expected = pack("001 00110101 011 1" + eofb);
    expected.resize(6, 0);
    EXPECT_EQ(code_piece(b), expected);
}

TEST(MmrBytes, ModeCodesOfAHandWorkedRow) {
    // Row 0: black 8..16. Row 1: black 10..13 and 24..26. Width 64.
    // Row 0: H W8 B8, then V0 onto the end.
    // Row 1 (ref black 8..16): a1=10 b1=8 VR2; a1=13 b1=16 VL3; a1=24 b1=64, b2=64:
    // H W11 B2; a1=64 b1=64 V0.
    bitmap b = make_bitmap(64, 2);
    black_span(b, 8, 16, 0);
    black_span(b, 10, 13, 1);
    black_span(b, 24, 26, 1);
    std::string bits = "001 10011 000101 1"
                       "000011 0000010 001 01000 11 1" +
                       eofb;
    std::vector<uint8_t> expected = pack(bits);
    expected.resize(8, 0); // 63 bits: 31 in the second word count 4 bytes
    EXPECT_EQ(code_piece(b), expected);
}

TEST(MmrBytes, EveryVerticalOffset) {
    // Row 0: black 10..20 and 30..40 (H W10 B10 twice, V0). Row 1: black 13..19 and
    // 28..41: VR3 (13 - 10), VL1 (19 - 20), VL2 (28 - 30), VR1 (41 - 40), V0.
    bitmap b = make_bitmap(64, 2);
    black_span(b, 10, 20, 0);
    black_span(b, 30, 40, 0);
    black_span(b, 13, 19, 1);
    black_span(b, 28, 41, 1);
    std::string bits = "001 00111 0000100 001 00111 0000100 1"
                       "0000011 010 000010 011 1" +
                       eofb;
    std::vector<uint8_t> expected = pack(bits);
    expected.resize(10, 0); // 75 bits: 11 in the last word count 2 bytes
    EXPECT_EQ(code_piece(b), expected);
}

TEST(MmrBytes, PassModeUnderARunEndingBeforeA1) {
    // Row 0: black 4..8. Row 1: black 20..22. Width 32.
    // Row 1: b1=4 b2=8 < a1=20: pass; a0=8, b1=32: H W12 B2; a1=32 b1=32: V0.
    bitmap b = make_bitmap(32, 2);
    black_span(b, 4, 8, 0);
    black_span(b, 20, 22, 1);
    std::string bits = "001 1011 011 1"
                       "0001 001 001000 11 1" +
                       eofb;
    std::vector<uint8_t> expected = pack(bits);
    expected.resize(8, 0); // 51 bits: 19 in the last word
    EXPECT_EQ(code_piece(b), expected);
}

TEST(MmrBytes, LongRunsUseTheSharedMakeUpCodes) {
    struct {
        int run;
        std::string codes;
    } cases[] = {
        {2560, "000000011111 0000110111"},
        {2624, "000000011111 0000001111 0000110111"},
        {5200, "000000011111 000000011111 0000001111 0000010111"},
        {1728, "0000001100101 0000110111"},
        {63, "000001100111"},
    };
    std::vector<uint8_t> coded(64);
    for (const auto& c : cases) {
        mmr_reset(coded.data(), static_cast<int32_t>(coded.size()), 32);
        ASSERT_EQ(mmr_put_run(mmr_black_codes, c.run), 0);
        int32_t count = mmr_end_block();
        to_transmission_order(coded.data(), count);
        std::vector<uint8_t> expected = pack(c.codes + eofb);
        ASSERT_LE(static_cast<int32_t>(expected.size()), count) << c.run;
        expected.resize(count, 0);
        EXPECT_EQ(std::vector<uint8_t>(coded.begin(), coded.begin() + count), expected) << c.run;
    }
    // White runs share the extended codes: 2000 = 1984 + 16.
    mmr_reset(coded.data(), static_cast<int32_t>(coded.size()), 32);
    mmr_put_run(mmr_white_codes, 2000);
    int32_t count = mmr_end_block();
    to_transmission_order(coded.data(), count);
    std::vector<uint8_t> expected = pack("000000010010 101010" + eofb);
    expected.resize(count, 0);
    EXPECT_EQ(std::vector<uint8_t>(coded.begin(), coded.begin() + count), expected);
}

TEST(MmrBytes, LastWordCounts2BytesBelow16BitsElse4) {
    std::vector<uint8_t> coded(16, 0xEE);
    // 23 bits + 24 end-of-block bits = 47: 15 bits in the last word.
    mmr_reset(coded.data(), 16, 32);
    mmr_put_bits(0xFFFFFE00u, 23);
    EXPECT_EQ(mmr_end_block(), 6);
    to_transmission_order(coded.data(), 6);
    std::vector<uint8_t> expected = pack(std::string(23, '1') + eofb);
    expected.resize(6, 0);
    EXPECT_EQ(std::vector<uint8_t>(coded.begin(), coded.begin() + 6), expected);

    // 24 + 24 = 48: 16 bits in the last word, counted as 4 bytes, the last two zero.
    std::fill(coded.begin(), coded.end(), 0xEE);
    mmr_reset(coded.data(), 16, 32);
    mmr_put_bits(0xFFFFFF00u, 24);
    EXPECT_EQ(mmr_end_block(), 8);
    to_transmission_order(coded.data(), 8);
    expected = pack(std::string(24, '1') + eofb);
    expected.resize(8, 0);
    EXPECT_EQ(std::vector<uint8_t>(coded.begin(), coded.begin() + 8), expected);
    EXPECT_EQ(coded[6], 0);
    EXPECT_EQ(coded[7], 0);

    // Exactly 64 bits: nothing pending, no extra word.
    mmr_reset(coded.data(), 16, 32);
    mmr_put_bits(0xFFFFFFFFu, 32);
    mmr_put_bits(0xFF000000u, 8);
    EXPECT_EQ(mmr_end_block(), 8);
}

TEST(MmrBytes, CodesSpillAcrossWordsInOrder) {
    std::vector<uint8_t> coded(16);
    mmr_reset(coded.data(), 16, 32);
    mmr_put_bits(0xA0000000u, 3);  // 101
    mmr_put_bits(0x12345678u, 32); // a full word straddling the first boundary
    mmr_put_bits(0xC0000000u, 29); // 11 then 27 zeros: ends exactly at bit 64
    int32_t count = mmr_end_block();
    EXPECT_EQ(count, 12); // 64 + 24 bits
    to_transmission_order(coded.data(), count);
    std::vector<uint8_t> expected =
        pack("101 00010010001101000101011001111000 11" + std::string(27, '0') + eofb);
    expected.resize(12, 0);
    EXPECT_EQ(std::vector<uint8_t>(coded.begin(), coded.begin() + 12), expected);
}

// ---------------------------------------------------------------------------------
// Run lists against a pixel-by-pixel scan.

TEST(MmrRuns, RunListMatchesAPixelScanAndIgnoresBitsBeyondTheWidth) {
    std::mt19937 rng(7);
    for (int width : {1, 5, 31, 32, 33, 63, 64, 65, 100, 127, 128, 129, 257, 1000}) {
        for (int trial = 0; trial < 40; ++trial) {
            int stride = (width + 31) / 32 * 4;
            std::vector<uint8_t> row(stride);
            int density = trial % 4;
            for (auto& byte : row) {
                uint8_t v = static_cast<uint8_t>(rng());
                byte = density == 0   ? 0
                       : density == 1 ? (v & rng() & rng())
                       : density == 2 ? v
                                      : 0xFF;
            }
            // Fill the bits beyond the width with ones: they must not appear.
            for (int x = width; x < stride * 8; ++x)
                row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            std::vector<int32_t> expected;
            for (int x = 0; x < width;) {
                if (!pixel(row.data(), x)) {
                    ++x;
                    continue;
                }
                int s = x;
                while (x < width && pixel(row.data(), x)) ++x;
                expected.push_back(s);
                expected.push_back(x);
            }
            std::vector<int32_t> list(mmr_list_entries(width), -7);
            int32_t pairs = mmr_row_runs(row.data(), width, list.data());
            ASSERT_EQ(pairs, static_cast<int32_t>(expected.size() / 2 + 1));
            EXPECT_EQ(list[0], pairs);
            std::vector<int32_t> got(list.begin() + 1, list.begin() + 1 + expected.size());
            EXPECT_EQ(got, expected) << "width " << width << " trial " << trial;
            for (int k = 0; k < 4; ++k) EXPECT_EQ(list[1 + expected.size() + k], width);
        }
    }
}

// ---------------------------------------------------------------------------------
// Pieces decoded by libtiff.

TEST(MmrDecode, UniformPieces) {
    for (int width : {1, 32, 33, 100, 2560, 2624, 5000}) {
        bitmap white = make_bitmap(width, 5);
        expect_round_trip(white, "white " + std::to_string(width));
        bitmap black = make_bitmap(width, 5);
        std::fill(black.bytes.begin(), black.bytes.end(), 0xFF);
        expect_round_trip(black, "black " + std::to_string(width));
        bitmap one_black = make_bitmap(width, 1);
        std::fill(one_black.bytes.begin(), one_black.bytes.end(), 0xFF);
        expect_round_trip(one_black, "single black row " + std::to_string(width));
    }
}

TEST(MmrDecode, EveryRunLengthOfBothColoursUpTo2700) {
    // Row 2k: white run k, black run k + 1, under an all-white row: horizontal mode
    // from a white a0. Then rows 2k starting black under a row whose only black pixel
    // is pixel 0: V0, then horizontal from a black a0 with black k + 1, white k + 1.
    const int longest = 2700;
    const int width = 2 * longest + 4;
    bitmap b = make_bitmap(width, 2 * (longest + 1));
    for (int k = 0; k <= longest; ++k) black_span(b, k, 2 * k + 1, 2 * k);
    expect_round_trip(b, "white k, black k + 1");

    bitmap c = make_bitmap(width, 2 * (longest + 1));
    for (int k = 0; k <= longest; ++k) {
        black_span(c, 0, k + 1, 2 * k);
        black_span(c, 2 * k + 2, width, 2 * k);
        set_pixel(c, 0, 2 * k + 1);
    }
    expect_round_trip(c, "black k + 1, white k + 1");
}

TEST(MmrDecode, RunsAroundTheLongMakeUpLimits) {
    for (int run : {2559, 2560, 2561, 2623, 2624, 2625, 5119, 5120, 5184, 5200, 7777}) {
        bitmap b = make_bitmap(run + 70, 4);
        black_span(b, 0, run, 0);             // black run from pixel 0
        black_span(b, 3, run + 3, 1);         // shifted: vertical codes at both ends
        black_span(b, 50, run + 50, 2);       // shifted far: horizontal with long runs
        black_span(b, run + 20, run + 70, 3); // long white then black to the end
        expect_round_trip(b, "run " + std::to_string(run));
    }
}

TEST(MmrDecode, SparseLinesAndStrokes) {
    for (int width : {640, 999, 2048, 3001}) {
        bitmap b = make_bitmap(width, 300);
        for (int y = 0; y < b.rows; ++y) {
            if (y % 50 == 10) black_span(b, 5, width - 5, y);         // horizontal rule
            for (int x = 17; x < width; x += 211) set_pixel(b, x, y); // vertical lines
            int d = (y * 3) % width;                                  // diagonal, 3 px wide
            black_span(b, d, std::min(width, d + 3), y);
            if (y > 100 && y < 130) // text-like strokes
                for (int x = 300; x + 12 < width && x < 900; x += 14)
                    black_span(b, x + (y * 7 + x) % 5, x + 2 + (y * 7 + x) % 7, y);
        }
        expect_round_trip(b, "sparse " + std::to_string(width));
    }
}

TEST(MmrDecode, DitheredGreys) {
    for (int width : {256, 1000, 1029}) {
        bitmap b = make_bitmap(width, 200);
        for (int y = 0; y < b.rows; ++y)
            for (int x = 0; x < width; ++x) {
                int level = (x * 255 / width + y) % 256; // ramp, shifting with the row
                if (level >= raster_threshold(y, x)) set_pixel(b, x, y);
            }
        expect_round_trip(b, "dither " + std::to_string(width));
    }
}

TEST(MmrDecode, RandomBitmapsOfEveryDensity) {
    std::mt19937 rng(1234);
    for (int trial = 0; trial < 24; ++trial) {
        int width = 1 + static_cast<int>(rng() % 700);
        int rows = 1 + static_cast<int>(rng() % 60);
        bitmap b = make_bitmap(width, rows);
        int mode = trial % 4;
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < width; ++x) {
                bool black = mode == 0   ? rng() % 2
                             : mode == 1 ? rng() % 17 == 0
                             : mode == 2 ? rng() % 17 != 0
                                         : (y > 0 && pixel(&b.bytes[(y - 1) * b.stride], x)) !=
                                               (rng() % 9 == 0); // small changes between rows
                if (black) set_pixel(b, x, y);
            }
        }
        expect_round_trip(b, "random trial " + std::to_string(trial));
    }
}

TEST(MmrDecode, RowsWiderThanTheCodedWidthAreCutAtTheWidth) {
    // A stride wider than the width, with black pixels beyond the width: only the
    // first `width` pixels are coded.
    bitmap b = make_bitmap(70, 6, 20);
    for (int y = 0; y < 6; ++y) black_span(b, 60 + y, 160, y);
    expect_round_trip(b, "cut at 70");
}

// ---------------------------------------------------------------------------------
// Faults.

TEST(MmrFaults, CodeThatOutgrowsTheBufferFailsWithoutWritingPastIt) {
    // One row of alternating pixels, 4096 wide, costs about 6 bits a pixel; the
    // buffer of 4 x (S + 100) bytes used for pieces holds only about 4.
    bitmap b = make_bitmap(4096, 1);
    std::fill(b.bytes.begin(), b.bytes.end(), 0x55);
    int32_t capacity = 4 * (4096 / 8 + 100);
    std::vector<uint8_t> coded(capacity + 64, 0x5A);
    std::vector<int32_t> lists(2 * mmr_list_entries(4096));
    EXPECT_EQ(
        mmr_code_piece(b.bytes.data(), 1, b.stride, 4096, lists.data(), coded.data(), capacity),
        -1);
    for (int32_t i = capacity; i < static_cast<int32_t>(coded.size()); ++i)
        ASSERT_EQ(coded[i], 0x5A) << i;

    // The worst-case size always suffices, and the code decodes.
    expect_round_trip(b, "alternating row");
    EXPECT_LE(static_cast<int64_t>(code_piece(b).size()), mmr_worst_case_bytes(1, 4096));
}

TEST(MmrFaults, WorstCaseBoundHoldsForCostlyPatterns) {
    std::mt19937 rng(99);
    for (int width : {1, 2, 3, 7, 32, 97, 1000}) {
        bitmap b = make_bitmap(width, 12);
        for (int y = 0; y < b.rows; ++y) {
            for (int x = 0; x < width; ++x) {
                bool black = y % 3 == 0   ? x % 2 == 1       // alternating under white
                             : y % 3 == 1 ? (x / 5) % 2 == 1 // runs of 5, offsets > 3
                                          : rng() % 2;
                if (black) set_pixel(b, x, y);
            }
        }
        std::vector<uint8_t> coded = code_piece(b); // fails if the bound is too small
        EXPECT_LE(static_cast<int64_t>(coded.size()), mmr_worst_case_bytes(b.rows, width));
    }
}

TEST(MmrFaults, StrideShorterThanTheWidthIsRefused) {
    std::vector<uint8_t> rows(3 * 4, 0xFF);
    std::vector<int32_t> lists(2 * mmr_list_entries(64));
    std::vector<uint8_t> coded(256);
    EXPECT_EQ(mmr_code_piece(rows.data(), 3, 4, 64, lists.data(), coded.data(), 256), -1);
    EXPECT_EQ(mmr_code_piece(rows.data(), -1, 8, 64, lists.data(), coded.data(), 256), -1);
}

TEST(MmrFaults, PieceWithoutRowsIsJustTheEndOfBlock) {
    std::vector<int32_t> lists(2 * mmr_list_entries(32));
    std::vector<uint8_t> coded(16);
    int32_t count = mmr_code_piece(nullptr, 0, 4, 32, lists.data(), coded.data(), 16);
    std::vector<uint8_t> expected = pack(eofb);
    expected.resize(4, 0);
    ASSERT_EQ(count, 4);
    EXPECT_EQ(std::vector<uint8_t>(coded.begin(), coded.begin() + 4), expected);
}
