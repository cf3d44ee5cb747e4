// The drawing pipeline's one stream of operations.
//
// Every drawing reader (DXF, HP-GL/2 plot files, the stroke font for text) turns its
// file into calls on a drawing_sink: paths with a style, filled areas and text runs, in
// the drawing's own units. One writer (drawing/plot_writer.h) places them on the sheet
// and turns them into the driver's plot messages; another sink only measures extents.
// Curves reach the sink already flattened: readers flatten them within the tolerance
// the sink asks for (half a printer dot, in drawing units).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct drawing_point {
    double x, y;
};

// How a path or area is drawn, before the pen table maps it to the driver's pens.
struct drawing_style {
    int colour;       // colour number 1..255 (DXF colour index, or the plot file's pen)
    double weight_mm; // line weight in millimetres; < 0: not given (the pen table decides)
    int line_type;    // the driver's line type: 0 solid, 1..8 its patterns
};

// A run of text to be stroked with the stroke font.
enum class text_halign { left, center, right };
enum class text_valign { baseline, bottom, middle, top };

struct text_run {
    std::string utf8;    // the text, UTF-8; '\n' starts a new line
    drawing_point at;    // the justification point
    double height;       // capital height, drawing units
    double angle_deg;    // baseline direction, degrees anticlockwise from +x
    double width_factor; // horizontal stretch, 1 = the font's own proportions
    double slant_deg;    // oblique angle, 0 upright
    text_halign halign;
    text_valign valign;
    double line_spacing; // distance between baselines as a multiple of height (1.6 usual)
};

struct drawing_sink {
    virtual ~drawing_sink() = default;
    // The flattening tolerance the sink wants, in drawing units (> 0).
    virtual double tolerance() const = 0;
    // An open or closed polyline of n >= 1 points (one point draws a dot).
    virtual void path(const drawing_style& s, const drawing_point* p, size_t n, bool closed) = 0;
    // A filled area: one or more closed rings (holes by the even-odd rule).
    virtual void fill(const drawing_style& s,
                      const std::vector<std::vector<drawing_point>>& rings) = 0;
    // A text run; the default strokes it with the stroke font into path() calls (and
    // throws drawing_failure when the font cannot be read).
    virtual void text(const drawing_style& s, const text_run& t);

    size_t missing_glyphs = 0; // characters the font lacks, drawn as '?'
};

// What a reader learned about the drawing besides its operations.
enum class drawing_units { unknown, mm, inch, plotter }; // plotter: 1/40 mm

struct drawing_report {
    drawing_units units = drawing_units::unknown;
    double unit_mm = 0;             // millimetres per drawing unit when known, else 0
    std::vector<std::string> notes; // warnings for the user (skipped entities, ...)
    bool no_origin = false;         // the file's own origin means nothing: place by its extents
};

// A 2-D affine map: x' = a x + b y + c, y' = d x + e y + f.
struct affine {
    double a = 1, b = 0, c = 0, d = 0, e = 1, f = 0;
};

inline drawing_point apply(const affine& m, drawing_point p) {
    return {m.a * p.x + m.b * p.y + m.c, m.d * p.x + m.e * p.y + m.f};
}

// m1 after m2: apply(compose(m1, m2), p) == apply(m1, apply(m2, p)).
affine compose(const affine& m1, const affine& m2);
affine translation(double dx, double dy);
affine rotation_deg(double deg);
affine scaling(double sx, double sy);
// The factor by which m changes lengths at most (for flattening tolerances).
double max_scale(const affine& m);

// Curve flattening, appending points to out. tol: largest distance between the curve and
// its chords. Angles in radians; a sweep > 0 goes anticlockwise.
void flatten_arc(drawing_point centre, double radius, double start, double sweep, double tol,
                 std::vector<drawing_point>& out);
// An elliptical arc: centre, major axis vector, minor/major ratio, parameters t0..t1
// (anticlockwise, t1 > t0).
void flatten_ellipse(drawing_point centre, drawing_point major, double ratio, double t0, double t1,
                     double tol, std::vector<drawing_point>& out);
// The arc segment of a polyline bulge (tan of a quarter of the included angle, > 0
// anticlockwise) from a to b; appends the points after a, b included.
void flatten_bulge(drawing_point a, drawing_point b, double bulge, double tol,
                   std::vector<drawing_point>& out);
// A B-spline (NURBS when weights are given) of the given degree; knots may be empty for
// a uniform clamped vector. Returns false when the data do not make a spline.
bool flatten_spline(int degree, const std::vector<drawing_point>& control,
                    const std::vector<double>& knots, const std::vector<double>& weights,
                    double tol, std::vector<drawing_point>& out);
