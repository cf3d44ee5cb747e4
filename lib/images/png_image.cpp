// PNG files for plot scripts, read row by row with libpng (or, in a build without it,
// with the decoder of png_decode.h).
//
// libpng reports a damaged file by a long jump to the point set with setjmp. Only the
// small functions that call libpng set that point, and they hold nothing but plain
// locals, so the jump never skips a destructor.
#include "images/png_image.h"
#include "images/png_decode.h"

#include <cerrno>
#include <cstring>

#ifdef KVRAC_HAVE_PNG

#include <climits>
#include <csetjmp>
#include <png.h>

namespace {

void on_error(png_structp png, png_const_charp message) {
    auto* r = static_cast<png_reader*>(png_get_error_ptr(png));
    std::snprintf(r->error, sizeof r->error, "%s", message);
    png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

png_structp png_of(const png_reader& r) {
    return static_cast<png_structp>(r.png);
}

png_infop info_of(const png_reader& r) {
    return static_cast<png_infop>(r.info);
}

// Reads the chunks before the image data and sets the transforms: one-bit greyscale
// stays packed; everything else becomes 8-bit red, green, blue and perhaps alpha.
// Interlaced files are read pass by pass. Returns libpng's bytes per row, or 0 on a
// damaged file.
size_t read_header(png_reader* r) {
    png_structp png = png_of(*r);
    png_infop info = info_of(*r);
    if (setjmp(png_jmpbuf(png))) return 0;
    png_init_io(png, r->file);
    png_set_sig_bytes(png, 8);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    const int depth = png_get_bit_depth(png, info);
    const int type = png_get_color_type(png, info);
    if (width > INT32_MAX || height > INT32_MAX) png_error(png, "image too large");
    r->header.width = static_cast<int32_t>(width);
    r->header.height = static_cast<int32_t>(height);
    r->header.mono = depth == 1 && type == PNG_COLOR_TYPE_GRAY;
    r->header.interlaced = png_get_interlace_type(png, info) == PNG_INTERLACE_ADAM7;
    if (r->header.mono) {
        png_bytep alpha = nullptr;
        int alphas = 0;
        png_color_16p key = nullptr;
        if (png_get_tRNS(png, info, &alpha, &alphas, &key) != 0 && key && key->gray == 0)
            r->black_transparent = 1;
    } else {
        png_set_expand(png);
        png_set_strip_16(png);
        png_set_gray_to_rgb(png);
    }
    png_read_update_info(png, info);
    r->channels = png_get_channels(png, info);
    return png_get_rowbytes(png, info);
}

int read_row(png_structp png, png_bytep row) {
    if (setjmp(png_jmpbuf(png))) return -1;
    png_read_row(png, row, nullptr);
    return 0;
}

// Turns the row of count pixels in r.raw into its compact form in r.out.
void compact_row(png_reader& r, int32_t count) {
    const uint8_t* in = r.raw.data();
    uint8_t* out = r.out.data();
    if (r.header.mono) {
        // Stored 0 is black; kept 1 is black.
        const size_t n = (static_cast<size_t>(count) + 7) / 8;
        for (size_t i = 0; i < n; ++i)
            out[i] = r.black_transparent ? 0 : static_cast<uint8_t>(~in[i]);
    } else if (r.channels == 4) {
        for (int32_t i = 0; i < count; ++i, in += 4, out += 3)
            for (int c = 0; c < 3; ++c) out[c] = png_over_white(in[c], in[3]);
    } else {
        std::memcpy(out, in, static_cast<size_t>(count) * 3);
    }
}

} // namespace

int png_reader_open(png_reader& r, const std::string& path) {
    png_reader_close(r);
    r.error[0] = '\0';
    r.pass = r.pass_row = 0;
    r.black_transparent = 0;
    r.header = png_header{};
    r.file = std::fopen(path.c_str(), "rb");
    if (!r.file) {
        std::snprintf(r.error, sizeof r.error, "%s", std::strerror(errno));
        return -1;
    }
    uint8_t signature[8];
    if (std::fread(signature, 1, 8, r.file) != 8 || png_sig_cmp(signature, 0, 8) != 0) {
        std::snprintf(r.error, sizeof r.error, "not a PNG file");
        return -1;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, on_error, on_warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    r.png = png;
    r.info = info;
    if (!png || !info) {
        std::snprintf(r.error, sizeof r.error, "out of memory");
        return -1;
    }
    const size_t row_bytes = read_header(&r);
    if (row_bytes == 0) return -1;
    r.raw.assign(row_bytes, 0);
    r.out.assign(r.header.mono ? row_bytes : static_cast<size_t>(r.header.width) * 3, 0);
    return 0;
}

int png_reader_next(png_reader& r, png_row* row) {
    if (!r.png || r.error[0]) return -1;
    const int32_t w = r.header.width, h = r.header.height;
    const int passes = r.header.interlaced ? 7 : 1;
    while (r.pass < passes) {
        const int p = r.pass;
        const int32_t rows = r.header.interlaced ? static_cast<int32_t>(PNG_PASS_ROWS(h, p)) : h;
        const int32_t cols = r.header.interlaced ? static_cast<int32_t>(PNG_PASS_COLS(w, p)) : w;
        // libpng skips passes without pixels, and so must the count here.
        if (rows == 0 || cols == 0 || r.pass_row >= rows) {
            ++r.pass;
            r.pass_row = 0;
            continue;
        }
        if (read_row(png_of(r), r.raw.data()) < 0) return -1;
        compact_row(r, cols);
        row->y = r.header.interlaced ? static_cast<int32_t>(PNG_ROW_FROM_PASS_ROW(r.pass_row, p))
                                     : r.pass_row;
        row->x0 = r.header.interlaced ? PNG_PASS_START_COL(p) : 0;
        row->dx = r.header.interlaced ? 1 << PNG_PASS_COL_SHIFT(p) : 1;
        row->count = cols;
        row->pixels = r.out.data();
        ++r.pass_row;
        return 1;
    }
    return 0;
}

void png_reader_close(png_reader& r) {
    if (r.png) {
        png_structp png = png_of(r);
        png_infop info = info_of(r);
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
    r.png = nullptr;
    r.info = nullptr;
    if (r.file) std::fclose(r.file);
    r.file = nullptr;
}

#else // built without libpng: the decoder of png_decode.h

int png_reader_open(png_reader& r, const std::string& path) {
    return png_decode_open(r, path);
}

int png_reader_next(png_reader& r, png_row* row) {
    return png_decode_next(r, row);
}

void png_reader_close(png_reader& r) {
    png_decode_close(r);
}

#endif

int png_probe(const std::string& path, png_header* header, std::string* why) {
    png_reader r{};
    int result = png_reader_open(r, path);
    if (result == 0)
        *header = r.header;
    else
        *why = r.error;
    png_reader_close(r);
    return result;
}
