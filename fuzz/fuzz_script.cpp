// The plot script reader fed any text: every command is read until the end or the
// first bad line, once as a plotting caller reads it (runs of moves and draws through
// script_points, the rest by script_next with its quick path) and once by the general
// parser alone; the two must agree on every command, error and line number.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "drawing/script.h"

namespace {

// The fields of a command that its kind uses.
bool same_command(const script_command& a, const script_command& b) {
    if (a.op != b.op) return false;
    switch (a.op) {
    case script_op::move:
    case script_op::draw:
        return a.x == b.x && a.y == b.y;
    case script_op::pen:
    case script_op::linetype:
    case script_op::linetypes:
        return a.number == b.number;
    case script_op::width:
        return a.width_inch == b.width_inch;
    case script_op::polygon:
        return a.number == b.number && a.points == b.points;
    default:
        return true;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The reader takes a file: the input goes to a scratch file of this process.
    static const std::string path = "/tmp/kvrac-fuzz-script-" + std::to_string(getpid()) + ".kvs";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    script_reader quick{}, general{};
    const bool opened = script_open(quick, path, 1016.0) == 0;
    if (opened && script_open(general, path, 1016.0) == 0) {
        script_command a{}, b{};
        for (int n = 0; n < 100000; ++n) {
            bool differ = false;
            script_points(quick, [&](bool draw, uint16_t x, uint16_t y) {
                a.op = draw ? script_op::draw : script_op::move;
                a.x = x;
                a.y = y;
                differ = script_next_general(general, b) != 1 ||
                         quick.line_number != general.line_number || !same_command(a, b);
                return !differ && ++n < 100000;
            });
            if (differ) std::abort(); // a run read a line differently
            const int got = script_next(quick, a);
            if (got != script_next_general(general, b) ||
                quick.line_number != general.line_number || quick.error != general.error ||
                (got == 1 && !same_command(a, b)))
                std::abort(); // the quick path read a line differently
            if (got != 1) break;
        }
    }
    script_close(quick);
    script_close(general);
    return 0;
}
