// JPEG files as image sources, read with libjpeg.
//
// Photos and colour scans: grey, YCbCr or RGB, and CMYK or YCCK from prepress tools.
// All become red-green-blue bytes. CMYK is turned into RGB plainly, each colour the
// product of its ink's and black's complements, with no colour management; files that
// carry an Adobe marker store their inks inverted (0 = full ink), as those tools write
// them, and are read so. A baseline file is decoded one row at a time; a progressive one
// is held by libjpeg as coefficients for the whole image (two bytes a sample), which is
// refused beyond a fixed amount of memory rather than swapped.
//
// libjpeg reports a damaged file by calling an error handler that must not return; it
// jumps back to the point set with setjmp. Only the small functions that call libjpeg
// set that point and they hold nothing but plain locals, so the jump never skips a
// destructor. libjpeg only warns when the data ends before the image does, and pads the
// rest with grey: here that is an error, "JPEG data ends early".
#include "formats/image_formats.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include <jerror.h>

namespace {

// Memory libjpeg may use for one image, its coefficient buffers included.
constexpr long max_decoder_memory = 1L << 30;

// libjpeg's error manager with the jump and the message of the failure.
struct jpeg_failure {
    jpeg_error_mgr mgr; // first: libjpeg sees only this
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX + 64];
};

[[noreturn]] void on_error(j_common_ptr cinfo) {
    auto* f = reinterpret_cast<jpeg_failure*>(cinfo->err);
    if (cinfo->err->msg_code == JERR_NO_BACKING_STORE)
        std::snprintf(f->message, sizeof f->message,
                      "the image needs more than %ld MiB to decode (a progressive JPEG is held "
                      "whole)",
                      max_decoder_memory >> 20);
    else
        (*cinfo->err->format_message)(cinfo, f->message);
    std::longjmp(f->jump, 1);
}

// Warnings that mean the data ended or broke off early become errors; the rest (odd
// markers, stray bytes between segments) change no pixel and are dropped, as are traces.
void on_message(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    const int code = cinfo->err->msg_code;
    if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER) {
        auto* f = reinterpret_cast<jpeg_failure*>(cinfo->err);
        std::snprintf(f->message, sizeof f->message, "JPEG data ends early");
        std::longjmp(f->jump, 1);
    }
}

class jpeg_source final : public image_source {
  public:
    ~jpeg_source() override { close(); }

    // Opens path and reads its header. Returns 0, or -1 with error() set.
    int open(const std::string& path) {
        path_ = path;
        info_.format = "JPEG";
        return start();
    }

    int next(image_row* row) override;

    int rewind() override {
        close();
        return start();
    }

  private:
    int start();
    int begin();
    int read_row();
    void close();
    void convert_row();

    std::string path_;
    std::FILE* file_ = nullptr;
    jpeg_decompress_struct cinfo_{};
    jpeg_failure failure_{};
    bool live_ = false;        // cinfo_ was created
    bool failed_ = false;      // decoding failed: every later call fails
    bool inverted_ = false;    // CMYK with an Adobe marker: 0 = full ink
    int32_t next_y_ = 0;       // next row to deliver
    std::vector<uint8_t> raw_; // one decoded row, libjpeg's components
    std::vector<uint8_t> out_; // the same row as red, green, blue
};

void jpeg_source::close() {
    if (live_) jpeg_destroy_decompress(&cinfo_);
    live_ = false;
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

// Creates the decompressor, reads the header, checks the size and starts decoding.
// Returns 0, or -1 with failure_.message set.
int jpeg_source::begin() {
    if (setjmp(failure_.jump)) return -1;
    cinfo_.err = jpeg_std_error(&failure_.mgr);
    failure_.mgr.error_exit = on_error;
    failure_.mgr.emit_message = on_message;
    jpeg_create_decompress(&cinfo_);
    live_ = true;
    cinfo_.mem->max_memory_to_use = max_decoder_memory;
    jpeg_stdio_src(&cinfo_, file_);
    jpeg_read_header(&cinfo_, TRUE);
    if (cinfo_.image_width == 0 || cinfo_.image_height == 0 ||
        cinfo_.image_width > image_formats_max_side ||
        cinfo_.image_height > image_formats_max_side) {
        std::snprintf(failure_.message, sizeof failure_.message,
                      "the JPEG image has an impossible size of %u x %u pixels", cinfo_.image_width,
                      cinfo_.image_height);
        return -1;
    }
    switch (cinfo_.jpeg_color_space) {
    case JCS_GRAYSCALE:
        cinfo_.out_color_space = JCS_GRAYSCALE;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        cinfo_.out_color_space = JCS_CMYK;
        break;
    default:
        cinfo_.out_color_space = JCS_RGB;
        break;
    }
    inverted_ = cinfo_.out_color_space == JCS_CMYK && cinfo_.saw_Adobe_marker;
    jpeg_start_decompress(&cinfo_);
    return 0;
}

int jpeg_source::start() {
    failed_ = false;
    next_y_ = 0;
    file_ = std::fopen(path_.c_str(), "rb");
    if (!file_) {
        error_ = std::strerror(errno);
        return -1;
    }
    failure_.message[0] = '\0';
    if (begin() < 0) {
        error_ = failure_.message;
        close();
        return -1;
    }
    info_.width = static_cast<int32_t>(cinfo_.output_width);
    info_.height = static_cast<int32_t>(cinfo_.output_height);
    info_.mono = false;
    info_.interlaced = false;
    info_.pages = 1;
    if (cinfo_.saw_JFIF_marker && cinfo_.X_density > 0 && cinfo_.Y_density > 0 &&
        (cinfo_.density_unit == 1 || cinfo_.density_unit == 2)) {
        const double per_inch = cinfo_.density_unit == 2 ? 2.54 : 1.0;
        info_.dpi_x = cinfo_.X_density * per_inch;
        info_.dpi_y = cinfo_.Y_density * per_inch;
    }
    raw_.assign(static_cast<size_t>(cinfo_.output_width) * cinfo_.output_components, 0);
    out_.assign(static_cast<size_t>(cinfo_.output_width) * 3, 0);
    count_decode();
    return 0;
}

// Decodes the next row into raw_; after the last row, reads the file to its end marker.
// Returns 0, or -1 with failure_.message set.
int jpeg_source::read_row() {
    if (setjmp(failure_.jump)) return -1;
    JSAMPROW rows[1] = {raw_.data()};
    if (jpeg_read_scanlines(&cinfo_, rows, 1) != 1) {
        std::snprintf(failure_.message, sizeof failure_.message, "JPEG data ends early");
        return -1;
    }
    if (next_y_ + 1 == info_.height) jpeg_finish_decompress(&cinfo_);
    return 0;
}

// Turns raw_ into red, green, blue bytes in out_.
void jpeg_source::convert_row() {
    const size_t width = cinfo_.output_width;
    const uint8_t* in = raw_.data();
    uint8_t* out = out_.data();
    switch (cinfo_.out_color_space) {
    case JCS_GRAYSCALE:
        for (size_t x = 0; x < width; ++x, out += 3) out[0] = out[1] = out[2] = in[x];
        break;
    case JCS_CMYK:
        for (size_t x = 0; x < width; ++x, in += 4, out += 3) {
            // Each colour's share left by its ink and by black, 255 = no ink.
            const unsigned k = inverted_ ? in[3] : 255u - in[3];
            for (int i = 0; i < 3; ++i) {
                const unsigned c = inverted_ ? in[i] : 255u - in[i];
                out[i] = static_cast<uint8_t>((c * k + 127) / 255);
            }
        }
        break;
    default:
        std::memcpy(out, in, width * 3);
        break;
    }
}

int jpeg_source::next(image_row* row) {
    if (failed_ || !live_) return -1;
    const int32_t y = next_y_;
    if (y >= info_.height) return 0;
    if (read_row() < 0) {
        failed_ = true;
        error_ = failure_.message;
        return -1;
    }
    convert_row();
    ++next_y_;
    row->y = y;
    row->x0 = 0;
    row->dx = 1;
    row->count = info_.width;
    row->pixels = out_.data();
    return 1;
}

} // namespace

std::unique_ptr<image_source> open_jpeg_source(const std::string& path, const uint8_t* head,
                                               size_t head_size, const image_open_options& options,
                                               std::string* why) {
    if (head_size < 3 || head[0] != 0xFF || head[1] != 0xD8 || head[2] != 0xFF) return nullptr;
    if (options.page != 1) {
        *why = "a JPEG file holds one image, not page " + std::to_string(options.page);
        return nullptr;
    }
    auto source = std::make_unique<jpeg_source>();
    if (source->open(path) != 0) {
        *why = source->error();
        return nullptr;
    }
    return source;
}
