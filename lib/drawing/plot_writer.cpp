// Placement, clipping and plot commands for the drawing pipeline.
//
// Drawings of a million entities pass through here: each path is transformed, clipped
// segment by segment (Liang-Barsky) against the printable area and sent as moves and
// draws, with a pen, line type or width command only when the style changes and no move
// when a path starts where the pen already is.
#include "drawing/plot_writer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

// First pass: the drawing's extents in its own units.
struct bounds_sink : drawing_sink {
    double x0 = inf, y0 = inf, x1 = -inf, y1 = -inf;
    double tolerance() const override { return 0; } // coarse: 64 chords a turn
    void add(drawing_point p) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) return;
        x0 = std::min(x0, p.x), y0 = std::min(y0, p.y);
        x1 = std::max(x1, p.x), y1 = std::max(y1, p.y);
    }
    void path(const drawing_style&, const drawing_point* p, size_t n, bool) override {
        for (size_t i = 0; i < n; ++i) add(p[i]);
    }
    void fill(const drawing_style&, const std::vector<std::vector<drawing_point>>& rings) override {
        for (const auto& r : rings)
            for (auto p : r) add(p);
    }
    bool empty() const { return !(x1 >= x0 && y1 >= y0); }
};

enum edge { left_edge, right_edge, bottom_edge, top_edge };

bool finite(drawing_point p) {
    return std::isfinite(p.x) && std::isfinite(p.y);
}

// Second pass: placed, clipped and sent.
struct writer_sink : drawing_sink {
    affine place;
    double tol;
    double w, h; // the printable area, plotter units
    const pen_table& pens;
    const plot_emitter& emit;
    drawing_summary& sum;
    int status = 0;
    // Current driver state; -1 / NaN until first set.
    long pen = -1, line_type = -1;
    double width = std::numeric_limits<double>::quiet_NaN();
    bool at_valid = false; // the pen is at (at_x, at_y) after a draw
    uint16_t at_x = 0, at_y = 0;
    script_command cmd{};
    std::vector<drawing_point> placed;
    bool polygon_limit_noted = false;

    writer_sink(const pen_table& p, const plot_emitter& e, drawing_summary& s)
        : pens(p), emit(e), sum(s) {}

    double tolerance() const override { return tol; }

    void send() {
        if (status == 0) status = emit(cmd);
    }
    static uint16_t unit(double v) {
        return static_cast<uint16_t>(std::clamp(std::floor(v + 0.5), 0.0, 65535.0));
    }
    void style(const drawing_style& s) {
        pen_choice c = pen_for(pens, s);
        if (c.pen != pen) {
            cmd.op = script_op::pen, cmd.number = pen = c.pen;
            send();
        }
        int lt = std::clamp(s.line_type, 0, 8);
        if (lt != line_type) {
            cmd.op = script_op::linetype, cmd.number = line_type = lt;
            send();
        }
        if (!(c.width_inch == width)) {
            cmd.op = script_op::width, cmd.width_inch = width = c.width_inch;
            send();
        }
        if (cmd.op != script_op::move && cmd.op != script_op::draw)
            at_valid = false; // after a style change the next path starts with a move
    }
    void move_or_draw(script_op op, drawing_point p) {
        uint16_t x = unit(p.x), y = unit(p.y);
        if (op == script_op::move && at_valid && x == at_x && y == at_y) return;
        if (op == script_op::draw && at_valid && x == at_x && y == at_y &&
            cmd.op == script_op::draw)
            return; // a repeated point adds nothing to a run
        cmd.op = op, cmd.x = x, cmd.y = y;
        send();
        at_valid = true, at_x = x, at_y = y;
    }

    // Clips segment a-b to the area. Returns false when nothing is left; sets the edges
    // that cut it in *cuts.
    bool clip(drawing_point& a, drawing_point& b, unsigned* cuts) const {
        double t0 = 0, t1 = 1, dx = b.x - a.x, dy = b.y - a.y;
        const double p[4] = {-dx, dx, -dy, dy};
        const double q[4] = {a.x, w - a.x, a.y, h - a.y};
        int e0 = -1, e1 = -1;
        for (int i = 0; i < 4; ++i) {
            if (p[i] == 0) {
                if (q[i] < 0) {
                    *cuts |= 1u << i;
                    return false;
                }
                continue;
            }
            double r = q[i] / p[i];
            if (p[i] < 0) {
                if (r > t0) t0 = r, e0 = i;
            } else if (r < t1) {
                t1 = r, e1 = i;
            }
        }
        if (t0 > t1) {
            if (e0 >= 0) *cuts |= 1u << e0;
            if (e1 >= 0) *cuts |= 1u << e1;
            return false;
        }
        drawing_point na{a.x + t0 * dx, a.y + t0 * dy}, nb{a.x + t1 * dx, a.y + t1 * dy};
        if (t0 > 0) *cuts |= 1u << e0;
        if (t1 < 1) *cuts |= 1u << e1;
        a = na, b = nb;
        return true;
    }

    void count(unsigned cuts, bool any_inside) {
        if (!any_inside) {
            ++sum.outside;
            return;
        }
        for (int i = 0; i < 4; ++i)
            if (cuts & (1u << i)) ++sum.cut[i];
    }

    void path(const drawing_style& s, const drawing_point* p, size_t n, bool closed) override {
        if (n == 0 || status != 0) return;
        placed.clear();
        for (size_t i = 0; i < n; ++i) placed.push_back(apply(place, p[i]));
        if (closed && n > 1) placed.push_back(placed.front());
        unsigned cuts = 0;
        bool any = false, styled = false, down = false;
        if (placed.size() == 1) placed.push_back(placed.front()); // a dot
        for (size_t i = 1; i < placed.size() && status == 0; ++i) {
            drawing_point a = placed[i - 1], b = placed[i];
            if (!finite(a) || !finite(b)) { // a point no number describes: a gap
                down = false;
                continue;
            }
            unsigned c = 0;
            if (!clip(a, b, &c)) {
                cuts |= c;
                down = false;
                continue;
            }
            cuts |= c;
            any = true;
            if (!styled) style(s), styled = true;
            bool cut_start = a.x != placed[i - 1].x || a.y != placed[i - 1].y;
            if (!down || cut_start) move_or_draw(script_op::move, a);
            move_or_draw(script_op::draw, b);
            down = b.x == placed[i].x && b.y == placed[i].y;
        }
        count(cuts, any);
        if (any) ++sum.paths;
    }

    // Sutherland-Hodgman against one edge of the area.
    static void clip_ring(std::vector<drawing_point>& ring, int e, double limit, unsigned* cuts) {
        std::vector<drawing_point> out;
        auto inside = [&](drawing_point p) {
            return e == left_edge     ? p.x >= 0
                   : e == right_edge  ? p.x <= limit
                   : e == bottom_edge ? p.y >= 0
                                      : p.y <= limit;
        };
        auto cross = [&](drawing_point a, drawing_point b) {
            double t = (e == left_edge || e == right_edge)
                           ? ((e == left_edge ? 0 : limit) - a.x) / (b.x - a.x)
                           : ((e == bottom_edge ? 0 : limit) - a.y) / (b.y - a.y);
            return drawing_point{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
        };
        for (size_t i = 0; i < ring.size(); ++i) {
            drawing_point a = ring[i], b = ring[(i + 1) % ring.size()];
            bool ia = inside(a), ib = inside(b);
            if (ia) out.push_back(a);
            if (ia != ib) out.push_back(cross(a, b)), *cuts |= 1u << e;
        }
        ring.swap(out);
    }

    void fill(const drawing_style& s,
              const std::vector<std::vector<drawing_point>>& rings) override {
        if (status != 0) return;
        unsigned cuts = 0;
        std::vector<uint16_t> pts;
        uint16_t first_x = 0, first_y = 0;
        for (const auto& r : rings) {
            std::vector<drawing_point> ring;
            for (auto p : r)
                if (finite(apply(place, p))) ring.push_back(apply(place, p));
            for (int e = 0; e < 4 && !ring.empty(); ++e)
                clip_ring(ring, e, e == right_edge ? w : h, &cuts);
            if (ring.size() < 3) continue;
            // Rings after the first are joined through their first vertex and back, so
            // one polygon holds them all; the even-odd rule makes holes of inner rings.
            size_t start = pts.size();
            for (auto p : ring) {
                uint16_t x = unit(p.x), y = unit(p.y);
                if (pts.size() > start && pts[pts.size() - 2] == x && pts.back() == y) continue;
                pts.push_back(x), pts.push_back(y);
            }
            pts.push_back(pts[start]), pts.push_back(pts[start + 1]);
            if (start > 0)
                pts.push_back(first_x), pts.push_back(first_y);
            else
                first_x = pts[0], first_y = pts[1];
        }
        count(cuts, !pts.empty());
        if (pts.empty()) return;
        ++sum.fills;
        if (pts.size() / 2 > 32767) {
            if (!polygon_limit_noted)
                sum.notes.push_back("an area of more than 32767 vertices is drawn as its outline");
            polygon_limit_noted = true;
            std::vector<drawing_point> back;
            for (const auto& r : rings) {
                back.clear();
                for (auto p : r) back.push_back(p);
                --sum.paths;
                path(s, back.data(), back.size(), true);
                ++sum.paths;
            }
            return;
        }
        pen_choice c = pen_for(pens, s);
        cmd.op = script_op::polygon;
        cmd.number = c.pen;
        cmd.points = pts;
        send();
        at_valid = false; // the driver's pen position after a polygon is its own
    }
};

double unit_mm_of(drawing_units u) {
    switch (u) {
    case drawing_units::mm:
        return 1;
    case drawing_units::inch:
        return 25.4;
    case drawing_units::plotter:
        return 0.025;
    case drawing_units::unknown:
        break;
    }
    return 0;
}

} // namespace

namespace {

// Unless the drawing is fitted, its scale is known before its extents are: the first
// pass then flattens at the final tolerance and spools every operation to a scratch
// file, and the second pass replays the file instead of parsing the drawing again.
// Memory stays flat; the spool costs a sequential write and read.
struct spool_sink : drawing_sink {
    std::FILE* file;
    bounds_sink bounds;
    const drawing_report& report;
    const placement_options& place;
    double tol_plu, plu_per_mm;
    bool write_failed = false;

    spool_sink(std::FILE* f, const drawing_report& r, const placement_options& p, double t,
               double ppm)
        : file(f), report(r), place(p), tol_plu(t), plu_per_mm(ppm) {}

    double tolerance() const override {
        // The drawing's unit is in its header, read before any entity.
        double unit = report.unit_mm > 0 ? report.unit_mm : unit_mm_of(place.units);
        if (!(unit > 0)) unit = 1;
        return tol_plu / ((place.scale > 0 ? place.scale : 1) * unit * plu_per_mm);
    }
    void put(const void* p, size_t n) {
        if (std::fwrite(p, 1, n, file) != n) write_failed = true;
    }
    void put_style(char kind, const drawing_style& s) {
        put(&kind, 1);
        put(&s, sizeof s);
    }
    void path(const drawing_style& s, const drawing_point* p, size_t n, bool closed) override {
        bounds.path(s, p, n, closed);
        put_style(closed ? 'C' : 'P', s);
        put(&n, sizeof n);
        put(p, n * sizeof *p);
    }
    void fill(const drawing_style& s,
              const std::vector<std::vector<drawing_point>>& rings) override {
        bounds.fill(s, rings);
        put_style('F', s);
        size_t count = rings.size();
        put(&count, sizeof count);
        for (const auto& r : rings) {
            size_t n = r.size();
            put(&n, sizeof n);
            put(r.data(), n * sizeof r[0]);
        }
    }
};

// Replays a spool into the writer. False when the file cannot be read back whole.
bool replay(std::FILE* file, drawing_sink& sink) {
    std::vector<drawing_point> pts;
    std::vector<std::vector<drawing_point>> rings;
    auto get = [file](void* p, size_t n) { return std::fread(p, 1, n, file) == n; };
    for (char kind; get(&kind, 1);) {
        drawing_style s;
        size_t n;
        if (!get(&s, sizeof s) || !get(&n, sizeof n)) return false;
        if (kind == 'F') {
            rings.resize(n);
            for (auto& r : rings) {
                size_t m;
                if (!get(&m, sizeof m)) return false;
                r.resize(m);
                if (!get(r.data(), m * sizeof r[0])) return false;
            }
            sink.fill(s, rings);
        } else {
            pts.resize(n);
            if (!get(pts.data(), n * sizeof pts[0])) return false;
            sink.path(s, pts.data(), n, kind == 'C');
        }
    }
    return !std::ferror(file);
}

} // namespace

int plot_drawing(const std::function<void(drawing_sink&, drawing_report&)>& read,
                 const placement_options& place, const pen_table& pens, const sheet_geometry& sheet,
                 const plot_emitter& emit, drawing_summary* sum, std::string* error) {
    *sum = drawing_summary{};
    const double plu_per_mm = sheet.steps_per_inch / 25.4;
    const double tol_plu = sheet.steps_per_inch / (2 * sheet.dpi);
    drawing_report report;
    bounds_sink coarse;
    std::vector<char> buffer(place.fit ? 0 : 1 << 20); // outlives the spool's stream
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> spool(place.fit ? nullptr : std::tmpfile(),
                                                          &std::fclose);
    std::unique_ptr<spool_sink> spooled;
    if (spool) {
        std::setvbuf(spool.get(), buffer.data(), _IOFBF, buffer.size());
        spooled = std::make_unique<spool_sink>(spool.get(), report, place, tol_plu, plu_per_mm);
    }
    try {
        read(spooled ? static_cast<drawing_sink&>(*spooled) : coarse, report);
    } catch (const drawing_failure& f) {
        *error = f.what();
        return 2;
    }
    const bounds_sink& bounds = spooled ? spooled->bounds : coarse;
    bool replayable = spooled && !spooled->write_failed && std::fflush(spool.get()) == 0;
    sum->notes = report.notes;
    if (bounds.empty()) {
        sum->notes.push_back("the drawing has nothing to plot");
        return 0;
    }
    double unit_mm = report.unit_mm > 0 ? report.unit_mm : unit_mm_of(place.units);
    if (!(unit_mm > 0)) {
        unit_mm = 1;
        if (!place.fit)
            sum->notes.push_back("the drawing does not say its units: taken as millimetres "
                                 "(--units mm|in to choose)");
    }
    const affine turn = rotation_deg(place.rotate);
    double rx0 = inf, ry0 = inf, rx1 = -inf, ry1 = -inf;
    for (drawing_point c :
         {drawing_point{bounds.x0, bounds.y0}, drawing_point{bounds.x1, bounds.y0},
          drawing_point{bounds.x0, bounds.y1}, drawing_point{bounds.x1, bounds.y1}}) {
        drawing_point r = apply(turn, c);
        rx0 = std::min(rx0, r.x), ry0 = std::min(ry0, r.y);
        rx1 = std::max(rx1, r.x), ry1 = std::max(ry1, r.y);
    }
    const double ox = place.origin_x_mm * plu_per_mm, oy = place.origin_y_mm * plu_per_mm;
    double k; // plotter units per drawing unit
    if (place.fit) {
        double bw = rx1 - rx0, bh = ry1 - ry0;
        double aw = sheet.width_plu - ox, ah = sheet.height_plu - oy;
        k = inf;
        if (bw > 0) k = std::min(k, aw / bw);
        if (bh > 0) k = std::min(k, ah / bh);
        if (!std::isfinite(k) || !(k > 0)) {
            *error = "the drawing cannot be fitted: its extents or the area left are empty";
            return 2;
        }
    } else {
        k = (place.scale > 0 ? place.scale : 1) * unit_mm * plu_per_mm;
    }
    double tx, ty;
    if (place.center) {
        tx = (sheet.width_plu + ox - k * (rx1 - rx0)) / 2 - k * rx0;
        ty = (sheet.height_plu + oy - k * (ry1 - ry0)) / 2 - k * ry0;
    } else if (place.anchor == drawing_anchor::extents || place.fit || place.rotate != 0 ||
               report.no_origin) {
        tx = ox - k * rx0, ty = oy - k * ry0;
    } else {
        tx = ox, ty = oy;
    }
    writer_sink writer(pens, emit, *sum);
    writer.place = compose(translation(tx, ty), compose(scaling(k, k), turn));
    writer.w = std::min(sheet.width_plu, 65535.0);
    writer.h = std::min(sheet.height_plu, 65535.0);
    writer.tol = tol_plu / k;
    sum->scale = k;
    sum->extent_mm[0] = (k * rx0 + tx) / plu_per_mm;
    sum->extent_mm[1] = (k * ry0 + ty) / plu_per_mm;
    sum->extent_mm[2] = (k * rx1 + tx) / plu_per_mm;
    sum->extent_mm[3] = (k * ry1 + ty) / plu_per_mm;
    if (replayable) {
        std::rewind(spool.get());
        if (!replay(spool.get(), writer)) {
            *error =
                "cannot read back the drawing's scratch file: " + std::string(std::strerror(errno));
            return 2;
        }
        sum->missing_glyphs = spooled->missing_glyphs;
        return writer.status == 0 ? 0 : 1;
    }
    drawing_report again;
    try {
        read(writer, again);
    } catch (const drawing_failure& f) {
        *error = f.what();
        return 2;
    }
    sum->missing_glyphs = writer.missing_glyphs;
    return writer.status == 0 ? 0 : 1;
}

std::vector<std::string> summary_lines(const drawing_summary& s) {
    std::vector<std::string> out = s.notes;
    static const char* const edges[4] = {"left", "right", "bottom", "top"};
    for (int i = 0; i < 4; ++i)
        if (s.cut[i])
            out.push_back(std::to_string(s.cut[i]) + (s.cut[i] == 1 ? " entity" : " entities") +
                          " cut at the " + edges[i] + " edge");
    if (s.outside)
        out.push_back(std::to_string(s.outside) +
                      (s.outside == 1 ? " entity lies" : " entities lie") +
                      " wholly outside the printable area (not plotted)");
    if (s.missing_glyphs)
        out.push_back(std::to_string(s.missing_glyphs) +
                      " text character(s) not in the stroke font, drawn as '?'");
    return out;
}
