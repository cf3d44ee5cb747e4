// The child process of one job: the plot sequence of `kvrac plot` around a spooled page,
// a received plot script or a received drawing, written to a job file.
#include "kvrac-printer/job_child.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "drawing/script.h"
#include "images/raster_rows.h"
#include "kvrac-printer/page_source.h"
#include "link/config_sequence.h"
#include "link/document_job.h"
#include "link/drawing_job.h"
#include "link/plot_job.h"
#include "link/plot_sequence.h"
#include "link/session.h"
#include "settings/dialog_options.h"
#include "settings/store.h"
#if KVRAC_HAVE_DXF
#include "dxf/dxf_reader.h"
#endif

namespace {

// Highest plotter-unit coordinate a script may use.
constexpr double coordinate_max = 65535;

void say(const char* what, const std::string& detail) {
    std::fprintf(stderr, "%s%s\n", what, detail.c_str());
}

// Reads dialog options from argv[from..]. Returns 0, or 2 after reporting.
int read_options(int argc, char** argv, int from, std::vector<dialog_option>& options) {
    for (int i = from; i < argc; ++i) { // leaves i on the option's last argument
        int got = take_dialog_option(argc, argv, i, options);
        if (got == 2) return 2;
        if (got == 0) {
            say("unknown job option ", argv[i]);
            return 2;
        }
    }
    return 0;
}

// Makes sure STORE holds a record: the driver's installation defaults when it holds
// nothing yet, as a first `kvrac config` would save. Returns 0 or 1.
int ensure_record(const std::string& store) {
    uint8_t stored[40];
    if (store_load(store, stored, 40) == 0) return 0;
    if (run_configuration(false) != 0) {
        say("the driver could not save its default settings: ", session.save_error);
        return 1;
    }
    return 0;
}

int configure(const std::string& store, const std::vector<dialog_option>& options) {
    dialog_script dialog;
    if (build_dialog_script(options, false, dialog) != 0) return 2;
    if (host_open(store) != 0) return 1;
    if (ensure_record(store) != 0) return 1;
    if (options.empty()) return 0;
    return run_configuration(false, &dialog);
}

// Opens the job file for the driver's bytes, as the session's job output. Returns null
// after reporting.
std::FILE* open_job(const std::string& job) {
    std::FILE* out = std::fopen(job.c_str(), "wb");
    if (!out) {
        say("cannot write the job file: ", std::strerror(errno));
        return nullptr;
    }
    static char out_buffer[1 << 20];
    std::setvbuf(out, out_buffer, _IOFBF, sizeof out_buffer);
    session.job = out;
    session.job_write_failed = false;
    session.job_unsent = 0;
    return out;
}

// Closes the job file. Returns status, or 1 when the job could not be written; the
// file is removed unless the job is complete.
int close_job(std::FILE* out, const std::string& job, int status) {
    const bool written = !session.job_write_failed && std::fflush(out) == 0;
    const bool closed = std::fclose(out) == 0;
    if (status == 0 && !(written && closed)) {
        say("cannot write the job file: ", std::strerror(errno));
        status = 1;
    }
    if (status != 0) std::remove(job.c_str());
    return status;
}

// The set-up every plot shares with `kvrac plot` (link/plot_job.h), up to the plot-time
// dialog with the options, leaving the printer's record as it was (the job's options
// are for this job only). Returns 0, or the status after reporting.
int begin_plot(const std::string& store, const std::string& input, const std::string& job,
               const std::vector<dialog_option>& options, plot_job& p) {
    const plot_job_options o{input, "document", job, store, 0, 0, options, true};
    const int rc = plot_job_setup(o, p);
    if (rc == 1)
        say("the driver could not set up the plot with the printer's settings",
            session.save_error.empty() ? "" : ": " + session.save_error);
    p.out.name = job;
    return rc;
}

// Writes the page's plot script: the page image over the whole printable area.
int write_page_script(const std::string& path, const std::string& page, const plot_area& a) {
    const double x = std::lround(a.side_a * a.steps_per_inch);
    const double y = std::lround(a.side_b * a.steps_per_inch);
    if (x < 1 || y < 1 || x > coordinate_max || y > coordinate_max) {
        say("the printable area is outside the plotter's coordinate range", "");
        return 1;
    }
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) {
        say("cannot write the page script: ", std::strerror(errno));
        return 1;
    }
    std::fprintf(f, "image 0 0 %.0f %.0f \"%s\"\n", x, y, page.c_str());
    return std::fclose(f) == 0 ? 0 : 1;
}

// Plots script into job with the options' plot-time dialog. page non-empty: the script
// is first written for that spooled page. Returns the exit status.
int plot(const std::string& store, const std::string& page, const std::string& script,
         const std::string& job, const std::vector<dialog_option>& options) {
    raster_rows_reset();
    plot_job p;
    if (int rc = begin_plot(store, script, job, options, p); rc != 0) return rc;
    const plot_area area = p.area;
    if (!page.empty() && write_page_script(script, page, area) != 0) {
        plot_end();
        return 1;
    }
    script_reader reader{};
    if (script_open(reader, script, area.steps_per_inch) != 0) {
        say("", reader.error);
        plot_end();
        return 2;
    }
    std::FILE* out = open_job(job);
    if (!out) {
        script_close(reader);
        plot_end();
        return 1;
    }

    int status = plot_start_job(area.side_a, area.side_b);
    if (status != 0) say("the driver could not start the job", "");
    script_command cmd{};
    std::vector<uint8_t> message(message_record_size);
    size_t dirty = 0;
    while (status == 0) {
        int got = script_next(reader, cmd);
        if (got == 0) break;
        if (got == 2) {
            say("", reader.error);
            status = 2;
            break;
        }
        if (cmd.op == script_op::image && page.empty()) {
            // A received script must not make the server read its own files.
            const std::string where = reader.name + ":" + std::to_string(cmd.image.line) + ": ";
            say(where.c_str(), "image commands are not accepted in printed plot scripts");
            status = 2;
            break;
        }
        std::memset(message.data(), 0, dirty);
        status = plot_send(cmd, message, &dirty);
        if (status != 0) say("the driver refused a drawing command", "");
        if (status == 0 && raster_rows_failed_line() != 0) {
            say("", raster_rows_failure());
            status = 2;
        }
    }
    script_close(reader);
    plot_end();
    if (status == 0 && raster_rows_failed_line() != 0) {
        say("", raster_rows_failure());
        status = 2;
    }
    session.job = nullptr;
    return close_job(out, job, status);
}

// Plots a received drawing (kind "dxf" or "hpgl", as the server typed the document)
// into job through the drawing pipeline, placed as `kvrac plot` places it by default.
int plot_drawing_file(const std::string& store, const std::string& kind, const std::string& drawing,
                      const std::string& job, const std::vector<dialog_option>& options) {
    drawing_input in;
    std::string why;
    if (kind == "dxf") {
#if KVRAC_HAVE_DXF
        if (dxf_input(drawing, &in, &why) != 0) {
            say("", why);
            return 2;
        }
#else
        say(drawing.c_str(), ": DXF drawings are not read by this build (it has no dxflib)");
        return 2;
#endif
    } else if (kind != "hpgl") {
        say("unknown kind of drawing ", kind);
        return 2;
    } else if (hpgl_input(drawing, &in, &why) != 0) {
        say("", why);
        return 2;
    }

    plot_job p;
    if (int rc = begin_plot(store, drawing, job, options, p); rc != 0) return rc;
    std::FILE* out = open_job(job);
    if (!out) {
        plot_end();
        return 1;
    }
    int status = plot_start_job(p.side_a, p.side_b);
    if (status != 0) say("the driver could not start the job", "");
    drawing_summary summary;
    if (status == 0) {
        status = plot_drawing_job(in, placement_options{}, pen_table{}, p.area, p.side_a, p.side_b,
                                  &summary, &why);
        if (status == 2) say("", why);
        if (status == 1) say("the driver refused a drawing command", "");
    }
    status = plot_job_end(p, status);
    if (status == 0) {
        // For the server (its log and the job's message): what was cut at the edges,
        // what the reader skipped.
        for (const std::string& line : summary_lines(summary)) say((drawing + ": ").c_str(), line);
        // Nothing placed on the sheet: the driver wrote no job, and the job must not
        // be reported as printed.
        if (summary.paths == 0 && summary.fills == 0) {
            say(drawing.c_str(), ": nothing to plot: the drawing is empty or lies wholly outside "
                                 "the printable area");
            status = 2;
        }
    }
    return close_job(out, job, status);
}

// Plots every page of a received document (PDF, PNG, TIFF, JPEG) into dir/page-N.prn,
// each as `kvrac plot DOCUMENT --page N` places it by default: fitted to the printable
// area of the job's media, or 1:1 when the page is its size. Stops at the first page
// that fails, its message naming the page.
int plot_document_file(const std::string& store, const std::string& document,
                       const std::string& dir, const std::vector<dialog_option>& options) {
    int32_t pages = 0;
    std::string why;
    if (document_page_count(document, &pages, &why) != 0) {
        say("", why);
        return 2;
    }
    for (int32_t page = 1; page <= pages; ++page) {
        const std::string job = dir + "/page-" + std::to_string(page) + ".prn";
        const plot_job_options o{document, "document", job, store, 0, 0, options, true};
        if (int rc = plot_document_to_job(o, page, placement_options{}); rc != 0) return rc;
    }
    return 0;
}

} // namespace

int job_child_main(int argc, char** argv) {
    const std::string mode = argc > 0 ? argv[0] : "";
    std::vector<dialog_option> options;
    if (mode == "configure" && argc >= 2) {
        if (read_options(argc, argv, 2, options) != 0) return 2;
        return configure(argv[1], options);
    }
    if (mode == "page" && argc >= 5) {
        if (read_options(argc, argv, 5, options) != 0) return 2;
        // The spooled page is read straight from its page file.
        image_sources_add(open_page_source);
        return plot(argv[1], argv[2], argv[3], argv[4], options);
    }
    if (mode == "drawing" && argc >= 5) {
        if (read_options(argc, argv, 5, options) != 0) return 2;
        return plot_drawing_file(argv[1], argv[2], argv[3], argv[4], options);
    }
    if (mode == "document" && argc >= 4) {
        if (read_options(argc, argv, 4, options) != 0) return 2;
        return plot_document_file(argv[1], argv[2], argv[3], options);
    }
    if (mode == "script" && argc >= 4) {
        if (read_options(argc, argv, 4, options) != 0) return 2;
        return plot(argv[1], "", argv[2], argv[3], options);
    }
    say("bad job child arguments", "");
    return 2;
}
