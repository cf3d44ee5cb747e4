// Plotting a script: the host's plot sequence around the script's commands.
//
// The job file receives, in call order, the texts the driver sends to the device and
// the bytes it writes. It is written under a temporary name and renamed when the plot
// succeeded, so a failed or refused plot never leaves a partial job under the asked
// name.
#include "kvrac/plot_cmd.h"

#include <cerrno>
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

// Sends end of plot and flushes the job output. Returns 0 when the output is complete.
int finish_job(std::FILE* out) {
    plot_end();
    bool ok = !session.job_write_failed && std::fflush(out) == 0;
    session.job = nullptr;
    return ok ? 0 : 1;
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
    if (!to_stdout && o.script != "-" &&
        std::filesystem::weakly_canonical(out_path) ==
            std::filesystem::weakly_canonical(o.script)) {
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
        side_a = o.area_length;
        side_b = o.area_width;
    }
    if (script_open(reader, o.script, steps) != 0) {
        std::fprintf(stderr, "kvrac: %s\n", reader.error.c_str());
        plot_end();
        return 2;
    }

    std::string tmp_path;
    std::FILE* out = stdout;
    if (to_stdout) {
        stdout_binary();
    } else {
        tmp_path = out_path + ".tmp";
        out = std::fopen(tmp_path.c_str(), "wb");
        if (!out) {
            std::fprintf(stderr, "kvrac: cannot write %s: %s\n", tmp_path.c_str(),
                         std::strerror(errno));
            script_close(reader);
            plot_end();
            return 2;
        }
    }
    static char out_buffer[1 << 20];
    std::setvbuf(out, out_buffer, _IOFBF, sizeof out_buffer);
    session.job = out;
    session.job_write_failed = false;

    int status = plot_start_job(side_a, side_b);

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
        std::memset(message.data(), 0, dirty);
        status = plot_send(cmd, message, &dirty);
        if (status == 0) status = image_failure(reader);
    }
    script_close(reader);
    const int written = finish_job(out);
    if (status == 0) status = image_failure(reader);
    if (written != 0 && status == 0) {
        std::fprintf(stderr, "kvrac: cannot write the job to %s: %s\n",
                     to_stdout ? "standard output" : tmp_path.c_str(), std::strerror(errno));
        status = 1;
    }
    if (to_stdout) return status;
    bool closed = std::fclose(out) == 0;
    std::string why = closed ? "" : std::strerror(errno);
    if (status == 0 && closed && file_replace(tmp_path, out_path, &why) == 0) return 0;
    if (status == 0) {
        std::fprintf(stderr, "kvrac: cannot write %s: %s\n", out_path.c_str(), why.c_str());
        status = 1;
    }
    std::remove(tmp_path.c_str());
    return status;
}

int run_report(const std::string& store) {
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
