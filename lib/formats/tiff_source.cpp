// TIFF files as image sources, read with libtiff.
//
// What comes in: scanned plans, mostly one-bit and CCITT G4 compressed, often A0 at 400
// or 600 dpi (some 20,000 x 28,000 pixels) and sometimes several sheets in one file;
// and colour or grey pictures of any of the usual compressions, striped or tiled. The
// driver asks for rows top to bottom, and on rotated sheets for bands of columns, for
// which it starts the image again from the top; so rows are decoded in order and never
// held whole: a striped file one row at a time (libtiff keeps one strip's compressed
// bytes), a tiled file one row of tiles at a time.
//
// One-bit grey images stay one bit (1 = black whatever the file's photometric
// interpretation); every other kind becomes red-green-blue bytes, composited over
// white where the file has an alpha sample, as the PNG source does; JPEG-compressed
// YCbCr is read as RGB. 16-bit samples keep
// their high byte (as the PNG source does). The orientation tag is not applied: rows
// are placed as they are stored, first stored row at the top, which is what scanners
// write; turning an image would need it whole in memory.
//
// libtiff reports errors and warnings through handlers given to each open file, so one
// source's messages become its own error, never another's and never standard error.
#include "formats/image_formats.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "images/png_image.h"

namespace {

// Largest single allocation libtiff may make for one file (a strip, a tile, a
// directory's arrays), and largest band of tiles the source holds.
constexpr tmsize_t max_libtiff_alloc = tmsize_t{256} << 20;
constexpr uint64_t max_tile_band = uint64_t{512} << 20;

class tiff_source final : public image_source {
  public:
    ~tiff_source() override {
        if (tif_) TIFFClose(tif_);
    }

    // Opens page `page` (from 1) of path. Returns 0, or -1 with error() set.
    int open(const std::string& path, int32_t page);

    int next(image_row* row) override;
    int rewind() override;

  private:
    int fail(const std::string& what);
    int read_layout();
    int load_tile_band(uint32_t y);
    void convert_row(const uint8_t* raw);
    unsigned sample8(const uint8_t* raw, size_t i) const;

    static int on_error(TIFF*, void* self, const char* module, const char* fmt, va_list ap);
    static int on_warning(TIFF*, void* self, const char* module, const char* fmt, va_list ap);

    TIFF* tif_ = nullptr;
    std::string path_;
    int32_t page_ = 1;          // the page open, from 1
    std::string message_;       // libtiff's last error, in its words
    bool reading_rows_ = false; // libtiff is decoding image data (codec warnings fail)
    bool failed_ = false;       // a row could not be decoded: every later call fails

    // The layout of the page, from its tags.
    uint16_t bits_ = 1;            // bits a sample: 1, 2, 4, 8 or 16
    uint16_t samples_ = 1;         // samples a pixel, extra samples included
    uint16_t photometric_ = 0;     // PHOTOMETRIC_MINISWHITE, _MINISBLACK, _RGB or _PALETTE
    int alpha_ = 0;                // 0: none; 1: unassociated alpha; 2: premultiplied
    uint16_t alpha_sample_ = 0;    // index of the alpha sample within a pixel
    uint8_t palette_[256][3] = {}; // palette images: colours, 8 bits each
    bool tiled_ = false;
    uint32_t tile_w_ = 0, tile_h_ = 0; // tiled: tile size in pixels
    size_t tile_row_bytes_ = 0;        // tiled: bytes of one row of one tile
    size_t band_stride_ = 0;           // tiled: bytes of one row across every tile
    int64_t band_y0_ = -1;             // tiled: first image row in band_, -1 = none

    int32_t next_y_ = 0;        // next row to deliver
    std::vector<uint8_t> raw_;  // striped: one stored row
    std::vector<uint8_t> tile_; // tiled: one decoded tile
    std::vector<uint8_t> band_; // tiled: one row of tiles, stored rows side by side
    std::vector<uint8_t> out_;  // the row in the source's compact form
};

// A libtiff message without the file's name that some messages begin with.
std::string clean_message(const std::string& path, const char* fmt, va_list ap) {
    char text[512];
    std::vsnprintf(text, sizeof text, fmt, ap);
    std::string s = text;
    for (size_t at; !path.empty() && (at = s.find(path + ": ")) != std::string::npos;)
        s.erase(at, path.size() + 2);
    return s;
}

int tiff_source::on_error(TIFF*, void* self, const char*, const char* fmt, va_list ap) {
    auto* s = static_cast<tiff_source*>(self);
    if (s->message_.empty()) s->message_ = clean_message(s->path_, fmt, ap);
    return 1; // handled: nothing on standard error
}

// Warnings are harmless while tags are read (unknown tags, odd values libtiff
// corrects). While rows are decoded, the fax decoders only warn about a line of the
// wrong length or data that ends before the strip's last line, and fill the rest of the
// strip with white: lost drawing reported as success, so those warnings fail the row.
int tiff_source::on_warning(TIFF*, void* self, const char* module, const char* fmt, va_list ap) {
    auto* s = static_cast<tiff_source*>(self);
    if (s->reading_rows_ && module && std::strncmp(module, "Fax", 3) == 0 && s->message_.empty())
        s->message_ = clean_message(s->path_, fmt, ap);
    return 1;
}

int tiff_source::fail(const std::string& what) {
    error_ = "TIFF page " + std::to_string(page_) + " " + what;
    if (!message_.empty()) error_ += ": " + message_;
    message_.clear();
    return -1;
}

int tiff_source::open(const std::string& path, int32_t page) {
    path_ = path;
    page_ = page;
    info_.format = "TIFF";
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return fail("cannot be read: out of memory");
    TIFFOpenOptionsSetErrorHandlerExtR(options, on_error, this);
    TIFFOpenOptionsSetWarningHandlerExtR(options, on_warning, this);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, max_libtiff_alloc);
    tif_ = TIFFOpenExt(path.c_str(), "r", options);
    TIFFOpenOptionsFree(options);
    if (!tif_) {
        error_ = "damaged TIFF file";
        if (!message_.empty()) error_ += ": " + message_;
        return -1;
    }
    const tdir_t pages = TIFFNumberOfDirectories(tif_);
    info_.pages = static_cast<int32_t>(std::min<tdir_t>(pages, INT32_MAX));
    if (page > info_.pages) {
        error_ = "the TIFF file holds " + std::to_string(info_.pages) +
                 (info_.pages == 1 ? " page" : " pages") + ", not page " + std::to_string(page);
        return -1;
    }
    message_.clear();
    if (page > 1 && !TIFFSetDirectory(tif_, static_cast<tdir_t>(page - 1)))
        return fail("cannot be read");
    if (read_layout() < 0) return -1;
    message_.clear();
    count_decode();
    return 0;
}

// Reads and checks the page's tags and sizes its buffers. Returns 0, or -1 with error_
// set for a kind the source does not read or sizes it refuses.
int tiff_source::read_layout() {
    uint32_t width = 0, height = 0;
    TIFFGetField(tif_, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif_, TIFFTAG_IMAGELENGTH, &height);
    if (width == 0 || height == 0 || width > image_formats_max_side ||
        height > image_formats_max_side)
        return fail("has an impossible size of " + std::to_string(width) + " x " +
                    std::to_string(height) + " pixels (at most " +
                    std::to_string(image_formats_max_side) + " each way)");
    info_.width = static_cast<int32_t>(width);
    info_.height = static_cast<int32_t>(height);

    uint16_t format = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG;
    TIFFGetFieldDefaulted(tif_, TIFFTAG_BITSPERSAMPLE, &bits_);
    TIFFGetFieldDefaulted(tif_, TIFFTAG_SAMPLESPERPIXEL, &samples_);
    TIFFGetFieldDefaulted(tif_, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif_, TIFFTAG_PLANARCONFIG, &planar);
    if (!TIFFGetField(tif_, TIFFTAG_PHOTOMETRIC, &photometric_))
        photometric_ = samples_ >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISWHITE;
    uint16_t extras = 0;
    uint16_t* extra_kinds = nullptr;
    TIFFGetFieldDefaulted(tif_, TIFFTAG_EXTRASAMPLES, &extras, &extra_kinds);

    // JPEG-compressed colour (scanners' colour TIFFs) is stored as YCbCr; libtiff's JPEG
    // codec turns it into RGB rows, subsampled chroma included.
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif_, TIFFTAG_COMPRESSION, &compression);
    if (photometric_ == PHOTOMETRIC_YCBCR && compression == COMPRESSION_JPEG && bits_ == 8) {
        TIFFSetField(tif_, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        photometric_ = PHOTOMETRIC_RGB;
    }
    const int colours = photometric_ == PHOTOMETRIC_RGB ? 3 : 1;
    const bool known_colour =
        photometric_ == PHOTOMETRIC_MINISWHITE || photometric_ == PHOTOMETRIC_MINISBLACK ||
        photometric_ == PHOTOMETRIC_RGB || photometric_ == PHOTOMETRIC_PALETTE;
    if (!known_colour)
        return fail("is in colour model " + std::to_string(photometric_) +
                    ", which is not read (grey, RGB and palette images are)");
    if (format != SAMPLEFORMAT_UINT)
        return fail("has signed or floating-point samples, which are not read");
    if (samples_ < colours || samples_ - colours != extras)
        return fail("has " + std::to_string(samples_) + " samples a pixel, which its colour " +
                    "model does not explain");
    if (samples_ > 1 && planar != PLANARCONFIG_CONTIG)
        return fail("stores its colour planes separately, which is not read (tiffcp -p "
                    "contig makes a copy that is)");
    const bool bits_ok = photometric_ == PHOTOMETRIC_PALETTE
                             ? bits_ == 1 || bits_ == 2 || bits_ == 4 || bits_ == 8
                         : photometric_ == PHOTOMETRIC_RGB
                             ? bits_ == 8 || bits_ == 16
                             : bits_ == 1 || bits_ == 2 || bits_ == 4 || bits_ == 8 || bits_ == 16;
    if (!bits_ok)
        return fail("has " + std::to_string(bits_) + "-bit samples, which are not read here");
    alpha_ = 0;
    if (extras > 0 && extra_kinds) {
        alpha_ = extra_kinds[0] == EXTRASAMPLE_UNASSALPHA   ? 1
                 : extra_kinds[0] == EXTRASAMPLE_ASSOCALPHA ? 2
                                                            : 0;
        alpha_sample_ = static_cast<uint16_t>(colours);
    }
    info_.mono = bits_ == 1 && samples_ == 1 && photometric_ != PHOTOMETRIC_PALETTE;

    if (photometric_ == PHOTOMETRIC_PALETTE) {
        uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
        if (!TIFFGetField(tif_, TIFFTAG_COLORMAP, &r, &g, &b))
            return fail("is a palette image without its palette");
        // Colour maps hold 16-bit values; some writers put 8-bit values in them, which
        // shows as no entry above 255.
        const int n = 1 << bits_;
        bool eight = true;
        for (int i = 0; i < n; ++i) eight = eight && r[i] < 256 && g[i] < 256 && b[i] < 256;
        for (int i = 0; i < n; ++i) {
            palette_[i][0] = static_cast<uint8_t>(eight ? r[i] : r[i] >> 8);
            palette_[i][1] = static_cast<uint8_t>(eight ? g[i] : g[i] >> 8);
            palette_[i][2] = static_cast<uint8_t>(eight ? b[i] : b[i] >> 8);
        }
    }

    float xres = 0, yres = 0;
    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif_, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (unit != RESUNIT_NONE && TIFFGetField(tif_, TIFFTAG_XRESOLUTION, &xres) &&
        TIFFGetField(tif_, TIFFTAG_YRESOLUTION, &yres) && xres > 0 && yres > 0) {
        const double per_inch = unit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
        info_.dpi_x = xres * per_inch;
        info_.dpi_y = yres * per_inch;
    }

    tiled_ = TIFFIsTiled(tif_) != 0;
    const uint64_t row_bytes = (uint64_t{width} * samples_ * bits_ + 7) / 8;
    if (tiled_) {
        TIFFGetField(tif_, TIFFTAG_TILEWIDTH, &tile_w_);
        TIFFGetField(tif_, TIFFTAG_TILELENGTH, &tile_h_);
        const uint64_t tile_bytes = static_cast<uint64_t>(TIFFTileSize64(tif_));
        tile_row_bytes_ = static_cast<size_t>(TIFFTileRowSize64(tif_));
        const uint64_t across = tile_w_ ? (uint64_t{width} + tile_w_ - 1) / tile_w_ : 0;
        if (tile_w_ == 0 || tile_h_ == 0 || tile_bytes == 0 || tile_row_bytes_ == 0 ||
            tile_row_bytes_ * 8 != uint64_t{tile_w_} * samples_ * bits_ ||
            tile_bytes > static_cast<uint64_t>(max_libtiff_alloc) ||
            across * tile_bytes > max_tile_band)
            return fail("has tiles of " + std::to_string(tile_w_) + " x " +
                        std::to_string(tile_h_) + " pixels, which cannot be read");
        band_stride_ = static_cast<size_t>(across) * tile_row_bytes_;
        tile_.assign(static_cast<size_t>(tile_bytes), 0);
        band_.assign(band_stride_ * tile_h_, 0);
    } else {
        const uint64_t scanline = static_cast<uint64_t>(TIFFScanlineSize64(tif_));
        if (scanline < row_bytes) return fail("has rows that cannot be read");
        raw_.assign(static_cast<size_t>(scanline), 0);
    }
    out_.assign(info_.mono ? (width + 7) / 8 : size_t{width} * 3, 0);
    return 0;
}

// Decodes the row of tiles holding image row y into band_. Returns 0 or -1.
int tiff_source::load_tile_band(uint32_t y) {
    const uint32_t y0 = y - y % tile_h_;
    for (uint32_t x = 0, k = 0; x < static_cast<uint32_t>(info_.width); x += tile_w_, ++k) {
        const ttile_t tile = TIFFComputeTile(tif_, x, y0, 0, 0);
        reading_rows_ = true;
        const tmsize_t got =
            TIFFReadEncodedTile(tif_, tile, tile_.data(), static_cast<tmsize_t>(tile_.size()));
        reading_rows_ = false;
        if (got < 0 || !message_.empty()) return fail("has a broken tile " + std::to_string(tile));
        for (uint32_t r = 0; r < tile_h_; ++r)
            std::memcpy(&band_[r * band_stride_ + k * tile_row_bytes_], &tile_[r * tile_row_bytes_],
                        tile_row_bytes_);
    }
    band_y0_ = y0;
    return 0;
}

// Sample i of a stored row (pixel i / samples_, sample i % samples_), as 8 bits.
unsigned tiff_source::sample8(const uint8_t* raw, size_t i) const {
    switch (bits_) {
    case 16: {
        uint16_t v;
        std::memcpy(&v, raw + 2 * i, 2); // libtiff gives samples in the machine's order
        return v >> 8;
    }
    case 8:
        return raw[i];
    default: {
        const size_t bit = i * bits_;
        const unsigned v = (raw[bit / 8] >> (8 - bits_ - bit % 8)) & ((1u << bits_) - 1);
        return v * 255 / ((1u << bits_) - 1);
    }
    }
}

// Turns a stored row into out_.
void tiff_source::convert_row(const uint8_t* raw) {
    const size_t width = static_cast<size_t>(info_.width);
    uint8_t* out = out_.data();
    if (info_.mono) {
        // Kept 1 is black: stored 1 is black when 0 is white.
        const bool invert = photometric_ == PHOTOMETRIC_MINISBLACK;
        const size_t n = (width + 7) / 8;
        for (size_t i = 0; i < n; ++i) out[i] = invert ? static_cast<uint8_t>(~raw[i]) : raw[i];
        if (width % 8) out[n - 1] &= static_cast<uint8_t>(0xFF00 >> (width % 8));
        return;
    }
    for (size_t x = 0; x < width; ++x, out += 3) {
        const size_t at = x * samples_;
        unsigned c[3];
        if (photometric_ == PHOTOMETRIC_PALETTE) {
            const size_t bit = at * bits_;
            const unsigned k = bits_ == 8
                                   ? raw[at]
                                   : (raw[bit / 8] >> (8 - bits_ - bit % 8)) & ((1u << bits_) - 1);
            for (int i = 0; i < 3; ++i) c[i] = palette_[k][i];
        } else if (photometric_ == PHOTOMETRIC_RGB) {
            for (int i = 0; i < 3; ++i) c[i] = sample8(raw, at + i);
        } else {
            unsigned g = sample8(raw, at);
            if (photometric_ == PHOTOMETRIC_MINISWHITE) g = 255 - g;
            c[0] = c[1] = c[2] = g;
        }
        if (alpha_ != 0) {
            const unsigned a = sample8(raw, at + alpha_sample_);
            for (int i = 0; i < 3; ++i)
                c[i] = alpha_ == 1 ? png_over_white(c[i], a) : std::min(255u, c[i] + 255 - a);
        }
        for (int i = 0; i < 3; ++i) out[i] = static_cast<uint8_t>(c[i]);
    }
}

int tiff_source::next(image_row* row) {
    if (failed_ || !tif_) return -1;
    if (next_y_ >= info_.height) return 0;
    const uint32_t y = static_cast<uint32_t>(next_y_);
    const uint8_t* raw;
    if (tiled_) {
        if (band_y0_ < 0 || y < band_y0_ || y >= band_y0_ + tile_h_) {
            if (load_tile_band(y) < 0) {
                failed_ = true;
                return -1;
            }
        }
        raw = &band_[(y - band_y0_) * band_stride_];
    } else {
        reading_rows_ = true;
        const int got = TIFFReadScanline(tif_, raw_.data(), y, 0);
        reading_rows_ = false;
        if (got < 0 || !message_.empty()) {
            failed_ = true;
            return fail("has a broken strip " + std::to_string(TIFFComputeStrip(tif_, y, 0)));
        }
        raw = raw_.data();
    }
    convert_row(raw);
    row->y = next_y_++;
    row->x0 = 0;
    row->dx = 1;
    row->count = info_.width;
    row->pixels = out_.data();
    return 1;
}

// Starts again from the first row: libtiff decodes a strip again from its start when a
// row before the last one read is asked for, and tiles are decoded afresh.
int tiff_source::rewind() {
    if (failed_ || !tif_) return -1;
    next_y_ = 0;
    band_y0_ = -1;
    count_decode();
    return 0;
}

} // namespace

std::unique_ptr<image_source> open_tiff_source(const std::string& path, const uint8_t* head,
                                               size_t head_size, const image_open_options& options,
                                               std::string* why) {
    // Classic TIFF (42) and BigTIFF (43), in either byte order.
    if (head_size < 4 ||
        !((head[0] == 'I' && head[1] == 'I' && head[3] == 0 && (head[2] == 42 || head[2] == 43)) ||
          (head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43))))
        return nullptr;
    auto source = std::make_unique<tiff_source>();
    if (source->open(path, options.page) != 0) {
        *why = source->error();
        return nullptr;
    }
    return source;
}
