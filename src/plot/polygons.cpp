// Filled polygons from the host.
//
// Workload: a drawing fills a few hundred to a few thousand polygons, each of a few
// to a few hundred vertices; the work is the encoder's, per vertex.
#include "plot/polygons.h"

#include "geometry/vector.h"
#include "host/host_services.h"
#include "host/settings.h"
#include "host/wire.h"
#include "platform/host_address.h"
#include "plot/pens.h"
#include "plot/plot_handler.h"

static_assert(polygon_inline_vertices_offset + 4 * polygon_inline_max_vertices <=
                      plot_record_size &&
                  polygon_inline_vertices_offset + 4 * (polygon_inline_max_vertices + 1) >
                      plot_record_size,
              "message 33 holds exactly polygon_inline_max_vertices vertices");

int draw_polygon(int pen, int n, const uint8_t* vertices) {
    if (n <= 1) return 0;
    int message_pen = pen >= 0 ? pen : pens.black_pen;
    if (settings.plot_flags & plot_halftone) // the pen's own grey pattern
        return vector_fill_polygon(message_pen, -1, n, vertices);
    return vector_fill_polygon(effective_pen(message_pen), message_pen, n, vertices);
}

int draw_polygon_by_reference() {
    const uint8_t* rec = host_link.message;
    if (!rec) return -1;
    int n = le_i16(rec, 6);
    if (n <= 1) return 0;
    const uint8_t* vertices = static_cast<const uint8_t*>(host_addr_ptr(le_u32(rec, 8)));
    if (!vertices) return -1;
    return draw_polygon(le_i16(rec, 4), n, vertices);
}

int draw_polygon_inline() {
    const uint8_t* rec = host_link.message;
    if (!rec) return -1;
    int n = le_i16(rec, 10);
    if (n > polygon_inline_max_vertices) return -1; // the vertices would lie past the record
    return draw_polygon(le_i16(rec, 6), n, rec + polygon_inline_vertices_offset);
}
