// The plot message handler: keeps the record, lets a pending raster image go first,
// then dispatches on the message code.
//
// Moves and draws arrive by the million per drawing, one message each; their path is
// a switch, one test for a pending pen reselection and the encoder's own work.
#include "plot/plot_handler.h"

#include "geometry/vector.h"
#include "host/config_handler.h"
#include "host/host_services.h"
#include "host/messages.h"
#include "host/settings.h"
#include "host/wire.h"
#include "output/output.h"
#include "plot/job.h"
#include "plot/pens.h"
#include "plot/plot_setup.h"
#include "plot/polygons.h"
#include "raster/raster_image.h"

plot_state plot = {-1, 0};

namespace {

// Error path: a failed step stores -1 in the status field.
void fail_if(uint8_t* rec, int result) {
    if (result < 0) le_put_i16(rec, 0, -1);
}

void move_to(uint8_t* rec) {
    int result = reselect_pen_if_pending();
    if (result == 0) result = vector_move_to(le_u16(rec, 4), le_u16(rec, 6));
    fail_if(rec, result);
}

// Messages 33 and 54: a fill of more than one vertex; after it the line pen must be
// selected again before the next move.
void fill_polygon(uint8_t* rec, int count_offset, int (*draw)()) {
    if (host_link.abort_flag) {
        le_put_i16(rec, 0, 0);
        return;
    }
    if (le_i16(rec, count_offset) <= 1) return;
    int result = draw();
    le_put_i16(rec, 0, result < 0 ? -1 : 0);
    if (result == 0) pens.reselect_pending = 1;
}

void cancel_plot() {
    if (!host_link.abort_flag) host_link.abort_flag = abort_fatal;
    runtime.job_copies = 1;
    output.job_drawn = 0;
}

} // namespace

int KVRAC_CDECL plot_handler(uint8_t* rec) {
    if (!rec) return -1;
    host_link.message = rec;
    // A raster image announced by message 52 runs here, before this message's own work.
    if (plot.raster_marker == raster_pending) raster_step();

    int result = 0;
    switch (le_i16(rec, 0)) {
    case 2:
        write_trailer();
        break;
    case 3:
        move_to(rec);
        break;
    case 4:
        fail_if(rec, vector_draw_to(le_u16(rec, 4), le_u16(rec, 6)));
        break;
    case 5:
        fail_if(rec, select_pen(le_u16(rec, 4)));
        break;
    case 7:
        fail_if(rec, set_line_type(le_u16(rec, 4)));
        break;
    case 8:
        fail_if(rec, vector_lift_pen());
        break;
    case 9:
        cancel_plot();
        break;
    case 15:
        list_line_types();
        break;
    case 29:
        begin_plot(rec);
        break;
    case 30:
        write_preamble(rec);
        break;
    case 31:
        report_settings();
        break;
    case 33:
        fill_polygon(rec, 10, draw_polygon_inline);
        break;
    case 36:
        pens.line_type_count = le_i16(rec, 4);
        break;
    case 41:
        le_put_i16(rec, 0, 0);
        fail_if(rec, set_pen_width(le_f64(rec, 4)));
        break;
    case 43:
        select_model(rec);
        break;
    case 46:
        configure_plot(rec);
        break;
    case 47:
        set_plot_area(rec);
        break;
    case 48:
        negotiate_plot_area(rec);
        break;
    case 49:
        plot.host_token = -1;
        result = plot_identify(rec);
        break;
    case 50:
        load_message_texts();
        break;
    case 52:
        store_raster_header(rec);
        break;
    case 54:
        fill_polygon(rec, 6, draw_polygon_by_reference);
        break;
    default:
        break; // codes outside the table: the record is left untouched
    }
    host_link.message = nullptr;
    return result;
}
