// The picture's rasterizer (see canvas.h).
#include "jobread/canvas.h"

#include <algorithm>
#include <cassert>
#include <cmath>

void canvas_init(canvas& c, int width, int height) {
    c.width = width;
    c.height = height;
    c.grey.assign(static_cast<size_t>(width) * height, 255);
}

namespace {

void span(canvas& c, int row, double lo, double hi, uint8_t grey) {
    if (row < 0 || row >= c.height) return;
    // Pixels whose centre x + 0.5 lies in [lo, hi].
    double a = std::ceil(lo - 0.5), b = std::floor(hi - 0.5);
    if (a < 0) a = 0;
    if (b > c.width - 1) b = c.width - 1;
    if (!(a <= b)) return;
    uint8_t* p = &c.grey[static_cast<size_t>(row) * c.width];
    for (int x = static_cast<int>(a); x <= static_cast<int>(b); ++x) p[x] = grey;
}

// Widens [lo, hi] to take in [a, b].
void take(double& lo, double& hi, double a, double b) {
    lo = std::min(lo, a);
    hi = std::max(hi, b);
}

} // namespace

void canvas_line(canvas& c, double x0, double y0, double x1, double y1, double width,
                 uint8_t grey) {
    const double r = std::max(width, 1.0) / 2;
    if (!std::isfinite(x0 + y0 + x1 + y1)) return;
    const double top = std::min(y0, y1) - r, bottom = std::max(y0, y1) + r;
    const double left = std::min(x0, x1) - r, right = std::max(x0, x1) + r;
    if (bottom < 0 || top > c.height || right < 0 || left > c.width) return;
    const double dx = x1 - x0, dy = y1 - y0, len = std::hypot(dx, dy);
    // The band around the segment: the rectangle with corners p0 +- n, p1 +- n.
    const double nx = len > 0 ? -dy / len * r : 0, ny = len > 0 ? dx / len * r : 0;
    const double qx[4] = {x0 + nx, x1 + nx, x1 - nx, x0 - nx};
    const double qy[4] = {y0 + ny, y1 + ny, y1 - ny, y0 - ny};
    int first = std::max(0, to_int(std::ceil(top - 0.5)));
    int last = std::min(c.height - 1, to_int(std::floor(bottom - 0.5)));
    for (int row = first; row <= last; ++row) {
        const double y = row + 0.5;
        double lo = INFINITY, hi = -INFINITY;
        // The round ends.
        for (int e = 0; e < 2; ++e) {
            const double ex = e ? x1 : x0, ey = e ? y1 : y0, d = y - ey;
            if (std::fabs(d) <= r) {
                const double h = std::sqrt(r * r - d * d);
                take(lo, hi, ex - h, ex + h);
            }
        }
        // The band: where the row crosses its four edges.
        if (len > 0) {
            for (int k = 0; k < 4; ++k) {
                const double ax = qx[k], ay = qy[k], bx = qx[(k + 1) % 4], by = qy[(k + 1) % 4];
                if ((ay <= y && y <= by) || (by <= y && y <= ay)) {
                    if (ay == by) {
                        take(lo, hi, std::min(ax, bx), std::max(ax, bx));
                    } else {
                        const double x = ax + (y - ay) * (bx - ax) / (by - ay);
                        take(lo, hi, x, x);
                    }
                }
            }
        }
        if (lo <= hi) span(c, row, lo, hi, grey);
    }
}

void canvas_polygon(canvas& c, const std::vector<double>& xy, const uint16_t pattern[16]) {
    const size_t n = xy.size() / 2;
    if (n < 3) return;
    double top = INFINITY, bottom = -INFINITY;
    for (size_t i = 0; i < n; ++i) {
        if (!std::isfinite(xy[2 * i]) || !std::isfinite(xy[2 * i + 1])) return;
        top = std::min(top, xy[2 * i + 1]);
        bottom = std::max(bottom, xy[2 * i + 1]);
    }
    int first = std::max(0, to_int(std::ceil(top - 0.5)));
    int last = std::min(c.height - 1, to_int(std::floor(bottom - 0.5)));
    std::vector<double> cross;
    for (int row = first; row <= last; ++row) {
        const double y = row + 0.5;
        cross.clear();
        for (size_t i = 0; i < n; ++i) {
            const double ax = xy[2 * i], ay = xy[2 * i + 1];
            const double bx = xy[2 * ((i + 1) % n)], by = xy[2 * ((i + 1) % n) + 1];
            // Half-open in y so a vertex on the row counts once.
            if ((ay <= y) != (by <= y)) cross.push_back(ax + (y - ay) * (bx - ax) / (by - ay));
        }
        std::sort(cross.begin(), cross.end());
        const uint16_t word = pattern[row & 15];
        uint8_t* p = &c.grey[static_cast<size_t>(row) * c.width];
        for (size_t k = 0; k + 1 < cross.size(); k += 2) {
            double a = std::max(0.0, std::ceil(cross[k] - 0.5));
            double b = std::min(c.width - 1.0, std::floor(cross[k + 1] - 0.5));
            if (!(a <= b)) continue;
            for (int x = static_cast<int>(a); x <= static_cast<int>(b); ++x)
                p[x] = (word >> (15 - (x & 15)) & 1) ? 0 : 255;
        }
    }
}

void canvas_frame(canvas& c, double x0, double y0, double x1, double y1, uint8_t grey) {
    canvas_line(c, x0, y0, x1, y0, 1, grey);
    canvas_line(c, x1, y0, x1, y1, 1, grey);
    canvas_line(c, x1, y1, x0, y1, 1, grey);
    canvas_line(c, x0, y1, x0, y0, 1, grey);
}
