// PDF files opened as image sources: every page (up to four) rendered at a low
// resolution and read to its end, then read again after a rewind, whole and through a
// crop window. The source must report damage as an error, never crash, and deliver
// exactly the rows its size promises.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "images/image_source.h"
#if KVRAC_HAVE_PDF
#include "pdf/pdf_source.h"
#endif

namespace {

// Reads every row; aborts when a row is outside the image or the count is wrong.
void read_all(image_source& s) {
    const image_info& info = s.info();
    image_row row;
    int32_t rows = 0;
    int got;
    while ((got = s.next(&row)) == 1) {
        if (row.y != rows || row.x0 != 0 || row.count != info.width) std::abort();
        volatile uint8_t sink = row.pixels[0] ^ row.pixels[3 * static_cast<size_t>(row.count) - 1];
        (void)sink;
        ++rows;
    }
    if (got == 0 && rows != info.height) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
#if KVRAC_HAVE_PDF
    static const bool registered = (pdf_source_register(), true);
    (void)registered;
    static const std::string path = "/tmp/kvrac-fuzz-pdf-" + std::to_string(getpid()) + ".pdf";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    for (int32_t page = 1; page <= 4; ++page) {
        image_open_options o;
        o.page = page;
        o.render_dpi = 12;
        std::string why;
        auto s = open_image_source(path, o, &why);
        if (!s) break;
        read_all(*s);
        if (s->rewind() == 0) read_all(*s);
        // The lower right quarter through a crop window.
        const image_info info = s->info();
        if (info.width >= 2 && info.height >= 2) {
            o.crop = image_crop{info.width / 2, info.height / 2, info.width - info.width / 2,
                                info.height - info.height / 2};
            auto cropped = open_image_source(path, o, &why);
            if (!cropped) std::abort(); // the same page opened a moment ago
            read_all(*cropped);
        }
        if (page >= info.pages) break;
    }
#else
    (void)data, (void)size;
#endif
    return 0;
}
