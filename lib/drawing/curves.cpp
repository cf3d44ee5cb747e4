// Affine maps and curve flattening for the drawing readers.
//
// Arcs, ellipses and bulges are cut into chords whose sagitta stays within the asked
// tolerance; splines are evaluated with de Boor's algorithm and subdivided until the
// mid-point of every span lies within the tolerance of its chord. Drawings hold many
// small arcs: the segment count comes from a closed formula, not a search.
#include "drawing/drawing.h"

#include <algorithm>
#include <cmath>
#include <numbers>

affine compose(const affine& m1, const affine& m2) {
    return {m1.a * m2.a + m1.b * m2.d, m1.a * m2.b + m1.b * m2.e, m1.a * m2.c + m1.b * m2.f + m1.c,
            m1.d * m2.a + m1.e * m2.d, m1.d * m2.b + m1.e * m2.e, m1.d * m2.c + m1.e * m2.f + m1.f};
}

affine translation(double dx, double dy) {
    return {1, 0, dx, 0, 1, dy};
}

affine rotation_deg(double deg) {
    // Exact quarter turns keep axis-parallel lines exact.
    double r = std::fmod(deg, 360.0);
    if (r < 0) r += 360;
    double c, s;
    if (r == 0)
        c = 1, s = 0;
    else if (r == 90)
        c = 0, s = 1;
    else if (r == 180)
        c = -1, s = 0;
    else if (r == 270)
        c = 0, s = -1;
    else
        c = std::cos(r * std::numbers::pi / 180), s = std::sin(r * std::numbers::pi / 180);
    return {c, -s, 0, s, c, 0};
}

affine scaling(double sx, double sy) {
    return {sx, 0, 0, 0, sy, 0};
}

double max_scale(const affine& m) {
    // The largest singular value of the linear part.
    double sum = m.a * m.a + m.b * m.b + m.d * m.d + m.e * m.e;
    double det = m.a * m.e - m.b * m.d;
    return std::sqrt((sum + std::sqrt(std::max(0.0, sum * sum - 4 * det * det))) / 2);
}

namespace {

// Chords needed for a sweep of an arc of radius r with sagitta at most tol.
int chords(double r, double sweep, double tol) {
    sweep = std::fabs(sweep);
    double n;
    if (!(tol > 0)) // no tolerance (extents only): 64 chords a turn, within 0.12 % of r
        n = std::ceil(sweep / (std::numbers::pi / 32));
    else if (!(r > tol)) // smaller than the tolerance: a chord a quarter turn
        n = std::ceil(sweep / (std::numbers::pi / 2));
    else
        n = std::ceil(sweep / (2 * std::acos(1 - tol / r)));
    if (!std::isfinite(n)) return 1; // no numbers: the caller's points say so themselves
    return static_cast<int>(std::clamp(n, 1.0, 100000.0));
}

} // namespace

void flatten_arc(drawing_point c, double r, double start, double sweep, double tol,
                 std::vector<drawing_point>& out) {
    int n = chords(r, sweep, tol);
    for (int i = 0; i <= n; ++i) {
        double t = start + sweep * i / n;
        out.push_back({c.x + r * std::cos(t), c.y + r * std::sin(t)});
    }
}

void flatten_ellipse(drawing_point c, drawing_point major, double ratio, double t0, double t1,
                     double tol, std::vector<drawing_point>& out) {
    double a = std::hypot(major.x, major.y);
    drawing_point minor{-major.y * ratio, major.x * ratio};
    // The sharpest bend of an ellipse is at the major axis ends, radius b^2/a.
    double b = a * std::fabs(ratio);
    double r = a > 0 ? std::max(b * b / a, 1e-12) : 0;
    int n = std::max(chords(r, t1 - t0, tol), chords(a, t1 - t0, tol));
    for (int i = 0; i <= n; ++i) {
        double t = t0 + (t1 - t0) * i / n;
        double ct = std::cos(t), st = std::sin(t);
        out.push_back({c.x + major.x * ct + minor.x * st, c.y + major.y * ct + minor.y * st});
    }
}

void flatten_bulge(drawing_point a, drawing_point b, double bulge, double tol,
                   std::vector<drawing_point>& out) {
    double dx = b.x - a.x, dy = b.y - a.y;
    double chord = std::hypot(dx, dy);
    if (bulge == 0 || chord == 0 || !std::isfinite(bulge)) {
        out.push_back(b);
        return;
    }
    double sweep = 4 * std::atan(bulge); // included angle, > 0 anticlockwise
    double r = chord / (2 * std::sin(std::fabs(sweep) / 2));
    // Centre: from the chord's midpoint along its left normal for an anticlockwise arc
    // (right for clockwise), passing to the other side when the arc exceeds a half turn.
    double h = r * std::cos(sweep / 2) * (bulge > 0 ? 1 : -1);
    double mx = (a.x + b.x) / 2, my = (a.y + b.y) / 2;
    double nx = -dy / chord, ny = dx / chord;
    drawing_point c{mx + nx * h, my + ny * h};
    double start = std::atan2(a.y - c.y, a.x - c.x);
    size_t from = out.size();
    flatten_arc(c, r, start, sweep, tol, out);
    out.erase(out.begin() + static_cast<std::ptrdiff_t>(from)); // a itself is already there
    out.back() = b;                                             // end exactly on the vertex
}

namespace {

struct spline_eval {
    int p;
    const std::vector<drawing_point>& cp;
    const std::vector<double>& u;
    const std::vector<double>& w;

    drawing_point at(double t) const {
        const int n = static_cast<int>(cp.size());
        int k = p;
        while (k < n - 1 && t >= u[k + 1]) ++k;
        double dx[16], dy[16], dw[16];
        for (int j = 0; j <= p; ++j) {
            int i = k - p + j;
            double wi = w.empty() ? 1.0 : w[i];
            dx[j] = cp[i].x * wi, dy[j] = cp[i].y * wi, dw[j] = wi;
        }
        for (int r = 1; r <= p; ++r)
            for (int j = p; j >= r; --j) {
                int i = k - p + j;
                double den = u[i + p - r + 1] - u[i];
                double a = den > 0 ? (t - u[i]) / den : 0;
                dx[j] = (1 - a) * dx[j - 1] + a * dx[j];
                dy[j] = (1 - a) * dy[j - 1] + a * dy[j];
                dw[j] = (1 - a) * dw[j - 1] + a * dw[j];
            }
        return dw[p] != 0 ? drawing_point{dx[p] / dw[p], dy[p] / dw[p]} : cp[k];
    }
};

void subdivide(const spline_eval& s, double t0, drawing_point a, double t1, drawing_point b,
               double tol, int depth, std::vector<drawing_point>& out) {
    double tm = (t0 + t1) / 2;
    drawing_point m = s.at(tm);
    double dx = b.x - a.x, dy = b.y - a.y, len = std::hypot(dx, dy);
    double dist = len > 0 ? std::fabs((m.x - a.x) * dy - (m.y - a.y) * dx) / len
                          : std::hypot(m.x - a.x, m.y - a.y);
    // Also test the quarter points: a span can cross its chord at the mid-point.
    drawing_point q = s.at((t0 + tm) / 2);
    double dq = len > 0 ? std::fabs((q.x - a.x) * dy - (q.y - a.y) * dx) / len
                        : std::hypot(q.x - a.x, q.y - a.y);
    if (depth >= 14 || (dist <= tol && dq <= tol)) {
        out.push_back(b);
        return;
    }
    subdivide(s, t0, a, tm, m, tol, depth + 1, out);
    subdivide(s, tm, m, t1, b, tol, depth + 1, out);
}

} // namespace

bool flatten_spline(int degree, const std::vector<drawing_point>& control,
                    const std::vector<double>& knots_in, const std::vector<double>& weights,
                    double tol, std::vector<drawing_point>& out) {
    const int n = static_cast<int>(control.size());
    if (degree < 1 || degree > 15 || n < degree + 1) return false;
    if (!weights.empty() && static_cast<int>(weights.size()) != n) return false;
    std::vector<double> knots = knots_in;
    if (knots.empty()) { // clamped uniform
        for (int i = 0; i <= degree; ++i) knots.push_back(0);
        for (int i = 1; i < n - degree; ++i) knots.push_back(i);
        for (int i = 0; i <= degree; ++i) knots.push_back(n - degree);
    }
    if (static_cast<int>(knots.size()) != n + degree + 1) return false;
    for (size_t i = 1; i < knots.size(); ++i)
        if (!(knots[i] >= knots[i - 1])) return false;
    if (!(tol > 0)) { // extents only: a thousandth of the control polygon's size
        double x0 = control[0].x, x1 = x0, y0 = control[0].y, y1 = y0;
        for (auto p : control)
            x0 = std::min(x0, p.x), x1 = std::max(x1, p.x), y0 = std::min(y0, p.y),
            y1 = std::max(y1, p.y);
        tol = std::max(std::hypot(x1 - x0, y1 - y0) * 1e-3, 1e-12);
    }
    spline_eval s{degree, control, knots, weights};
    double t0 = knots[degree], t1 = knots[n];
    if (!(t1 > t0)) return false;
    // Start from one span per distinct knot interval so no span is skipped.
    drawing_point a = s.at(t0);
    out.push_back(a);
    for (int k = degree; k < n; ++k) {
        if (!(knots[k + 1] > knots[k])) continue;
        double ta = knots[k], tb = knots[k + 1];
        drawing_point b = s.at(tb); // at the last knot the last span's limit is taken
        subdivide(s, ta, a, tb, b, tol, 0, out);
        a = b;
    }
    return true;
}
