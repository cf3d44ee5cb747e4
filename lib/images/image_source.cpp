// Opening image files by what their first bytes show, and the PNG source.
//
// The PNG source is the reader of png_image.h behind the common interface: libpng, or
// in a build without it the built-in decoder. Other formats come from openers that
// programs add; the list is fixed after start, short, and tried in order.
#include "images/image_source.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

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

constexpr uint8_t png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

} // namespace

void image_source::count_decode() {
    decodes.fetch_add(1, std::memory_order_relaxed);
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
        if (source || !why->empty()) return source;
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
    return source;
}
