// HP-GL/2 plot file reader (see drawing/hpgl_reader.h).
//
// One pass over the bytes with a small parser state: the pen position in plotter units,
// the scaling from user units, the rotation, the pen and its width and line type, and
// the polygon buffer. Pen-down segments are gathered into one path until the pen lifts
// or the style changes, so a long PE run reaches the sink as long polylines.
#include "drawing/hpgl_reader.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <numbers>
#include <vector>

#include "drawing/plot_writer.h"
#include "drawing/stroke_font.h"

namespace {

constexpr double plu_per_mm = 40;
constexpr size_t path_chunk = 65536;      // points held before a path is handed on
constexpr size_t polygon_limit = 2000000; // points the polygon buffer accepts

// Takes what later pages draw, only to tell that there was some.
struct discard_sink : drawing_sink {
    double tol;
    bool got = false;
    explicit discard_sink(double t) : tol(t) {}
    double tolerance() const override { return tol; }
    void path(const drawing_style&, const drawing_point*, size_t, bool) override { got = true; }
    void fill(const drawing_style&, const std::vector<std::vector<drawing_point>>&) override {
        got = true;
    }
    void text(const drawing_style&, const text_run&) override { got = true; }
};

struct hpgl_state {
    const char* p;   // next byte
    const char* end; // end of the data
    drawing_sink* sink;
    std::string name; // the file, for messages

    // Pen and position, plotter units in the plot file's own (unrotated) frame.
    double x = 0, y = 0;
    bool down = false;
    bool absolute = true;
    int pen = 1;                 // 0: no pen, nothing is drawn
    double width_mm[256];        // PW per pen
    bool width_relative = false; // WU1: widths are per mille of the P1-P2 diagonal
    int line_type = 0;           // driver line type 0..8

    // Scaling: user units to plotter units, when SC is on.
    bool scaled = false;
    affine user;
    double p1x = 0, p1y = 0, p2x = 10000, p2y = 7500; // IP scaling points
    double page_a = 0, page_b = 0;                    // PS, 0 when not given
    int rotate = 0;                                   // RO

    // Input window (IW), plotter units; off when x0 > x1.
    double iw_x0 = 1, iw_y0 = 1, iw_x1 = 0, iw_y1 = 0;

    // Polygon mode.
    bool polygon_mode = false;
    std::vector<std::vector<drawing_point>> polygon; // closed rings, page units
    std::vector<drawing_point> poly_ring;
    size_t poly_points = 0; // points in the buffer, against polygon_limit

    // Labels.
    char terminator = 3; // DT
    bool terminator_printed = false;
    double char_w_cm = 0.187, char_h_cm = 0.269; // SI
    double dir_deg = 0;                          // DI

    std::vector<drawing_point> run; // the pen-down path being gathered, page units
    std::map<std::string, long> skipped;
    bool no_page = false;                  // RO without PS: coordinates off the page
    bool drawn = false;                    // anything drawn on this page
    std::unique_ptr<discard_sink> discard; // takes the pages after the first
};

// Plotter units of the file's own frame to the page (RO applied).
drawing_point to_page(const hpgl_state& s, double x, double y) {
    switch (s.rotate) {
    case 90:
        return {s.page_b - y, x};
    case 180:
        return {s.page_a - x, s.page_b - y};
    case 270:
        return {y, s.page_a - x};
    default:
        return {x, y};
    }
}

drawing_style style_of(const hpgl_state& s) {
    double w = s.width_mm[s.pen & 255];
    if (s.width_relative) {
        double diag = std::hypot(s.p2x - s.p1x, s.p2y - s.p1y) / plu_per_mm;
        w = w / 1000 * diag;
    }
    return {s.pen, w, s.line_type};
}

void flush(hpgl_state& s) {
    if (s.run.size() >= 2 && s.pen != 0) {
        s.sink->path(style_of(s), s.run.data(), s.run.size(), false);
        s.drawn = true;
    }
    s.run.clear();
}

// Whether (x, y) lies within the input window (always when IW is off).
bool in_window(const hpgl_state& s, double x, double y) {
    return s.iw_x0 > s.iw_x1 || (x >= s.iw_x0 && x <= s.iw_x1 && y >= s.iw_y0 && y <= s.iw_y1);
}

// Draws or moves to (nx, ny) in plotter units.
void line_to(hpgl_state& s, double nx, double ny, bool pen_down) {
    if (s.polygon_mode) {
        drawing_point np = to_page(s, nx, ny);
        if (pen_down) {
            if (s.poly_ring.empty()) s.poly_ring.push_back(to_page(s, s.x, s.y));
            if (++s.poly_points > polygon_limit)
                throw drawing_failure(s.name +
                                      ": polygon buffer overflow: more than 2000000 points");
            s.poly_ring.push_back(np);
        } else {
            if (s.poly_ring.size() > 1) s.polygon.push_back(std::move(s.poly_ring));
            s.poly_ring.clear();
            s.poly_ring.push_back(np);
        }
    } else if (pen_down) {
        // A segment with an end outside the input window ends the run there (a simple
        // window: whole segments inside are kept).
        if (in_window(s, s.x, s.y) && in_window(s, nx, ny)) {
            if (s.run.empty()) s.run.push_back(to_page(s, s.x, s.y));
            s.run.push_back(to_page(s, nx, ny));
            if (s.run.size() >= path_chunk) {
                drawing_point last = s.run.back();
                flush(s);
                s.run.push_back(last);
            }
        } else {
            flush(s);
        }
    } else {
        flush(s);
    }
    s.x = nx, s.y = ny;
}

// A curve from the current point through points (plotter units), pen state as given.
void curve_to(hpgl_state& s, const std::vector<drawing_point>& pts, bool pen_down) {
    for (size_t i = 1; i < pts.size(); ++i) line_to(s, pts[i].x, pts[i].y, pen_down);
}

// --- parameters -------------------------------------------------------------------

bool is_letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

void skip_separators(hpgl_state& s) {
    while (s.p < s.end &&
           (*s.p == ' ' || *s.p == ',' || *s.p == '\n' || *s.p == '\r' || *s.p == '\t'))
        ++s.p;
}

// Reads the next numeric parameter; false at the instruction's end.
bool number(hpgl_state& s, double* v) {
    skip_separators(s);
    const char* q = s.p;
    if (q < s.end && (*q == '+' || *q == '-')) ++q;
    const char* digits = q;
    while (q < s.end && ((*q >= '0' && *q <= '9') || *q == '.')) ++q;
    if (q == digits) return false;
    std::string text(s.p, q);
    char* stop = nullptr;
    double d = std::strtod(text.c_str(), &stop);
    s.p = q;
    if (!std::isfinite(d) || std::fabs(d) > 1e12) d = 0;
    *v = d;
    return true;
}

// Skips what is left of the instruction: its parameters up to ';' or the next
// mnemonic. Quoted strings are skipped whole.
void skip_rest(hpgl_state& s) {
    while (s.p < s.end) {
        char c = *s.p;
        if (c == ';') {
            ++s.p;
            return;
        }
        if (is_letter(c) || c == 27) return;
        if (c == '"') {
            const char* close =
                static_cast<const char*>(std::memchr(s.p + 1, '"', s.end - s.p - 1));
            s.p = close ? close + 1 : s.end;
            continue;
        }
        ++s.p;
    }
}

// Numbers of an instruction, up to max of them.
std::vector<double> numbers(hpgl_state& s, size_t max = 64) {
    std::vector<double> v;
    double d;
    while (v.size() < max && number(s, &d)) v.push_back(d);
    return v;
}

// User units (or plotter units when scaling is off) to plotter units.
drawing_point user_to_plu(const hpgl_state& s, double ux, double uy) {
    return s.scaled ? apply(s.user, {ux, uy}) : drawing_point{ux, uy};
}

// A relative step in user units, as plotter units.
drawing_point user_step(const hpgl_state& s, double dx, double dy) {
    if (!s.scaled) return {dx, dy};
    return {s.user.a * dx + s.user.b * dy, s.user.d * dx + s.user.e * dy};
}

void set_scaling(hpgl_state& s, const std::vector<double>& v) {
    if (v.size() < 4) {
        s.scaled = false;
        return;
    }
    int type = v.size() >= 5 ? static_cast<int>(v[4]) : 0;
    double sx, sy;
    if (type == 2) { // point factor: x1, xfactor, y1, yfactor
        sx = v[1] != 0 ? v[1] : 1, sy = v[3] != 0 ? v[3] : 1; // plotter units per user unit
        s.user = {sx, 0, s.p1x - v[0] * sx, 0, sy, s.p1y - v[2] * sy};
    } else {
        if (v[1] == v[0] || v[3] == v[2]) {
            s.scaled = false;
            return;
        }
        sx = (s.p2x - s.p1x) / (v[1] - v[0]);
        sy = (s.p2y - s.p1y) / (v[3] - v[2]);
        double ox = 0, oy = 0;
        if (type == 1) { // isotropic: the smaller factor, centred
            double k = std::min(std::fabs(sx), std::fabs(sy));
            double nsx = std::copysign(k, sx), nsy = std::copysign(k, sy);
            ox = ((s.p2x - s.p1x) - nsx * (v[1] - v[0])) / 2;
            oy = ((s.p2y - s.p1y) - nsy * (v[3] - v[2])) / 2;
            sx = nsx, sy = nsy;
        }
        s.user = {sx, 0, s.p1x + ox - v[0] * sx, 0, sy, s.p1y + oy - v[2] * sy};
    }
    s.scaled = true;
}

void defaults(hpgl_state& s) { // DF
    flush(s);
    s.absolute = true;
    s.line_type = 0;
    s.polygon_mode = false;
    s.polygon.clear();
    s.poly_ring.clear();
    s.scaled = false;
    s.terminator = 3;
    s.terminator_printed = false;
    s.char_w_cm = 0.187, s.char_h_cm = 0.269;
    s.dir_deg = 0;
    s.iw_x0 = 1, s.iw_x1 = 0;
    s.width_relative = false;
    std::fill(std::begin(s.width_mm), std::end(s.width_mm), 0.35);
}

void initialize(hpgl_state& s) { // IN
    defaults(s);
    s.down = false;
    s.x = s.y = 0;
    s.rotate = 0;
    s.p1x = s.p1y = 0;
    s.p2x = s.page_a > 0 ? s.page_a : 10000;
    s.p2y = s.page_b > 0 ? s.page_b : 7500;
}

// PU, PD, PA, PR: the coordinates that follow, in the instruction's pen state.
void plot_points(hpgl_state& s, bool pen_down, bool relative) {
    double a, b;
    while (number(s, &a)) {
        if (!number(s, &b)) break;
        drawing_point t = relative ? user_step(s, a, b) : user_to_plu(s, a, b);
        if (relative) t.x += s.x, t.y += s.y;
        line_to(s, t.x, t.y, pen_down);
    }
}

// PE: the encoded polyline run up to ';'.
void encoded(hpgl_state& s) {
    bool seven = false, up = false, abs_next = false;
    int frac = 0;
    auto read_number = [&](double* out) {
        uint64_t v = 0;
        int shift = 0;
        while (s.p < s.end) {
            unsigned c = static_cast<unsigned char>(*s.p++);
            unsigned lo = 63, hi_cont = seven ? 94 : 126;
            unsigned term_lo = seven ? 95 : 191, term_hi = seven ? 126 : 254;
            int bits = seven ? 5 : 6;
            if (c >= term_lo && c <= term_hi) {
                if (shift < 60) v |= static_cast<uint64_t>(c - term_lo) << shift;
                double d = (v & 1) ? -static_cast<double>(v >> 1) : static_cast<double>(v >> 1);
                *out = d;
                return true;
            }
            if (c >= lo && c <= hi_cont) {
                if (shift < 60) v |= static_cast<uint64_t>(c - lo) << shift;
                shift += bits;
                continue;
            }
            --s.p;
            return false;
        }
        return false;
    };
    for (;;) {
        if (s.p >= s.end) break;
        char c = *s.p;
        if (c == ';') {
            ++s.p;
            break;
        }
        if (c == 27) break;
        if (c == '7') {
            seven = true, ++s.p;
            continue;
        }
        if (c == '<') {
            up = true, ++s.p;
            continue;
        }
        if (c == '=') {
            abs_next = true, ++s.p;
            continue;
        }
        if (c == '>') {
            ++s.p;
            double f;
            if (!read_number(&f)) break;
            frac = static_cast<int>(std::clamp(f, 0.0, 26.0));
            continue;
        }
        if (c == ':') {
            ++s.p;
            double n;
            if (!read_number(&n)) break;
            flush(s);
            s.pen = static_cast<int>(std::clamp(n, 0.0, 255.0));
            continue;
        }
        double dx, dy;
        if (!read_number(&dx)) {
            ++s.p; // a stray byte inside the run
            continue;
        }
        if (!read_number(&dy)) break;
        double scale = std::ldexp(1.0, -frac);
        dx *= scale, dy *= scale;
        drawing_point t = abs_next ? user_to_plu(s, dx, dy) : user_step(s, dx, dy);
        if (!abs_next) t.x += s.x, t.y += s.y;
        line_to(s, t.x, t.y, !up);
        s.down = !up;
        up = false, abs_next = false;
    }
    flush(s);
}

double chord_tolerance(const hpgl_state& s, double r, double chord_deg) {
    double tol = s.sink->tolerance();
    if (chord_deg > 0) { // the file's own chord angle, if coarser than ours
        double own = r * (1 - std::cos(std::clamp(chord_deg, 0.5, 180.0) * std::numbers::pi / 360));
        tol = std::max(tol, own);
    }
    return tol;
}

// AA / AR: an arc about a centre, from the current point, sweep in degrees.
void arc(hpgl_state& s, bool relative) {
    std::vector<double> v = numbers(s, 4);
    if (v.size() < 3) return;
    drawing_point c = relative ? user_step(s, v[0], v[1]) : user_to_plu(s, v[0], v[1]);
    if (relative) c.x += s.x, c.y += s.y;
    double r = std::hypot(s.x - c.x, s.y - c.y);
    double start = std::atan2(s.y - c.y, s.x - c.x);
    double sweep = std::clamp(v[2], -3600.0, 3600.0) * std::numbers::pi / 180;
    std::vector<drawing_point> pts;
    flatten_arc(c, r, start, sweep, chord_tolerance(s, r, v.size() > 3 ? v[3] : 0), pts);
    curve_to(s, pts, s.down);
    if (!s.down) flush(s);
}

// CI: a circle about the current point, drawn whatever the pen state; the pen returns.
void circle(hpgl_state& s) {
    std::vector<double> v = numbers(s, 2);
    if (v.empty()) return;
    double r = std::fabs(user_step(s, v[0], 0).x);
    if (r == 0) r = std::fabs(user_step(s, 0, v[0]).y);
    double cx = s.x, cy = s.y;
    std::vector<drawing_point> pts;
    flatten_arc({cx, cy}, r, 0, 2 * std::numbers::pi,
                chord_tolerance(s, r, v.size() > 1 ? v[1] : 0), pts);
    bool was = s.down;
    flush(s);
    if (s.polygon_mode) {
        line_to(s, pts[0].x, pts[0].y, false);
        curve_to(s, pts, true);
        line_to(s, pts.back().x, pts.back().y, false);
    } else {
        std::vector<drawing_point> page;
        for (auto p : pts) page.push_back(to_page(s, p.x, p.y));
        if (s.pen != 0 && in_window(s, cx - r, cy - r) && in_window(s, cx + r, cy + r)) {
            s.sink->path(style_of(s), page.data(), page.size(), true);
            s.drawn = true;
        }
    }
    s.x = cx, s.y = cy, s.down = was;
}

// RA, RR, EA, ER: a rectangle from the current point to a corner, filled or edged.
void rectangle(hpgl_state& s, bool relative, bool filled) {
    std::vector<double> v = numbers(s, 2);
    if (v.size() < 2) return;
    drawing_point o = relative ? user_step(s, v[0], v[1]) : user_to_plu(s, v[0], v[1]);
    if (relative) o.x += s.x, o.y += s.y;
    flush(s);
    std::vector<drawing_point> ring = {to_page(s, s.x, s.y), to_page(s, o.x, s.y),
                                       to_page(s, o.x, o.y), to_page(s, s.x, o.y)};
    if (s.pen == 0) return;
    if (filled)
        s.sink->fill(style_of(s), {ring});
    else
        s.sink->path(style_of(s), ring.data(), ring.size(), true);
    s.drawn = true;
}

// PM n: polygon mode.
void polygon_mode(hpgl_state& s) {
    double n = 0;
    number(s, &n);
    int mode = static_cast<int>(n);
    flush(s);
    if (mode == 0) {
        s.polygon_mode = true;
        s.poly_points = 0;
        s.polygon.clear();
        s.poly_ring.clear();
        s.poly_ring.push_back(to_page(s, s.x, s.y));
        return;
    }
    if (!s.polygon_mode) return;
    if (s.poly_ring.size() > 1) s.polygon.push_back(s.poly_ring);
    s.poly_ring.clear();
    if (mode == 1) s.poly_ring.push_back(to_page(s, s.x, s.y));
    if (mode == 2) s.polygon_mode = false;
}

// LB: the label up to the terminator, stroked from the current point.
void label(hpgl_state& s) {
    const char* start = s.p;
    const char* stop = static_cast<const char*>(std::memchr(s.p, s.terminator, s.end - s.p));
    if (!stop) stop = s.end;
    std::string raw(start, stop);
    if (s.terminator_printed && stop < s.end) raw += s.terminator; // DT t,0: printed
    s.p = stop < s.end ? stop + 1 : s.end;
    flush(s);
    // Plot files carry Latin-1 labels (the Roman-8 accents mostly match for French).
    std::string text;
    for (unsigned char c : raw) {
        if (c == '\r') continue;
        if (c < 0x80) {
            text.push_back(static_cast<char>(c));
        } else {
            text.push_back(static_cast<char>(0xC0 | (c >> 6)));
            text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    double height = s.char_h_cm * 10 * plu_per_mm;
    double width_factor = s.char_h_cm > 0 ? (s.char_w_cm / s.char_h_cm) / (0.187 / 0.269) : 1;
    double angle = s.dir_deg + s.rotate;
    text_run run{text,
                 to_page(s, s.x, s.y),
                 height,
                 angle,
                 width_factor,
                 0,
                 text_halign::left,
                 text_valign::baseline,
                 2.0};
    if (s.pen != 0 && !text.empty()) {
        s.sink->text(style_of(s), run);
        s.drawn = true;
    }
    // The pen ends after the last character, on the baseline of the last line.
    drawing_point a;
    size_t nl = text.rfind('\n');
    std::string last = nl == std::string::npos ? text : text.substr(nl + 1);
    text_run tail = run;
    tail.utf8 = last;
    std::string why;
    const stroke_font* font = stroke_font_default(&why);
    double adv = font ? stroke_text_width(*font, tail) : 0;
    double rad = s.dir_deg * std::numbers::pi / 180;
    a = {adv * std::cos(rad), adv * std::sin(rad)};
    s.x += a.x, s.y += a.y;
}

void instruction(hpgl_state& s, const std::string& m) {
    if (m == "PU" || m == "PD") {
        bool d = m == "PD";
        if (!d) flush(s);
        s.down = d;
        plot_points(s, d, !s.absolute);
        skip_rest(s);
    } else if (m == "PA" || m == "PR") {
        s.absolute = m == "PA";
        plot_points(s, s.down, !s.absolute);
        skip_rest(s);
    } else if (m == "PE") {
        encoded(s);
    } else if (m == "SP") {
        double n = 0;
        number(s, &n);
        flush(s);
        s.pen = static_cast<int>(std::clamp(n, 0.0, 255.0));
        skip_rest(s);
    } else if (m == "LT") {
        std::vector<double> v = numbers(s, 3);
        flush(s);
        if (v.empty())
            s.line_type = 0;
        else if (v[0] == 0)
            s.line_type = 1; // dots at the points: the dotted pattern
        else
            s.line_type = std::clamp(static_cast<int>(std::fabs(v[0])), 1, 8);
        skip_rest(s);
    } else if (m == "PW") {
        std::vector<double> v = numbers(s, 2);
        flush(s);
        double w = v.empty() ? (s.width_relative ? 0.1 : 0.35) : std::clamp(v[0], 0.0, 297.0);
        if (v.size() >= 2)
            s.width_mm[static_cast<int>(std::clamp(v[1], 0.0, 255.0))] = w;
        else
            std::fill(std::begin(s.width_mm), std::end(s.width_mm), w);
        skip_rest(s);
    } else if (m == "WU") {
        double n = 0;
        number(s, &n);
        flush(s);
        s.width_relative = n == 1;
        std::fill(std::begin(s.width_mm), std::end(s.width_mm), s.width_relative ? 0.1 : 0.35);
        skip_rest(s);
    } else if (m == "IN") {
        initialize(s);
        skip_rest(s);
    } else if (m == "DF") {
        defaults(s);
        skip_rest(s);
    } else if (m == "PS") {
        std::vector<double> v = numbers(s, 2);
        if (!v.empty()) {
            s.page_a = std::fabs(v[0]);
            s.page_b = v.size() > 1 ? std::fabs(v[1]) : s.page_a;
            s.p1x = s.p1y = 0, s.p2x = s.page_a, s.p2y = s.page_b;
        }
        skip_rest(s);
    } else if (m == "RO") {
        double n = 0;
        number(s, &n);
        flush(s);
        int r = static_cast<int>(n) % 360;
        s.rotate = r == 90 || r == 180 || r == 270 ? r : 0;
        // Turned without a page size, the page's corner is unknown: placed by extents.
        if (s.rotate && s.page_a == 0) s.no_page = true;
        skip_rest(s);
    } else if (m == "IP") {
        std::vector<double> v = numbers(s, 4);
        if (v.size() >= 2) {
            double wx = s.p2x - s.p1x, wy = s.p2y - s.p1y;
            s.p1x = v[0], s.p1y = v[1];
            if (v.size() >= 4)
                s.p2x = v[2], s.p2y = v[3];
            else
                s.p2x = s.p1x + wx, s.p2y = s.p1y + wy;
        } else {
            s.p1x = s.p1y = 0;
            s.p2x = s.page_a > 0 ? s.page_a : 10000;
            s.p2y = s.page_b > 0 ? s.page_b : 7500;
        }
        skip_rest(s);
    } else if (m == "SC") {
        set_scaling(s, numbers(s, 5));
        skip_rest(s);
    } else if (m == "IW") {
        std::vector<double> v = numbers(s, 4);
        flush(s);
        if (v.size() >= 4)
            s.iw_x0 = std::min(v[0], v[2]), s.iw_x1 = std::max(v[0], v[2]),
            s.iw_y0 = std::min(v[1], v[3]), s.iw_y1 = std::max(v[1], v[3]);
        else
            s.iw_x0 = 1, s.iw_x1 = 0;
        skip_rest(s);
    } else if (m == "NP" || m == "PC") {
        skip_rest(s); // pen colours: the pen table maps pens to the printer's pens
    } else if (m == "PM") {
        polygon_mode(s);
        skip_rest(s);
    } else if (m == "FP" || m == "EP") {
        skip_rest(s);
        if (s.polygon.empty() || s.pen == 0) return;
        if (m == "FP") {
            s.sink->fill(style_of(s), s.polygon);
        } else {
            for (const auto& r : s.polygon) s.sink->path(style_of(s), r.data(), r.size(), true);
        }
        s.drawn = true;
    } else if (m == "RA" || m == "RR" || m == "EA" || m == "ER") {
        rectangle(s, m[1] == 'R', m[0] == 'R');
        skip_rest(s);
    } else if (m == "CI") {
        circle(s);
        skip_rest(s);
    } else if (m == "AA" || m == "AR") {
        arc(s, m == "AR");
        skip_rest(s);
    } else if (m == "LB") {
        label(s);
    } else if (m == "DT") {
        // DT t[,mode]: the label terminator is the byte right after DT.
        if (s.p < s.end && *s.p != ';') {
            s.terminator = *s.p++;
            double mode = 1;
            if (s.p < s.end && *s.p == ',') number(s, &mode);
            s.terminator_printed = mode == 0;
        } else {
            s.terminator = 3;
        }
        skip_rest(s);
    } else if (m == "SI") {
        std::vector<double> v = numbers(s, 2);
        if (v.size() >= 2 && v[1] > 0)
            s.char_w_cm = std::fabs(v[0]), s.char_h_cm = v[1];
        else
            s.char_w_cm = 0.187, s.char_h_cm = 0.269;
        skip_rest(s);
    } else if (m == "DI") {
        std::vector<double> v = numbers(s, 2);
        s.dir_deg = v.size() >= 2 && (v[0] != 0 || v[1] != 0)
                        ? std::atan2(v[1], v[0]) * 180 / std::numbers::pi
                        : 0;
        skip_rest(s);
    } else if (m == "BP") {
        skip_rest(s);
    } else if (m == "PG") {
        flush(s);
        skip_rest(s);
        // Later pages would overprint this one: they are read into nothing, and noted.
        if (s.drawn && !s.discard) {
            s.discard = std::make_unique<discard_sink>(s.sink->tolerance());
            s.sink = s.discard.get();
        }
    } else {
        ++s.skipped[m];
        skip_rest(s);
    }
}

// PCL/RTL escape at s.p (ESC): follows mode changes, skips binary data and PJL.
// Returns true when the escape enters HP-GL/2.
bool escape(hpgl_state& s) {
    ++s.p; // ESC
    if (s.p >= s.end) return false;
    char c = *s.p;
    if (c == 'E') { // reset
        ++s.p;
        return false;
    }
    if (c < 0x21 || c > 0x2F) { // a two-byte escape
        ++s.p;
        return false;
    }
    ++s.p;
    if (c == '%') {
        const char* q = s.p;
        while (q < s.end && (*q == '-' || *q == '+' || (*q >= '0' && *q <= '9'))) ++q;
        if (q >= s.end) {
            s.p = s.end;
            return false;
        }
        std::string value(s.p, q);
        char final = *q;
        s.p = q + 1;
        if (final == 'X') { // universal exit: PJL lines follow until the next escape
            const char* next = static_cast<const char*>(std::memchr(s.p, 27, s.end - s.p));
            s.p = next ? next : s.end;
            return false;
        }
        return final == 'B';
    }
    // ESC c group value... with lowercase parameter letters chaining and an uppercase
    // one ending the sequence; W (and a few others) carry that many data bytes.
    if (s.p < s.end && *s.p >= 0x60 && *s.p <= 0x7E) ++s.p;
    for (;;) {
        const char* q = s.p;
        while (q < s.end && (*q == '-' || *q == '+' || *q == '.' || (*q >= '0' && *q <= '9'))) ++q;
        if (q >= s.end) {
            s.p = s.end;
            return false;
        }
        double v = std::atof(std::string(s.p, q).c_str());
        char param = *q;
        s.p = q + 1;
        if (param == 'W' || param == 'w') {
            size_t n = v > 0 ? static_cast<size_t>(std::min<double>(v, 1e15)) : 0;
            s.p = n >= static_cast<size_t>(s.end - s.p) ? s.end : s.p + n;
        }
        if (param < 0x60 || param > 0x7E) return false; // uppercase: the sequence ends
    }
}

} // namespace

void hpgl_read(const char* data, size_t size, const std::string& name, drawing_sink& sink,
               drawing_report& report) {
    hpgl_state s;
    s.p = data;
    s.end = data + size;
    s.sink = &sink;
    s.name = name;
    initialize(s);
    report.units = drawing_units::plotter;
    report.unit_mm = 0.025;
    bool gl = !(size > 0 && data[0] == 27); // a bare plot file starts in HP-GL/2
    while (s.p < s.end) {
        char c = *s.p;
        if (c == 27) {
            flush(s);
            gl = escape(s);
            continue;
        }
        if (!gl) {
            const char* next = static_cast<const char*>(std::memchr(s.p, 27, s.end - s.p));
            s.p = next ? next : s.end;
            continue;
        }
        if (!is_letter(c)) {
            ++s.p;
            continue;
        }
        if (s.p + 1 >= s.end || !is_letter(s.p[1])) {
            ++s.p;
            continue;
        }
        std::string m{static_cast<char>(c & ~0x20), static_cast<char>(s.p[1] & ~0x20)};
        s.p += 2;
        instruction(s, m);
    }
    flush(s);
    report.no_origin = s.no_page;
    if (s.discard && s.discard->got)
        report.notes.push_back("the plot file has more than one page: only the first is plotted");
    if (!s.skipped.empty()) {
        std::string list;
        long total = 0;
        for (const auto& [m, n] : s.skipped) {
            list += (list.empty() ? "" : ", ") + m + (n > 1 ? " x" + std::to_string(n) : "");
            total += n;
        }
        report.notes.push_back(std::to_string(total) + " instruction(s) not plotted: " + list);
    }
}

void hpgl_read_file(const std::string& path, drawing_sink& sink, drawing_report& report) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw drawing_failure(path + ": " + std::strerror(errno));
    std::string data((std::istreambuf_iterator<char>(in)), {});
    if (in.bad()) throw drawing_failure(path + ": read error");
    hpgl_read(data.data(), data.size(), path, sink, report);
}
