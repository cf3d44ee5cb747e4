// Pens, grey levels, line types and widths.
//
// Workload: the preamble writes the 255 pen colours once per job (and the raster step
// again after each image); pen, line-type and width messages come a few hundred times
// per drawing at most. Nothing here is on a hot path.
#include "plot/pens.h"

#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "geometry/ktgl.h"
#include "geometry/ktgl_page.h"
#include "geometry/vector.h"
#include "host/device_tables.h"
#include "host/host_services.h"
#include "host/messages.h"
#include "host/settings.h"
#include "output/output.h"

pen_state pens = {1, 7, 0, 0, {}, {}, {}, {}};

namespace {

// The pen colours, 0xRRGGBB, pen 0 first.
const uint32_t palette[pen_count] = {
    0x000000, 0xFF0000, 0xFFFF00, 0x00FF00, 0x00FFFF, 0x0000FF, 0xFF00FF, 0x000000, 0xBFBFBF,
    0x7F7F7F, 0xFF0000, 0xFF7F7F, 0xA50000, 0xA55151, 0x7F0000, 0x7F3F3F, 0x490000, 0x492323,
    0x230000, 0x231111, 0xFF3F00, 0xFF9E7F, 0xA52800, 0xA56651, 0x7F1E00, 0x7F4F3F, 0x491100,
    0x492D23, 0x230700, 0x231611, 0xFF7F00, 0xFFBF7F, 0xA55100, 0xA57A51, 0x7F3F00, 0x7F5E3F,
    0x492300, 0x493823, 0x231100, 0x231C11, 0xFFBF00, 0xFFDD7F, 0xA57A00, 0xA58E51, 0x7F5E00,
    0x7F6D3F, 0x493800, 0x494223, 0x231C00, 0x232111, 0xFFFF00, 0xFFFF7F, 0xA5A500, 0xA5A551,
    0x7F7F00, 0x7F7F3F, 0x494900, 0x474923, 0x232300, 0x232311, 0xBFFF00, 0xDDFF7F, 0x7AA500,
    0x8EA551, 0x5E7F00, 0x6D7F3F, 0x384900, 0x424923, 0x1C2300, 0x212311, 0x7FFF00, 0xBFFF7F,
    0x51A500, 0x7AA551, 0x3F7F00, 0x5E7F3F, 0x234900, 0x384923, 0x112300, 0x1C2311, 0x3FFF00,
    0x9EFF7F, 0x28A500, 0x66A551, 0x1E7F00, 0x4F7F3F, 0x114900, 0x2D4923, 0x072300, 0x162311,
    0x00FF00, 0x7FFF7F, 0x00A500, 0x51A551, 0x007F00, 0x3F7F3F, 0x004900, 0x234923, 0x002300,
    0x112311, 0x00FF3F, 0x7FFF9E, 0x00A528, 0x51A566, 0x007F4F, 0x3F7F4F, 0x004911, 0x23492D,
    0x002307, 0x112316, 0x00FF7F, 0x7FFFBF, 0x00A551, 0x51A57A, 0x007F3F, 0x3F7F5E, 0x004923,
    0x234938, 0x002311, 0x11231C, 0x00FFBF, 0x7FFFDD, 0x00A57A, 0x51A58E, 0x007F5E, 0x3F7F6D,
    0x004938, 0x234942, 0x00231C, 0x112321, 0x00FFFF, 0x7FFFFF, 0x00A5A5, 0x51A5A5, 0x007F99,
    0x3F7F7F, 0x004949, 0x234949, 0x002323, 0x112323, 0x00BFFF, 0x7FDDFF, 0x007AA5, 0x518EA5,
    0x005E7F, 0x3F6D7F, 0x003849, 0x234249, 0x001C23, 0x112123, 0x007FFF, 0x7FBFFF, 0x0051A5,
    0x517AA5, 0x003F7F, 0x3F5E7F, 0x002349, 0x233849, 0x001123, 0x111C23, 0x003FFF, 0x7F9EFF,
    0x0028A5, 0x5166A5, 0x001E7F, 0x3F4F7F, 0x001149, 0x232D49, 0x000723, 0x111623, 0x0000FF,
    0x7F7FFF, 0x0000A5, 0x5151A5, 0x00007F, 0x3F3F7F, 0x000049, 0x232349, 0x000023, 0x111123,
    0x3F00FF, 0x9E7FFF, 0x2800A5, 0x6651A5, 0x1E007F, 0x4F3F7F, 0x110049, 0x2D2349, 0x070023,
    0x161123, 0x7F00FF, 0xBF7FFF, 0x5100A5, 0x7A51A5, 0x3F007F, 0x5E3F7F, 0x230049, 0x382349,
    0x110023, 0x1C1123, 0xBF00FF, 0xDD7FFF, 0x7A00A5, 0x8E51A5, 0x5E007F, 0x6D3F7F, 0x380049,
    0x422349, 0x1C0023, 0x211123, 0xFF00FF, 0xFF7FFF, 0xA500A5, 0xA551A5, 0x7F007F, 0x7F3F7F,
    0x490049, 0x492349, 0x230023, 0x231123, 0xFF00BF, 0xFF7FDD, 0xA5007A, 0xA5518E, 0x7F005E,
    0x7F3F6D, 0x490038, 0x492342, 0x23001C, 0x231121, 0xFF007F, 0xFF7FBF, 0xA50051, 0xA5517A,
    0x7F003F, 0x7F3F5E, 0x490023, 0x492338, 0x230011, 0x23111C, 0xFF003F, 0xFF7F9E, 0xA50028,
    0xA55166, 0x7F001E, 0x7F3F4F, 0x490011, 0x49232D, 0x230007, 0x231116, 0x545454, 0x757575,
    0x969696, 0xBABABA, 0xDBDBDB, 0x000000,
};

// Pattern length written with line types 1..8 (index 0 unused).
const double line_type_length[line_type_max + 1] = {0.0, 1.0, 1.0, 2.0, 2.0, 2.0, 2.0, 2.0, 2.0};

// Largest pen width: 297 mm in HP-GL/2, 511/400 inch in KTGL.
constexpr double width_max_mm = 297.0;
constexpr int width_max_ktgl = 511;

// Message slots of the line-type legend: the solid line, then the pictures of 1..7.
constexpr int legend_solid_slot = 8;
constexpr int legend_picture_slot = 9;
constexpr int legend_lines = 7;

bool ktgl_mode() {
    return (settings.mode_flags & mode_ktgl) != 0;
}

// Keeps a copy of an instruction and writes it.
int write_kept(kept_instruction& kept, const void* bytes, int length) {
    assert(length > 0 && length <= static_cast<int>(sizeof kept.bytes));
    std::memcpy(kept.bytes, bytes, static_cast<size_t>(length));
    kept.length = length;
    return out_write_bytes(length, kept.bytes);
}

// Keeps and writes a one-word KTGL record.
int write_kept_record(kept_instruction& kept, uint8_t opcode, int word) {
    uint8_t record[ktgl_word_record_size];
    return write_kept(kept, record, ktgl_word_record(opcode, word, record));
}

// Keeps and writes an HP-GL/2 text.
int write_kept_text(kept_instruction& kept, const char* text) {
    return write_kept(kept, text, static_cast<int>(std::strlen(text)));
}

} // namespace

void pens_reset() {
    pens.black_pen = 7;
    pens.reselect_pending = 0;
}

void pens_job_start() {
    pens.current_pen = 1;
    pens.pen.length = 0;
    pens.area_pen.length = 0;
    pens.width.length = 0;
    pens.line_type.length = 0;
}

uint32_t pen_rgb(int pen) {
    return pen >= 0 && pen < pen_count ? palette[pen] : 0;
}

int pen_grey(int pen) {
    uint32_t rgb = pen_rgb(pen);
    int r = static_cast<int>(rgb >> 16 & 0xFF);
    int g = static_cast<int>(rgb >> 8 & 0xFF);
    int b = static_cast<int>(rgb & 0xFF);
    if (r == g && g == b) return r;
    int grey = (30 * r + 59 * g + 11 * b) / 100;
    return grey > 255 ? 255 : grey;
}

int red_printing_applies() {
    return model_capability(runtime.current_model, cap_red_pen) != 0 &&
           (settings.mode_flags & mode_red_pen) != 0;
}

int effective_pen(int p) {
    if (red_printing_applies() && p == settings.red_pen) return settings.red_pen;
    return pens.black_pen;
}

int pen_colour_text(int pen, char* out) {
    assert(pen >= 1 && pen < pen_count);
    if (red_printing_applies() && pen == settings.red_pen)
        return std::snprintf(out, 32, "PC%d,255,0,0", pen); // pen prints red
    int g = pen_grey(pen);
    return std::snprintf(out, 32, "PC%d,%d,%d,%d", pen, g, g, g); // pen prints grey g
}

int write_pen_colours() {
    bool red_model = model_capability(runtime.current_model, cap_red_pen) != 0;
    for (int pen = 1; pen < pen_count; ++pen) {
        char text[32];
        pen_colour_text(pen, text);
        if (out_write_string(text) < 0) return -1;
        if (red_model && !(red_printing_applies() && pen == settings.red_pen) && pen_grey(pen) == 0)
            pens.black_pen = static_cast<int16_t>(pen);
    }
    return 0;
}

int define_ktgl_pens() {
    bool red = red_printing_applies();
    int result = 0;
    for (int pen = 0; pen < pen_count; ++pen) {
        bool red_pen = red && pen == settings.red_pen;
        int grey = pen_grey(pen);
        if (write_ktgl_pen_definition(pen, red_pen ? -1 : grey) < 0) result = -1;
        if (!red_pen && grey == 0) pens.black_pen = static_cast<int16_t>(pen);
    }
    return result;
}

int select_pen(int p) {
    if (close_vector_run() < 0) return -1;
    pens.current_pen = static_cast<int16_t>(effective_pen(p));
    if (ktgl_mode()) {
        if (write_kept_record(pens.pen, ktgl_line_pen, pens.current_pen) < 0) return -1;
        return write_kept_record(pens.area_pen, ktgl_area_pen, p);
    }
    char text[16];
    std::snprintf(text, sizeof text, "SP%d", pens.current_pen); // select pen
    return write_kept_text(pens.pen, text);
}

int reselect_pen_if_pending() {
    if (!pens.reselect_pending) return 0;
    pens.reselect_pending = 0;
    if (ktgl_mode()) return write_ktgl_word_record(ktgl_line_pen, pens.current_pen);
    // The ";" ends whatever instruction came before (a fill, or a PE run that a draw
    // opened since), so the vector state must read idle afterwards: a move then opens
    // a new run instead of writing "<" outside one.
    if (vec.state != vec_idle) {
        if (close_vector_run() < 0) return -1; // ends the run with ";"
        char text[16];
        std::snprintf(text, sizeof text, "SP%d", pens.current_pen); // line pen again
        return out_write_string(text);
    }
    char text[16];
    std::snprintf(text, sizeof text, ";SP%d", pens.current_pen); // line pen again
    return out_write_string(text);
}

int set_line_type(int t) {
    if (close_vector_run() < 0) return -1;
    bool patterned = t > 0 && t <= pens.line_type_count && t <= line_type_max;
    if (ktgl_mode()) return write_kept_record(pens.line_type, ktgl_line_type, patterned ? t : 0);
    char text[16];
    if (patterned)
        std::snprintf(text, sizeof text, "LT-%d,%.1f", t, line_type_length[t]); // dashed
    else
        std::strcpy(text, "LT"); // solid line
    return write_kept_text(pens.line_type, text);
}

int set_pen_width(double w) {
    if (close_vector_run() < 0) return -1;
    bool valid = std::isfinite(w) && w >= 0;
    if (ktgl_mode()) {
        double dots = w * 400;
        int n = !valid || dots > width_max_ktgl ? width_max_ktgl
                : dots < 1                      ? 1
                                                : static_cast<int>(dots);
        return write_kept_record(pens.width, ktgl_line_width, n); // width in 1/400 inch
    }
    double mm = w * 25.4;
    if (!valid || mm > width_max_mm) mm = width_max_mm;
    char text[16];
    std::snprintf(text, sizeof text, "PW%1.3f", mm); // pen width in millimetres
    return write_kept_text(pens.width, text);
}

void list_line_types() {
    host_print("\n%s", message_text(legend_solid_slot));
    for (int k = 1; k <= legend_lines; ++k)
        host_print("\n                %d%s", k, message_text(legend_picture_slot + k - 1));
    host_print("\n");
}
