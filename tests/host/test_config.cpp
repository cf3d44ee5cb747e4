// Configuration messages, as the host sends them, checked against the record bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "color/correction.h"
#include "host/config_handler.h"
#include "host/device_tables.h"
#include "host/messages.h"
#include "host/settings.h"
#include "support/fake_host.h"

namespace {

constexpr double c = 0.03937007874015748;

// The shared hand-written default record, with a custom length and a model index too.
void store_record(int format, int length_mm, int margin, uint16_t mode, int model = 0) {
    fake_store_record(format, margin, mode);
    le_put_i32(fake.store, 8, length_mm);
    le_put_i16(fake.store, 32, model);
}

std::vector<uint8_t> send(int code) {
    auto rec = record(code);
    config_handler(rec.data());
    return rec;
}

class Config : public ::testing::Test {
  protected:
    void SetUp() override {
        fake_host_install();
        auto rec = record(49);
        le_put_i16(rec.data(), 4, 1);
        rec[7] = 2;
        ASSERT_EQ(config_handler(rec.data()), 0);
        send(50);
        fake.printed.clear();
    }
    // 20 then 21 (reset when asked), returning the reply of 21.
    std::vector<uint8_t> configure(bool reset = false) {
        send(20);
        auto rec = record(21);
        if (reset) le_put_i16(rec.data(), 6, 1);
        config_handler(rec.data());
        return rec;
    }
};

TEST_F(Config, IdentifyCopiesTheIdentificationAndChecksTheCaller) {
    auto rec = record(49);
    le_put_i16(rec.data(), 4, 1);
    rec[7] = 2;
    std::memset(rec.data() + 86, 0xAA, 81);
    EXPECT_EQ(config_handler(rec.data()), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(rec.data() + 86)),
              "Orvix 9270/9250 Wide Format [Ver. 3.0.0] ADI 4.3 ");
    for (int i = 86 + 49; i < 86 + 81; ++i) EXPECT_EQ(rec[i], 0) << i;
    EXPECT_EQ(rec[167], 0);               // nothing past the 81 bytes
    EXPECT_EQ(le_i16(rec.data(), 0), 49); // status not written

    rec = record(49);
    le_put_i16(rec.data(), 4, 2);
    rec[7] = 2;
    EXPECT_EQ(config_handler(rec.data()), -1);
    EXPECT_EQ(le_i16(rec.data(), 10), -3);
    EXPECT_EQ(fake.printed,
              "\nTentative d'appel du dessin \xE0 partir de l'application autre que Auto CAD.\n");
    EXPECT_EQ(host_link.abort_flag, 137);

    fake.printed.clear();
    rec = record(49);
    le_put_i16(rec.data(), 4, 1);
    rec[7] = 1;
    EXPECT_EQ(config_handler(rec.data()), -1);
    EXPECT_EQ(le_i16(rec.data(), 10), -5);
    EXPECT_EQ(fake.printed, "\nVersion Auto CAD invalide. Utiliser R14 ou ult\xE9rieur.\n");
}

TEST_F(Config, VersionCheckAndTheGuardedRule) {
    auto rec = record(11);
    le_put_i16(rec.data(), 4, 7);
    le_put_u32(rec.data(), 11, 0x12345678);
    config_handler(rec.data());
    EXPECT_EQ(le_i16(rec.data(), 0), 0);
    EXPECT_EQ(le_i16(rec.data(), 4), 3);
    EXPECT_EQ(host_link.host_window, 0x12345678u);

    rec = record(11);
    le_put_i16(rec.data(), 4, 2);
    config_handler(rec.data());
    EXPECT_EQ(le_i16(rec.data(), 0), -1);
    EXPECT_EQ(host_link.abort_flag, 137);
    EXPECT_EQ(fake.printed, "\nVersion Auto CAD invalide. Utiliser R14 ou ult\xE9rieur.\n");

    // Latched: 11, 21, 40, 47 answer -1 and do nothing; the others still work.
    fake.printed.clear();
    for (int code : {11, 21, 40, 47}) {
        auto r = record(code);
        config_handler(r.data());
        EXPECT_EQ(le_i16(r.data(), 0), -1) << code;
        EXPECT_EQ(std::vector<uint8_t>(r.begin() + 2, r.end()),
                  std::vector<uint8_t>(r.size() - 2, 0))
            << code;
    }
    EXPECT_EQ(fake.saves, 0);
    EXPECT_EQ(le_i16(send(22).data(), 0), 0);
    EXPECT_EQ(le_i16(send(44).data(), 0), 0);

    // Message 49 clears the flag.
    rec = record(49);
    le_put_i16(rec.data(), 4, 1);
    rec[7] = 2;
    config_handler(rec.data());
    EXPECT_EQ(le_i16(send(40).data(), 0), 0);
}

TEST_F(Config, UnknownCodesLeaveTheRecordUntouched) {
    for (int code : {-1, 0, 1, 2, 3, 10, 12, 24, 30, 45, 46, 48, 51, 54, 32767}) {
        std::vector<uint8_t> rec(2064);
        for (size_t i = 0; i < rec.size(); ++i) rec[i] = static_cast<uint8_t>(i * 7 + 3);
        le_put_i16(rec.data(), 0, code);
        auto before = rec;
        EXPECT_EQ(config_handler(rec.data()), 0);
        EXPECT_EQ(rec, before) << code;
    }
    EXPECT_TRUE(fake.printed.empty());
}

TEST_F(Config, NothingStoredGivesTheDefaults) {
    auto rec = configure();
    EXPECT_EQ(le_i16(rec.data(), 0), 0);
    EXPECT_EQ(le_i16(rec.data(), 2), 59);
    EXPECT_EQ(settings.copies, 1);
    EXPECT_EQ(settings.media_format, 1);
    EXPECT_EQ(settings.custom_length_mm, 396);
    EXPECT_EQ(settings.red_pen, 1);
    EXPECT_EQ(settings.reserved_word, 2);
    EXPECT_EQ(settings.plot_flags, 0x1000);
    EXPECT_EQ(settings.mode_flags & 0x0FFF, 0x0100);
    const uint8_t points[5] = {0, 123, 187, 228, 255};
    EXPECT_EQ(std::memcmp(settings.correction_points, points, 5), 0);
    // Line parameters.
    EXPECT_EQ(le_i16(rec.data(), 40), 395);
    EXPECT_EQ(le_i16(rec.data(), 48), 2);
    EXPECT_EQ(le_i16(rec.data(), 50), 9600);
    EXPECT_EQ(le_i16(rec.data(), 52), 0);
    EXPECT_EQ(le_i16(rec.data(), 54), 8);
    EXPECT_EQ(le_i16(rec.data(), 56), 1);
    EXPECT_EQ(le_i16(rec.data(), 42), 255);
    EXPECT_EQ(le_i16(rec.data(), 44), 1);
    EXPECT_EQ(le_i16(rec.data(), 46), 7);
    // E-arch 48 x 36, no margin: the length is the longer printable side.
    EXPECT_EQ(le_f64(rec.data(), 8), 48.0);
    EXPECT_EQ(le_f64(rec.data(), 16), 36.0);
    EXPECT_TRUE(fake.printed.empty()); // defaults are chosen silently
}

TEST_F(Config, A4WithoutMargin) {
    store_record(15, 396, 0, 0x0100);
    auto rec = configure();
    EXPECT_EQ(le_f64(rec.data(), 8), 11.68);
    EXPECT_EQ(le_f64(rec.data(), 16), 8.266);
    EXPECT_EQ(runtime.coordinate_divisor, 1);
    EXPECT_EQ(le_f64(rec.data(), 24), 1016.0);
    EXPECT_EQ(le_f64(rec.data(), 32), 1016.0);
    EXPECT_EQ(runtime.scale_factor, 1.0);
    EXPECT_TRUE(settings.mode_flags & 0x1000);
    EXPECT_EQ(runtime.paper_unrotated, 0);
    EXPECT_EQ(runtime.printable_length, 11.68);
    EXPECT_EQ(runtime.printable_width, 8.266);

    store_record(15, 396, 0, 0x0140); // the same in KTGL+MMR
    rec = configure();
    EXPECT_EQ(le_f64(rec.data(), 24), 800.0);
    EXPECT_EQ(le_f64(rec.data(), 32), 800.0);
    EXPECT_EQ(runtime.scale_factor, 0.5);
}

TEST_F(Config, CustomRowWithMargin) {
    store_record(23, 3000, 5, 0x0100);
    auto rec = configure();
    EXPECT_EQ(le_f64(rec.data(), 8), 3000 * c - 2 * 5 * c);
    EXPECT_EQ(le_f64(rec.data(), 16), 36 - 2 * 5 * c);
    EXPECT_EQ(runtime.coordinate_divisor, 2);
    EXPECT_EQ(le_f64(rec.data(), 24), 508.0);
    EXPECT_EQ(media_format_row(0, 23).length, 118.11023622047244);
    EXPECT_EQ(runtime.margins[0], 5 * c);
    EXPECT_EQ(runtime.margins[3], 5 * c);
}

TEST_F(Config, WideFormatIsUnrotated) {
    // A custom A4-wide roll of 100 mm: wider than long.
    store_record(36, 100, 0, 0x1100);
    auto rec = configure();
    EXPECT_EQ(le_f64(rec.data(), 8), 11.68);
    EXPECT_EQ(le_f64(rec.data(), 16), 100 * c);
    EXPECT_FALSE(settings.mode_flags & 0x1000);
    EXPECT_EQ(runtime.paper_unrotated, 1);
}

TEST(PlotArea, DivisorThresholds) {
    fake_host_install();
    settings.mode_flags = 0x0100;
    EXPECT_EQ(coordinate_divisor(64.5, 64.5), 1);
    EXPECT_EQ(coordinate_divisor(64.51, 1), 2);
    EXPECT_EQ(coordinate_divisor(1, 64.51), 2);
    EXPECT_EQ(coordinate_divisor(129, 129), 2);
    EXPECT_EQ(coordinate_divisor(129.01, 1), 4);
    EXPECT_EQ(coordinate_divisor(258, 1), 4);
    EXPECT_EQ(coordinate_divisor(516, 1), 8);
    EXPECT_EQ(coordinate_divisor(516.01, 1), 16);
    EXPECT_EQ(coordinate_divisor(5000, 1), 16);
    settings.mode_flags = 0x0140;
    EXPECT_EQ(coordinate_divisor(81.915, 81.915), 1);
    EXPECT_EQ(coordinate_divisor(81.92, 1), 2);
    EXPECT_EQ(coordinate_divisor(163.83, 1), 2);
    EXPECT_EQ(coordinate_divisor(327.66, 1), 4);
    // Past 327.66 inches the divisor keeps doubling: the longest roll still fits.
    EXPECT_EQ(coordinate_divisor(327.67, 1), 8);
    EXPECT_LE(15000 * c * 800 / coordinate_divisor(15000 * c, 36), 65532);
    settings.mode_flags = 0x0100;

    EXPECT_EQ(fits_signed_range(40.95, 40.95), 1);
    EXPECT_EQ(fits_signed_range(40.9575, 1), 0);
    EXPECT_EQ(fits_signed_range(1, 41), 0);
}

TEST_F(Config, CapabilityReplies) {
    auto r22 = send(22), r23 = send(23), r25 = send(25);
    for (auto* r : {&r22, &r23, &r25}) {
        EXPECT_EQ(le_i16(r->data(), 0), 0);
        EXPECT_EQ(le_i16(r->data(), 2), 262);
        EXPECT_EQ((*r)[262], 0); // nothing past the table
    }
    EXPECT_EQ(le_i16(r22.data(), 4), 7);
    EXPECT_EQ(le_i16(r23.data(), 4), 255);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(r22[6 + i], 0);
        EXPECT_EQ(r23[6 + i], 1);
        EXPECT_EQ(r25[6 + i], i == 0 ? 1 : i);
    }

    auto r40 = record(40);
    le_put_u32(r40.data(), 5, 0x00000001);
    config_handler(r40.data());
    EXPECT_EQ(r40[4], 1);
    EXPECT_EQ(le_u32(r40.data(), 5), 0x00080001u);
    EXPECT_EQ(r40[139], 2);
    EXPECT_EQ(r40[140], 0);
}

TEST_F(Config, PenWidthTableWrapsItsCount) {
    auto rec = record(44);
    le_put_u32(rec.data(), 8, 0x0001FFFF);
    le_put_i16(rec.data(), 12, 1);
    config_handler(rec.data());
    EXPECT_EQ(le_i16(rec.data(), 0), 0);
    EXPECT_EQ(le_i16(rec.data(), 2), 0);
    EXPECT_EQ(le_u32(rec.data(), 4), 255u);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(le_f64(rec.data(), 16 + 8 * i), 0.00278);

    rec = record(44);
    le_put_u32(rec.data(), 8, 10);
    le_put_i16(rec.data(), 12, -3);
    config_handler(rec.data());
    EXPECT_EQ(le_i16(rec.data(), 2), 7);
}

TEST_F(Config, StoredRecordStandsWhenValid) {
    store_record(15, 396, 3, 0x0200);
    le_put_i32(fake.store, 0, 4);
    fake.store[39] = 0x5C; // spare byte, kept as found
    configure();
    EXPECT_EQ(settings.copies, 4);
    EXPECT_EQ(settings.media_format, 15);
    EXPECT_EQ(settings.margin_mm, 3);
    EXPECT_EQ(settings.mode_flags & 0x0F00, 0x0200);
    send(47);
    EXPECT_EQ(fake.store[39], 0x5C);
    EXPECT_EQ(le_i32(fake.store, 0), 4);
}

TEST_F(Config, ResetOrAnotherModelGivesTheDefaults) {
    store_record(15, 396, 3, 0x0200);
    configure(true);
    EXPECT_EQ(settings.media_format, 1);
    EXPECT_EQ(settings.margin_mm, 0);

    store_record(15, 396, 3, 0x0200, 1); // saved for model 1
    configure();
    EXPECT_EQ(settings.media_format, 1);
    EXPECT_EQ(settings.mode_flags & 0x0F00, 0x0100);
}

TEST_F(Config, SaveWritesModelZeroAndReportsFailure) {
    store_record(15, 396, 0, 0x0100, 1);
    configure();
    auto rec = send(47);
    EXPECT_EQ(le_i16(rec.data(), 0), 0);
    EXPECT_EQ(le_i16(fake.store, 32), 0);
    uint8_t expected[40];
    settings_to_bytes(settings, expected);
    EXPECT_EQ(std::memcmp(fake.store, expected, 40), 0);

    fake.save_result = 1;
    const settings_record before = settings;
    rec = send(47);
    EXPECT_EQ(le_i16(rec.data(), 0), -1);
    EXPECT_EQ(host_link.abort_flag, 137);
    EXPECT_EQ(fake.printed, "\n\xC9"
                            "chec de la sauvegarde des informations de configuration.  \n");
    EXPECT_EQ(std::memcmp(&before, &settings, sizeof settings), 0); // record survives
}

TEST_F(Config, OutOfRangeStoredFieldsAreReplacedByDefaults) {
    store_record(15, 396, 0, 0x0100);
    le_put_i32(fake.store, 0, 150);     // copies
    le_put_i32(fake.store, 4, 99);      // media_format
    le_put_i32(fake.store, 8, -20);     // custom_length_mm
    le_put_i16(fake.store, 12, 9);      // media_type
    le_put_i16(fake.store, 14, -1);     // finish_program
    le_put_i16(fake.store, 16, 2);      // finish_margins
    le_put_i16(fake.store, 18, 15);     // finish_bin
    le_put_i32(fake.store, 20, 256);    // red_pen
    le_put_i16(fake.store, 26, 11);     // margin_mm
    le_put_u16(fake.store, 30, 0x0300); // two resolutions at once
    auto rec = configure();
    EXPECT_EQ(le_i16(rec.data(), 0), 0);
    EXPECT_EQ(settings.copies, 1);
    EXPECT_EQ(settings.media_format, 1);
    EXPECT_EQ(settings.custom_length_mm, 396);
    EXPECT_EQ(settings.media_type, 0);
    EXPECT_EQ(settings.finish_program, 0);
    EXPECT_EQ(settings.finish_margins, 0);
    EXPECT_EQ(settings.finish_bin, 0);
    EXPECT_EQ(settings.red_pen, 1);
    EXPECT_EQ(settings.margin_mm, 0);
    EXPECT_EQ(settings.mode_flags & 0x0F00, 0x0100);
    EXPECT_EQ(le_f64(rec.data(), 8), 48.0);

    // A custom format with no resolution bit and a length beyond the roll's maximum.
    store_record(33, 20000, 0, 0x0000);
    rec = configure();
    EXPECT_EQ(settings.custom_length_mm, 1189); // the A0 roll's default length
    EXPECT_EQ(settings.mode_flags & 0x0F00, 0x0100);
    EXPECT_EQ(le_f64(rec.data(), 8), 1189 * c);
}

TEST_F(Config, ConfigureRebuildsTheCorrectionTable) {
    store_record(1, 396, 0, 0x0100);
    const uint8_t identity[5] = {0, 64, 128, 192, 255};
    std::memcpy(fake.store + 34, identity, 5);
    configure();
    for (int i = 0; i < 256; ++i) ASSERT_EQ(correction_at(i), i);
}

TEST(Messages, TableBeforeAndAfterLoading) {
    fake_host_install();
    load_message_texts();
    EXPECT_STREQ(message_text(75), "\xC9"
                                   "chec de la sauvegarde des informations de configuration.  ");
    EXPECT_STREQ(message_text(77), "Une erreur s'est produite pendant la r\xE9"
                                   "ception du traceur. ");
    EXPECT_STREQ(message_text(33), "S\xE9lectionner les donn\xE9"
                                   "es g\xE9n\xE9r\xE9"
                                   "es : KTGL+MMR ");
    EXPECT_STREQ(message_text(29), "Parall\xE8le ");
    EXPECT_STREQ(message_text(3), "");
    EXPECT_STREQ(message_text(86), "");
    EXPECT_STREQ(message_text(-1), "");
    for (int slot = 0; slot < 86; ++slot) EXPECT_LT(std::strlen(message_text(slot)), 85u);
}

} // namespace
