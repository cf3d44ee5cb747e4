// Plotting a script: the host's plot sequence around the script's commands.
//
// The job file receives, in call order, the texts the driver sends to the device and
// the bytes it writes. A job file is written under a unique temporary name beside it
// and moved into place when the plot succeeded, so a failed, refused or interrupted
// plot never leaves a partial job under the asked name; a device, a FIFO or standard
// output takes the bytes as they come (see system/files.h).
#include "kvrac/plot_cmd.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "drawing/script.h"
#include "host/wire.h"
#include "images/raster_rows.h"
#include "link/config_sequence.h"
#include "link/plot_sequence.h"
#include "link/session.h"
#include "platform/host_address.h"
#include "raster/raster_image.h"
#include "settings/store.h"
#include "system/files.h"

namespace {

std::string default_output(const std::string& script) {
    std::filesystem::path p(script);
    p.replace_extension(".prn");
    return p.string();
}

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

void tally(drawing_tally& t, const script_command& c) {
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
    dialog_script dialog;
    if (build_dialog_script(o.dialog, true, dialog) != 0) return 2;
    raster_rows_reset(raster_band_budget);
    if (host_open(o.store) != 0) return 1;
    uint8_t stored[40];
    if (store_load(o.store, stored, 40) != 0) {
        // Nothing stored yet: configure with the defaults first, as an installation would.
        if (run_configuration(false) != 0) return 1;
    }
    const std::string out_path = o.output.empty() ? default_output(o.script) : o.output;
    const bool to_stdout = out_path == "-";
    std::error_code out_error, script_error; // a name that cannot be resolved is no script
    if (!to_stdout && o.script != "-" &&
        std::filesystem::weakly_canonical(out_path, out_error) ==
            std::filesystem::weakly_canonical(o.script, script_error) &&
        !out_error && !script_error) {
        std::fprintf(stderr, "kvrac: the job would overwrite the script %s\n", o.script.c_str());
        return 2;
    }

    script_reader reader{};
    // Set-up: identify, load the settings, the plot-time dialog (the options' user acts
    // in it, or a person does) with the printable area.
    if (plot_identify_and_load() != 0) return 1;
    plot_area area{};
    if (int rc = plot_time_dialog(dialog, &area); rc != 0) return rc;
    double side_a = area.side_a, side_b = area.side_b;
    const double steps = area.steps_per_inch;
    if (o.area_length > 0) {
        if (o.area_length > side_a || o.area_width > side_b) {
            std::fprintf(stderr, "kvrac: --area %gx%g is larger than the printable area %gx%g in\n",
                         o.area_length, o.area_width, side_a, side_b);
            plot_end();
            return 2;
        }
        if (o.area_length * steps < 1 || o.area_width * steps < 1) {
            std::fprintf(stderr,
                         "kvrac: --area %gx%g is smaller than one plotter unit (1/%g in) a side\n",
                         o.area_length, o.area_width, steps);
            plot_end();
            return 2;
        }
        side_a = o.area_length;
        side_b = o.area_width;
    }
    if (script_open(reader, o.script, steps) != 0) {
        std::fprintf(stderr, "kvrac: %s\n", reader.error.c_str());
        plot_end();
        return 2;
    }

    output_file out{nullptr, "", "", "", -1};
    std::string why;
    if (to_stdout) {
        stdout_binary();
        out.stream = stdout;
        out.name = "standard output";
    } else if (output_open(out_path, out, &why) != 0) {
        std::fprintf(stderr, "kvrac: %s\n", why.c_str());
        script_close(reader);
        plot_end();
        return 2;
    }
    static char out_buffer[1 << 20];
    std::setvbuf(out.stream, out_buffer, _IOFBF, sizeof out_buffer);
    session.job = out.stream;
    session.job_write_failed = false;
    session.job_errno = 0;

    int status = plot_start_job(side_a, side_b);

    drawing_tally drawing{0,
                          0,
                          static_cast<uint16_t>(std::fmin(65535, std::floor(side_a * steps + 0.5))),
                          static_cast<uint16_t>(std::fmin(65535, std::floor(side_b * steps + 0.5))),
                          0,
                          0};
    script_command cmd{};
    // One record, zeroed again before each message over the bytes the previous message
    // could have touched, so every message meets a fresh zeroed record.
    std::vector<uint8_t> message(message_record_size);
    size_t dirty = 0;
    while (status == 0) {
        int got = script_next(reader, cmd);
        if (got == 0) break;
        if (got == 2) {
            std::fprintf(stderr, "kvrac: %s\n", reader.error.c_str());
            status = 2;
            break;
        }
        tally(drawing, cmd);
        std::memset(message.data(), 0, dirty);
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
    script_close(reader);
    plot_end();
    session.job = nullptr;
    if (status == 0) status = image_failure(reader);
    if (status == 0 && session.job_write_failed) {
        std::fprintf(stderr, "kvrac: cannot write %s: %s\n", out.name.c_str(),
                     std::strerror(session.job_errno));
        status = 1;
    }
    if (status == 0 && drawing.drawn == 0) {
        std::fprintf(stderr,
                     "kvrac: warning: %s draws nothing (no draw, polygon, image or text line)%s\n",
                     reader.name.c_str(), to_stdout || out.temp.empty() ? "" : ": no job written");
        if (to_stdout) return 0;
        output_discard(out);
        return 0;
    }
    if (status == 0) warn_clipped(drawing, reader.name, steps);
    if (to_stdout) {
        if (status == 0 && std::fflush(stdout) != 0) {
            std::fprintf(stderr, "kvrac: cannot write standard output: %s\n", std::strerror(errno));
            status = 1;
        }
        return status;
    }
    if (status != 0) {
        output_discard(out);
        return status;
    }
    if (output_commit(out, &why) != 0) {
        std::fprintf(stderr, "kvrac: %s\n", why.c_str());
        return 1;
    }
    return 0;
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
