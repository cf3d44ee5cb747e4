// Plot set-up: identification at plot time, loading the settings for a plot, agreeing
// on the plot area with the host, and the settings summary.
#pragma once

#include <cstdint>

struct plot_setup_state {
    uint32_t host_options;        // option word of messages 46, 47, 48; 0x40 = no escapes
    uint8_t area_request_pending; // 1 after message 49 until message 48 has answered once
    double steps_x;               // plotter steps per inch along x
    double steps_y;               // plotter steps per inch along y
};

extern plot_setup_state plot_setup;

// Message 49: resets the job state (buffer released, abort flag cleared, pens reset)
// and answers the identification. Returns 0 or -1.
int plot_identify(uint8_t* record);

// Message 29: loads the settings for the plot and rebuilds the correction table.
void begin_plot(uint8_t* record);

// Message 46: plot-time dialog, maximum plot area, steps per inch; saves the settings.
void configure_plot(uint8_t* record);

// Message 47: takes the plot area the host uses.
void set_plot_area(uint8_t* record);

// Message 48: answers the host's plot-area request (once per identification).
void negotiate_plot_area(uint8_t* record);

// Message 31: prints the driver's settings summary through the host.
void report_settings();

// Message 43: the stored model, and the number of line types the host may ask for.
void select_model(const uint8_t* record);
