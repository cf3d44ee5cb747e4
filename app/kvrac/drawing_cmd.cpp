// Plotting a drawing: the host's plot sequence around the drawing pipeline.
//
// The drawing is checked and the pen table read before the driver is involved, so a
// bad file stops at once. The job is set up, written and kept or discarded by the same
// plot job as a script's (link/plot_job.h).
#include "kvrac/drawing_cmd.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "drawing/drawing_format.h"
#include "drawing/stroke_font.h"
#include "link/drawing_job.h"
#include "link/plot_job.h"
#include "link/plot_sequence.h"
#include "link/session.h"
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
    drawing_input in;
    std::string why;
    if (drawing_format_of(o.script) == drawing_format::dxf) {
#if KVRAC_HAVE_DXF
        if (dxf_input(o.script, &in, &why) != 0) {
            std::fprintf(stderr, "kvrac: %s\n", why.c_str());
            return 2;
        }
#else
        std::fprintf(stderr,
                     "kvrac: %s: DXF drawings are not read by this build (it has no dxflib)\n",
                     o.script.c_str());
        return 2;
#endif
    } else if (hpgl_input(o.script, &in, &why) != 0) {
        std::fprintf(stderr, "kvrac: %s\n", why.c_str());
        return 2;
    }
    pen_table pens;
    if (!d.pens.empty()) {
        if (pen_table_load(d.pens, &pens, &why) != 0) {
            std::fprintf(stderr, "kvrac: %s\n", why.c_str());
            return 2;
        }
    }

    plot_job job;
    if (int rc = plot_job_setup(plot_job_options_of(o, "drawing"), job); rc != 0) return rc;
    int status = plot_job_start(job);
    drawing_summary summary;
    if (status == 0) {
        status =
            plot_drawing_job(in, d.place, pens, job.area, job.side_a, job.side_b, &summary, &why);
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
