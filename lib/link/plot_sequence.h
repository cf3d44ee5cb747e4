// The plot sequence: what a host sends to plot one drawing, step by step.
//
//   plot_identify_and_load   49, 50, 29: identify, French texts, load the settings
//   plot_time_dialog         46: the plot-time dialog and the printable area
//   plot_start_job           47, 36, 30: the area used, line types, the job's preamble
//   plot_send                one drawing command (move, draw, pen, polygon, image, ...)
//   plot_end                 2: the trailer and the last transfer
//
// Every step works on the process's one session (link/session.h); the job's bytes reach
// session.job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

struct dialog_script;
struct script_command;

// The printable area the plot-time dialog settled on.
struct plot_area {
    double side_a;         // inches, the sheet's first side as the driver reports it
    double side_b;         // inches, the second side
    double steps_per_inch; // plotter units per inch
};

// Sends 49 and 50 as the drawing host, then 29 (begin plot: the driver loads the stored
// settings). Returns 0, or 1 when the driver refused either.
int plot_identify_and_load();

// Sends 46: the plot-time dialog, played by `script` (or shown to a person when the
// session is interactive), and reads the printable area into *area. Returns 0; 1 when
// the driver answered a failure; 2 when the scripted user gave up or a value was
// refused (reported on standard error, the plot is ended).
int plot_time_dialog(const dialog_script& script, plot_area* area);

// Sends 47 (the area used, in inches), 36 (eight line types) and 30 (the job starts: the
// driver writes its preamble). Returns 0, or 1 when the job could not start.
int plot_start_job(double side_a, double side_b);

// Bytes at the start of a record that the small messages (move, draw, lift, pen, line
// type, line types, width, cancel) use, with their replies.
constexpr size_t plot_small_message_span = 12;

// Sends one drawing command in `rec`, a message record that is all zero on entry;
// leaves in *dirty how many leading bytes the message may have changed, so the caller
// clears only those before the next command. Returns 0, or 1 when the driver answered
// a failure.
int plot_send(const script_command& c, std::vector<uint8_t>& rec, size_t* dirty);

// Sends 3 (move) or 4 (draw) to (x, y): plot_send for the message nearly every line
// of a drawing becomes, with the same contract, for callers that have no command
// record to fill. rec points to a whole message record.
int plot_send_point(bool draw, uint16_t x, uint16_t y, uint8_t* rec, size_t* dirty);

// Zeroes the leading bytes of rec that the last plot_send may have changed (its
// *dirty), so the record is all zero again for the next command. The small messages,
// nearly every one a drawing sends, take a clear of fixed size: a few stores, no call.
inline void plot_record_clear(std::vector<uint8_t>& rec, size_t dirty) {
    if (dirty <= plot_small_message_span)
        std::memset(rec.data(), 0, plot_small_message_span);
    else
        std::memset(rec.data(), 0, dirty);
}

// Sends a text command as the stroke font's moves and draws (plot_send does this for
// script_op::text), with the same record and dirty-span contract. Returns 0, or 1 when
// the driver answered a failure.
int plot_send_text(const script_command& c, std::vector<uint8_t>& rec, size_t* dirty);

// Sends 2 (end of plot): the driver writes the trailer if anything was drawn and sends
// what it holds. Images still held for the driver are released.
void plot_end();
