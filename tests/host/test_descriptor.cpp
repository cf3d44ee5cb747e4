// The driver descriptor and the device tables it carries, checked byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/config_handler.h"
#include "host/device_tables.h"
#include "plot/plot_handler.h"
#include "support/fake_host.h"

namespace {

std::string text_at(const uint8_t* d, int off) {
    return reinterpret_cast<const char*>(d + off);
}

bool all_zero(const uint8_t* p, int n) {
    for (int i = 0; i < n; ++i)
        if (p[i]) return false;
    return true;
}

TEST(Descriptor, HeaderFieldsAndIdentification) {
    const uint8_t* d = fake_host_install();
    std::string ident = text_at(d, 0);
    EXPECT_EQ(ident, "Orvix 9270/9250 Wide Format [Ver. 3.0.0] ADI 4.3 ");
    EXPECT_EQ(ident.size(), 49u);
    EXPECT_TRUE(all_zero(d + 49, 408 - 49));
    EXPECT_EQ(le_u16(d, 408), 0);
    EXPECT_EQ(le_u16(d, 418), 4);
    EXPECT_TRUE(all_zero(d + 420, 12));
    EXPECT_EQ(le_u16(d, 432), 3);
    EXPECT_EQ(text_at(d, 434), "$ACADPLNAME$");
    EXPECT_TRUE(all_zero(d + 434 + 12, 15 - 12));
    EXPECT_EQ(text_at(d, 449), "Microsoft Windows Win32");
    EXPECT_TRUE(all_zero(d + 449 + 23, 32 - 23));
    EXPECT_EQ(le_u16(d, 481), 6);
    EXPECT_EQ(text_at(d, 483), "14.0-1");
    EXPECT_TRUE(all_zero(d + 483 + 6, 21 - 6));
}

TEST(Descriptor, ModelRecord) {
    const uint8_t* d = fake_host_install();
    EXPECT_EQ(text_at(d, 504), "9270/9250 Wide Format");
    EXPECT_TRUE(all_zero(d + 504 + 21, 32 - 21));
    // Capability words at record offsets 32..52.
    const int expected[11] = {1, 1, 0, 0, 0, 1, 0, 0, 1, 1, 0};
    for (int i = 0; i < 11; ++i) EXPECT_EQ(le_i16(d, 504 + 32 + 2 * i), expected[i]) << i;
    EXPECT_TRUE(all_zero(d + 558, 2));
}

TEST(Descriptor, HandlerEntriesReachTheHandlers) {
    const uint8_t* d = fake_host_install();
    auto* config = host_addr_fn<message_handler_fn>(le_u32(d, 410));
    auto* plot = host_addr_fn<message_handler_fn>(le_u32(d, 414));
    EXPECT_EQ(config, &config_handler);
    EXPECT_EQ(plot, &plot_handler);
    // Through the entry, message 20 answers the model list.
    auto rec = record(20);
    config(rec.data());
    EXPECT_EQ(le_i16(rec.data(), 2), 40);
    EXPECT_EQ(text_at(rec.data(), 8), "9270/9250 Wide Format");
}

TEST(Descriptor, SecondPladiReplacesTheServiceTable) {
    fake_host_install();
    uint8_t other[256] = {};
    le_put_u32(other, host_print_offset, host_addr_of_fn(&fake_print));
    PLADI(other, 7);
    EXPECT_EQ(host_link.service_table, other);
    fake.printed.clear();
    host_print("%s", "x");
    EXPECT_EQ(fake.printed, "x");
    // The other table has no write entry: a write fails instead of reaching the old one.
    EXPECT_EQ(host_write("a", 1), 0);
    EXPECT_TRUE(fake.write_sizes.empty());
    fake_host_install();
}

TEST(Descriptor, FirstFormatRowsAtTheirOffsets) {
    const uint8_t* d = fake_host_install();
    // Row 1 at 560: name blank-padded to 17, length, width, flags.
    EXPECT_EQ(text_at(d, 560), "E-arch(36po)     ");
    EXPECT_EQ(le_f64(d, 560 + 56), 48.0);
    EXPECT_EQ(le_f64(d, 560 + 64), 36.0);
    EXPECT_EQ(le_i16(d, 560 + 72), 0);
    EXPECT_EQ(le_i16(d, 560 + 74), 0);
    // Row 24, a custom row that no test patches, holds the placeholder length.
    const uint8_t* r24 = d + 560 + 23 * 80;
    EXPECT_EQ(text_at(r24, 0), "Format perso. largeur D-arch(24po) ");
    EXPECT_EQ(le_f64(r24, 56), 118.11);
    EXPECT_EQ(le_f64(r24, 64), 24.0);
    EXPECT_EQ(le_i16(r24, 72), 1);
    EXPECT_EQ(le_i16(r24, 74), 15000);
    // Row 42 terminates the table.
    EXPECT_TRUE(all_zero(d + 560 + 41 * 80, 80));
}

TEST(Tables, FormatNamesSizesAndPadding) {
    fake_host_install();
    struct expect_row {
        int row;
        const char* name;
        double length, width;
    };
    const expect_row fixed[] = {
        {5, "A-arch(9po)      ", 12.0, 8.96},      {10, "A-ANSI(8,5po)    ", 11.0, 8.5},
        {11, "A0               ", 46.773, 33.12},  {15, "A4               ", 11.68, 8.266},
        {16, "Sp. A0 880 x 1230", 48.426, 34.613}, {22, "Sp. A3 310 x 435 ", 17.12, 12.16},
    };
    for (const auto& e : fixed) {
        format_row f = media_format_row(0, e.row);
        EXPECT_STREQ(f.name, e.name) << e.row;
        EXPECT_EQ(f.length, e.length) << e.row;
        EXPECT_EQ(f.width, e.width) << e.row;
        EXPECT_EQ(f.custom, 0);
    }
    // Custom rows: 35 characters, but A0..A3 (rows 33..36) 25.
    EXPECT_STREQ(media_format_row(0, 32).name, "Format perso. largeur A-ANSI(8,5po)");
    EXPECT_STREQ(media_format_row(0, 33).name, "Format perso. largeur A0 ");
    EXPECT_STREQ(media_format_row(0, 36).name, "Format perso. largeur A3 ");
    EXPECT_STREQ(media_format_row(0, 37).name, "Format perso. largeur Sp. A0 880mm ");
    EXPECT_STREQ(media_format_row(0, 41).name, "Format perso. largeur Sp. A2 435mm ");
    EXPECT_EQ(media_format_row(0, 41).width, 17.12);
    EXPECT_EQ(media_format_row(0, 33).width, 33.12);
    // Out of range rows and models are empty, never outside the table.
    for (int row : {0, 42, -1, 1000000}) {
        format_row f = media_format_row(0, row);
        EXPECT_STREQ(f.name, "");
        EXPECT_EQ(f.length, 0.0);
    }
    EXPECT_STREQ(media_format_row(1, 1).name, "");
    EXPECT_STREQ(media_format_row(-5, 1).name, "");
}

TEST(Tables, DefaultCustomLengths) {
    fake_host_install();
    const int expected[19] = {1219, 914, 609, 457, 304,  1117, 863, 558, 431, 279,
                              1189, 841, 594, 420, 1230, 880,  871, 625, 620};
    for (int i = 0; i < 19; ++i) EXPECT_EQ(default_custom_length(0, 23 + i), expected[i]) << i;
    for (int row : {1, 11, 22}) EXPECT_EQ(default_custom_length(0, row), 396);
    EXPECT_EQ(default_custom_length(0, 99), 396);
}

TEST(Tables, MediaTypesAndFinisher) {
    fake_host_install();
    EXPECT_STREQ(media_type_name(0, 0, 0), "Bond                             ");
    EXPECT_STREQ(media_type_name(0, 2, 0), "Utiliser le param\xE8tre du traceur ");
    EXPECT_STREQ(media_type_command(0, 0, 0), "MT0;");
    EXPECT_STREQ(media_type_command(0, 3, 0), "MT4;");
    EXPECT_STREQ(media_type_name(0, 0, 1), ""); // no media types in KTGL+MMR
    EXPECT_STREQ(media_type_command(0, 4, 0), "");

    EXPECT_STREQ(finish_program_name(0, 0), "Plieuse manuelle ");
    EXPECT_STREQ(finish_program_pjl(0, 0), "@PJL DEFAULT FINISHPROGID=BYPASS\r\n");
    EXPECT_STREQ(finish_program_name(0, 20), "Programme 20     ");
    EXPECT_STREQ(finish_program_pjl(0, 20), "@PJL DEFAULT FINISHPROGID=PROGRAM20\r\n");
    EXPECT_STREQ(finish_program_name(0, 21), "");
    EXPECT_STREQ(finish_margins_name(0, 1), "Toujours d\xE9sactiv\xE9    ");
    EXPECT_STREQ(finish_margins_pjl(0, 0), "@PJL DEFAULT FINISHMARGINS=USEPROGRAM\r\n");
    EXPECT_STREQ(finish_margins_pjl(0, 1), "@PJL DEFAULT FINISHMARGINS=MARGINSOFF\r\n");
    EXPECT_STREQ(finish_bin_name(0, 1), "R\xE9"
                                        "c. Pli \xE9ventail ");
    EXPECT_STREQ(finish_bin_pjl(0, 1), "@PJL DEFAULT FINISHBIN=FANFOLD\r\n");
    EXPECT_STREQ(finish_bin_name(0, 14), "Bac 13            ");
    EXPECT_STREQ(finish_bin_pjl(0, 2), "@PJL DEFAULT FINISHBIN=BIN_1\r\n");
    EXPECT_STREQ(finish_bin_pjl(0, 14), "@PJL DEFAULT FINISHBIN=BIN_13\r\n");
    EXPECT_STREQ(finish_bin_pjl(0, 15), "");
    EXPECT_STREQ(finish_bin_pjl(1, 0), ""); // model 1's slots are empty
}

} // namespace
