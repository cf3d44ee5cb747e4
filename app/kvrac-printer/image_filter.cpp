// PNG documents: decoded here, then laid out on the page by PAPPL.
//
// PAPPL's own PNG reader never returns from a file that is not a PNG (it logs read
// errors without end and the printer stays busy for good), so PNG documents are read
// with the host's PNG reader (libpng) instead, and only a picture that decoded whole is
// handed to PAPPL's image layout (papplJobFilterImage: scaling, orientation, copies),
// which sends it through the raster callbacks like any page. A picture that cannot be
// read aborts the job with the reason.
#include <cstring>
#include <string>
#include <vector>

#include "images/png_image.h"
#include "kvrac-printer/printer_app.h"

namespace {

// Largest picture read: as wide as a 36-inch roll at 600 dpi needs, and at most 1 GiB
// of decoded pixels.
constexpr int64_t picture_max_width = 32768;
constexpr int64_t picture_max_height = 65536;
constexpr int64_t picture_max_bytes = int64_t{1} << 30;

bool refuse(pappl_job_t* job, const std::string& why) {
    papplJobSetMessage(job, "%s", why.c_str());
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", why.c_str());
    return false;
}

} // namespace

bool filter_png(pappl_job_t* job, pappl_device_t* device, void*) {
    // A job canceled just as it starts has lost its document already (and stays
    // canceled when the filter reports success).
    const char* file = papplJobGetFilename(job);
    if (!file) return true;
    const std::string path = file;
    png_reader r{};
    if (png_reader_open(r, path) != 0) {
        png_reader_close(r);
        return refuse(job, std::string("The PNG document cannot be read: ") + r.error);
    }
    const int64_t w = r.header.width, h = r.header.height;
    const int depth = r.header.mono ? 1 : 3;
    if (w > picture_max_width || h > picture_max_height || w * h * depth > picture_max_bytes) {
        png_reader_close(r);
        return refuse(job, "The PNG picture is " + std::to_string(w) + " x " + std::to_string(h) +
                               " pixels; at most " + std::to_string(picture_max_width) + " x " +
                               std::to_string(picture_max_height) + " can be printed");
    }
    // Grey (one-bit pictures as 0 and 255) or red-green-blue, top row first.
    std::vector<unsigned char> pixels(static_cast<size_t>(w * h * depth), 0xFF);
    png_row row;
    int got;
    while ((got = png_reader_next(r, &row)) == 1) {
        unsigned char* line =
            pixels.data() + static_cast<size_t>(row.y) * static_cast<size_t>(w * depth);
        for (int32_t i = 0; i < row.count; ++i) {
            const size_t x = static_cast<size_t>(row.x0 + i * row.dx);
            if (depth == 1)
                line[x] = (row.pixels[i / 8] >> (7 - i % 8) & 1) ? 0 : 255;
            else
                std::memcpy(line + x * 3, row.pixels + i * 3, 3);
        }
    }
    const std::string error = r.error;
    png_reader_close(r);
    if (got < 0) return refuse(job, "The PNG document cannot be read: " + error);

    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 1, false);
    const bool ok = papplJobFilterImage(job, device, options, pixels.data(), static_cast<int>(w),
                                        static_cast<int>(h), depth, 0, false);
    papplJobDeletePrintOptions(options);
    return ok;
}
