// Raster images from the host: message 52 and the raster step.
//
// Workload: a drawing carries a few images at most, but one image can be a whole
// sheet at 600 dpi, some 20,000 lines of 20,000 pixels each. Every line costs one
// call of the host's get_raster_rows and one of release_raster_rows; the work per
// line here is filling the 144-byte request, so the time goes to the host and to the
// row conversion. Everything else (placement, restoring the vector state) runs once
// per image.
//
// The raster step writes straight to the host's write service, after emptying the
// output buffer, so that the image's bytes follow everything drawn before it; only the
// KTGL page blocks written after the image go through the output buffer again.
#include "raster/raster_image.h"

#include <cassert>
#include <climits>
#include <cstdio>
#include <cstring>

#include "geometry/ktgl_page.h"
#include "geometry/vector.h"
#include "host/host_services.h"
#include "host/settings.h"
#include "host/wire.h"
#include "output/output.h"
#include "platform/host_address.h"
#include "platform/platform.h"
#include "plot/job.h"
#include "plot/pens.h"
#include "plot/plot_handler.h"
#include "raster/dither.h"
#include "raster/raster_stream.h"

namespace {

// The image announced by message 52 and the working values of its raster step.
struct raster_image_state {
    uint8_t header[raster_header_size];   // the first 124 bytes of the message 52 record
    int32_t x1, y1, x2, y2;               // corners on the sheet, plotter units
    int32_t image_width;                  // Wpx: pixels per image row as the host declared
    int32_t image_height;                 // Hpx: image rows as the host declared
    int32_t transparent;                  // 1: pixels of the key colour are not painted
    int32_t colour_index;                 // one-bit image: 0..7 of the basic colour table
    uint8_t foreground[3];                // one-bit image: red, green, blue of colour_index
    int32_t mono;                         // 1: one byte per pixel; 0: three bytes (colour)
    int32_t dots_w, dots_h;               // W, H: image size in device dots at the resolution
    int32_t row_length;                   // L: pixels per fetched line (W, or H when rotated)
    int32_t row_count;                    // N: lines fetched (H, or W when rotated)
    double sheet_step;                    // plotter units of sheet per fetched line, > 0
    device_point saved_point;             // current device point before the image
    uint8_t request[raster_request_size]; // row request; keeps its bytes between requests
};

raster_image_state image;

// Colour the host paints where a transparent image is see-through: red 0, green 1,
// blue 2. The request names the same bytes at +52.
constexpr uint8_t key_red = 0, key_green = 1, key_blue = 2;

// KTGL transparency records; the opaque one is also the job-begin record.
const uint8_t ktgl_opaque[6] = {0x9B, 0x5E, 0x00, 0x02, 0x00, 0x02};
const uint8_t ktgl_transparent[6] = {0x9B, 0x5E, 0x00, 0x02, 0x00, 0x01};

// Largest image side, in dots, that the step accepts; the raster stream refuses larger
// bitmaps anyway.
constexpr double dots_max = 2147483647.0;

bool ktgl_mode() {
    return (settings.mode_flags & mode_ktgl) != 0;
}

bool paper_rotated() {
    return (settings.mode_flags & mode_rotated) != 0;
}

// A device position, limited to what 32 bits hold (corners far off the sheet).
int32_t to_position(double v) {
    return v >= dots_max ? INT32_MAX : v <= -dots_max ? -INT32_MAX : static_cast<int32_t>(v);
}

// Writes a NUL-terminated text straight to the host.
void write_text(const char* text) {
    host_write(text, static_cast<int>(std::strlen(text)));
}

// Dots at resolution dpi of a sheet length of units plotter units (0.0025 cm each)
// showing pixels image pixels: the length over the image's natural size at that
// resolution, times its pixels. -1 when there are no pixels or the result is not a
// usable size.
int32_t target_dots(int64_t units, int32_t pixels, int32_t dpi) {
    if (pixels <= 0 || dpi <= 0) return -1;
    const double length_cm = static_cast<double>(units) * 0.0025;
    const double natural_cm = static_cast<double>(pixels) / dpi * 2.54;
    const double dots = length_cm / natural_cm * pixels;
    if (!(dots >= 0 && dots <= dots_max)) return -1; // also NaN
    return static_cast<int32_t>(dots);
}

// KTGL: the sheet length taken as dots, halved at 400 dpi and quartered at 200 dpi.
int32_t ktgl_dots(int64_t units) {
    switch (settings.mode_flags & mode_res_mask) {
    case mode_res_400:
        units /= 2;
        break;
    case mode_res_200:
        units /= 4;
        break;
    default:
        break;
    }
    return units < 0 || units > static_cast<int64_t>(dots_max) ? -1 : static_cast<int32_t>(units);
}

// Works out W and H, and the fetch loop's L, N and sheet step. Returns 0, or -1 when
// the image has no pixels or no area in dots.
int size_image(bool ktgl, bool rotated) {
    const int64_t dx = static_cast<int64_t>(image.x2) - image.x1;
    const int64_t dy = static_cast<int64_t>(image.y2) - image.y1;
    if (image.image_width <= 0 || image.image_height <= 0) return -1;
    // The stream keeps the resolution chosen here for the image's framing.
    const int32_t dpi = select_resolution(settings.mode_flags, ktgl);
    image.dots_w = ktgl ? ktgl_dots(dx) : target_dots(dx, image.image_width, dpi);
    image.dots_h = ktgl ? ktgl_dots(dy) : target_dots(dy, image.image_height, dpi);
    if (image.dots_w <= 0 || image.dots_h <= 0) return -1;
    if (rotated) {
        image.sheet_step = static_cast<double>(dx) / image.dots_w;
        image.row_count = image.dots_w;
        image.row_length = image.dots_h;
    } else {
        image.sheet_step = static_cast<double>(dy) / image.dots_h;
        image.row_count = image.dots_h;
        image.row_length = image.dots_w;
    }
    assert(image.sheet_step > 0 && image.row_length > 0 && image.row_count > 0);
    return 0;
}

// Fills the row request for line r.
void fill_request(int32_t r, bool rotated) {
    assert(r >= 0 && r < image.row_count);
    uint8_t* q = image.request;
    const int32_t last = image.row_length - 1;
    const int32_t start =
        static_cast<int32_t>((rotated ? image.x1 : image.y1) + r * image.sheet_step);
    const int32_t end =
        static_cast<int32_t>((rotated ? image.x1 : image.y1) + (r + 1) * image.sheet_step);
    le_put_i32(q, raster_request_first_x, rotated ? r : 0);
    le_put_i32(q, raster_request_first_y, rotated ? 0 : r);
    le_put_i32(q, raster_request_last_x, rotated ? r : last);
    le_put_i32(q, raster_request_last_y, rotated ? last : r);
    le_put_i32(q, raster_request_start_x, rotated ? start : image.x1);
    le_put_i32(q, raster_request_start_y, rotated ? image.y1 : start);
    le_put_i32(q, raster_request_end_x, rotated ? end : image.x2);
    le_put_i32(q, raster_request_end_y, rotated ? image.y2 : end);
    le_put_i32(q, raster_request_host_value, le_i32(image.header, raster_header_host_value));
    le_put_i32(q, 36, image.mono ? 1 : 8);
    le_put_i32(q, 40, rotated ? 7 : 2);
    le_put_i16(q, 46, image.mono ? 1 : 24);
    if (image.mono) {
        le_put_i16(q, 48, 0);
        le_put_i16(q, 56, image.colour_index);
    } else {
        q[48] = q[49] = q[50] = 0xFF;
        q[52] = key_red;
        q[53] = key_green;
        q[54] = key_blue;
    }
    le_put_i32(q, 64, 0);
    le_put_i16(q, 68, 0);
    le_put_i16(q, 70, 1);
    std::memcpy(q + raster_request_host_data, image.header + raster_header_host_data, 72);
}

// The failure box of a line the host could not deliver.
void report_failed_line(int32_t r, int32_t count) {
    char text[80];
    std::snprintf(text, sizeof text, "image faile=%d %d %d", r, image.row_length, count);
    platform_message_box(host_link.host_window, text, "ADI4.3", platform_mb_iconwarning);
}

// Pulls lines first .. N-1 from the host into the raster stream. Returns 0 when the
// image ended normally (all lines, or the host's end flag), -1 when the host reported
// an error or gave no result, or when the stream dropped the image: its rows would
// only be thrown away, and a sheet-sized image asks for tens of thousands.
int fetch_lines(get_rows_fn* get_rows, release_rows_fn* release_rows, int32_t first, bool rotated) {
    for (int32_t r = first; r < image.row_count; ++r) {
        if (raster_image_dropped()) return -1;
        fill_request(r, rotated);
        const uint8_t* result = get_rows(image.request);
        if (!result) {
            report_failed_line(r, 0);
            return -1;
        }
        if (le_i16(result, 12)) { // end flag: the image ends here
            release_rows(result);
            return 0;
        }
        int32_t count = le_i32(result, 4);
        if (le_i16(result, 14)) { // error flag
            report_failed_line(r, count);
            release_rows(result);
            return -1;
        }
        // Never more pixels than the line holds, never a negative count; pixel bytes
        // the driver cannot reach give a white line that keeps its place.
        const uint8_t* pixels = static_cast<const uint8_t*>(host_addr_ptr(le_u32(result, 0)));
        int32_t n = count < 0 || !pixels ? 0 : image.mono ? count : count / 3;
        if (n > image.row_length) n = image.row_length;
        if (image.mono)
            raster_add_row(n, pixels, raster_mode_mono, image.foreground[0], image.foreground[1],
                           image.foreground[2]);
        else
            raster_add_row(n, pixels, raster_mode_colour, 0, 0, 0);
        release_rows(result);
    }
    return 0;
}

// RTL/GL2 after the image: opaque again, the pen back at the current point in relative
// mode, the pen colours, the input window and the last pen, width and line type.
void restore_rtl() {
    char text[96];
    write_text("TR0;");                                              // opaque: white paints again
    std::snprintf(text, sizeof text, "PA%d,%d", image.x2, image.y1); // absolute mode
    write_text(text);
    std::snprintf(text, sizeof text, "PU%d,%d", image.saved_point.x,
                  image.saved_point.y); // pen up to where drawing stopped
    write_text(text);
    write_text("PR"); // relative coordinates, as the PE runs expect
    for (int pen = 1; pen < pen_count; ++pen) {
        char colour[32];
        host_write(colour, pen_colour_text(pen, colour)); // the pen's grey (or red) again
    }
    host_write(job.input_window, job.input_window_length);   // clip to the plot area
    host_write(pens.pen.bytes, pens.pen.length);             // last pen selection
    host_write(pens.width.bytes, pens.width.length);         // last pen width
    host_write(pens.line_type.bytes, pens.line_type.length); // last line type
}

// KTGL after the image: opaque again, then a new page opening and drawing set-up and
// the last pen, area pen, width and line-type records, through the output buffer.
void restore_ktgl() {
    host_write(ktgl_opaque, sizeof ktgl_opaque); // opaque: white paints again
    if (write_ktgl_page_opening() < 0) return;
    if (write_ktgl_drawing_setup() < 0) return;
    const kept_instruction* kept[] = {&pens.pen, &pens.area_pen, &pens.width, &pens.line_type};
    for (const kept_instruction* k : kept)
        if (k->length > 0 && out_write_bytes(k->length, k->bytes) < 0) return;
}

} // namespace

void store_raster_header(const uint8_t* rec) {
    const int32_t kind = le_i32(rec, raster_header_kind);
    const int16_t bits = le_i16(rec, raster_header_bits);
    image.x1 = le_i32(rec, raster_header_x1);
    image.y1 = le_i32(rec, raster_header_y1);
    image.x2 = le_i32(rec, raster_header_x2);
    image.y2 = le_i32(rec, raster_header_y2);
    image.image_width = le_i32(rec, raster_header_width);
    image.image_height = le_i32(rec, raster_header_height);
    image.transparent = le_i16(rec, raster_header_transparent) != 0 ? 1 : 0;
    if (kind == 1 && bits == 2) image.transparent = 0;
    // Indices 8 and up, and the meaningless negative ones, paint black.
    int32_t index = le_i16(rec, raster_header_colour);
    if (index >= 8 || index < 0) index = 7;
    image.colour_index = index;
    raster_basic_colour(index, image.foreground);
    image.mono = kind == 0 || (kind == 1 && bits <= 2) ? 1 : 0;
    std::memcpy(image.header, rec, raster_header_size);
    le_put_i16(const_cast<uint8_t*>(rec), raster_header_ack, 1);
    plot.raster_marker = raster_pending;
}

int raster_step() {
    if (plot.raster_marker != raster_pending) return 0;
    plot.raster_marker = 0;

    // Nothing goes to the printer after a cancel or a failed transfer, or outside a job.
    if (host_link.abort_flag || !output.out_buffer) return 0;
    auto* get_rows = host_addr_fn<get_rows_fn>(le_u32(image.header, raster_header_get_rows));
    auto* release_rows = host_addr_fn<release_rows_fn>(le_u32(image.header, raster_header_release));
    if (!get_rows || !release_rows) return 0;
    const bool ktgl = ktgl_mode();
    const bool rotated = paper_rotated();
    if (size_image(ktgl, rotated) < 0) return 0;

    if (ktgl) write_ktgl_page_closing();
    // A PE run opened by moves alone would swallow the transparency instruction: end it.
    // After drawing, the ";" that opens the instruction ends it.
    if (!ktgl && vec.state != vec_idle && !output.job_drawn) close_vector_run();
    image.saved_point = vector_current_point();
    if (output.out_fill > 0) out_flush();
    if (host_link.abort_flag) return 0; // the flush failed: the job is over

    // Leave vector mode; set whether white pixels paint.
    if (ktgl)
        host_write(image.transparent ? ktgl_transparent : ktgl_opaque, 6);
    else if (image.transparent)
        write_text(output.job_drawn ? ";TR1;" : "TR1;"); // white does not paint
    else
        write_text(output.job_drawn ? ";TR0;" : "TR0;"); // white paints
    // The job now holds printer bytes of its own that need the trailer.
    output.job_drawn = 1;

    // Place the image: the pen at its first corner and the input window around it (in
    // KTGL the stream places it).
    int32_t ox = 0, oy = 0;
    const int32_t corner_x = rotated ? image.x1 : image.x2;
    if (ktgl) {
        ox = to_position(corner_x * runtime.scale_factor);
        oy = to_position(image.y1 * runtime.scale_factor);
    } else {
        const long long s = static_cast<long long>(runtime.scale_factor);
        char text[128];
        std::snprintf(text, sizeof text, "PU%lld,%lld", corner_x * s, image.y1 * s);
        write_text(text); // pen up to the image corner
        std::snprintf(text, sizeof text, "PA%lld,%lld", corner_x * s, image.y1 * s);
        write_text(text); // absolute, at the image corner
        if (rotated)
            std::snprintf(text, sizeof text, "IW%lld,%lld,%lld,%lld", image.x1 * s, image.y1 * s,
                          image.x2 * s, image.y2 * s);
        else
            std::snprintf(text, sizeof text, "IW%lld,%lld,%lld,%lld", image.y1 * s, image.x1 * s,
                          image.y2 * s, image.x2 * s);
        write_text(text); // clip to the image
    }
    if (output.out_fill > 0) out_flush();
    raster_begin(rotated ? image.dots_h : image.dots_w, rotated ? image.dots_w : image.dots_h,
                 runtime.coordinate_divisor, ktgl ? 1 : 0, rotated ? 1 : 0, ox, oy,
                 image.transparent, key_red, key_green, key_blue);

    // At 600 dpi in RTL/GL2 the first line is never asked for.
    const int32_t first = !ktgl && (settings.mode_flags & mode_res_mask) == mode_res_600 ? 1 : 0;
    if (fetch_lines(get_rows, release_rows, first, rotated) == 0) raster_finish();
    raster_end();

    if (ktgl)
        restore_ktgl();
    else
        restore_rtl();
    vector_set_current_point(image.saved_point);
    vec.state = vec_idle;
    return 0;
}
