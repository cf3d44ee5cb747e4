// Writers of test images: the same pixels as PNG (libpng), TIFF (libtiff) and JPEG
// (libjpeg), each from a function giving a pixel's stored samples, so that tests can
// compare what the image sources make of each format.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// A pixel's stored samples at the file's bit depth (for one-bit images 0 or 1).
using sample_fn = std::function<void(int x, int y, uint16_t* samples)>;

// Packs the samples of row y into bytes as PNG and TIFF store them: most significant
// bit first below 8 bits, big-endian (PNG) or machine order (TIFF) at 16 bits.
inline std::vector<uint8_t> pack_row(int w, int y, int samples, int bits, bool big_endian,
                                     const sample_fn& pixel) {
    std::vector<uint8_t> row((static_cast<size_t>(w) * samples * bits + 7) / 8, 0);
    size_t bit = 0;
    for (int x = 0; x < w; ++x) {
        uint16_t s[8] = {};
        pixel(x, y, s);
        for (int c = 0; c < samples; ++c, bit += bits) {
            if (bits == 16) {
                uint16_t v = s[c];
                if (big_endian) {
                    row[bit / 8] = static_cast<uint8_t>(v >> 8);
                    row[bit / 8 + 1] = static_cast<uint8_t>(v);
                } else {
                    std::memcpy(&row[bit / 8], &v, 2);
                }
            } else {
                row[bit / 8] |=
                    static_cast<uint8_t>((s[c] & ((1u << bits) - 1)) << (8 - bits - bit % 8));
            }
        }
    }
    return row;
}

#ifdef KVRAC_HAVE_PNG
#include <png.h>

struct png_file {
    png_file(int w_, int h_, int type_, int bits_, sample_fn pixel_)
        : w(w_), h(h_), type(type_), bits(bits_), pixel(std::move(pixel_)) {}
    int w, h, type, bits;
    sample_fn pixel;
    std::vector<png_color> palette;
    std::vector<uint8_t> palette_alpha;
};

inline bool write_png_file(const std::string& path, const png_file& s) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, s.w, s.h, s.bits, s.type, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!s.palette.empty())
        png_set_PLTE(png, info, s.palette.data(), static_cast<int>(s.palette.size()));
    if (!s.palette_alpha.empty())
        png_set_tRNS(png, info, s.palette_alpha.data(), static_cast<int>(s.palette_alpha.size()),
                     nullptr);
    png_write_info(png, info);
    const int channels = png_get_channels(png, info);
    for (int y = 0; y < s.h; ++y) {
        std::vector<uint8_t> row = pack_row(s.w, y, channels, s.bits, true, s.pixel);
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}
#endif

#ifdef KVRAC_HAVE_TIFF
#include <tiffio.h>

// One page (directory) of a TIFF file.
struct tiff_page {
    int w = 0, h = 0;
    uint16_t bits = 8, samples = 3, photometric = PHOTOMETRIC_RGB;
    uint16_t compression = COMPRESSION_NONE;
    uint16_t extra = 0; // 0, or the EXTRASAMPLE_ kind of one extra sample
    uint16_t fill_order = FILLORDER_MSB2LSB;
    uint32_t tile = 0;              // tile width and height (multiple of 16); 0 = strips
    uint32_t rows_per_strip = 0;    // 0: libtiff's choice
    std::vector<uint16_t> colormap; // palette: red, then green, then blue entries
    float xres = 0, yres = 0;
    uint16_t res_unit = RESUNIT_INCH;
    sample_fn pixel;
};

inline bool write_tiff_file(const std::string& path, const std::vector<tiff_page>& pages) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t) return false;
    bool ok = true;
    for (const tiff_page& p : pages) {
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(p.w));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(p.h));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, p.bits);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, p.samples);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, p.photometric);
        TIFFSetField(t, TIFFTAG_COMPRESSION, p.compression);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_FILLORDER, p.fill_order);
        if (p.extra) TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &p.extra);
        if (!p.colormap.empty()) {
            const size_t n = p.colormap.size() / 3;
            TIFFSetField(t, TIFFTAG_COLORMAP, p.colormap.data(), p.colormap.data() + n,
                         p.colormap.data() + 2 * n);
        }
        if (p.xres > 0) {
            TIFFSetField(t, TIFFTAG_XRESOLUTION, p.xres);
            TIFFSetField(t, TIFFTAG_YRESOLUTION, p.yres);
            TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, p.res_unit);
        }
        if (pages.size() > 1) {
            TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
            TIFFSetField(t, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(&p - pages.data()),
                         static_cast<uint16_t>(pages.size()));
        }
        std::vector<std::vector<uint8_t>> rows;
        for (int y = 0; y < p.h; ++y)
            rows.push_back(pack_row(p.w, y, p.samples, p.bits, false, p.pixel));
        if (p.tile) {
            TIFFSetField(t, TIFFTAG_TILEWIDTH, p.tile);
            TIFFSetField(t, TIFFTAG_TILELENGTH, p.tile);
            const size_t tile_row = static_cast<size_t>(TIFFTileRowSize(t));
            std::vector<uint8_t> buf(static_cast<size_t>(TIFFTileSize(t)));
            for (uint32_t ty = 0; ty < static_cast<uint32_t>(p.h); ty += p.tile)
                for (uint32_t tx = 0; tx < static_cast<uint32_t>(p.w); tx += p.tile) {
                    std::fill(buf.begin(), buf.end(), 0);
                    const size_t from = tx * p.samples * p.bits / 8;
                    for (uint32_t r = 0; r < p.tile && ty + r < static_cast<uint32_t>(p.h); ++r) {
                        const std::vector<uint8_t>& row = rows[ty + r];
                        const size_t n = std::min(tile_row, row.size() - from);
                        std::memcpy(&buf[r * tile_row], &row[from], n);
                    }
                    ok = ok && TIFFWriteTile(t, buf.data(), tx, ty, 0, 0) >= 0;
                }
        } else {
            TIFFSetField(t, TIFFTAG_ROWSPERSTRIP,
                         p.rows_per_strip ? p.rows_per_strip : TIFFDefaultStripSize(t, 0));
            for (int y = 0; y < p.h; ++y)
                ok = ok && TIFFWriteScanline(t, rows[y].data(), static_cast<uint32_t>(y), 0) >= 0;
        }
        ok = ok && TIFFWriteDirectory(t);
    }
    TIFFClose(t);
    return ok;
}
#endif

#if __has_include(<jpeglib.h>)
#include <jpeglib.h>

// A JPEG of 8-bit samples in colour space `space` (JCS_GRAYSCALE, JCS_RGB kept as RGB,
// JCS_YCbCr from RGB samples, JCS_CMYK, JCS_YCCK from CMYK samples), every component sampled at
// full resolution.
struct jpeg_file {
    jpeg_file(int w_, int h_, J_COLOR_SPACE space_, int quality_, bool progressive_,
              sample_fn pixel_)
        : w(w_), h(h_), space(space_), quality(quality_), progressive(progressive_),
          pixel(std::move(pixel_)) {}
    int w, h;
    J_COLOR_SPACE space;
    int quality;
    bool progressive;
    sample_fn pixel;
    int density_unit = 0, x_density = 1, y_density = 1; // JFIF density
};

inline bool write_jpeg_file(const std::string& path, const jpeg_file& s) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = static_cast<JDIMENSION>(s.w);
    c.image_height = static_cast<JDIMENSION>(s.h);
    const int n = s.space == JCS_GRAYSCALE ? 1 : s.space == JCS_CMYK || s.space == JCS_YCCK ? 4 : 3;
    c.input_components = n;
    c.in_color_space = s.space == JCS_YCbCr ? JCS_RGB : s.space == JCS_YCCK ? JCS_CMYK : s.space;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, s.space);
    for (int i = 0; i < n; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    jpeg_set_quality(&c, s.quality, TRUE);
    c.density_unit = static_cast<UINT8>(s.density_unit);
    c.X_density = static_cast<UINT16>(s.x_density);
    c.Y_density = static_cast<UINT16>(s.y_density);
    if (s.progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(s.w) * n);
    for (int y = 0; y < s.h; ++y) {
        for (int x = 0; x < s.w; ++x) {
            uint16_t v[8] = {};
            s.pixel(x, y, v);
            for (int i = 0; i < n; ++i)
                row[static_cast<size_t>(x) * n + i] = static_cast<uint8_t>(v[i]);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return std::fclose(f) == 0;
}
#endif
