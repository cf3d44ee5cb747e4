// Job preamble and trailer. Written once per job; the page geometry follows from the
// plot area settled by the set-up messages.
#include "plot/job.h"

#include <cstdio>
#include <cstring>

#include "geometry/halftone.h"
#include "geometry/ktgl_page.h"
#include "geometry/vector.h"
#include "host/device_tables.h"
#include "host/host_services.h"
#include "host/messages.h"
#include "host/settings.h"
#include "host/wire.h"
#include "output/output.h"
#include "plot/pens.h"
#include "plot/plot_handler.h"
#include "plot/plot_setup.h"

job_state job;

namespace {

// KTGL control records.
const uint8_t ktgl_job_begin[6] = {0x9B, 0x5E, 0x00, 0x02, 0x00, 0x02};
const uint8_t ktgl_job_end[6] = {0x9B, 0x5E, 0x00, 0x02, 0x00, 0x00};
const uint8_t ktgl_copies_header[4] = {0x9B, 0x4E, 0x00, 0x02};
const uint8_t ktgl_manual_feed[6] = {0x9B, 0x62, 0x00, 0x02, 0x00, 0x00};
const uint8_t ktgl_line_width_0[4] = {0x40, 0x01, 0x00, 0x00};
const uint8_t ktgl_label_header = 0x14;

bool ktgl_mode() {
    return settings.mode_flags & mode_ktgl;
}

// Plotter steps of a plot-area length, from the host's inches and steps per inch,
// which can be any double: limited to +-2^29 (far beyond any sheet), so that the page
// size, which adds two margins, still fits a 32-bit long. NaN gives 0.
int32_t steps_of(double v) {
    constexpr double limit = 536870912.0;
    if (!(v > -limit)) return v != v ? 0 : static_cast<int32_t>(-limit);
    return v < limit ? static_cast<int32_t>(v) : static_cast<int32_t>(limit);
}

// Formats and writes one instruction through the buffer. Returns 0 or -1.
int write_text(const char* format, long a, long b) {
    char text[96];
    std::snprintf(text, sizeof text, format, a, b);
    return out_write_string(text);
}

// Serial port set-up, sent to the device outside the job bytes.
void send_device_escapes() {
    if ((plot_setup.host_options & 0x40) || !(settings.plot_flags & plot_serial)) return;
    switch (settings.plot_flags & plot_handshake_mask) {
    case 0:                               // Xon/Xoff
        host_send_text("\x1B.R");         // reset the serial handshake
        host_send_text("\x1B.I81;0;17:"); // Xon/Xoff: threshold 81, Xon character 17
        host_send_text("\x1B.N10;19:");   // delay 10, Xoff character 19
        host_send_text("\x1B.@;0:");      // no hardware handshake
        break;
    case plot_handshake_hardware:
        host_send_text("\x1B.R");    // reset the serial handshake
        host_send_text("\x1B.@;1:"); // hardware handshake
        break;
    default:
        break; // the port is set up elsewhere
    }
}

int write_rtl_opening() {
    const int model = runtime.current_model;
    send_device_escapes();
    if (out_write_string("\x1B%-12345X@PJL\r\n") < 0) return -1; // universal exit, PJL
    if (model_capability(model, cap_finisher) == 1) {
        const char* program = finish_program_pjl(model, settings.finish_program);
        if (out_write_string(program) < 0) return -1; // folding programme
        if (std::strcmp(program, "@PJL DEFAULT FINISHPROGID=BYPASS\r\n") != 0) {
            if (out_write_string(finish_margins_pjl(model, settings.finish_margins)) < 0)
                return -1; // finisher margins
            if (out_write_string(finish_bin_pjl(model, settings.finish_bin)) < 0)
                return -1; // output bin
        }
    }
    if (out_write_string("@PJL ENTER LANGUAGE=HPGL2\r\n") < 0) return -1;
    if (out_write_string("\x1B%0B;") < 0) return -1; // HP-GL/2 mode, pen at last position
    char text[160];
    if (runtime.label_text[0]) // begin plot with the label and the copies, then init
        std::snprintf(text, sizeof text, "BP1,\"%s\",2,%d;IN;", runtime.label_text,
                      static_cast<int>(settings.copies));
    else // begin plot with the copies, then init
        std::snprintf(text, sizeof text, "BP2,%d;IN;", static_cast<int>(settings.copies));
    if (out_write_string(text) < 0) return -1;
    if (model_capability(model, cap_media_types) == 1) {
        const char* media = media_type_command(model, settings.media_type, 0);
        if (media[0] && out_write_string(media) < 0) return -1; // media type
    }
    return 0;
}

int write_ktgl_opening() {
    const int model = runtime.current_model;
    if (out_write_bytes(sizeof ktgl_job_begin, ktgl_job_begin) < 0) return -1;
    if (model_capability(model, cap_media_types) == 1) {
        // The media-type record of the language's half; its 4th byte counts the rest.
        const uint8_t* media =
            reinterpret_cast<const uint8_t*>(media_type_command(model, settings.media_type, 1));
        if (media[0] && out_write_bytes(media[3] + 4, media) < 0) return -1;
    }
    if (out_write_bytes(sizeof ktgl_copies_header, ktgl_copies_header) < 0) return -1;
    char copies[8];
    std::snprintf(copies, sizeof copies, "%02X", static_cast<unsigned>(settings.copies) & 0xFF);
    if (out_write_string(copies) < 0) return -1;
    if (model_capability(model, cap_manual_feed) == 1 && (settings.mode_flags & mode_manual_feed))
        if (out_write_bytes(sizeof ktgl_manual_feed, ktgl_manual_feed) < 0) return -1;
    if (write_ktgl_page_opening() < 0) return -1;
    const int n = static_cast<int>(std::strlen(runtime.label_text));
    if (n > 0) {
        // Label: header, word count, length, text padded to whole 16-bit words.
        uint8_t rec[8 + sizeof runtime.label_text];
        int used = 0;
        rec[used++] = ktgl_label_header;
        used += put_be8(n % 2 == 0 ? n / 2 + 1 : n / 2 + 2, rec + used);
        used += put_be16(n, rec + used);
        std::memcpy(rec + used, runtime.label_text, n);
        used += n;
        if (n % 2) rec[used++] = 0;
        if (out_write_bytes(used, rec) < 0) return -1;
    }
    return 0;
}

int write_rtl_geometry() {
    const long w = job.plot_w, h = job.plot_h, m = job.margin_steps;
    if (runtime.paper_unrotated) { // page size with the margins
        if (write_text("PS%ld,%ld", h + 2 * m, w + 2 * m) < 0) return -1;
    } else {
        if (write_text("PS%ld,%ld", w + 2 * m, h + 2 * m) < 0) return -1;
    }
    char text[96];
    std::snprintf(text, sizeof text, "IP%ld,%ld,%ld,%ld", m, m, w + m, h + m); // scaling points
    if (out_write_string(text) < 0) return -1;
    if (write_text("SC0,%ld,0,%ld", w, h) < 0) return -1; // user units = plotter steps
    job.input_window_length = std::snprintf(job.input_window, sizeof job.input_window,
                                            "IW0,0,%ld,%ld;", w, h); // clip to the plot area
    if (out_write_string(job.input_window) < 0) return -1;
    if (model_capability(runtime.current_model, cap_manual_feed) == 1) {
        // Manual feed on or off.
        if (out_write_string((settings.mode_flags & mode_manual_feed) ? "XF4,1;" : "XF4,0;") < 0)
            return -1;
    }
    // Line ends and joins, pen 7, solid fill pattern; 256 pens; colour range 0..255.
    if (out_write_string("LA1,4,2,4SP7RF") < 0) return -1;
    if (out_write_string("NP256") < 0) return -1;
    if (out_write_string("CR0,255,0,255,0,255") < 0) return -1;
    if (write_pen_colours() < 0) return -1;
    if (out_write_string("PUPA0,0PR;") < 0) return -1; // pen up at the origin, relative
    if (out_write_string("TR0;") < 0) return -1;       // opaque: white paints
    return 0;
}

int write_ktgl_geometry() {
    if (download_halftone_patterns() < 0) return -1;
    if (define_ktgl_pens() < 0) return -1;
    if (write_ktgl_drawing_setup() < 0) {
        host_link.abort_flag = abort_fatal;
        return -1;
    }
    if (out_write_bytes(sizeof ktgl_line_width_0, ktgl_line_width_0) < 0) return -1;
    // Zero-length marks at two opposite corners of the plot area.
    if (put_mark(0, 0) < 0) return -1;
    if (runtime.paper_unrotated ? put_mark(job.plot_h, job.plot_w) < 0
                                : put_mark(job.plot_w, job.plot_h) < 0)
        return -1;
    uint8_t width[4] = {0x40, 0x01, 0, 0}; // line width 1
    put_be16(1, width + 2);
    return out_write_bytes(sizeof width, width);
}

} // namespace

void write_preamble(uint8_t* rec) {
    plot.raster_marker = 0;
    if (host_link.abort_flag) {
        le_put_i16(rec, 0, -1);
        return;
    }
    le_put_i16(rec, 0, 0);
    output.job_drawn = 0;
    vector_job_start();
    pens_job_start();
    if (out_open() < 0) {
        host_print("\n%s", message_text(2));
        host_link.abort_flag = abort_fatal;
        le_put_i16(rec, 0, -1);
        return;
    }
    plot.host_token = host_service_192(30, 1);

    const double scale = runtime.scale_factor;
    job.plot_w = steps_of(plot_setup.steps_x * runtime.printable_length * scale);
    job.plot_h = steps_of(plot_setup.steps_y * runtime.printable_width * scale);
    job.margin_steps = steps_of(steps_of(runtime.margins[0] * plot_setup.steps_x) * scale);

    int result = ktgl_mode() ? write_ktgl_opening() : write_rtl_opening();
    if (result == 0) result = ktgl_mode() ? write_ktgl_geometry() : write_rtl_geometry();
    if (result < 0) le_put_i16(rec, 0, -1);
    plot.raster_marker = 0;
}

void write_trailer() {
    vec.previous_state = vec.state;
    vec.state = vec_idle;
    if (!host_link.abort_flag && output.job_drawn == 1) {
        output.job_drawn = 0;
        if (ktgl_mode()) {
            write_ktgl_page_closing();
            out_write_bytes(sizeof ktgl_job_end, ktgl_job_end);
        } else {
            out_write_string(";PUSP0;PG;");       // pen up, no pen, eject the page
            out_write_string("\x1B%-12345X\r\n"); // universal exit back to PJL
        }
        runtime.job_copies = 1;
        if (output.out_fill > 0 && !host_link.abort_flag) out_flush();
    }
    out_close();
    if (plot.host_token >= 0) host_service_192(plot.host_token, 1);
}
