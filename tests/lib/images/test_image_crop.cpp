// Crop windows of image sources: the window's pixels, and only those, whatever the
// source's kind (one-bit rows at any bit offset, colour, interlaced passes), checked
// against the pattern the PNG was written from; windows outside the image refused.
#include <gtest/gtest.h>

#ifdef KVRAC_HAVE_PNG
#include <png.h>
#include <vector>

#include "images/image_source.h"
#include "support/kvrac_runner.h"

namespace {

// The pattern: pixel (x, y) black for one-bit images, or its grey level.
bool black(int x, int y) {
    return (x * 7 + y * 3) % 5 < 2;
}
uint8_t grey(int x, int y) {
    return static_cast<uint8_t>((x * 13 + y * 29) % 251);
}

void write_png(const fs::path& path, int w, int h, bool mono, bool interlaced) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, mono ? 1 : 8, PNG_COLOR_TYPE_GRAY,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<std::vector<uint8_t>> rows(h, std::vector<uint8_t>(w, 0));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (mono)
                rows[y][x / 8] |= black(x, y) ? 0 : 0x80 >> (x % 8); // 1 is white
            else
                rows[y][x] = grey(x, y);
        }
    }
    std::vector<png_bytep> pointers;
    for (auto& r : rows) pointers.push_back(r.data());
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

class ImageCrop : public Kvrac {};

// Reads the whole window; returns the pixels that differ from the pattern (mono: as
// black or not; colour: three equal bytes of the grey level). -1 when rows are missing.
long crop_errors(const std::string& path, const image_crop& c, bool mono) {
    image_open_options o;
    o.crop = c;
    std::string why;
    auto s = open_image_source(path, o, &why);
    EXPECT_TRUE(s) << why;
    if (!s) return -1;
    EXPECT_EQ(s->info().width, c.width);
    EXPECT_EQ(s->info().height, c.height);
    std::vector<int> seen(static_cast<size_t>(c.width) * c.height, 0);
    long errors = 0;
    image_row row;
    while (s->next(&row) == 1) {
        for (int32_t j = 0; j < row.count; ++j) {
            const int x = row.x0 + j * row.dx;
            if (x < 0 || x >= c.width || row.y < 0 || row.y >= c.height) return -1;
            ++seen[static_cast<size_t>(row.y) * c.width + x];
            const int sx = c.x + x, sy = c.y + row.y;
            if (mono) {
                const bool bit = row.pixels[j / 8] >> (7 - j % 8) & 1;
                errors += bit != black(sx, sy);
            } else {
                const uint8_t* p = row.pixels + j * 3;
                errors += p[0] != grey(sx, sy) || p[1] != p[0] || p[2] != p[0];
            }
        }
    }
    for (int n : seen)
        if (n < 1) return -1; // a pixel of the window never delivered
    return errors;
}

TEST_F(ImageCrop, WindowsGiveTheirPixelsOnlyForEveryKind) {
    const image_crop windows[] = {{0, 0, 37, 23}, {5, 9, 60, 31}, {13, 1, 3, 1}, {0, 40, 77, 1}};
    for (bool mono : {true, false}) {
        for (bool interlaced : {false, true}) {
            SCOPED_TRACE(std::string(mono ? "mono" : "grey") + (interlaced ? " interlaced" : ""));
            const std::string path = (dir / "p.png").string();
            write_png(path, 77, 41, mono, interlaced);
            for (const image_crop& c : windows) {
                SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
                EXPECT_EQ(crop_errors(path, c, mono), 0);
            }
        }
    }
}

TEST_F(ImageCrop, WindowsOutsideTheImageAreRefused) {
    const std::string path = (dir / "p.png").string();
    write_png(path, 20, 10, true, false);
    for (const image_crop& c : {image_crop{15, 0, 6, 10}, image_crop{0, 5, 20, 6},
                                image_crop{-1, 0, 5, 5}, image_crop{0, 0, 0, 4}}) {
        image_open_options o;
        o.crop = c;
        std::string why;
        EXPECT_FALSE(open_image_source(path, o, &why));
        EXPECT_NE(why.find("is not inside the 20x10 image"), std::string::npos) << why;
    }
}

} // namespace
#endif
