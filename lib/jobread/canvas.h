// A grey picture and the few drawing operations a job needs: thick lines with round
// ends, even-odd polygon fills with a 16 x 16 halftone pattern, and raster dots.
//
// Coordinates are pixels with y downwards, pixel (i, j) covering [i, i+1) x [j, j+1);
// a pixel is painted when its centre lies inside the shape. Lines are short in the
// common case (a plot is millions of small steps), so a line costs one pass over the
// rows of its bounding box and nothing else.
#pragma once

#include <cstdint>
#include <vector>

struct canvas {
    int width = 0, height = 0; // pixels
    std::vector<uint8_t> grey; // width * height, 0 black, 255 white
};

// v rounded toward zero and held within +-2^30 (NaN gives 0), so that coordinates of
// any size can be compared with the picture's.
inline int to_int(double v) {
    if (!(v == v)) return 0;
    return v < -1073741824.0 ? -1073741824 : v > 1073741824.0 ? 1073741824 : static_cast<int>(v);
}

void canvas_init(canvas& c, int width, int height);
// A line of the given width (pixels; below 1 draws 1 pixel wide) with round ends.
void canvas_line(canvas& c, double x0, double y0, double x1, double y1, double width, uint8_t grey);
// Fills the polygon (closed implicitly) by the even-odd rule; dots of pattern (row
// words, most significant bit leftmost, 1 = black) are black, the others white.
void canvas_polygon(canvas& c, const std::vector<double>& xy, const uint16_t pattern[16]);
// A one-pixel rectangle outline.
void canvas_frame(canvas& c, double x0, double y0, double x1, double y1, uint8_t grey);
