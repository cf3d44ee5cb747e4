// Shared by the TIFF and JPEG fuzz targets: the input written to a file and opened with
// one opener, every row read, then the image started again and read part way. A source
// must never crash or read out of bounds, must give its rows in order with the width it
// announced, and must say why whenever it fails.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#if KVRAC_HAVE_IMAGE_FORMATS
#include "formats/image_formats.h"

// Reads up to `limit` rows of s. Aborts on a broken promise of the interface.
inline void fuzz_read_rows(image_source& s, int32_t limit) {
    image_row row;
    int32_t expected = 0;
    int got = 1;
    while (expected < limit && (got = s.next(&row)) == 1) {
        if (row.y != expected || row.x0 != 0 || row.dx != 1 || row.count != s.info().width) {
            std::fprintf(stderr, "row %d out of order or of the wrong size\n", row.y);
            std::abort();
        }
        // Touch the row's last byte: the sanitizer checks it lies in the buffer.
        const size_t n = s.info().mono ? (static_cast<size_t>(row.count) + 7) / 8
                                       : static_cast<size_t>(row.count) * 3;
        volatile uint8_t last = row.pixels[n - 1];
        (void)last;
        ++expected;
    }
    if (expected < limit && got < 0 && s.error().empty()) {
        std::fprintf(stderr, "a failure without a reason\n");
        std::abort();
    }
}

// Runs one input through opener with the given page.
inline int fuzz_image_opener(image_opener opener, const char* suffix, const uint8_t* data,
                             size_t size) {
    static const std::string path = "/tmp/kvrac-fuzz-" + std::to_string(getpid()) + "." + suffix;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    for (int32_t page : {1, 2}) {
        image_open_options options;
        options.page = page;
        std::string why;
        auto s = opener(path, data, size < 16 ? size : 16, options, &why);
        if (!s) continue;
        // Rows of at most a few megapixels keep each run short.
        const int32_t rows = static_cast<int64_t>(s->info().width) * s->info().height > (1 << 22)
                                 ? 64
                                 : s->info().height;
        fuzz_read_rows(*s, rows);
        if (s->rewind() == 0) fuzz_read_rows(*s, 8);
    }
    return 0;
}
#endif
