// PDF files for tests, drawn with cairo's PDF surface, and poppler-utils' pdftoppm as
// the independent render they are checked against.
#pragma once

#include <cairo-pdf.h>
#include <cairo.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

// One page: its size in points and what is drawn on it (cairo's y grows downwards).
struct pdf_page {
    double w_pt, h_pt;
    std::function<void(cairo_t*)> draw;
};

// Writes the pages into path. Returns true when cairo wrote the file.
inline bool write_pdf(const std::string& path, const std::vector<pdf_page>& pages) {
    cairo_surface_t* s = cairo_pdf_surface_create(path.c_str(), pages[0].w_pt, pages[0].h_pt);
    cairo_t* c = cairo_create(s);
    for (const pdf_page& p : pages) {
        cairo_pdf_surface_set_size(s, p.w_pt, p.h_pt);
        cairo_save(c);
        if (p.draw) p.draw(c);
        cairo_restore(c);
        cairo_show_page(c);
    }
    cairo_destroy(c);
    cairo_surface_finish(s);
    const bool ok = cairo_surface_status(s) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    return ok;
}

// A page with something at every scale: filled shapes in three colours, thin and thick
// strokes at an angle (crossing any band boundary), and text. The strokes stop short of
// the page's edges: where a stroke ends on the edge itself, poppler may rasterise its
// end a pixel apart in a band and in a whole page, and these pages serve comparisons
// with a whole-page render.
inline void draw_test_page(cairo_t* c, double w, double h) {
    cairo_set_source_rgb(c, 1, 0, 0);
    cairo_rectangle(c, w * 0.1, h * 0.1, w * 0.3, h * 0.2);
    cairo_fill(c);
    cairo_set_source_rgb(c, 0, 0.5, 1);
    cairo_arc(c, w * 0.6, h * 0.6, w * 0.2, 0, 6.2832);
    cairo_fill(c);
    cairo_set_source_rgb(c, 0, 0, 0);
    for (int i = 0; i < 12; ++i) {
        cairo_set_line_width(c, 0.3 + i * 0.4);
        cairo_move_to(c, w * 0.02, h * (0.5 + i) / 13.0);
        cairo_line_to(c, w * 0.98, h * (12.5 - i) / 13.0);
        cairo_stroke(c);
    }
    cairo_select_font_face(c, "sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(c, 14);
    cairo_move_to(c, w * 0.1, h * 0.9);
    cairo_show_text(c, "Plan 12 - Niveau 2");
}

// An RGB picture: width x height pixels, 3 bytes each, top row first.
struct rgb_picture {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
};

// Renders page `page` of pdf with pdftoppm at dpi, without anti-aliasing (as the PDF
// source renders), into *out. Returns true on success.
inline bool pdftoppm_page(const std::string& pdf, int page, double dpi, const std::string& scratch,
                          rgb_picture* out) {
    const std::string cmd = "pdftoppm -q -aa no -aaVector no -r " + std::to_string(dpi) + " -f " +
                            std::to_string(page) + " -l " + std::to_string(page) +
                            " -singlefile '" + pdf + "' '" + scratch + "'";
    if (std::system(cmd.c_str()) != 0) return false;
    std::ifstream in(scratch + ".ppm", std::ios::binary);
    std::string magic;
    int maxval = 0;
    in >> magic >> out->width >> out->height >> maxval;
    in.get();
    if (magic != "P6" || maxval != 255 || !in) return false;
    out->pixels.resize(static_cast<size_t>(out->width) * out->height * 3);
    in.read(reinterpret_cast<char*>(out->pixels.data()),
            static_cast<std::streamsize>(out->pixels.size()));
    std::remove((scratch + ".ppm").c_str());
    return static_cast<bool>(in);
}
