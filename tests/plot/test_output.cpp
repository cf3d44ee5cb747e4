// The output buffer: when the host is called, how the bytes are sliced, and what a
// failed transfer leaves behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "geometry/capture_host.h"
#include "host/messages.h"
#include "host/settings.h"
#include "plot/output.h"

namespace {

class OutputBuffer : public ::testing::Test {
  protected:
    void SetUp() override {
        capture::install();
        load_message_texts();
        runtime.job_copies = 3;
        ASSERT_EQ(out_open(), 0);
    }
    void TearDown() override { out_close(); }

    // count bytes of a recognisable pattern starting at seed.
    static std::vector<uint8_t> pattern(size_t count, int seed) {
        std::vector<uint8_t> v(count);
        for (size_t i = 0; i < count; ++i) v[i] = static_cast<uint8_t>(i * 7 + seed);
        return v;
    }
};

TEST_F(OutputBuffer, WritesOutsideAJobAreDroppedAsSuccess) {
    out_close();
    EXPECT_EQ(out_write_string("IN;"), 0);
    EXPECT_EQ(out_flush(), 0);
    EXPECT_TRUE(capture::log.pieces.empty());
}

TEST_F(OutputBuffer, FlushSlicesInto128BytePieces) {
    std::vector<uint8_t> data = pattern(300, 1);
    ASSERT_EQ(out_write_bytes(300, data.data()), 0);
    EXPECT_TRUE(capture::log.pieces.empty()); // nothing sent before the flush
    ASSERT_EQ(out_flush(), 0);
    EXPECT_EQ(capture::log.pieces, (std::vector<int>{128, 128, 44}));
    EXPECT_EQ(capture::log.bytes, data);
    EXPECT_FALSE(capture::log.bad_arguments);
    EXPECT_EQ(output.out_fill, 0);
}

TEST_F(OutputBuffer, APieceThatExactlyFillsTheBufferStartsItAfresh) {
    ASSERT_EQ(out_write_string("0123456789"), 0);
    std::vector<uint8_t> almost = pattern(out_capacity - 11, 2);
    ASSERT_EQ(out_write_bytes(static_cast<int32_t>(almost.size()), almost.data()), 0);
    EXPECT_TRUE(capture::log.pieces.empty()); // one byte short of full: appended
    ASSERT_EQ(out_flush(), 0);

    capture::log = capture::host_log{};
    ASSERT_EQ(out_write_string("0123456789"), 0);
    std::vector<uint8_t> exact = pattern(out_capacity - 10, 3);
    ASSERT_EQ(out_write_bytes(static_cast<int32_t>(exact.size()), exact.data()), 0);
    EXPECT_EQ(capture::log.bytes,
              std::vector<uint8_t>(std::begin("0123456789"), std::end("0123456789") - 1));
    EXPECT_EQ(output.out_fill, out_capacity - 10);
    EXPECT_EQ(0, memcmp(output.out_buffer, exact.data(), exact.size()));
}

TEST_F(OutputBuffer, FiveMillionBytesGoOutInWholeBufferLoads) {
    ASSERT_EQ(out_write_string("0123456789"), 0);
    std::vector<uint8_t> big = pattern(5000000, 4);
    ASSERT_EQ(out_write_bytes(5000000, big.data()), 0);

    const std::vector<int>& pieces = capture::log.pieces;
    ASSERT_EQ(pieces.size(), 1u + 2 * 16384);
    EXPECT_EQ(pieces[0], 10);
    for (size_t i = 1; i < pieces.size(); ++i) ASSERT_EQ(pieces[i], 128) << i;
    ASSERT_EQ(capture::log.bytes.size(), 10u + 2 * 2097152);
    EXPECT_TRUE(
        std::equal(big.begin(), big.begin() + 2 * 2097152, capture::log.bytes.begin() + 10));
    ASSERT_EQ(output.out_fill, 805696);
    EXPECT_EQ(0, memcmp(output.out_buffer, big.data() + 2 * 2097152, 805696));
}

TEST_F(OutputBuffer, AFailedTransferRefusesEverythingAfterOneMessage) {
    output.job_drawn = 1;
    std::vector<uint8_t> data = pattern(300, 5);
    ASSERT_EQ(out_write_bytes(300, data.data()), 0);
    capture::log.accept = 1;
    EXPECT_EQ(out_flush(), -1);
    EXPECT_EQ(capture::log.pieces, std::vector<int>{128}); // the rest is dropped
    EXPECT_EQ(capture::log.printed, "\nUne erreur s'est produite pendant la r\xE9"
                                    "ception du traceur. \n");
    EXPECT_EQ(host_link.abort_flag, abort_fatal);
    EXPECT_EQ(output.out_fill, 0);
    EXPECT_EQ(output.job_drawn, 0);
    EXPECT_EQ(runtime.job_copies, 1);

    capture::log.accept = -1;
    EXPECT_EQ(out_write_string("SP1"), -1);
    EXPECT_EQ(out_write_bytes(4, data.data()), -1);
    EXPECT_EQ(out_flush(), -1);
    EXPECT_EQ(capture::log.pieces.size(), 1u);
    EXPECT_EQ(output.out_fill, 0);
    EXPECT_EQ(capture::log.printed.find("Une", 10), std::string::npos); // printed once
}

TEST_F(OutputBuffer, ALatchedAbortRefusesWithoutCallingTheHost) {
    ASSERT_EQ(out_write_string("PE7<"), 0);
    output.job_drawn = 1;
    host_link.abort_flag = abort_fatal; // cancel
    EXPECT_EQ(out_write_string("_"), -1);
    EXPECT_EQ(output.out_fill, 0);
    EXPECT_EQ(output.job_drawn, 0);
    EXPECT_EQ(runtime.job_copies, 1);
    EXPECT_TRUE(capture::log.pieces.empty());
    EXPECT_TRUE(capture::log.printed.empty());
}

TEST_F(OutputBuffer, ABadCountIsRejectedWithoutTouchingTheBuffer) {
    ASSERT_EQ(out_write_string("SP7"), 0);
    EXPECT_EQ(out_write_bytes(-1, "x"), -1);
    EXPECT_EQ(out_write_bytes(5, nullptr), -1);
    EXPECT_EQ(output.out_fill, 3);
    EXPECT_EQ(host_link.abort_flag, abort_clear);
}

TEST(BigEndian, ConvertersStoreMostSignificantByteFirstAndNothingMore) {
    uint8_t d[6];
    memset(d, 0xAA, sizeof d);
    EXPECT_EQ(put_be16(-1, d), 2);
    EXPECT_EQ(d[0], 0xFF);
    EXPECT_EQ(d[1], 0xFF);
    EXPECT_EQ(d[2], 0xAA);
    EXPECT_EQ(put_be16(0x12345, d), 2); // low 16 bits only
    EXPECT_EQ(d[0], 0x23);
    EXPECT_EQ(d[1], 0x45);
    EXPECT_EQ(put_be8(20, d), 1);
    EXPECT_EQ(d[0], 0x14);
    EXPECT_EQ(put_be32(1, d), 4);
    EXPECT_EQ(std::vector<uint8_t>(d, d + 5), (std::vector<uint8_t>{0, 0, 0, 1, 0xAA}));
    EXPECT_EQ(put_be32(-2, d), 4);
    EXPECT_EQ(std::vector<uint8_t>(d, d + 4), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFE}));
}

} // namespace
