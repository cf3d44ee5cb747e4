// Fuzz target: HP-GL/2 plot files (with PJL and PCL/RTL escapes) through the reader
// and the placement writer, as `kvrac plot` reads them.
#include <cstddef>
#include <cstdint>

#include "drawing/hpgl_reader.h"
#include "drawing/plot_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    auto read = [&](drawing_sink& s, drawing_report& r) { hpgl_read(text, size, "fuzz.plt", s, r); };
    const sheet_geometry sheet{48768, 36576, 1016, 600};
    placement_options place;
    place.anchor = drawing_anchor::origin;
    drawing_summary sum;
    std::string why;
    plot_drawing(read, place, pen_table{}, sheet, [](const script_command&) { return 0; }, &sum,
                 &why);
    place.fit = true;
    plot_drawing(read, place, pen_table{}, sheet, [](const script_command&) { return 0; }, &sum,
                 &why);
    return 0;
}
