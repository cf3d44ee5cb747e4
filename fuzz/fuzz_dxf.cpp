// Fuzz target: DXF files through the check, dxflib and our reader, and the placement
// writer, as `kvrac plot` reads them (the reader takes a file name: the input is
// written to a scratch file first).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "drawing/plot_writer.h"
#if KVRAC_HAVE_DXF
#include "dxf/dxf_reader.h"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
#if KVRAC_HAVE_DXF
    static const std::string path = "/tmp/kvrac-fuzz-dxf-" + std::to_string(getpid()) + ".dxf";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    std::string why;
    if (dxf_check_file(path, &why) != 0) return 0;
    auto read = [&](drawing_sink& s, drawing_report& r) { dxf_read_file(path, s, r); };
    const sheet_geometry sheet{48768, 36576, 1016, 600};
    placement_options place;
    place.fit = true;
    drawing_summary sum;
    plot_drawing(read, place, pen_table{}, sheet, [](const script_command&) { return 0; }, &sum,
                 &why);
#else
    (void)data, (void)size;
#endif
    return 0;
}
