// The plot script reader fed any text: every command is read until the end or the
// first bad line.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "drawing/script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The reader takes a file: the input goes to a scratch file of this process.
    static const std::string path = "/tmp/kvrac-fuzz-script-" + std::to_string(getpid()) + ".kvs";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    script_reader r{};
    if (script_open(r, path, 1016.0) == 0) {
        script_command cmd;
        for (int n = 0; n < 100000 && script_next(r, cmd) == 1; ++n) {
        }
    }
    script_close(r);
    return 0;
}
