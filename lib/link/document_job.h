// Documents plotted as they stand: a PDF page or an image file (PNG, TIFF, JPEG) placed
// on the printable area as one raster image, one page a plot. `kvrac plot` and the
// printer application's job process both plot documents through here, so a page gives
// the same job bytes whichever of them plots it.
//
// Placement follows the drawings' options. By default a page the size of the printable
// area (each side within document_size_tolerance of the area's) lands 1:1, centred, so
// a page as large as the paper loses its white border evenly to the margins; any other
// page is fitted to the area. A PDF page is rendered at one pixel a printer dot of the
// rectangle it is placed on, so the driver samples it 1:1. A portrait PDF page across
// a landscape area is turned a quarter anticlockwise first, as the printer application
// turns portrait raster pages (image files are placed as they stand).
#pragma once

#include <cstdint>
#include <string>

#include "drawing/plot_writer.h"
#include "drawing/script.h"
#include "link/plot_job.h"
#include "link/plot_sequence.h"

// How far a page's side may differ from the printable area's and still count as the
// sheet's size (landing 1:1 by default): 2 % of the side or 20 mm, whichever is larger.
constexpr double document_size_tolerance = 0.02;
constexpr double document_size_tolerance_mm = 20;

// Whether path's first bytes show a document: a PDF, PNG, TIFF or JPEG file.
bool is_document_file(const std::string& path);

// The number of pages (PDF) or images (TIFF) path holds. Returns 0, or 2 with *error
// naming the file and saying why it cannot be read.
int document_page_count(const std::string& path, int32_t* pages, std::string* error);

// Where a page goes: its size, the area, the resolution and the placement asked.
struct document_page_geometry {
    double page_w_in, page_h_in; // the page's size, inches
    double area_w_plu;           // the printable area used, plotter units (x, y)
    double area_h_plu;
    double steps_per_inch; // plotter units per inch
    double device_dpi;     // printer dots per inch
};

// The page as placed: the rectangle on the sheet and the window of the page's pixels
// shown in it.
struct document_placement {
    double scale = 0;                // sheet length per page length
    bool one_to_one = false;         // placed 1:1 because it is the sheet's size
    double x0 = 0, y0 = 0;           // the whole page's rectangle, plotter units (may lie
    double x1 = 0, y1 = 0;           // beyond the area)
    double cut_mm[4] = {0, 0, 0, 0}; // page cut at the left, right, top, bottom edge, mm
};

// Places a page of page_w_in x page_h_in inches: fit, scale, centre and origin as
// place says (rotation other than 0 is refused by the caller). Returns 0, or 2 with
// *error set when the placement leaves no room.
int place_document_page(const document_page_geometry& g, const placement_options& place,
                        document_placement* out, std::string* error);

// Places page `page` of path on side_a x side_b inches of the printable area and sends
// it into the plot job that plot_start_job began, as one image command. Returns 0; 1
// when the driver refused it; 2 when the file or page cannot be read or the page lies
// wholly outside the area, with *error naming the file and page. *placed (when not null)
// says where it went.
int plot_document_page(const std::string& path, int32_t page, const placement_options& place,
                       const plot_area& area, double side_a, double side_b,
                       document_placement* placed, std::string* error);

// After plot_job_end (the driver reads the page's rows while the plot ends): 2 with
// *error naming the file and page when the page could not be read as it was sent,
// else 0.
int document_page_failure(const std::string& path, int32_t page, std::string* error);

// The whole plot of one page into its own job file: plot_job_setup with o (o.input is
// the document), the page sent, the job ended and kept only when the page plotted.
// Messages go to standard error, naming the file and page; what was cut at the
// area's edges is said too. Returns the plot's status (0, 1 or 2, as plot_job_setup
// and plot_document_page).
int plot_document_to_job(const plot_job_options& o, int32_t page, const placement_options& place);
