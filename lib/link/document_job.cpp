// Documents in a plot job (see link/document_job.h): a page becomes one image command
// whose rows the raster host (images/raster_rows.h) reads from the file while the
// driver asks for them.
#include "link/document_job.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "images/image_source.h"
#include "images/raster_rows.h"
#include "link/drawing_job.h"
#include "link/session.h"

namespace {

// Resolution a PDF page's size is read at before it is placed: its size in inches is
// then known to a ten-thousandth of an inch.
constexpr double probe_dpi = 7200;

constexpr double mm_per_inch = 25.4;

// Whether a page side of `page` plotter units counts as the area's side of `area`.
bool same_side(double page, double area, double steps) {
    const double tolerance =
        std::max(area * document_size_tolerance, document_size_tolerance_mm / mm_per_inch * steps);
    return std::fabs(page - area) <= tolerance;
}

// "FILE page N: " for messages about one page; the page is left out of a file that
// holds one.
std::string page_prefix(const std::string& path, int32_t page, int32_t pages) {
    return pages > 1 || page > 1 ? path + " page " + std::to_string(page) + ": " : path + ": ";
}

} // namespace

bool is_document_file(const std::string& path) {
    if (path == "-") return false;
    uint8_t head[8] = {};
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    const size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    static const uint8_t png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return (got >= 8 && std::memcmp(head, png, 8) == 0) ||
           (got >= 5 && std::memcmp(head, "%PDF-", 5) == 0) ||
           (got >= 4 &&
            (std::memcmp(head, "II*\0", 4) == 0 || std::memcmp(head, "MM\0*", 4) == 0)) ||
           (got >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF);
}

int document_page_count(const std::string& path, int32_t* pages, std::string* error) {
    std::string why;
    const auto source = probe_image_source(path, image_open_options{}, &why);
    if (!source) {
        *error = path + ": " + why;
        return 2;
    }
    *pages = source->info().pages;
    return 0;
}

int place_document_page(const document_page_geometry& g, const placement_options& place,
                        document_placement* out, std::string* error) {
    *out = document_placement{};
    const double steps = g.steps_per_inch;
    const double pw = g.page_w_in * steps, ph = g.page_h_in * steps;
    const double aw = g.area_w_plu, ah = g.area_h_plu;
    const double ox = place.origin_x_mm / mm_per_inch * steps;
    const double oy = place.origin_y_mm / mm_per_inch * steps;
    if (!(pw > 0) || !(ph > 0)) {
        *error = "the page has no area";
        return 2;
    }
    bool center = place.center;
    double s;
    if (!place.fit && place.scale > 0) {
        s = place.scale;
    } else if (!place.fit && same_side(pw, aw, steps) && same_side(ph, ah, steps)) {
        s = 1;
        out->one_to_one = true;
        center = center || (place.origin_x_mm == 0 && place.origin_y_mm == 0);
    } else {
        s = std::min((aw - ox) / pw, (ah - oy) / ph);
        if (!(s > 0) || !std::isfinite(s)) {
            *error = "the page cannot be fitted: the area left beside the origin is empty";
            return 2;
        }
    }
    out->scale = s;
    if (center) {
        out->x0 = (aw + ox - s * pw) / 2;
        out->y0 = (ah + oy - s * ph) / 2;
    } else {
        out->x0 = ox, out->y0 = oy;
    }
    out->x1 = out->x0 + s * pw;
    out->y1 = out->y0 + s * ph;
    const double w = std::min(aw, 65535.0), h = std::min(ah, 65535.0);
    const double mm = mm_per_inch / steps;
    out->cut_mm[0] = std::max(0.0, -out->x0) * mm;
    out->cut_mm[1] = std::max(0.0, out->x1 - w) * mm;
    out->cut_mm[2] = std::max(0.0, -out->y0) * mm;
    out->cut_mm[3] = std::max(0.0, out->y1 - h) * mm;
    return 0;
}

int plot_document_page(const std::string& path, int32_t page, const placement_options& place,
                       const plot_area& area, double side_a, double side_b,
                       document_placement* placed, std::string* error) {
    const double device_dpi = plot_settings_dpi();
    image_open_options options;
    options.page = page;
    options.render_dpi = probe_dpi;
    std::string why;
    std::unique_ptr<image_source> source = probe_image_source(path, options, &why);
    if (!source) {
        *error = path + ": " + why;
        return 2;
    }
    const image_info probe = source->info();
    const bool drawn = probe.format == "PDF"; // its pixels depend on render_dpi
    // A raster file that states no resolution is taken at one pixel a printer dot.
    const double dpi_x = drawn ? probe_dpi : probe.dpi_x > 0 ? probe.dpi_x : device_dpi;
    const double dpi_y = drawn ? probe_dpi : probe.dpi_y > 0 ? probe.dpi_y : device_dpi;
    const std::string prefix = page_prefix(path, page, probe.pages);
    // A portrait page or picture across a landscape area (as a roll's sheets are) is
    // turned a quarter anticlockwise, as the printer application turns portrait raster
    // pages, so that it is fitted as large as the area allows.
    const bool turn = probe.height > probe.width && side_a > side_b;
    const double page_w_in = turn ? probe.height / dpi_y : probe.width / dpi_x;
    const double page_h_in = turn ? probe.width / dpi_x : probe.height / dpi_y;
    const document_page_geometry g{
        page_w_in,           page_h_in, side_a * area.steps_per_inch, side_b * area.steps_per_inch,
        area.steps_per_inch, device_dpi};
    document_placement where;
    if (place_document_page(g, place, &where, &why) != 0) {
        *error = prefix + why;
        return 2;
    }
    if (placed) *placed = where;
    if (drawn) { // rendered at one pixel a dot of the placed rectangle
        options.render_dpi = where.scale * device_dpi;
        options.turned = turn;
        source = probe_image_source(path, options, &why);
        if (!source) {
            *error = prefix + why;
            return 2;
        }
    }
    image_info info = source->info();
    source.reset();
    if (turn && !info.turned) // a raster file is turned as its rows are read, not here
        std::swap(info.width, info.height);

    // The part of the page inside the area, as a window of whole pixels.
    const double w = std::min(g.area_w_plu, 65535.0), h = std::min(g.area_h_plu, 65535.0);
    const double vx0 = std::max(0.0, where.x0), vx1 = std::min(w, where.x1);
    const double vy0 = std::max(0.0, where.y0), vy1 = std::min(h, where.y1);
    if (!(vx1 - vx0 >= 1) || !(vy1 - vy0 >= 1)) {
        *error = prefix + "the page lies wholly outside the printable area";
        return 2;
    }
    const double px = info.width / (where.x1 - where.x0), py = info.height / (where.y1 - where.y0);
    const auto pixel = [](double v, int32_t n) {
        return static_cast<int32_t>(std::clamp(v, 0.0, static_cast<double>(n)));
    };
    const int32_t cx0 = pixel(std::floor((vx0 - where.x0) * px + 1e-6), info.width);
    const int32_t cx1 = pixel(std::ceil((vx1 - where.x0) * px - 1e-6), info.width);
    const int32_t cy0 = pixel(std::floor((vy0 - where.y0) * py + 1e-6), info.height);
    const int32_t cy1 = pixel(std::ceil((vy1 - where.y0) * py - 1e-6), info.height);
    if (cx1 <= cx0 || cy1 <= cy0) {
        *error = prefix + "the page lies wholly outside the printable area";
        return 2;
    }

    script_command cmd{};
    cmd.op = script_op::image;
    script_image& img = cmd.image;
    const auto unit = [](double v) {
        return static_cast<uint16_t>(std::clamp(std::floor(v + 0.5), 0.0, 65535.0));
    };
    img.x1 = unit(where.x0 + cx0 / px);
    img.x2 = unit(where.x0 + cx1 / px);
    img.y1 = unit(where.y0 + cy0 / py);
    img.y2 = unit(where.y0 + cy1 / py);
    img.path = path;
    img.width = cx1 - cx0;
    img.height = cy1 - cy0;
    img.mono = info.mono;
    img.transparent = false;
    img.colour = 7;
    img.line = page; // raster_rows reports a failure by this number
    img.page = page;
    img.render_dpi = options.render_dpi;
    img.turned = turn;
    if (img.width != info.width || img.height != info.height)
        img.crop = image_crop{cx0, cy0, img.width, img.height};
    std::vector<uint8_t> message(message_record_size);
    size_t dirty = 0;
    return plot_send(cmd, message, &dirty);
}

int document_page_failure(const std::string& path, int32_t page, std::string* error) {
    if (raster_rows_failed_line() == 0) return 0;
    *error = path + " page " + std::to_string(page) + ": " + raster_rows_failure();
    return 2;
}

int plot_document_to_job(const plot_job_options& o, int32_t page, const placement_options& place) {
    raster_rows_reset();
    plot_job job;
    if (int rc = plot_job_setup(o, job); rc != 0) return rc;
    int status = plot_job_start(job);
    // A raster page turned, or on a rotated sheet, too large for memory goes through a
    // temporary file beside the job (the system's temporary folder for a job written
    // straight to a device or a pipe), as a plot script's images do.
    raster_rows_store(o.image_memory, plot_job_scratch_folder(job));
    std::string why;
    document_placement placed;
    if (status == 0) {
        status = plot_document_page(o.input, page, place, job.area, job.side_a, job.side_b, &placed,
                                    &why);
        if (status == 2) std::fprintf(stderr, "kvrac: %s\n", why.c_str());
    }
    status = plot_job_end(job, status);
    if (status == 0 && document_page_failure(o.input, page, &why) != 0) {
        std::fprintf(stderr, "kvrac: %s\n", why.c_str());
        status = 2;
    }
    if (status == 0) {
        static const char* const edges[4] = {"left", "right", "top", "bottom"};
        for (int e = 0; e < 4; ++e)
            if (placed.cut_mm[e] >= 0.5)
                std::fprintf(stderr, "kvrac: %s page %d: %.0f mm cut at the %s edge\n",
                             o.input.c_str(), page, placed.cut_mm[e], edges[e]);
    }
    return plot_job_close(job, status, true);
}
