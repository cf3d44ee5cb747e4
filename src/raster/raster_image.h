// Raster images from the host: the description of message 52 and the raster step that
// sends the image at the next plot message.
//
// Message 52 only stores where the image goes, its size and kind and the two host
// functions that hand out its pixels, and arms plot.raster_marker. The plot handler
// runs raster_step before the next message's own work: it leaves vector mode, places
// the image, pulls it from the host one row (or, on rotated paper, one column) at a
// time into the raster stream (raster/raster_stream.h) and then restores the pens,
// line type, width and input window so that vector drawing goes on where it stopped.
#pragma once

#include <cstdint>

#include "platform/callconv.h"

// The host's row functions, reached through the 32-bit addresses at +4 and +8 of the
// raster header. get_raster_rows takes the row request record (144 bytes) and returns
// the row result record: +0 u32 host address of the pixel bytes, +4 i32 byte count,
// +12 i16 end flag, +14 i16 error flag. release_raster_rows hands that record back.
using get_rows_fn = const uint8_t* KVRAC_CDECL(uint8_t* request);
using release_rows_fn = void KVRAC_CDECL(const uint8_t* result);

// Byte offsets in the raster header (the record of message 52) and sizes.
enum : int {
    raster_header_get_rows = 4,     // u32 host address of get_raster_rows
    raster_header_release = 8,      // u32 host address of release_raster_rows
    raster_header_host_value = 12,  // i32 passed back in every request
    raster_header_x1 = 16,          // i32 corners on the sheet, plotter units
    raster_header_y1 = 20,          //
    raster_header_x2 = 24,          //
    raster_header_y2 = 28,          //
    raster_header_kind = 32,        // i32 0 or 1
    raster_header_width = 36,       // i32 pixels per image row (Wpx)
    raster_header_height = 40,      // i32 image rows (Hpx)
    raster_header_transparent = 44, // i16 nonzero = transparent image
    raster_header_bits = 46,        // i16 bits per pixel
    raster_header_colour = 48,      // i16 colour index of a one-bit image
    raster_header_host_data = 50,   // 72 bytes copied into every request
    raster_header_ack = 122,        // i16 written 1 by the driver
    raster_header_size = 124,       // bytes kept from the record
    raster_request_size = 144,      // bytes of a row request record
    raster_result_size = 16,        // bytes of a row result record the driver reads
};

// Byte offsets in the row request record.
enum : int {
    raster_request_first_x = 0,  // i32 first pixel of the line
    raster_request_first_y = 4,  //
    raster_request_last_x = 8,   // i32 last pixel of the line
    raster_request_last_y = 12,  //
    raster_request_start_x = 16, // i32 sheet position of the line's start, plotter units
    raster_request_start_y = 20, //
    raster_request_end_x = 24,   // i32 sheet position of the line's end
    raster_request_end_y = 28,   //
    raster_request_host_value = 32,
    raster_request_host_data = 72, // the header's 72 host bytes
};

// Message 52: keeps the description in record (corners, sizes, transparency, colour,
// kind, host functions), writes 1 into its i16 at +122 and arms the raster marker.
// Transparency is dropped for kind 1 with 2 bits per pixel; a colour index of 8 or
// more, or a negative one, stands for black (7). Writes nothing to the printer.
void store_raster_header(const uint8_t* record);

// Sends the image announced by message 52 when plot.raster_marker is raster_pending,
// else returns at once. Always clears the marker; once the image was sent the vector
// state is idle (the saved current point stays). The image is dropped without a byte written when
// the abort flag is latched, no job is open, a host function address is unknown or the image has no
// pixels or no area on the sheet. A row answered with the error flag shows the failure box, drops
// the rows already converted and still restores vector mode. Once anything of the
// image reached the printer, output.job_drawn is set so that the job gets its trailer.
// Returns 0.
int raster_step();
