// Plot scripts: plain text, one command a line, read as a stream. Lines may end in a
// line feed, a carriage return or both; a UTF-8 byte-order mark at the start is skipped.
//
// A script may have millions of lines; it is read in large blocks and each line is
// parsed in place, so memory stays flat whatever the script's length (one line, and
// one polygon's vertices, at a time). Nearly every line of a long script is a move or
// a draw in plotter units: those are read by a quick path, one pass over the block
// with no copy and no allocation, that gives exactly what the general parser would;
// every other line, and any such line it is unsure of, goes to the general parser.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "drawing/script_quick.h"
#include "drawing/script_text.h"
#include "images/image_source.h"

enum class script_op {
    unit,      // unit plu|mm|in
    move,      // move X Y
    draw,      // draw X Y
    lift,      // lift
    pen,       // pen N
    linetype,  // linetype N
    linetypes, // linetypes N
    width,     // width W[mm|in]
    polygon,   // polygon PEN X1 Y1 X2 Y2 ...
    cancel,    // cancel
    image,     // image X1 Y1 X2 Y2 PATH [transparent] [color N] [page N]
    text,      // text X Y HEIGHT [ANGLE] "TEXT" [left|center|right]
};

enum class script_unit { plu, mm, in };

// An image placed on the sheet; the file's header was read when the line was.
struct script_image {
    uint16_t x1, y1, x2, y2; // corners on the sheet, plotter units
    std::string path;        // the PNG file, relative paths taken from the script's folder
    int32_t width, height;   // the PNG's size in pixels
    bool mono;               // one-bit greyscale PNG: sent as a one-bit image
    bool transparent;        // white (the key colour) does not paint
    long colour;             // one-bit image: colour index, 7 (black) unless given
    long line;               // the script line, for messages
    int32_t page = 1;        // page (PDF) or image (TIFF) of the file, from 1
    double render_dpi = 72;  // PDF: pixels per inch the page is rendered at (width and
                             // height above are its size at that resolution)
    image_crop crop = {};    // the window of the image placed (default: all of it)
    bool turned = false;     // PDF: the page turned a quarter anticlockwise
};

struct script_command {
    script_op op;
    script_unit unit;             // for op unit
    long number;                  // pen, line type, count, polygon pen
    double width_inch;            // width
    uint16_t x, y;                // move, draw (plotter units)
    std::vector<uint16_t> points; // polygon: x, y pairs (plotter units)
    script_image image;           // image
    script_text text;             // text
};

struct script_reader {
    std::FILE* file;         // the script
    std::string name;        // the script's name, for messages
    std::string folder;      // the script's folder, for relative image paths ("" = here)
    long line_number;        // line of the last command returned, from 1
    std::vector<char> block; // read buffer: bytes read, a zero byte after them, padding
    size_t begin, end;       // unread bytes of block (block[end] is the zero byte)
    bool eof;                // the file is exhausted
    bool first_block;        // the next read is the file's first (which may hold a BOM)
    bool cr_lines;           // lines end in a carriage return alone
    bool skip_lf;            // the last line ended the block with a carriage return
    bool block_has_cr;       // the block holds a carriage return somewhere
    std::string carry;       // a line split across blocks
    script_unit unit;        // unit of later coordinates
    double steps_per_inch;   // plotter units per inch, for mm and in
    double device_dpi;       // printer dots per inch: a PDF page in an image line is
                             // rendered at one pixel a dot of its rectangle (0 = 72 dpi)
    std::string error;       // "NAME:LINE: what" after a bad line
    // A regular file's next block, read ahead on a thread of its own while this one is
    // parsed; null for standard input and pipes, which are read when needed.
    std::shared_ptr<struct script_read_ahead> ahead;
};

// Opens a script ("-" for standard input). Returns 0, or 2 with r.error set.
int script_open(script_reader& r, const std::string& path, double steps_per_inch);

void script_close(script_reader& r);

// Reads the next command into cmd. Returns 1 for a command, 0 at the end of the script,
// 2 for a bad line or a read error (r.error says which file and line, and why).
// `unit` lines are applied by the reader and not returned.
int script_next(script_reader& r, script_command& cmd);

namespace script_quick {

// script_points' loop, with `line` the quick path that reads a line.
template <class Line, class Point>
[[gnu::always_inline]] inline long points_loop(script_reader& r, Point& point, Line line) {
    if (r.unit != script_unit::plu || r.skip_lf) return 0;
    const unsigned char* block = reinterpret_cast<const unsigned char*>(r.block.data());
    long n = 0;
    quick_point q;
    while (const unsigned char* next = line(block + r.begin, q)) {
        if (q.lf) r.cr_lines = false;
        r.begin = static_cast<size_t>(next - block);
        ++r.line_number;
        ++n;
        if (!point(q.draw, q.x, q.y)) break;
    }
    return n;
}

#if KVRAC_QUICK_SSSE3
// The quick path with its vector reader first.
struct line_reader_ssse3 {
    [[gnu::target("ssse3")]] const unsigned char* operator()(const unsigned char* p,
                                                             quick_point& q) const {
        const unsigned char* next = line_ssse3(p, q);
        return next ? next : quick_line(p, q);
    }
};

template <class Point> [[gnu::target("ssse3")]] long points_ssse3(script_reader& r, Point& point) {
    return points_loop(r, point, line_reader_ssse3{});
}
#endif

} // namespace script_quick

// Reads the run of moves and draws that follows, each taken by the quick path, handing
// them in order to point(draw, x, y), which returns false to stop after its point. The
// run ends before the first line the quick path does not take (script_next reads that
// one) and at the end of the bytes read. The reader's position and line number follow
// each point. Returns how many lines were read. Long drawings are nearly all such
// runs: their lines go from the block to the caller with nothing in between.
template <class Point> long script_points(script_reader& r, Point&& point) {
#if KVRAC_QUICK_SSSE3
    if (script_quick::have_ssse3()) return script_quick::points_ssse3(r, point);
#endif
    return script_quick::points_loop(r, point, quick_line);
}

// The same as script_next with every line read by the general parser, which the quick
// path for moves and draws must agree with (for tests).
int script_next_general(script_reader& r, script_command& cmd);
