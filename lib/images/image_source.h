// Image files read row by row, whatever their format: one interface over PNG (here),
// and TIFF, JPEG and PDF pages (libraries of their own that a program adds at start).
//
// Sources never hold a whole image: a source hands out one stored row at a time in the
// compact form the raster host keeps (bits for one-bit images, red-green-blue bytes
// composited over white for every other kind), top to bottom, or in passes for an
// interlaced PNG (each row says which pixels it carries). Whoever needs the image in
// another order (columns, for a rotated sheet) keeps what it needs of the rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// One row as a source delivers it: count pixels of image row y, in columns x0,
// x0 + dx, x0 + 2 dx, ...
struct image_row {
    int32_t y;             // image row, 0 = top
    int32_t x0;            // column of the first pixel
    int32_t dx;            // column step between pixels (1 unless interlaced)
    int32_t count;         // pixels in the row, >= 1
    const uint8_t* pixels; // mono: bits, first pixel in bit 7, 1 = black;
                           // colour: 3 bytes a pixel, red, green, blue
};

// What a source knows of its image once opened, before any row is decoded.
struct image_info {
    int32_t width = 0, height = 0; // pixels, >= 1 each
    bool mono = false;             // one-bit image: sent as the driver's one-bit kind
    bool interlaced = false;       // rows come in several passes, not once top to bottom
    double dpi_x = 0, dpi_y = 0;   // pixels per inch the file states; 0 = it says nothing
    int32_t pages = 1;             // pages (PDF) or images (TIFF) the file holds, >= 1
    std::string format;            // "PNG", "TIFF", "JPEG", "PDF": for messages
    bool turned = false;           // delivered turned a quarter anticlockwise, as the open
                                   // options asked (set by a source that turns by itself)
};

// A window of an image: columns x..x+width-1 of rows y..y+height-1. A width of 0
// means the whole image.
struct image_crop {
    int32_t x = 0, y = 0;          // first column and row, from 0
    int32_t width = 0, height = 0; // pixels, >= 1 each, or 0 = the whole image
};

// Which image of a file to open, and how to render one that is drawn rather than
// stored as pixels.
struct image_open_options {
    int32_t page = 1;       // page (PDF) or image (TIFF) of the file, from 1
    double render_dpi = 72; // PDF: pixels per inch the page is rendered at
    // The image delivered turned a quarter anticlockwise (a portrait page across a
    // landscape sheet): its right edge becomes its top row. A PDF page is rendered
    // turned; any other image is decoded once into an image store and read back
    // column by column.
    bool turned = false;
    // Only this window of the image is delivered, as an image of the window's size (a
    // page larger than the sheet); the window is taken from the image as turned.
    image_crop crop = {};
    // A turned raster image: bytes of decoded pixels kept in memory (0 = the image
    // store's default); beyond it a temporary file in store_folder ("" = the system's
    // temporary folder) takes the rest.
    size_t store_budget = 0;
    std::string store_folder;
};

// An image being decoded. A source is used by one thread at a time.
class image_source {
  public:
    virtual ~image_source() = default;
    image_source(const image_source&) = delete;
    image_source& operator=(const image_source&) = delete;

    const image_info& info() const { return info_; }

    // Decodes the next row into *row (valid until the next call). Returns 1 for a row,
    // 0 after the last one, -1 when the data cannot be decoded (error() says why, in
    // words that can follow the file's name; later calls return -1 too).
    virtual int next(image_row* row) = 0;

    // Starts the image again from its first row (a decode started again counts as one
    // more decode). Returns 0, or -1 with error() set.
    virtual int rewind() = 0;

    const std::string& error() const { return error_; }

  protected:
    image_source() = default;
    // Counts one decode of an image begun (opened or rewound): see image_decodes().
    static void count_decode();

    image_info info_;
    std::string error_;
};

// A format's opener: the source for path, whose first head_size bytes are head (up to
// 16). Returns null with *why empty when the file is not in its format, null with *why
// set when it is but cannot be opened.
using image_opener = std::unique_ptr<image_source> (*)(const std::string& path, const uint8_t* head,
                                                       size_t head_size,
                                                       const image_open_options& options,
                                                       std::string* why);

// Adds an opener tried, in the order added, before PNG. Programs call this once at
// start for the formats they link; adding the same opener again does nothing.
void image_sources_add(image_opener opener);

// Opens path in whichever format its first bytes show. Returns the source ready to
// deliver its first row, or null with *why saying what is wrong (missing, unreadable,
// a format this build does not read, a damaged header, no such page, a crop window
// outside the image). With options.turned set, the source delivers the image turned;
// with options.crop set, it delivers that window only (of the image as turned).
std::unique_ptr<image_source>
open_image_source(const std::string& path, const image_open_options& options, std::string* why);

// Opens path as open_image_source does, to learn what the file says of its image
// (size, kind, pages) before it is placed: this open is not counted as a decode, so
// the source is for info() only and is not to be read.
std::unique_ptr<image_source>
probe_image_source(const std::string& path, const image_open_options& options, std::string* why);

// Decodes of images begun in this process so far: every open and every rewind of a
// source that is read (probes aside). How tests and benchmarks tell that an image
// was decoded once per job.
uint64_t image_decodes();
