// Plot set-up messages, the job preamble and the trailer, as the host sees them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "host/settings.h"
#include "output/output.h"
#include "plot/plot_handler.h"
#include "plot/plot_setup.h"
#include "support/fake_host.h"

namespace {

std::vector<uint8_t> send(std::vector<uint8_t> rec) {
    plot_handler(rec.data());
    return rec;
}

std::vector<uint8_t> send(int code) { return send(record(code)); }

std::string bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s += static_cast<char>(b);
    return s;
}

class Job : public ::testing::Test {
protected:
    void SetUp() override {
        fake_host_install();
        fake_store_record();
    }
    void identify() {
        auto rec = record(49);
        le_put_i16(rec.data(), 4, 1);
        rec[7] = 2;
        ASSERT_EQ(plot_handler(rec.data()), 0);
        send(50);
    }
    std::vector<uint8_t> begin(int level = 3) {
        auto rec = record(29);
        le_put_i16(rec.data(), 4, level);
        le_put_u32(rec.data(), 11, 0x99);
        return send(rec);
    }
    std::vector<uint8_t> configure(uint32_t options = 0) {
        auto rec = record(46);
        le_put_u32(rec.data(), 5, options);
        return send(rec);
    }
    // 49, 50, 29, 46, 30; then the job's bytes so far are the preamble once flushed.
    void start(uint32_t options = 0) {
        identify();
        ASSERT_EQ(le_i16(begin().data(), 0), 0);
        ASSERT_EQ(le_i16(configure(options).data(), 0), 19);
        auto rec = send(30);
        ASSERT_EQ(le_i16(rec.data(), 0), 0);
    }
    void draw(int code, int x, int y) {
        auto rec = record(code);
        le_put_u16(rec.data(), 4, x);
        le_put_u16(rec.data(), 6, y);
        plot_handler(rec.data());
    }
    // Ends the plot after a draw so that everything reaches the host.
    std::string finish_drawn() {
        draw(3, 0, 0);
        draw(4, 1, 0);
        send(2);
        return fake.sent;
    }
};

TEST_F(Job, ConfigurePlotAnswersTheWholeArea) {
    identify();
    begin();
    fake.saves = 0;
    auto rec = configure(0x1234);
    EXPECT_EQ(le_i16(rec.data(), 0), 19);
    EXPECT_EQ(le_f64(rec.data(), 9), 48.0); // E-arch: the length is the longer side
    EXPECT_EQ(le_f64(rec.data(), 25), 48.0);
    EXPECT_EQ(le_f64(rec.data(), 17), 36.0);
    EXPECT_EQ(le_f64(rec.data(), 33), 36.0);
    EXPECT_EQ(le_f64(rec.data(), 41), 1016.0);
    EXPECT_EQ(le_f64(rec.data(), 49), 1016.0);
    EXPECT_EQ(std::memcmp(rec.data() + 73, "MAX", 4), 0);
    EXPECT_EQ(rec[139], 2);
    EXPECT_EQ(rec[140], 0);
    EXPECT_EQ(plot_setup.host_options, 0x1234u);
    EXPECT_EQ(fake.saves, 1);

    fake.save_result = 1;
    rec = configure();
    EXPECT_EQ(le_i16(rec.data(), 0), -1);
    EXPECT_EQ(host_link.abort_flag, 137);
    EXPECT_EQ(fake.printed,
              "\n\xC9" "chec de la sauvegarde des informations de configuration.  \n");
    EXPECT_EQ(le_i16(send(30).data(), 0), -1);
}

TEST_F(Job, NegotiateAnswersOncePerIdentification) {
    identify();
    begin();
    auto rec = record(48);
    le_put_u32(rec.data(), 5, 7);
    le_put_f64(rec.data(), 9, 100.0);
    le_put_f64(rec.data(), 17, 100.0);
    le_put_f64(rec.data(), 41, 1016.0);
    le_put_f64(rec.data(), 49, 1016.0);
    auto first = send(rec);
    EXPECT_EQ(le_i16(first.data(), 0), 19);
    EXPECT_EQ(le_f64(first.data(), 25), 48.0);
    EXPECT_EQ(le_f64(first.data(), 33), 36.0);
    EXPECT_EQ(le_f64(first.data(), 9), 48.0);
    EXPECT_EQ(le_f64(first.data(), 17), 36.0);
    EXPECT_EQ(std::memcmp(first.data() + 73, "MAX", 4), 0);
    EXPECT_EQ(runtime.printable_length, 48.0);

    // Second time: only the status and the option word.
    le_put_u32(rec.data(), 5, 9);
    auto second = send(rec);
    auto expected = rec;
    le_put_i16(expected.data(), 0, 0);
    EXPECT_EQ(second, expected);
    EXPECT_EQ(plot_setup.host_options, 9u);

    // After a new identification, a request larger in one side only stays as sent.
    identify();
    begin();
    auto partial = record(48);
    le_put_f64(partial.data(), 9, 100.0);
    le_put_f64(partial.data(), 17, 20.0);
    partial = send(partial);
    EXPECT_EQ(le_f64(partial.data(), 9), 100.0);
    EXPECT_EQ(le_f64(partial.data(), 17), 20.0);
    EXPECT_EQ(partial[73], 0);
    EXPECT_EQ(le_f64(partial.data(), 25), 48.0);
    EXPECT_EQ(runtime.printable_width, 20.0);
}

TEST_F(Job, BeginPlotFailures) {
    identify();
    auto rec = begin(2);
    EXPECT_EQ(le_i16(rec.data(), 0), -1);
    EXPECT_EQ(fake.printed, "\nVersion Auto CAD invalide. Utiliser R14 ou ult\xE9rieur.\n");
    EXPECT_EQ(host_link.abort_flag, 137);
    EXPECT_EQ(le_i16(send(30).data(), 0), -1);
    EXPECT_EQ(output.out_buffer, nullptr); // nothing obtained

    identify();
    fake.stored = false;
    fake.printed.clear();
    EXPECT_EQ(le_i16(begin().data(), 0), -1);
    EXPECT_EQ(fake.printed, "\n\xC9" "chec d'obtention des informations de configuration. \n");

    identify();
    fake_store_record(1, 0, 0x0100, 0x1000, 150);
    rec = begin();
    EXPECT_EQ(le_i16(rec.data(), 0), 0);
    EXPECT_EQ(le_i16(rec.data(), 4), 3);
    EXPECT_EQ(settings.copies, 1);
    EXPECT_EQ(runtime.job_copies, 1);
    EXPECT_EQ(host_link.host_window, 0x99u);
}

TEST_F(Job, RtlPreambleOpening) {
    fake_store_record(1, 0, 0x0100, 0x1000, 2);
    start();
    std::string job = finish_drawn();
    const std::string opening = "\x1B%-12345X@PJL\r\n"
                                "@PJL DEFAULT FINISHPROGID=BYPASS\r\n"
                                "@PJL ENTER LANGUAGE=HPGL2\r\n"
                                "\x1B%0B;"
                                "BP2,2;IN;"
                                "MT0;"
                                "PS48768,36576"
                                "IP0,0,48768,36576"
                                "SC0,48768,0,36576"
                                "IW0,0,48768,36576;"
                                "XF4,0;"
                                "LA1,4,2,4SP7RF"
                                "NP256"
                                "CR0,255,0,255,0,255"
                                "PC1,76,76,76";
    EXPECT_EQ(job.substr(0, opening.size()), opening);
    EXPECT_NE(job.find("PC8,191,191,191PC9,127,127,127"), std::string::npos);
    EXPECT_NE(job.find("PC255,0,0,0PUPA0,0PR;TR0;PE7<"), std::string::npos);
    // Trailer: pen up, no pen, page eject, universal exit.
    const std::string trailer = ";PUSP0;PG;\x1B%-12345X\r\n";
    ASSERT_GE(job.size(), trailer.size());
    EXPECT_EQ(job.substr(job.size() - trailer.size()), trailer);
    // Transferred in 128-byte pieces and one shorter last one.
    for (size_t i = 0; i + 1 < fake.write_sizes.size(); ++i) EXPECT_EQ(fake.write_sizes[i], 128);
    EXPECT_EQ(fake.calls_192.front(), std::make_pair(30, 1));
    EXPECT_EQ(fake.calls_192.back(), std::make_pair(5, 1));
    EXPECT_EQ(output.out_buffer, nullptr);
}

TEST_F(Job, PlotAreaStepsBeyondAnySheetAreLimitedInThePreamble) {
    // Message 48 takes the host's steps per inch as given: an absurd one must not
    // overflow the page size, and NaN counts as 0.
    const struct {
        double steps;
        const char* geometry;
    } cases[] = {
        {1e300, "PS536870912,536870912IP0,0,536870912,536870912SC0,536870912,0,536870912"},
        {-1e300, "PS-536870912,-536870912IP0,0,-536870912,-536870912"},
        {std::nan(""), "PS0,0IP0,0,0,0SC0,0,0,0IW0,0,0,0;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.steps);
        SetUp();
        identify();
        begin();
        auto rec = record(48);
        le_put_f64(rec.data(), 9, 100.0);
        le_put_f64(rec.data(), 17, 100.0);
        le_put_f64(rec.data(), 41, c.steps);
        le_put_f64(rec.data(), 49, c.steps);
        send(rec);
        ASSERT_EQ(le_i16(send(30).data(), 0), 0);
        EXPECT_NE(finish_drawn().find(c.geometry), std::string::npos) << fake.sent.substr(0, 200);
    }
}

TEST_F(Job, FinisherLabelMarginAndManualFeed) {
    fake_store_record(15, 10, 0x0180); // A4, 10 mm margin, manual feed
    le_put_i16(fake.store, 14, 3);     // programme 3
    le_put_i16(fake.store, 16, 1);     // margins off
    le_put_i16(fake.store, 18, 14);    // bin 13
    identify();
    begin();
    std::strcpy(runtime.label_text, "AB");
    configure();
    send(30);
    std::string job = finish_drawn();
    EXPECT_NE(job.find("@PJL DEFAULT FINISHPROGID=PROGRAM3\r\n"
                       "@PJL DEFAULT FINISHMARGINS=MARGINSOFF\r\n"
                       "@PJL DEFAULT FINISHBIN=BIN_13\r\n"
                       "@PJL ENTER LANGUAGE=HPGL2\r\n"),
              std::string::npos);
    EXPECT_NE(job.find("BP1,\"AB\",2,1;IN;MT0;"), std::string::npos);
    // A4 rotated, 10 mm margins: sides 11.68 - 20 mm and 8.266 - 20 mm at 1016 per inch.
    const double c = 0.03937007874015748;
    const long w = static_cast<long>(1016.0 * (11.68 - (10 * c + 10 * c)) * 1.0);
    const long h = static_cast<long>(1016.0 * (8.266 - (10 * c + 10 * c)) * 1.0);
    const long m = static_cast<long>(10 * c * 1016.0);
    const std::string geometry = "PS" + std::to_string(w + 2 * m) + "," +
                                 std::to_string(h + 2 * m) + "IP" + std::to_string(m) + "," +
                                 std::to_string(m) + "," + std::to_string(w + m) + "," +
                                 std::to_string(h + m) + "SC0," + std::to_string(w) + ",0," +
                                 std::to_string(h) + "IW0,0," + std::to_string(w) + "," +
                                 std::to_string(h) + ";XF4,1;";
    EXPECT_NE(job.find(geometry), std::string::npos) << geometry;
}

TEST_F(Job, DeviceEscapesOnlyForTheSerialPortAndUnlessSuppressed) {
    fake_store_record(1, 0, 0x0100, 0x1001); // serial, Xon/Xoff
    start();
    const std::string xon = "\x1B.R\x1B.I81;0;17:\x1B.N10;19:\x1B.@;0:";
    EXPECT_EQ(fake.sent, xon); // sent before any buffered byte
    std::string job = finish_drawn();
    EXPECT_EQ(job.substr(0, xon.size() + 9), xon + "\x1B%-12345X");

    fake_host_install();
    fake_store_record(1, 0, 0x0100, 0x1101); // hardware handshake
    start();
    EXPECT_EQ(fake.sent, "\x1B.R\x1B.@;1:");

    fake_host_install();
    fake_store_record(1, 0, 0x0100, 0x1301); // no set-up
    start();
    EXPECT_EQ(fake.sent, "");

    fake_host_install();
    fake_store_record(1, 0, 0x0100, 0x1001);
    start(0x40); // the host suppresses the escapes
    EXPECT_EQ(fake.sent, "");
}

TEST_F(Job, NothingDrawnMeansNoTrailerAndNoTransfer) {
    start();
    draw(3, 10, 10);
    draw(3, 20, 20);
    send(2);
    EXPECT_EQ(fake.sent, "");
    EXPECT_TRUE(fake.write_sizes.empty());
    EXPECT_EQ(output.out_buffer, nullptr);
    EXPECT_EQ(fake.calls_192.back(), std::make_pair(5, 1));
}

TEST_F(Job, CancelStopsTheJobQuietly) {
    start();
    draw(3, 10, 10);
    draw(4, 20, 20);
    send(9);
    EXPECT_EQ(host_link.abort_flag, 255);
    auto rec = record(4);
    le_put_u16(rec.data(), 4, 30);
    plot_handler(rec.data());
    EXPECT_EQ(le_i16(rec.data(), 0), -1);
    send(2);
    EXPECT_EQ(fake.sent, "");
    EXPECT_EQ(output.out_buffer, nullptr);
    // A new identification clears the flag.
    identify();
    EXPECT_EQ(host_link.abort_flag, 0);
}

TEST_F(Job, KtglPreambleAndTrailer) {
    fake_store_record(15, 0, 0x01C0, 0x1000, 10); // KTGL+MMR, manual feed, 10 copies
    identify();
    begin();
    std::strcpy(runtime.label_text, "abc");
    configure();
    ASSERT_EQ(le_i16(send(30).data(), 0), 0);
    std::string job = finish_drawn();
    const std::string head = bytes({0x9B, 0x5E, 0x00, 0x02, 0x00, 0x02,  // job begin
                                    0x9B, 0x4E, 0x00, 0x02, '0', 'A',    // 10 copies
                                    0x9B, 0x62, 0x00, 0x02, 0x00, 0x00}); // manual feed
    EXPECT_EQ(job.substr(0, head.size()), head);
    // Page opening (84 bytes), then the label padded to whole words.
    const std::string label = bytes({0x14, 0x03, 0x00, 0x03, 'a', 'b', 'c', 0x00});
    EXPECT_EQ(job.substr(head.size() + 84, label.size()), label);
    // After patterns, pens and set-up: line width 0, two corner marks, line width 1.
    // A4 in KTGL: 800 steps per inch, scale 0.5, so the marks' far corner is at
    // trunc(trunc(800 * 11.68 * 0.5) * 0.5) = 2336, trunc(trunc(800 * 8.266 * 0.5) * 0.5) = 1653.
    const std::string marks = bytes({0x40, 0x01, 0x00, 0x00,                        // width 0
                                     0x64, 0x04, 0, 0, 0, 0, 0, 0, 0, 0,             // mark (0, 0)
                                     0x64, 0x04, 0x09, 0x20, 0x06, 0x75, 0, 0, 0, 0, // far corner
                                     0x40, 0x01, 0x00, 0x01});                      // width 1
    EXPECT_NE(job.find(marks), std::string::npos);
    // Trailer: page closing (74 bytes) and job end.
    const std::string end = bytes({0x9B, 0x5E, 0x00, 0x02, 0x00, 0x00});
    ASSERT_GT(job.size(), 80u);
    EXPECT_EQ(job.substr(job.size() - 6), end);
}

TEST_F(Job, UnknownPlotCodesLeaveTheRecordUntouched) {
    start();
    for (int code : {0, 1, 6, 10, 14, 16, 28, 32, 34, 35, 37, 40, 42, 44, 45, 51, 53, 55, 99}) {
        std::vector<uint8_t> rec(2064);
        for (size_t i = 0; i < rec.size(); ++i) rec[i] = static_cast<uint8_t>(i * 13 + 1);
        le_put_i16(rec.data(), 0, code);
        auto before = rec;
        plot_handler(rec.data());
        EXPECT_EQ(rec, before) << code;
    }
}

TEST_F(Job, ReportAndLegendTexts) {
    identify();
    begin();
    fake.printed.clear();
    send(31);
    EXPECT_EQ(fake.printed,
              " Traceur : 9270/9250 Wide Format"
              "\n S\xE9lectionner le type de support : Bond                              "
              "\n Format support : E-arch(36po)      "
              "\n S\xE9lectionner les donn\xE9" "es g\xE9n\xE9r\xE9" "es : HP-RTL/GL2 "
              "\n Programme: Plieuse manuelle  "
              "\n Aucune r\xE9" "ception en manuel "
              "\n Remplir un polygone. (Demi-teinte) "
              "\n R\xE9solution d'image : 600dpi "
              "\n Nombre de copies :  1 "
              "\n Port du traceur : Parall\xE8le "
              "\n");
    fake.printed.clear();
    send(15);
    EXPECT_EQ(fake.printed.substr(0, 36), "\nType de ligne No. 0 = Ligne solide\n");
    EXPECT_NE(fake.printed.find("\n                7 = ------ . . ------ . . ------ . ."),
              std::string::npos);
}

} // namespace
