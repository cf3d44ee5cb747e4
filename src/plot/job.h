// The job's opening and closing sequences: PJL and HP-GL/2 set-up, or the KTGL job and
// page records, and the trailer that ends the page and hands the printer back.
#pragma once

#include <cstdint>

struct job_state {
    int32_t plot_w;              // plot area along x, plotter steps
    int32_t plot_h;              // plot area along y, plotter steps
    int32_t margin_steps;        // one margin, plotter steps
    char input_window[48];       // the preamble's "IW0,0,w,h;" text, written again after images
    int32_t input_window_length; // bytes of input_window in use
};

extern job_state job;

// Message 30: resets the job state, obtains the output buffer and writes the job's
// opening and page geometry. Sets the record's status: 0, or -1 when memory is
// exhausted or a write failed.
void write_preamble(uint8_t* record);

// Message 2: writes the trailer when something was drawn and the job was not aborted,
// sends what is left and releases the buffer.
void write_trailer();
