// What the printer application must write for a job, obtained independently of the
// server: `kvrac plot` of the equivalent plot script (docs/printer-app.md), with a copy
// of the printer's settings record and the options the job asks for.
//
// A raster page is the script `image 0 0 X Y PAGE.png`, X and Y the printable area in
// plotter units (1016 an inch), PAGE.png the page's dots as 8-bit grey, or as 1-bit
// grey for a 1-bit raster or when the job asked for print-color-mode bi-level, turned
// when the page is taller than wide. A page is its own plot: the
// job of a document of several pages is the pages' jobs one after the other.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/kvrac-printer/page_files.h"
#include "app/kvrac-printer/printer_server.h"

namespace printer_test {

// US Letter is the driver's format row 10 (11 x 8.5 in, 11176 x 8636 plotter units);
// every sheet and page in these tests is Letter unless it says otherwise.
constexpr const char letter_media[] = "na_letter_8.5x11in";
constexpr const char letter_area[] = "0 0 11176 8636";

// The dialog options a Letter job at dpi with one copy asks for, with the printer's
// installation defaults for the rest (Bond, halftone fill, no margin, manual folder).
inline std::string letter_options(int dpi) {
    return "--format 10 --media 0 --resolution " + std::to_string(dpi) +
           " --copies 1 --fill halftone --margin 0 --program manual --manual-feed no";
}

// Runs `kvrac plot` of script_text (written as NAME.kvs in the server's scratch folder)
// with a copy of printer_id's settings record and options; returns the job's bytes.
// Fails the test (ADD_FAILURE) and returns "" when kvrac fails.
inline std::string kvrac_plot(printer_server& server, int printer_id, const std::string& name,
                              const std::string& script_text, const std::string& options) {
    namespace fs = std::filesystem;
    const fs::path script = server.dir() / (name + ".kvs");
    const fs::path record = server.dir() / (name + ".settings");
    const fs::path job = server.dir() / (name + ".expected.prn");
    std::ofstream(script) << script_text;
    fs::copy_file(server.state_dir() / ("printer-" + std::to_string(printer_id) + ".settings"),
                  record, fs::copy_options::overwrite_existing);
    const command_result r =
        server.run(std::string("'") + KVRAC_BINARY + "' plot '" + script.string() + "' -o '" +
                   job.string() + "' --settings '" + record.string() + "' " + options);
    if (r.status != 0) {
        ADD_FAILURE() << "kvrac plot " << name << ": " << r.out;
        return "";
    }
    return read_all(job);
}

// Writes the plotted form of a page as a PNG: its dots as 8-bit grey, or 1-bit when
// one_bit; a page taller than wide turned a quarter turn counter-clockwise (its right
// edge becomes the top row), so that its long side lies along the plot area's x.
inline std::string write_plotted_png(const std::string& path, const test_page& page, bool one_bit) {
    int width = 0, height = 0;
    if (!page_pixels(page, width, height)) return "unknown media " + page.media;
    if (height <= width) return write_grey_png(path, width, height, one_bit, page.rows);
    std::vector<uint8_t> dots(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        page.rows(y, dots.data() + static_cast<size_t>(y) * width, width);
    // Row r of the turned page is column width-1-r of the page, read top to bottom.
    return write_grey_png(path, height, width, one_bit, [&](int r, uint8_t* grey, int n) {
        for (int x = 0; x < n; ++x)
            grey[x] = dots[static_cast<size_t>(x) * width + (width - 1 - r)];
    });
}

// The job for raster pages: each page plotted from its PNG (write_plotted_png) over the
// Letter area; the pages' jobs concatenated.
inline std::string expected_pages(printer_server& server, int printer_id, const std::string& name,
                                  std::vector<test_page> pages, bool bilevel_png, int dpi) {
    std::string job;
    for (size_t i = 0; i < pages.size(); ++i) {
        test_page page = pages[i];
        if (page.bilevel) {
            // A 1-bit document page has only black and white dots, whatever the PNG's depth.
            page_rows rows = page.rows;
            page.rows = [rows](int y, uint8_t* grey, int width) {
                rows(y, grey, width);
                for (int x = 0; x < width; ++x) grey[x] = grey[x] < 128 ? 0 : 255;
            };
        }
        const std::string png = name + "-page" + std::to_string(i + 1) + ".png";
        const std::string error =
            write_plotted_png((server.dir() / png).string(), page, bilevel_png);
        if (!error.empty()) {
            ADD_FAILURE() << error;
            return "";
        }
        job +=
            kvrac_plot(server, printer_id, name + "-page" + std::to_string(i + 1),
                       std::string("image ") + letter_area + " " + png + "\n", letter_options(dpi));
    }
    return job;
}

// A Letter page at dpi with the drawing pattern (seed makes pages differ).
inline test_page letter_page(int dpi, bool bilevel, int seed) {
    test_page page;
    page.media = letter_media;
    page.dpi = dpi;
    page.bilevel = bilevel;
    int width = 0, height = 0;
    page_pixels(page, width, height);
    page.rows = drawing_rows(width, height, dpi, seed);
    return page;
}

} // namespace printer_test
