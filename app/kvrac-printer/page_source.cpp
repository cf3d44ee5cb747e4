// The page file as an image source (see page_source.h).
//
// Workload: an A0 page at 600 dpi is 28,000 rows of 2.5 KB (one bit a dot) or 28 KB
// (grey), read top to bottom, once for an unrotated sheet and once per band of columns
// for a rotated one. Rows are read about a megabyte at a time (of a tiled page, one
// read of each tile's pieces for those rows, which are then put side by side); a
// one-bit row is handed out where it lies in the block, a grey row is widened to three
// bytes a dot.
#include "kvrac-printer/page_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "host/wire.h"
#include "kvrac-printer/page_spool.h"

namespace {

// Bytes of rows read at a time (at least one row).
constexpr size_t block_bytes = 1u << 20;

class page_source final : public image_source {
  public:
    ~page_source() override {
        if (fd_ >= 0) ::close(fd_);
    }

    // Opens path, a page file, and checks its header against its size. Returns 0, or
    // -1 with error() set.
    int open(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) return fail(std::strerror(errno));
        uint8_t h[page_file_header_size];
        if (const std::string e = read_at(h, sizeof h, 0); !e.empty())
            return fail("cannot read the spooled page's header: " + e);
        const uint32_t width = le_u32(h, page_file_width), height = le_u32(h, page_file_height);
        const unsigned bits = le_u16(h, page_file_bits);
        const uint32_t row_bytes = le_u32(h, page_file_row_bytes);
        const uint32_t tile_dots = le_u32(h, page_file_tile_dots);
        if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX ||
            (bits != 1 && bits != 8) || row_bytes != (bits == 1 ? (width + 7) / 8 : width) ||
            (bits == 1 && tile_dots % 8 != 0))
            return fail("a damaged spooled page (its header is not sound)");
        if (le_u16(h, page_file_state) != page_file_complete)
            return fail("a spooled page that was never finished");
        struct stat st {};
        const uint64_t size = page_file_header_size + uint64_t{row_bytes} * height;
        if (::fstat(fd_, &st) != 0) return fail(std::strerror(errno));
        if (static_cast<uint64_t>(st.st_size) != size)
            return fail("a damaged spooled page of " + std::to_string(width) + " x " +
                        std::to_string(height) + " dots: the file has " +
                        std::to_string(st.st_size) + " bytes where it should have " +
                        std::to_string(size));
        info_.width = static_cast<int32_t>(width);
        info_.height = static_cast<int32_t>(height);
        info_.mono = bits == 1;
        info_.format = "spooled page";
        row_bytes_ = row_bytes;
        // A tile as wide as the page or wider is the rows lying whole.
        if (tile_dots != 0 && tile_dots < width)
            tile_bytes_ = bits == 1 ? tile_dots / 8 : tile_dots;
        const size_t rows = std::max<size_t>(1, block_bytes / row_bytes_);
        block_rows_max_ = static_cast<int32_t>(std::min<size_t>(rows, height));
        block_.resize(static_cast<size_t>(block_rows_max_) * row_bytes_);
        // One byte more than the row: a dot is widened by a four-byte store.
        if (!info_.mono) rgb_.resize(static_cast<size_t>(width) * 3 + 1);
        count_decode();
        return 0;
    }

    int next(image_row* row) override {
        if (broken_) return -1;
        if (next_y_ >= info_.height) return 0;
        if (next_y_ >= block_y_ + block_rows_) {
            const int32_t n = std::min(block_rows_max_, info_.height - next_y_);
            const std::string e = read_rows(next_y_, n);
            if (!e.empty())
                return fail("cannot read row " + std::to_string(next_y_ + 1) + " of " +
                            std::to_string(info_.height) + " of the spooled page: " + e);
            block_y_ = next_y_;
            block_rows_ = n;
        }
        const uint8_t* stored =
            block_.data() + static_cast<size_t>(next_y_ - block_y_) * row_bytes_;
        if (!info_.mono) {
            // Each dot's grey to red, green and blue in one store of four bytes, whose
            // fourth the next dot overwrites.
            uint8_t* out = rgb_.data();
            for (size_t x = 0; x < row_bytes_; ++x, out += 3) {
                const uint32_t rgb = stored[x] * 0x01010101u;
                std::memcpy(out, &rgb, 4);
            }
            stored = rgb_.data();
        }
        row->y = next_y_++;
        row->x0 = 0;
        row->dx = 1;
        row->count = info_.width;
        row->pixels = stored;
        return 1;
    }

    int rewind() override {
        if (broken_) return -1;
        next_y_ = 0;
        block_y_ = block_rows_ = 0;
        count_decode();
        return 0;
    }

  private:
    // Reads rows y .. y + n - 1 into block_. Returns "", or why not.
    std::string read_rows(int32_t y, int32_t n) {
        const size_t rows = static_cast<size_t>(n);
        if (tile_bytes_ == 0) {
            return read_at(block_.data(), rows * row_bytes_,
                           static_cast<off_t>(page_file_header_size) +
                               static_cast<off_t>(y) * static_cast<off_t>(row_bytes_));
        }
        // Tile k starts after k full tiles; its pieces are tile_bytes_ long but the
        // last tile's, which are what is left of a row.
        const off_t tile_size = static_cast<off_t>(tile_bytes_) * info_.height;
        for (size_t k = 0, x = 0; x < row_bytes_; ++k, x += tile_bytes_) {
            const size_t piece = std::min(tile_bytes_, row_bytes_ - x);
            pieces_.resize(rows * piece);
            const off_t at = static_cast<off_t>(page_file_header_size) +
                             static_cast<off_t>(k) * tile_size +
                             static_cast<off_t>(y) * static_cast<off_t>(piece);
            if (std::string e = read_at(pieces_.data(), rows * piece, at); !e.empty()) return e;
            for (size_t r = 0; r < rows; ++r)
                std::memcpy(block_.data() + r * row_bytes_ + x, pieces_.data() + r * piece, piece);
        }
        return "";
    }

    // Reads n bytes at `at`. Returns "", or why not: the system's reason, or that the
    // file ends first.
    std::string read_at(uint8_t* out, size_t n, off_t at) {
        while (n > 0) {
            const ssize_t got = ::pread(fd_, out, n, at);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return std::strerror(errno);
            if (got == 0) return "the file ends early";
            out += got;
            n -= static_cast<size_t>(got);
            at += got;
        }
        return "";
    }

    // Sets error() and fails every later call. Returns -1.
    int fail(const std::string& why) {
        error_ = why;
        broken_ = true;
        return -1;
    }

    int fd_ = -1;                 // the open page file
    size_t row_bytes_ = 0;        // bytes of one stored row
    size_t tile_bytes_ = 0;       // bytes of a full tile's piece of a row; 0 = rows lie whole
    std::vector<uint8_t> pieces_; // one tile's pieces of the rows being read
    int32_t next_y_ = 0;          // next row handed out, 0 .. height
    int32_t block_y_ = 0;         // first row held in block_
    int32_t block_rows_ = 0;      // rows held in block_
    int32_t block_rows_max_ = 1;  // rows block_ has room for
    std::vector<uint8_t> block_;  // rows read from the file
    std::vector<uint8_t> rgb_;    // a grey row widened to red, green, blue
    bool broken_ = false;         // a read failed: every later call fails
};

} // namespace

std::unique_ptr<image_source> open_page_source(const std::string& path, const uint8_t* head,
                                               size_t head_size, const image_open_options& options,
                                               std::string* why) {
    if (head_size < sizeof page_file_magic ||
        std::memcmp(head, page_file_magic, sizeof page_file_magic) != 0)
        return nullptr;
    if (options.page != 1) {
        *why = "a spooled page holds one image, not page " + std::to_string(options.page);
        return nullptr;
    }
    auto source = std::make_unique<page_source>();
    if (source->open(path) != 0) {
        *why = source->error();
        return nullptr;
    }
    return source;
}
