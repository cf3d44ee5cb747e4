// Filled polygons from the host: messages 33 (vertices inside the record) and 54
// (vertices in host memory).
//
// This module reads the message, checks that the vertices it names are really there,
// chooses the pens of the fill and hands the outline to the vector encoder
// (vector_fill_polygon). With halftone fill the area is filled with the message's own
// pen, so that its grey pattern shows; with solid fill it is filled with the pen that
// prints (the red pen or the black pen) and the message's pen is selected again after
// it. A pen number above the palette is kept as the host gave it, as message 5 keeps it
// for the area pen; a negative one, which no instruction can carry, stands for the
// black pen.
#pragma once

#include <cstdint>

// Offset of the first vertex in a message 33 record, and the most vertices that a
// record of plot_record_size bytes holds after it (4 bytes each).
constexpr int polygon_inline_vertices_offset = 12;
constexpr int polygon_inline_max_vertices = 513;

// Fills the polygon of n vertices (n pairs of little-endian u16 x, y at vertices) with
// the pens the fill mode gives for the host pen `pen`. n of 1 or less writes nothing
// and returns 0. Returns -1 without writing anything when n exceeds what a KTGL polygon
// record holds, else 0 or -1 from the writes. Sets output.job_drawn; the caller then
// asks for the line pen to be reselected (pens.reselect_pending).
int draw_polygon(int pen, int n, const uint8_t* vertices);

// Message 54: pen i16 at +4, count i16 at +6, u32 host address of the vertex array at
// +8 of host_link.message. An address that resolves to nothing gives -1. Returns as
// draw_polygon.
int draw_polygon_by_reference();

// Message 33: pen i16 at +6, count i16 at +10, vertices from +12 of host_link.message.
// A count above polygon_inline_max_vertices would read past the record: -1, nothing
// written. Otherwise returns as draw_polygon.
int draw_polygon_inline();
