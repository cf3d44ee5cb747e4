// Both PNG readers, libpng's and the built-in decoder, fed the same file: they must
// accept and refuse the same files and give the same rows. A disagreement aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "images/png_decode.h"
#include "images/png_image.h"

namespace {

struct reading {
    bool accepted;
    png_header header;
    std::vector<int32_t> places; // y, x0, dx, count of each row
    std::vector<uint8_t> pixels; // every row's meaningful bytes
};

// Reads the file to the end or the first failure. Bits past a one-bit row's last
// pixel mean nothing and are cleared.
reading read_all(const std::string& path, bool decoder) {
    reading out{};
    png_reader r{};
    int got = decoder ? png_decode_open(r, path) : png_reader_open(r, path);
    if (got == 0) {
        out.header = r.header;
        png_row row;
        while ((got = decoder ? png_decode_next(r, &row) : png_reader_next(r, &row)) == 1) {
            out.places.insert(out.places.end(), {row.y, row.x0, row.dx, row.count});
            const size_t n = r.header.mono ? (static_cast<size_t>(row.count) + 7) / 8
                                           : static_cast<size_t>(row.count) * 3;
            const size_t at = out.pixels.size();
            out.pixels.insert(out.pixels.end(), row.pixels, row.pixels + n);
            if (r.header.mono && row.count % 8)
                out.pixels[at + n - 1] &= static_cast<uint8_t>(0xFF00 >> (row.count % 8));
        }
    }
    out.accepted = got == 0;
    decoder ? png_decode_close(r) : png_reader_close(r);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/kvrac-fuzz-png-" + std::to_string(getpid()) + ".png";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    const reading lib = read_all(path, false), own = read_all(path, true);
    if (lib.accepted != own.accepted) {
        std::fprintf(stderr, "the readers disagree: libpng %s, decoder %s\n",
                     lib.accepted ? "accepts" : "refuses", own.accepted ? "accepts" : "refuses");
        std::abort();
    }
    if (lib.accepted &&
        (lib.places != own.places || lib.pixels != own.pixels ||
         lib.header.width != own.header.width || lib.header.height != own.header.height ||
         lib.header.mono != own.header.mono)) {
        std::fprintf(stderr, "the readers give different rows\n");
        std::abort();
    }
    return 0;
}
