// Test images for the image benchmarks, written with libpng and libtiff:
//   bench_images grey  W H OUT.png   8-bit greyscale, smooth tones with grain
//   bench_images photo W H OUT.png   8-bit RGB, smooth colours with grain
//   bench_images cad   W H OUT.png [OUT.tif]   one-bit drawing: a grid, frames,
//                                    circles and hatching on white (the TIFF is the
//                                    same bitmap uncompressed, for tiffcp)
// Content is fixed by the size alone, so runs compare the same pixels.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <png.h>
#include <tiffio.h>

namespace {

uint32_t hash(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    return x ^ (x >> 16);
}

// Black where a line of the drawing passes: a 5 mm grid of thin lines, thick frames,
// rings and diagonal hatching in some cells, at 600 dpi.
bool cad_black(int x, int y) {
    if (x % 118 == 0 || y % 118 == 0) return true;
    if (x < 24 || y < 24 || x % 2360 < 6 || y % 2360 < 6) return true;
    const int cx = x / 1180, cy = y / 1180;
    const int dx = x - (cx * 1180 + 590), dy = y - (cy * 1180 + 590);
    const int r2 = dx * dx + dy * dy;
    if ((hash(cx * 131 + cy) & 3) == 0 && r2 > 400 * 400 && r2 < 404 * 404) return true;
    if ((hash(cx * 17 + cy * 7) & 7) == 1 && (x + y) % 40 < 2) return true;
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: bench_images grey|photo|cad W H OUT.png [OUT.tif]\n");
        return 2;
    }
    const std::string kind = argv[1];
    const int w = std::atoi(argv[2]), h = std::atoi(argv[3]);
    std::FILE* f = std::fopen(argv[4], "wb");
    if (!f || w < 1 || h < 1) return 1;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_compression_level(png, 3);
    const int channels = kind == "photo" ? 3 : 1;
    const bool mono = kind == "cad";
    png_set_IHDR(png, info, w, h, mono ? 1 : 8,
                 channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    TIFF* tif = nullptr;
    if (mono && argc > 5) {
        tif = TIFFOpen(argv[5], "w8");
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(w));
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(h));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 64u);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    }
    std::vector<uint8_t> row(mono ? (w + 7) / 8 : static_cast<size_t>(w) * channels);
    std::vector<uint8_t> ink(row.size());
    for (int y = 0; y < h; ++y) {
        if (mono) {
            std::fill(row.begin(), row.end(), 0xFF); // PNG grey: 1 = white
            std::fill(ink.begin(), ink.end(), 0);    // TIFF min-is-white: 1 = black
            for (int x = 0; x < w; ++x)
                if (cad_black(x, y)) {
                    row[x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
                    ink[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
                }
            if (tif && TIFFWriteScanline(tif, ink.data(), static_cast<uint32_t>(y), 0) < 0)
                return 1;
        } else {
            const double fy = static_cast<double>(y) / h;
            for (int x = 0; x < w; ++x) {
                const double fx = static_cast<double>(x) / w;
                const int grain =
                    static_cast<int>(hash(static_cast<uint32_t>(y) * 40503u + x) % 17) - 8;
                for (int c = 0; c < channels; ++c) {
                    const double v =
                        128 + 100 * std::sin(6.0 * fx + 2.0 * c) * std::cos(5.0 * fy - c);
                    row[static_cast<size_t>(x) * channels + c] =
                        static_cast<uint8_t>(std::fmin(255, std::fmax(0, v + grain)));
                }
            }
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    if (tif) TIFFClose(tif);
    return std::fclose(f) == 0 ? 0 : 1;
}
