// Plotting a drawing: the host's plot sequence around the drawing pipeline.
//
// The drawing is checked and the pen table read before the driver is involved, so a
// bad file stops at once. The job is set up, written and kept or discarded by the same
// plot job as a script's (link/plot_job.h).
#include "kvrac/drawing_cmd.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "drawing/drawing_format.h"
#include "drawing/hpgl_reader.h"
#include "drawing/stroke_font.h"
#include "host/wire.h"
#include "link/plot_job.h"
#include "link/plot_sequence.h"
#include "link/session.h"
#include "settings/store.h"
#if KVRAC_HAVE_DXF
#include "dxf/dxf_reader.h"
#endif

const char drawing_options_help[] =
    "\n"
    "Drawings (DXF, HP-GL/2 plot files; see docs/drawings.md):\n"
    "  --scale 1:N       one unit of the drawing plots as 1/N of it (default 1:1)\n"
    "  --units mm|in     the drawing's units when the file does not say them\n"
    "  --fit             as large as the printable area allows\n"
    "  --center          centred on the printable area\n"
    "  --rotate DEG      turn the drawing by 0, 90, 180 or 270 degrees\n"
    "  --origin X,Y      where the drawing's corner goes, mm from the area's corner\n"
    "  --pens FILE       pen table: colours and weights to pens and widths\n";

namespace {

int bad(const std::string& what) {
    std::fprintf(stderr, "kvrac: %s\nTry 'kvrac help plot'.\n", what.c_str());
    return 2;
}

// Printer dots per inch from the stored settings (the raster resolution field).
double stored_dpi(const uint8_t* s) {
    switch (le_u16(s, 30) & 0x0F00) {
    case 0x100:
        return 600;
    case 0x200:
        return 400;
    case 0x400:
        return 300;
    default:
        return 200;
    }
}

} // namespace

int take_drawing_option(int argc, char** argv, int& i, drawing_options& d) {
    std::string a = argv[i];
    static const char* const with_value[] = {"--scale", "--rotate", "--origin", "--units",
                                             "--pens"};
    bool valued = false;
    for (const char* w : with_value) valued = valued || a == w;
    if (a == "--fit") {
        d.place.fit = d.given = true;
        return 1;
    }
    if (a == "--center" || a == "--centre") {
        d.place.center = d.given = true;
        return 1;
    }
    if (!valued) return 0;
    if (i + 1 >= argc) return bad(a + " needs a value");
    std::string v = argv[++i];
    d.given = true;
    if (a == "--scale") {
        double n = 0, m = 0;
        char colon = 0, extra = 0;
        if (std::sscanf(v.c_str(), "%lf%c%lf%c", &n, &colon, &m, &extra) != 3 || colon != ':' ||
            !(n > 0) || !(m > 0) || !std::isfinite(n / m))
            return bad("--scale takes A:B such as 1:50 or 2:1, not " + v);
        d.place.scale = n / m;
    } else if (a == "--rotate") {
        char* end = nullptr;
        long deg = std::strtol(v.c_str(), &end, 10);
        if (*end || (deg % 90) != 0) return bad("--rotate takes 0, 90, 180 or 270, not " + v);
        d.place.rotate = static_cast<int>(((deg % 360) + 360) % 360);
    } else if (a == "--origin") {
        char comma = 0, extra = 0;
        double x, y;
        if (std::sscanf(v.c_str(), "%lf%c%lf%c", &x, &comma, &y, &extra) != 3 || comma != ',' ||
            !(x >= 0) || !(y >= 0) || x > 1e5 || y > 1e5)
            return bad("--origin takes X,Y in millimetres (0 or more), not " + v);
        d.place.origin_x_mm = x, d.place.origin_y_mm = y;
    } else if (a == "--units") {
        if (v == "mm")
            d.place.units = drawing_units::mm;
        else if (v == "in")
            d.place.units = drawing_units::inch;
        else
            return bad("--units takes mm or in, not " + v);
    } else {
        d.pens = v;
    }
    return 1;
}

bool is_drawing_file(const std::string& path) {
    return drawing_format_of(path) != drawing_format::script;
}

int run_plot_drawing(const plot_options& o, const drawing_options& d) {
    const drawing_format format = drawing_format_of(o.script);
    placement_options place = d.place;
    std::function<void(drawing_sink&, drawing_report&)> read;
    if (format == drawing_format::dxf) {
#if KVRAC_HAVE_DXF
        std::string why;
        if (dxf_check_file(o.script, &why) != 0) {
            std::fprintf(stderr, "kvrac: %s\n", why.c_str());
            return 2;
        }
        read = [&o](drawing_sink& s, drawing_report& r) { dxf_read_file(o.script, s, r); };
        place.anchor = drawing_anchor::extents;
#else
        std::fprintf(stderr,
                     "kvrac: %s: DXF drawings are not read by this build (it has no dxflib)\n",
                     o.script.c_str());
        return 2;
#endif
    } else {
        std::error_code error; // never thrown: a folder that cannot be searched is reported
        const auto type = std::filesystem::status(o.script, error).type();
        if (type != std::filesystem::file_type::regular) {
            const std::string why = type == std::filesystem::file_type::not_found
                                        ? std::strerror(ENOENT)
                                    : error ? error.message()
                                            : "not a file (a folder or a device?)";
            std::fprintf(stderr, "kvrac: %s: %s\n", o.script.c_str(), why.c_str());
            return 2;
        }
        read = [&o](drawing_sink& s, drawing_report& r) { hpgl_read_file(o.script, s, r); };
        place.anchor = drawing_anchor::origin;
    }
    pen_table pens;
    if (!d.pens.empty()) {
        std::string why;
        if (pen_table_load(d.pens, &pens, &why) != 0) {
            std::fprintf(stderr, "kvrac: %s\n", why.c_str());
            return 2;
        }
    }

    plot_job job;
    if (int rc = plot_job_setup(plot_job_options_of(o, "drawing"), job); rc != 0) return rc;
    uint8_t stored[40]; // reloaded: the dialog may have changed the resolution
    if (store_load(o.store, stored, 40) != 0) std::memset(stored, 0, sizeof stored);
    int status = plot_job_start(job);
    drawing_summary summary;
    if (status == 0) {
        std::vector<uint8_t> message(message_record_size);
        size_t dirty = 0;
        plot_emitter emit = [&](const script_command& c) {
            std::memset(message.data(), 0, dirty);
            return plot_send(c, message, &dirty);
        };
        const double steps = job.area.steps_per_inch;
        sheet_geometry sheet{job.side_a * steps, job.side_b * steps, steps, stored_dpi(stored)};
        std::string why;
        status = plot_drawing(read, place, pens, sheet, emit, &summary, &why);
        if (status == 2) std::fprintf(stderr, "kvrac: %s\n", why.c_str());
    }
    status = plot_job_end(job, status);
    if (status == 0)
        for (const std::string& line : summary_lines(summary))
            std::fprintf(stderr, "kvrac: %s: %s\n", o.script.c_str(), line.c_str());
    // Nothing placed on the sheet (an empty drawing, or all of it outside the area): the
    // driver wrote no job, and an empty file must not stand for one.
    const bool empty = status == 0 && summary.paths == 0 && summary.fills == 0;
    if (empty && !job.out.temp.empty())
        std::fprintf(stderr, "kvrac: warning: %s: nothing plotted: no job written\n",
                     o.script.c_str());
    return plot_job_close(job, status, !empty);
}
