// A drawing sink for tests: keeps every operation as it arrives.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "drawing/drawing.h"

struct recorded_path {
    drawing_style style;
    std::vector<drawing_point> points;
    bool closed;
};

struct recording_sink : drawing_sink {
    double tol = 0.01;
    std::vector<recorded_path> paths;
    std::vector<std::vector<std::vector<drawing_point>>> fills;
    std::vector<drawing_style> fill_styles;
    std::vector<text_run> texts;
    bool stroke_text = false; // pass text to the stroke font instead of keeping the run

    double tolerance() const override { return tol; }
    void path(const drawing_style& s, const drawing_point* p, size_t n, bool closed) override {
        paths.push_back({s, std::vector<drawing_point>(p, p + n), closed});
    }
    void fill(const drawing_style& s, const std::vector<std::vector<drawing_point>>& r) override {
        fills.push_back(r);
        fill_styles.push_back(s);
    }
    void text(const drawing_style& s, const text_run& t) override {
        if (stroke_text)
            drawing_sink::text(s, t);
        else
            texts.push_back(t);
    }
};

struct box {
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    void add(drawing_point p) {
        x0 = std::min(x0, p.x), y0 = std::min(y0, p.y);
        x1 = std::max(x1, p.x), y1 = std::max(y1, p.y);
    }
};

inline box bounds_of(const std::vector<std::vector<drawing_point>>& strokes) {
    box b;
    for (const auto& s : strokes)
        for (auto p : s) b.add(p);
    return b;
}

// Largest distance from the polyline's points and chord midpoints to a circle.
inline double off_circle(const std::vector<drawing_point>& pts, drawing_point c, double r) {
    double worst = 0;
    for (size_t i = 0; i < pts.size(); ++i) {
        worst = std::max(worst, std::fabs(std::hypot(pts[i].x - c.x, pts[i].y - c.y) - r));
        if (i > 0) {
            drawing_point m{(pts[i].x + pts[i - 1].x) / 2, (pts[i].y + pts[i - 1].y) / 2};
            worst = std::max(worst, std::fabs(std::hypot(m.x - c.x, m.y - c.y) - r));
        }
    }
    return worst;
}
