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

#include "host/wire.h"
#include "kvrac/files.h"
#include "kvrac/host.h"
#include "kvrac/raster_rows.h"
#include "kvrac/script.h"
#include "kvrac/store.h"
#include "platform/host_address.h"
#include "raster/raster_image.h"

namespace {

int send_begin_plot() {
    auto rec = new_record(29);
    le_put_i16(rec.data(), 4, 3);
    le_put_u32(rec.data(), 11, 0);
    session.plot(rec.data());
    return le_i16(rec.data(), 0) == 0 ? 0 : 1;
}

// Bytes at the start of a record that the small messages (move, draw, lift, pen, line
// type, line types, width, cancel) use, with their replies.
constexpr size_t small_message_span = 12;

// Sends one script command in a record that is all zero on entry; leaves in *dirty how
// many leading bytes the message may have changed. Returns 0, or 1 when the driver
// answered a failure.
int send_command(const script_command& c, std::vector<uint8_t>& rec, size_t* dirty) {
    *dirty = c.op == script_op::polygon ? rec.size()
             : c.op == script_op::image ? static_cast<size_t>(raster_header_size)
                                        : small_message_span;
    auto code = [&rec](int v) { le_put_i16(rec.data(), 0, v); };
    host_addr vertices = 0;
    int32_t image = 0; // host value of an image announced by this message
    switch (c.op) {
    case script_op::move:
    case script_op::draw:
        code(c.op == script_op::move ? 3 : 4);
        le_put_u16(rec.data(), 4, c.x);
        le_put_u16(rec.data(), 6, c.y);
        break;
    case script_op::lift:
        code(8);
        break;
    case script_op::pen:
        code(5);
        le_put_u16(rec.data(), 4, static_cast<uint16_t>(c.number));
        break;
    case script_op::linetype:
        code(7);
        le_put_u16(rec.data(), 4, static_cast<uint16_t>(c.number));
        break;
    case script_op::linetypes:
        code(36);
        le_put_i16(rec.data(), 4, static_cast<int>(c.number));
        break;
    case script_op::width:
        code(41);
        le_put_f64(rec.data(), 4, c.width_inch);
        break;
    case script_op::cancel:
        code(9);
        break;
    case script_op::polygon: {
        const int n = static_cast<int>(c.points.size() / 2);
        if (n <= 513) { // vertices inline from +12: they fit the record
            code(33);
            le_put_i16(rec.data(), 6, static_cast<int>(c.number));
            le_put_i16(rec.data(), 10, n);
            for (size_t i = 0; i < c.points.size(); ++i)
                le_put_u16(rec.data(), 12 + 2 * static_cast<int>(i), c.points[i]);
        } else { // the vertex array by its host address
            code(54);
            le_put_i16(rec.data(), 4, static_cast<int>(c.number));
            le_put_i16(rec.data(), 6, n);
            // The vertex array is a host record too: u16 pairs, written little-endian.
            static std::vector<uint8_t> array;
            array.resize(2 * c.points.size());
            for (size_t i = 0; i < c.points.size(); ++i)
                le_put_u16(array.data(), 2 * static_cast<int>(i), c.points[i]);
            vertices = host_addr_of(array.data());
            le_put_u32(rec.data(), 8, vertices);
        }
        break;
    }
    case script_op::image:
        code(52); // sent at the next message, which runs the driver's raster step
        image = raster_rows_announce(c.image, rec.data());
        break;
    case script_op::unit:
        return 0;
    }
    session.plot(rec.data());
    raster_rows_settle(image); // an image announced before this message has been sent
    if (vertices) host_addr_forget(vertices);
    return le_i16(rec.data(), 0) == -1 ? 1 : 0;
}

std::string default_output(const std::string& script) {
    std::filesystem::path p(script);
    p.replace_extension(".prn");
    return p.string();
}

void end_plot() {
    auto rec = new_record(2);
    session.plot(rec.data());
    raster_rows_settle(0);
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
    end_plot();
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
    // Set-up: identify, load the settings, plot area, area used, line types, job start.
    if (send_identification(session.plot) != 0 || send_begin_plot() != 0) return 1;
    // The plot-time dialog: the options' user acts in it (or a person does).
    auto rec = new_record(46);
    le_put_u32(rec.data(), 5, 0);
    if (!session.interactive) arm_dialog_script(dialog);
    session.plot(rec.data());
    if (le_i16(rec.data(), 0) == -1) return 1;
    if (!session.interactive && report_dialog_outcome(dialog) != 0) {
        end_plot();
        return 2;
    }
    double side_a = le_f64(rec.data(), 9), side_b = le_f64(rec.data(), 17);
    const double steps = le_f64(rec.data(), 41);
    if (o.area_length > 0) {
        if (o.area_length > side_a || o.area_width > side_b) {
            std::fprintf(stderr, "kvrac: --area %gx%g is larger than the printable area %gx%g in\n",
                         o.area_length, o.area_width, side_a, side_b);
            end_plot();
            return 2;
        }
        side_a = o.area_length;
        side_b = o.area_width;
    }
    if (script_open(reader, o.script, steps) != 0) {
        std::fprintf(stderr, "kvrac: %s\n", reader.error.c_str());
        end_plot();
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
            end_plot();
            return 2;
        }
    }
    static char out_buffer[1 << 20];
    std::setvbuf(out, out_buffer, _IOFBF, sizeof out_buffer);
    session.job = out;
    session.job_write_failed = false;

    rec = new_record(47);
    le_put_u32(rec.data(), 5, 0);
    le_put_f64(rec.data(), 9, side_a);
    le_put_f64(rec.data(), 17, side_b);
    session.plot(rec.data());
    rec = new_record(36);
    le_put_i16(rec.data(), 4, 8);
    session.plot(rec.data());
    rec = new_record(30);
    session.plot(rec.data());
    int status = le_i16(rec.data(), 0) == 0 ? 0 : 1;

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
        status = send_command(cmd, message, &dirty);
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
    if (send_identification(session.plot) != 0 || send_begin_plot() != 0) return 1;
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
