// The picture as an 8-bit greyscale PNG (libpng), written under a temporary name and
// renamed, so a failed write never leaves half a picture under the asked name.
#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstring>

#include "jobread/job_reader.h"
#include "system/files.h"

int write_picture_png(const view_picture& picture, const std::string& path, std::string* why) {
    const std::string tmp = path + ".tmp";
    std::FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) {
        if (why) *why = std::strerror(errno);
        return -1;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        std::remove(tmp.c_str());
        if (why) *why = "the PNG cannot be written";
        return -1;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width),
                 static_cast<png_uint_32>(picture.height), 8, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    const png_uint_32 ppm = static_cast<png_uint_32>(picture.dpi / 0.0254 + 0.5);
    png_set_pHYs(png, info, ppm, ppm, PNG_RESOLUTION_METER);
    png_set_compression_level(png, 3);
    png_write_info(png, info);
    for (int y = 0; y < picture.height; ++y)
        png_write_row(png, &picture.grey[static_cast<size_t>(y) * picture.width]);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    if (std::fclose(f) != 0) {
        if (why) *why = std::strerror(errno);
        std::remove(tmp.c_str());
        return -1;
    }
    std::string reason;
    if (file_replace(tmp, path, &reason) != 0) {
        if (why) *why = reason;
        std::remove(tmp.c_str());
        return -1;
    }
    return 0;
}
