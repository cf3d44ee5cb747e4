// A server stopped with SIGTERM and started again on the same state folder keeps its
// printers, their settings records and their defaults.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "app/kvrac-printer/ipp_client.h"
#include "app/kvrac-printer/printer_server.h"

using namespace printer_test;
namespace fs = std::filesystem;

TEST(PrinterRestart, PrintersRecordsAndDefaultsSurvive) {
    printer_server server("PrintersRecordsAndDefaultsSurvive");
    ASSERT_TRUE(server.ready());
    ASSERT_FALSE(server.add_printer("plotter", "file://" + server.device_dir().string()).empty());
    const fs::path record = server.state_dir() / "printer-1.settings";
    ASSERT_TRUE(fs::exists(record));
    const std::string installed = read_all(record);
    ASSERT_EQ(installed.size(), 40u);

    // Defaults IPP has an attribute for (resolution, media by its PWG name) and ones it
    // has not (fill, margin).
    const command_result m =
        server.sub("modify -d plotter -o printer-resolution=300dpi -o media=na_letter_8.5x11in "
                   "-o kvrac-fill=solid -o kvrac-margin=5");
    ASSERT_EQ(m.status, 0) << m.out;
    // The record follows the defaults when the server saves its state.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (read_all(record) == installed && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::string modified = read_all(record);
    ASSERT_NE(modified, installed) << "the settings record did not take the new defaults";

    ipp::client ipp(server.uri("plotter"), server.dir());
    const auto before =
        ipp.attributes("printer-resolution-default,media-default,kvrac-fill-default,"
                       "kvrac-margin-default");
    EXPECT_EQ(before.at("printer-resolution-default"), "300dpi");
    EXPECT_EQ(before.at("media-default"), "na_letter_8.5x11in");
    EXPECT_EQ(before.at("kvrac-margin-default"), "5");
    EXPECT_EQ(before.at("kvrac-fill-default"), "solid");

    server.stop();
    ASSERT_TRUE(server.start());
    const command_result list = server.sub("printers");
    EXPECT_NE(list.out.find("plotter"), std::string::npos) << list.out;
    EXPECT_EQ(read_all(record), modified) << "the settings record changed across the restart";
    const auto after = ipp.attributes(
        "printer-resolution-default,media-default,kvrac-fill-default,kvrac-margin-default");
    EXPECT_EQ(after, before);
}
