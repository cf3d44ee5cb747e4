// Opening image files by what their first bytes show, and the PNG source.
//
// The PNG source is the reader of png_image.h behind the common interface: libpng, or
// in a build without it the built-in decoder. Other formats come from openers that
// programs add; the list is fixed after start, short, and tried in order.
#include "images/image_source.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

#include "images/image_store.h"
#include "images/png_image.h"

namespace {

// Openers added by the program, tried in order before PNG.
struct image_sources_state {
    image_opener openers[8]; // the first count are in use
    size_t count;
};

image_sources_state sources_state = {{}, 0};
std::atomic<uint64_t> decodes{0};

class png_source final : public image_source {
  public:
    ~png_source() override { png_reader_close(reader_); }

    // Opens path as a PNG. Returns 0, or -1 with error() set.
    int open(const std::string& path) {
        path_ = path;
        if (png_reader_open(reader_, path) != 0) {
            error_ = reader_.error;
            return -1;
        }
        count_decode();
        const png_header& h = reader_.header;
        info_.width = h.width;
        info_.height = h.height;
        info_.mono = h.mono != 0;
        info_.interlaced = h.interlaced != 0;
        info_.format = "PNG";
        return 0;
    }

    int next(image_row* row) override {
        if (!reader_.png) return -1;
        const int got = png_reader_next(reader_, row);
        if (got < 0) error_ = reader_.error;
        return got;
    }

    int rewind() override {
        png_reader_close(reader_);
        reader_ = png_reader{};
        return open(path_);
    }

  private:
    png_reader reader_{};
    std::string path_;
};

// A window of another source's image (image_open_options::crop), delivered as an image
// of the window's size. Rows above the window are decoded and dropped; decoding stops
// after its last row unless the image is interlaced.
class cropped_source final : public image_source {
  public:
    cropped_source(std::unique_ptr<image_source> inner, const image_crop& crop)
        : inner_(std::move(inner)), crop_(crop) {
        info_ = inner_->info();
        info_.width = crop.width;
        info_.height = crop.height;
        const size_t bytes = info_.mono ? (static_cast<size_t>(crop.width) + 7) / 8
                                        : static_cast<size_t>(crop.width) * 3;
        pixels_.assign(bytes + 1, 0);
    }

    int next(image_row* row) override {
        for (;;) {
            if (!info_.interlaced && next_y_ >= crop_.y + crop_.height) return 0;
            image_row in;
            const int got = inner_->next(&in);
            if (got < 0) error_ = inner_->error();
            if (got <= 0) return got;
            next_y_ = in.y + 1;
            if (in.y < crop_.y || in.y >= crop_.y + crop_.height) continue;
            // The first pixel of the row at or right of the window's left edge.
            int64_t j = 0;
            if (in.x0 < crop_.x) j = (crop_.x - in.x0 + in.dx - 1) / in.dx;
            const int64_t x_end = int64_t{crop_.x} + crop_.width;
            int64_t count = 0;
            if (j < in.count && in.x0 + j * in.dx < x_end)
                count = std::min<int64_t>(in.count - j,
                                          (x_end - (in.x0 + j * in.dx) + in.dx - 1) / in.dx);
            if (count == 0) continue;
            if (info_.mono) {
                std::fill(pixels_.begin(), pixels_.end(), 0);
                for (int64_t i = 0; i < count; ++i) {
                    const int64_t b = j + i;
                    if (in.pixels[b / 8] >> (7 - b % 8) & 1) pixels_[i / 8] |= 0x80 >> (i % 8);
                }
                row->pixels = pixels_.data();
            } else {
                row->pixels = in.pixels + j * 3;
            }
            row->y = in.y - crop_.y;
            row->x0 = static_cast<int32_t>(in.x0 + j * in.dx - crop_.x);
            row->dx = in.dx;
            row->count = static_cast<int32_t>(count);
            return 1;
        }
    }

    int rewind() override {
        next_y_ = 0;
        if (inner_->rewind() == 0) return 0;
        error_ = inner_->error();
        return -1;
    }

  private:
    std::unique_ptr<image_source> inner_;
    image_crop crop_;
    int32_t next_y_ = 0;          // next row the inner source delivers
    std::vector<uint8_t> pixels_; // a one-bit row of the window
};

// Another source's image turned a quarter anticlockwise (image_open_options::turned):
// row r is the original's column w - 1 - r, read top to bottom, so the original's right
// edge becomes the top row. The original is decoded once, on the first row asked for,
// into an image store in columns order, where a column is already laid out as a row of
// the turned image (bits or 3-byte pixels); starting again reads the store again and
// decodes nothing.
class turned_source final : public image_source {
  public:
    turned_source(std::unique_ptr<image_source> inner, size_t budget, std::string folder)
        : inner_(std::move(inner)), budget_(budget ? budget : image_store_default_budget),
          folder_(std::move(folder)) {
        info_ = inner_->info();
        std::swap(info_.width, info_.height);
        std::swap(info_.dpi_x, info_.dpi_y);
        info_.interlaced = false;
        info_.turned = true;
    }
    ~turned_source() override { image_store_close(store_); }

    int next(image_row* row) override {
        if (failed_) return -1;
        if (!filled_) {
            if (image_store_fill(store_, *inner_, image_store_order::columns, budget_, folder_,
                                 &error_) < 0)
                return fail();
            filled_ = true;
            inner_.reset(); // its rows are all in the store
        }
        if (y_ >= info_.height) return 0;
        const int32_t column = info_.height - 1 - y_;
        if (image_store_hold(store_, column, &error_) < 0) return fail();
        row->y = y_++;
        row->x0 = 0;
        row->dx = 1;
        row->count = info_.width;
        row->pixels = store_.band.data() + static_cast<size_t>(column - store_.b0) * store_.stride;
        return 1;
    }

    int rewind() override {
        if (failed_) return -1;
        y_ = 0;
        return 0;
    }

  private:
    int fail() {
        failed_ = true;
        image_store_close(store_);
        return -1;
    }

    std::unique_ptr<image_source> inner_; // the original, until it is stored
    size_t budget_;                       // bytes of the store kept in memory
    std::string folder_;                  // where its temporary file goes; "" = system's
    image_store store_;
    bool filled_ = false; // the original is wholly in store_
    bool failed_ = false; // every later call fails
    int32_t y_ = 0;       // next row delivered
};

// Turns source when options ask for it and its format did not (a rendered page turns
// itself), then wraps it in its crop window when options ask for one.
std::unique_ptr<image_source> turn_of(std::unique_ptr<image_source> source,
                                      const image_open_options& options) {
    if (!options.turned || source->info().turned) return source;
    return std::make_unique<turned_source>(std::move(source), options.store_budget,
                                           options.store_folder);
}

// Wraps source in its crop window when options ask for one. Returns null with *why set
// when the window is not wholly inside the image.
std::unique_ptr<image_source> crop_of(std::unique_ptr<image_source> source,
                                      const image_open_options& options, std::string* why) {
    const image_crop& c = options.crop;
    if (c.width == 0 && c.height == 0) return source;
    const image_info& info = source->info();
    if (c.x < 0 || c.y < 0 || c.width < 1 || c.height < 1 || c.x > info.width - c.width ||
        c.y > info.height - c.height) {
        *why = "the window " + std::to_string(c.width) + "x" + std::to_string(c.height) + "+" +
               std::to_string(c.x) + "+" + std::to_string(c.y) + " is not inside the " +
               std::to_string(info.width) + "x" + std::to_string(info.height) + " image";
        return nullptr;
    }
    return std::make_unique<cropped_source>(std::move(source), c);
}

constexpr uint8_t png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

} // namespace

// Set while a file is only probed: its open is not a decode.
static thread_local bool probing = false;

void image_source::count_decode() {
    if (!probing) decodes.fetch_add(1, std::memory_order_relaxed);
}

std::unique_ptr<image_source>
probe_image_source(const std::string& path, const image_open_options& options, std::string* why) {
    probing = true;
    std::unique_ptr<image_source> source = open_image_source(path, options, why);
    probing = false;
    return source;
}

uint64_t image_decodes() {
    return decodes.load(std::memory_order_relaxed);
}

void image_sources_add(image_opener opener) {
    for (size_t i = 0; i < sources_state.count; ++i)
        if (sources_state.openers[i] == opener) return;
    if (sources_state.count < std::size(sources_state.openers))
        sources_state.openers[sources_state.count++] = opener;
}

std::unique_ptr<image_source>
open_image_source(const std::string& path, const image_open_options& options, std::string* why) {
    uint8_t head[16] = {};
    size_t got = 0;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        got = std::fread(head, 1, sizeof head, f);
        std::fclose(f);
    } else {
        *why = std::strerror(errno);
        return nullptr;
    }
    for (size_t i = 0; i < sources_state.count; ++i) {
        why->clear();
        auto source = sources_state.openers[i](path, head, got, options, why);
        if (source) return crop_of(turn_of(std::move(source), options), options, why);
        if (!why->empty()) return nullptr;
    }
    if (got < sizeof png_signature || std::memcmp(head, png_signature, sizeof png_signature) != 0) {
        *why = "not a PNG file";
        if (sources_state.count == 0 && got >= 4 &&
            (std::memcmp(head, "%PDF", 4) == 0 || std::memcmp(head, "II*", 3) == 0 ||
             std::memcmp(head, "MM\0*", 4) == 0 || (head[0] == 0xFF && head[1] == 0xD8)))
            *why = "a PDF, TIFF or JPEG file, which this build does not read (only PNG)";
        return nullptr;
    }
    if (options.page != 1) {
        *why = "a PNG file holds one image, not page " + std::to_string(options.page);
        return nullptr;
    }
    auto source = std::make_unique<png_source>();
    if (source->open(path) != 0) {
        *why = source->error();
        return nullptr;
    }
    return crop_of(turn_of(std::move(source), options), options, why);
}
