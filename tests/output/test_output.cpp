// The output buffer: when the host is called, how bytes are sliced, and what a failed
// transfer leaves behind.
#include <gtest/gtest.h>

#include <cstring>

#include "host/messages.h"
#include "host/settings.h"
#include "output/output.h"
#include "support/fake_host.h"

namespace {

std::string pattern(size_t count, int seed) {
    std::string s(count, '\0');
    for (size_t i = 0; i < count; ++i) s[i] = static_cast<char>(i * 7 + seed);
    return s;
}

int write(const std::string& s) {
    return out_write_bytes(static_cast<int32_t>(s.size()), s.data());
}

class OutputBuffer : public ::testing::Test {
  protected:
    void SetUp() override {
        fake_host_install();
        load_message_texts();
        host_link.abort_flag = abort_clear;
        ASSERT_EQ(out_open(), 0);
    }
    void TearDown() override { out_close(); }
};

TEST_F(OutputBuffer, OutsideAJobWritesSucceedAndSendNothing) {
    out_close();
    EXPECT_EQ(out_write_string("IN;"), 0);
    EXPECT_EQ(out_flush(), 0);
    EXPECT_TRUE(fake.write_sizes.empty());
}

TEST_F(OutputBuffer, FlushSlicesInto128BytePieces) {
    std::string data = pattern(300, 1);
    ASSERT_EQ(write(data), 0);
    EXPECT_TRUE(fake.write_sizes.empty());
    ASSERT_EQ(out_flush(), 0);
    EXPECT_EQ(fake.write_sizes, (std::vector<int>{128, 128, 44}));
    EXPECT_EQ(fake.sent, data);
    EXPECT_EQ(output.out_fill, 0);
}

TEST_F(OutputBuffer, APieceThatExactlyFillsTheBufferStartsItAfresh) {
    ASSERT_EQ(out_write_string("0123456789"), 0);
    ASSERT_EQ(write(pattern(out_capacity - 11, 2)), 0); // one byte short: appended
    EXPECT_TRUE(fake.write_sizes.empty());
    ASSERT_EQ(out_flush(), 0);

    fake.sent.clear();
    ASSERT_EQ(out_write_string("0123456789"), 0);
    std::string exact = pattern(out_capacity - 10, 3);
    ASSERT_EQ(write(exact), 0);
    EXPECT_EQ(fake.sent, "0123456789");
    ASSERT_EQ(output.out_fill, out_capacity - 10);
    EXPECT_EQ(0, memcmp(output.out_buffer, exact.data(), exact.size()));
}

TEST_F(OutputBuffer, FiveMillionBytesGoOutInWholeBufferLoads) {
    ASSERT_EQ(out_write_string("0123456789"), 0);
    std::string big = pattern(5000000, 4);
    ASSERT_EQ(write(big), 0);
    std::vector<int> expected(1 + 2 * 16384, 128);
    expected[0] = 10;
    EXPECT_EQ(fake.write_sizes, expected);
    EXPECT_EQ(fake.sent, "0123456789" + big.substr(0, 2 * 2097152));
    ASSERT_EQ(output.out_fill, 805696);
    EXPECT_EQ(0, memcmp(output.out_buffer, big.data() + 2 * 2097152, 805696));
}

TEST_F(OutputBuffer, AFailedTransferRefusesEverythingAfterOneMessage) {
    output.job_drawn = 1;
    runtime.job_copies = 3;
    ASSERT_EQ(write(pattern(300, 5)), 0);
    fake.write_result = 0;
    EXPECT_EQ(out_flush(), -1);
    EXPECT_EQ(fake.write_sizes, std::vector<int>{128}); // the rest is dropped
    EXPECT_EQ(fake.printed, "\nUne erreur s'est produite pendant la r\xE9"
                            "ception du traceur. \n");
    EXPECT_EQ(host_link.abort_flag, abort_fatal);
    EXPECT_EQ(output.out_fill, 0);
    EXPECT_EQ(output.job_drawn, 0);
    EXPECT_EQ(runtime.job_copies, 1);

    fake.write_result = 1;
    EXPECT_EQ(out_write_string("SP1"), -1);
    EXPECT_EQ(out_flush(), -1);
    EXPECT_EQ(output.out_fill, 0);
    EXPECT_EQ(fake.write_sizes.size(), 1u); // the host is not called again
    EXPECT_EQ(fake.printed.find("Une", 2), std::string::npos);
}

TEST_F(OutputBuffer, PiecesStoredInPlaceKeepTheirCountedBytesUpToTheBuffersEnd) {
    // Room is given only while a whole short piece fits with a byte to spare; the host
    // then receives exactly the bytes counted, whatever was stored past them.
    for (int32_t room : {out_room_short + 2, out_room_short + 1, out_room_short, 1}) {
        for (int32_t count : {1, 7, 14, out_room_short}) {
            out_close();
            ASSERT_EQ(out_open(), 0);
            fake.sent.clear();
            std::string filler = pattern(static_cast<size_t>(out_capacity - room), count);
            ASSERT_EQ(write(filler), 0);
            uint8_t* dest = out_room();
            if (room <= out_room_short) {
                EXPECT_EQ(dest, nullptr) << room;
                continue;
            }
            ASSERT_NE(dest, nullptr) << room;
            std::string piece = pattern(out_room_short, 40 + count);
            std::memcpy(dest, piece.data(), piece.size());
            out_commit(count);
            ASSERT_EQ(out_flush(), 0);
            EXPECT_EQ(fake.sent, filler + piece.substr(0, static_cast<size_t>(count)))
                << count << " bytes with room for " << room;
        }
    }
    host_link.abort_flag = abort_fatal; // none once an abort is latched
    EXPECT_EQ(out_room(), nullptr);
    host_link.abort_flag = abort_clear;
    out_close(); // nor outside a job
    EXPECT_EQ(out_room(), nullptr);
}

TEST(BigEndian, ConvertersStoreMostSignificantByteFirstAndNothingMore) {
    uint8_t d[5];
    memset(d, 0xAA, sizeof d);
    EXPECT_EQ(put_be32(1, d), 4);
    EXPECT_EQ(std::vector<uint8_t>(d, d + 5), (std::vector<uint8_t>{0, 0, 0, 1, 0xAA}));
    EXPECT_EQ(put_be16(-1, d), 2);
    EXPECT_EQ(put_be8(20, d + 2), 1);
    EXPECT_EQ(std::vector<uint8_t>(d, d + 4), (std::vector<uint8_t>{0xFF, 0xFF, 0x14, 1}));
}

} // namespace
