// Plotting a script: the script's commands inside one plot job (link/plot_job.h).
//
// The job file receives, in call order, the texts the driver sends to the device and
// the bytes it writes; the plot job decides where they go and whether they stay.
#include "kvrac/plot_cmd.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "drawing/script.h"
#include "host/wire.h"
#include "images/image_store.h"
#include "images/raster_rows.h"
#include "link/drawing_job.h"
#include "link/plot_job.h"
#include "link/plot_sequence.h"
#include "link/session.h"
#include "platform/host_address.h"
#include "raster/raster_image.h"
#include "settings/store.h"

namespace {

// A script image that could not be decoded while it was sent: reported like a bad
// line. Returns 2, or 0 when every image decoded.
int image_failure(const script_reader& r) {
    if (raster_rows_failed_line() == 0) return 0;
    std::fprintf(stderr, "kvrac: %s:%ld: %s\n", r.name.c_str(), raster_rows_failed_line(),
                 raster_rows_failure().c_str());
    return 2;
}

// What the script drew, and how much of it lay beyond the plot area (which the
// printer clips).
struct drawing_tally {
    long drawn;       // draw, polygon and image commands
    long outside;     // commands with a point beyond the plot area
    uint16_t limit_x; // the plot area's far corner, plotter units
    uint16_t limit_y;
    uint16_t far_x, far_y; // the farthest point reached beyond the area
};

void tally_point(drawing_tally& t, uint16_t x, uint16_t y, bool* beyond) {
    if (x <= t.limit_x && y <= t.limit_y) return;
    *beyond = true;
    if (x > t.far_x) t.far_x = x;
    if (y > t.far_y) t.far_y = y;
}

// A move or draw: nearly every command.
void tally_move(drawing_tally& t, bool draw, uint16_t x, uint16_t y) {
    bool beyond = false;
    tally_point(t, x, y, &beyond);
    t.drawn += draw;
    t.outside += beyond;
}

void tally(drawing_tally& t, const script_command& c) {
    if (c.op == script_op::move || c.op == script_op::draw) {
        tally_move(t, c.op == script_op::draw, c.x, c.y);
        return;
    }
    bool beyond = false;
    switch (c.op) {
    case script_op::move:
    case script_op::draw:
        tally_point(t, c.x, c.y, &beyond);
        break;
    case script_op::polygon:
        for (size_t i = 0; i + 1 < c.points.size(); i += 2)
            tally_point(t, c.points[i], c.points[i + 1], &beyond);
        break;
    case script_op::image:
        tally_point(t, c.image.x1, c.image.y1, &beyond);
        tally_point(t, c.image.x2, c.image.y2, &beyond);
        break;
    case script_op::text: // its strokes were checked to fit the plot range when read
        tally_point(t, static_cast<uint16_t>(c.text.x), static_cast<uint16_t>(c.text.y), &beyond);
        break;
    default:
        return;
    }
    if (c.op != script_op::move) ++t.drawn;
    if (beyond) ++t.outside;
}

// Says how much of the drawing lay beyond the plot area, if any.
void warn_clipped(const drawing_tally& t, const std::string& script, double steps) {
    if (t.outside == 0) return;
    const double far_x = std::fmax(t.far_x, t.limit_x) / steps;
    const double far_y = std::fmax(t.far_y, t.limit_y) / steps;
    std::fprintf(stderr,
                 "kvrac: warning: %s: %ld command%s reach%s beyond the %.4gx%.4g in plot area "
                 "(as far as %.4gx%.4g in); the printer clips what lies outside\n",
                 script.c_str(), t.outside, t.outside == 1 ? "" : "s", t.outside == 1 ? "es" : "",
                 t.limit_x / steps, t.limit_y / steps, far_x, far_y);
}

} // namespace

int run_plot(const plot_options& o) {
    raster_rows_reset();
    plot_job job;
    if (int rc = plot_job_setup(plot_job_options_of(o, "script"), job); rc != 0) return rc;
    const double steps = job.area.steps_per_inch;
    script_reader reader{};
    const bool opened = script_open(reader, o.script, steps) == 0;
    reader.device_dpi = plot_settings_dpi();
    int status = 0;
    if (!opened) {
        std::fprintf(stderr, "kvrac: %s\n", reader.error.c_str());
        status = 2;
    } else {
        status = plot_job_start(job);
    }
    // An image too large for memory goes through a temporary file beside the job.
    raster_rows_store(o.image_memory, plot_job_scratch_folder(job));

    drawing_tally drawing{
        0,
        0,
        static_cast<uint16_t>(std::fmin(65535, std::floor(job.side_a * steps + 0.5))),
        static_cast<uint16_t>(std::fmin(65535, std::floor(job.side_b * steps + 0.5))),
        0,
        0};
    script_command cmd{};
    // One record, zeroed again before each message over the bytes the previous message
    // could have touched, so every message meets a fresh zeroed record.
    std::vector<uint8_t> message(message_record_size);
    size_t dirty = 0;
    while (status == 0) {
        // Runs of moves and draws go from the script's block to the driver with no
        // command record in between. Only the first message of a run can be the one
        // that reads an image announced before it.
        bool first = true;
        script_points(reader, [&](bool draw, uint16_t x, uint16_t y) {
            tally_move(drawing, draw, x, y);
            plot_record_clear(message, dirty);
            status = plot_send_point(draw, x, y, message.data(), &dirty);
            if (first && status == 0) status = image_failure(reader);
            first = false;
            return status == 0;
        });
        if (status != 0) break;
        int got = script_next(reader, cmd);
        if (got == 0) break;
        if (got == 2) {
            std::fprintf(stderr, "kvrac: %s\n", reader.error.c_str());
            status = 2;
            break;
        }
        if (cmd.op == script_op::image) {
            // Refused on its header alone, before any of its pixels is decoded.
            const std::string refusal = image_size_refusal(cmd.image.width, cmd.image.height);
            if (!refusal.empty()) {
                std::fprintf(stderr, "kvrac: %s:%ld: image %s %s; no job written\n",
                             reader.name.c_str(), reader.line_number, cmd.image.path.c_str(),
                             refusal.c_str());
                status = 2;
                break;
            }
        }
        tally(drawing, cmd);
        plot_record_clear(message, dirty);
        status = plot_send(cmd, message, &dirty);
        if (cmd.op == script_op::cancel) {
            std::fprintf(stderr,
                         "kvrac: %s:%ld: the plot was cancelled by its 'cancel' line; "
                         "no job written\n",
                         reader.name.c_str(), reader.line_number);
            status = 1;
        }
        if (status == 0) status = image_failure(reader);
    }
    if (opened) script_close(reader);
    status = plot_job_end(job, status);
    if (status == 0) status = image_failure(reader);
    const bool empty = status == 0 && drawing.drawn == 0;
    if (empty) {
        std::fprintf(stderr,
                     "kvrac: warning: %s draws nothing (no draw, polygon, image or text line)%s\n",
                     reader.name.c_str(), job.out.temp.empty() ? "" : ": no job written");
    } else if (status == 0) {
        warn_clipped(drawing, reader.name, steps);
    }
    return plot_job_close(job, status, !empty);
}

plot_job_options plot_job_options_of(const plot_options& o, const char* kind) {
    plot_job_options j{o.script, kind, o.output, o.store, o.area_length, o.area_width, o.dialog};
    j.image_memory = o.image_memory;
    return j;
}

int run_report(const std::string& store) {
    uint8_t stored[40];
    if (store_load(store, stored, 40) != 0) {
        std::fprintf(stderr, "kvrac: no settings stored in %s (run 'kvrac config')\n",
                     store.c_str());
        return 1;
    }
    if (host_open(store) != 0) return 1;
    if (plot_identify_and_load() != 0) return 1;
    session.print_to_stdout = true; // the summary is the command's output
    auto rec = new_record(31);
    session.plot(rec.data());
    return 0;
}

int run_legend(const std::string& store) {
    if (host_open(store) != 0) return 1;
    if (send_identification(session.plot) != 0) return 1;
    session.print_to_stdout = true; // the legend is the command's output
    auto rec = new_record(15);
    session.plot(rec.data());
    return 0;
}
