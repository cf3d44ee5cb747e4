// Writes the benchmark's drawing: one A0 landscape page (1189 x 841 mm, as CAD sheets
// are laid out) drawn like a floor plan, with a frame and title block, 35 rooms with
// thick walls, hatched floors (some 5,000 thin strokes), dimension lines, circles and
// text labels.
// Usage: make_cad_pdf OUT.pdf
#include <cairo-pdf.h>
#include <cairo.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

constexpr double mm = 72 / 25.4; // points per millimetre

// A small fixed generator, so every run draws the same plan.
uint32_t state = 12345;
double next_unit() {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) / double(1u << 24);
}

// Hatches the rectangle with lines at 45 degrees, spacing apart.
void hatch(cairo_t* c, double x, double y, double w, double h, double spacing) {
    cairo_save(c);
    cairo_rectangle(c, x, y, w, h);
    cairo_clip(c);
    cairo_set_line_width(c, 0.18 * mm);
    for (double d = -h; d < w; d += spacing) {
        cairo_move_to(c, x + d, y + h);
        cairo_line_to(c, x + d + h, y);
    }
    cairo_stroke(c);
    cairo_restore(c);
}

void dimension(cairo_t* c, double x0, double y, double x1) {
    cairo_set_line_width(c, 0.13 * mm);
    cairo_move_to(c, x0, y), cairo_line_to(c, x1, y);
    for (double x : {x0, x1}) {
        cairo_move_to(c, x, y - 2 * mm), cairo_line_to(c, x, y + 2 * mm);
        cairo_move_to(c, x - 1.5 * mm, y + 1.5 * mm), cairo_line_to(c, x + 1.5 * mm, y - 1.5 * mm);
    }
    cairo_stroke(c);
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", (x1 - x0) / mm * 50);
    cairo_move_to(c, (x0 + x1) / 2 - 4 * mm, y - 1.5 * mm);
    cairo_show_text(c, text);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_cad_pdf OUT.pdf\n");
        return 2;
    }
    const double W = 1189 * mm, H = 841 * mm;
    cairo_surface_t* s = cairo_pdf_surface_create(argv[1], W, H);
    cairo_t* c = cairo_create(s);
    cairo_set_source_rgb(c, 0, 0, 0);
    cairo_select_font_face(c, "sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(c, 2.5 * mm);
    // Frame and title block.
    cairo_set_line_width(c, 0.7 * mm);
    cairo_rectangle(c, 20 * mm, 10 * mm, W - 30 * mm, H - 20 * mm);
    cairo_rectangle(c, W - 190 * mm, H - 60 * mm, 180 * mm, 50 * mm);
    cairo_stroke(c);
    cairo_move_to(c, W - 180 * mm, H - 40 * mm);
    cairo_set_font_size(c, 8 * mm);
    cairo_show_text(c, "PLAN DE NIVEAU 2 - ECH. 1:50");
    cairo_set_font_size(c, 2.5 * mm);
    // Rooms on a 5 x 8 grid.
    int label = 0;
    for (int row = 0; row < 5; ++row) {
        for (int col = 0; col < 7; ++col) {
            const double x = 40 * mm + col * 155 * mm, y = 40 * mm + row * 135 * mm;
            const double w = 130 * mm + 15 * mm * next_unit(), h = 110 * mm + 10 * mm * next_unit();
            cairo_set_line_width(c, 0.5 * mm + 0.5 * mm * next_unit());
            cairo_rectangle(c, x, y, w, h);
            cairo_stroke(c);
            cairo_set_source_rgb(c, 0.3, 0.3, 0.3);
            hatch(c, x + 5 * mm, y + 5 * mm, w * 0.9, h * 0.45, (1 + 1.5 * next_unit()) * mm);
            cairo_set_source_rgb(c, 0, 0, 0);
            // Furniture: circles and a door swing.
            cairo_set_line_width(c, 0.25 * mm);
            for (int k = 0; k < 6; ++k) {
                cairo_new_sub_path(c);
                cairo_arc(c, x + w * (0.55 + 0.4 * next_unit()), y + h * (0.5 + 0.45 * next_unit()),
                          (3 + 8 * next_unit()) * mm, 0, 6.2832);
            }
            cairo_move_to(c, x + w, y + h * 0.2);
            cairo_arc(c, x + w, y + h * 0.2, 20 * mm, 1.5708, 3.1416);
            cairo_stroke(c);
            dimension(c, x, y + h + 8 * mm, x + w);
            char text[64];
            std::snprintf(text, sizeof text, "PIECE %02d  %.1f m2", ++label,
                          (w / mm / 20) * (h / mm / 20));
            cairo_move_to(c, x + w * 0.55, y + 12 * mm);
            cairo_show_text(c, text);
        }
    }
    cairo_show_page(c);
    cairo_destroy(c);
    cairo_surface_finish(s);
    const bool ok = cairo_surface_status(s) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    return ok ? 0 : 1;
}
