// PDF pages rendered by poppler, band by band (see pdf/pdf_source.h).
//
// Workload: one page of a drawing, often A0 at 600 dpi (some 20,000 x 28,000 pixels),
// read top to bottom once per pass (rotated sheets ask for more passes; see
// images/raster_rows.cpp). Each band costs poppler a full interpretation of the page's
// content, clipped to the band, so bands are as tall as the memory budget allows: few
// passes over a drawing of many thousand strokes, and a peak of about twice one band.
#include "pdf/pdf_source.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>
#include <string>

#include "images/image_source.h"

namespace {

// Bytes of rendered pixels in one band (red, green, blue; poppler briefly holds a
// second copy while it renders).
constexpr int64_t band_budget = 8 << 20;

// Longest side of a rendered page, pixels: keeps every size poppler computes in an int.
constexpr int64_t side_max = 1 << 21;

// Resolutions a page may be rendered at, pixels per inch.
constexpr double dpi_min = 1, dpi_max = 100000;

// poppler's messages while this thread loads or renders, kept for ours instead of
// reaching the user's terminal; the last one says what was wrong with a damaged file.
thread_local std::string poppler_message;

void keep_poppler_message(const std::string& message, void*) {
    poppler_message = message;
}

class pdf_source final : public image_source {
  public:
    // Opens page `page` (from 1) of path, rendered at dpi. Returns 0, or -1 with error()
    // saying why in words that follow the file's name.
    int open(const std::string& path, int32_t page, double dpi, bool turned) {
        poppler_message.clear();
        doc_.reset(poppler::document::load_from_file(path));
        if (!doc_)
            return fail("cannot be opened: damaged or not a complete PDF file" +
                        (poppler_message.empty() ? std::string() : " (" + poppler_message + ")"));
        if (doc_->is_locked())
            return fail("is encrypted; it needs a password to be opened, which kvrac cannot give: "
                        "save it unprotected first (for example: qpdf --decrypt "
                        "--password=PASSWORD in.pdf out.pdf)");
        const int pages = doc_->pages();
        if (pages < 1) return fail("has no pages");
        if (page < 1 || page > pages)
            return fail("has " + std::to_string(pages) + (pages == 1 ? " page" : " pages") +
                        ", not page " + std::to_string(page));
        page_.reset(doc_->create_page(page - 1));
        if (!page_) return fail("page " + std::to_string(page) + " cannot be read");
        if (!(dpi >= dpi_min && dpi <= dpi_max))
            return fail("cannot be rendered at " + std::to_string(dpi) + " dpi");
        const poppler::rectf box = page_->page_rect(poppler::crop_box);
        double w_pt = box.width(), h_pt = box.height();
        const poppler::page::orientation_enum o = page_->orientation();
        if (o == poppler::page::landscape || o == poppler::page::seascape) std::swap(w_pt, h_pt);
        if (turned) std::swap(w_pt, h_pt);
        turned_ = turned;
        info_.turned = turned;
        // Pixels across the page: its size at dpi, rounded to the nearest pixel (half
        // a pixel up), the size poppler gives a whole page at that resolution.
        const double w = std::floor(w_pt * dpi / 72 + 0.5), h = std::floor(h_pt * dpi / 72 + 0.5);
        if (!(w >= 1 && h >= 1))
            return fail("page " + std::to_string(page) + " is empty (its box has no area)");
        if (w > side_max || h > side_max)
            return fail("page " + std::to_string(page) + " is too large to render at " +
                        std::to_string(static_cast<long>(dpi)) + " dpi");
        dpi_ = dpi;
        info_.width = static_cast<int32_t>(w);
        info_.height = static_cast<int32_t>(h);
        info_.mono = false;
        info_.interlaced = false;
        info_.dpi_x = info_.dpi_y = dpi;
        info_.pages = pages;
        info_.format = "PDF";
        renderer_.set_image_format(poppler::image::format_rgb24);
        renderer_.set_paper_color(0xFFFFFFFF);
        renderer_.set_render_hint(poppler::page_renderer::antialiasing, false);
        renderer_.set_render_hint(poppler::page_renderer::text_antialiasing, false);
        band_rows_ = static_cast<int32_t>(
            std::clamp<int64_t>(band_budget / (int64_t{info_.width} * 3), 1, info_.height));
        return rewind();
    }

    int next(image_row* row) override {
        if (failed_) return -1;
        if (y_ >= info_.height) return 0;
        if (y_ >= band_y1_ && render_band() != 0) return -1;
        row->y = y_;
        row->x0 = 0;
        row->dx = 1;
        row->count = info_.width;
        row->pixels = reinterpret_cast<const uint8_t*>(band_.const_data()) +
                      static_cast<size_t>(y_ - band_y0_) * band_.bytes_per_row();
        ++y_;
        return 1;
    }

    int rewind() override {
        if (failed_) return -1;
        count_decode();
        y_ = band_y0_ = band_y1_ = 0;
        band_ = poppler::image();
        return 0;
    }

  private:
    int fail(const std::string& why) {
        error_ = why;
        failed_ = true;
        return -1;
    }

    // Renders the band of rows from y_ on. Returns 0, or -1 with error() set.
    int render_band() {
        const int32_t rows = std::min(band_rows_, info_.height - y_);
        band_ = poppler::image(); // the old band goes before the new one is made
        poppler_message.clear();
        // A quarter turn anticlockwise is poppler's three quarters clockwise, added to
        // the page's own rotation.
        band_ = renderer_.render_page(page_.get(), dpi_, dpi_, 0, y_, info_.width, rows,
                                      turned_ ? poppler::rotate_270 : poppler::rotate_0);
        if (!band_.is_valid() || band_.width() != info_.width || band_.height() != rows ||
            band_.format() != poppler::image::format_rgb24)
            return fail("rows " + std::to_string(y_ + 1) + " to " + std::to_string(y_ + rows) +
                        " cannot be rendered" +
                        (poppler_message.empty() ? std::string() : " (" + poppler_message + ")"));
        band_y0_ = y_;
        band_y1_ = y_ + rows;
        return 0;
    }

    std::unique_ptr<poppler::document> doc_;
    std::unique_ptr<poppler::page> page_;
    poppler::page_renderer renderer_;
    poppler::image band_;   // rows band_y0_..band_y1_-1, red-green-blue
    double dpi_ = 72;       // pixels per inch rendered
    int32_t band_rows_ = 1; // rows a band holds, >= 1
    int32_t y_ = 0;         // next row delivered
    int32_t band_y0_ = 0;   // rows held in band_
    int32_t band_y1_ = 0;
    bool turned_ = false; // rendered a quarter turn anticlockwise
    bool failed_ = false; // every later call fails
};

std::unique_ptr<image_source> open_pdf(const std::string& path, const uint8_t* head,
                                       size_t head_size, const image_open_options& options,
                                       std::string* why) {
    if (head_size < 5 || std::memcmp(head, "%PDF-", 5) != 0) return nullptr;
    auto source = std::make_unique<pdf_source>();
    if (source->open(path, options.page, options.render_dpi, options.turned) != 0) {
        *why = source->error();
        return nullptr;
    }
    return source;
}

} // namespace

void pdf_source_register() {
    poppler::set_debug_error_function(keep_poppler_message, nullptr);
    image_sources_add(open_pdf);
}
