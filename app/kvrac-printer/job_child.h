// The driver run of one job, in a process of its own.
//
// The driver keeps process-wide state and the server runs jobs in threads, so every
// job's driver work happens in a child process: this same program started with
// job_child_flag as its first argument. The child plots one page (or one plot script
// or drawing) through the driver exactly as `kvrac plot` does and writes the complete
// job to a file; the server sends that file to the printer only when the child succeeded.
#pragma once

// First argument that selects the child's mode (never a sub-command name).
constexpr const char job_child_flag[] = "--kvrac-job-child";

// Environment variable holding the server's process id: a child whose parent is not
// that process (the server has gone) stops at once.
constexpr const char job_parent_variable[] = "KVRAC_PRINTER_JOB_PARENT";

// The child's arguments after the flag:
//   configure STORE [DIALOG OPTIONS]      installation dialog with the options, saved
//                                          into STORE (the driver's defaults first when
//                                          STORE holds nothing)
//   page STORE PAGE SCRIPT JOB [DIALOG OPTIONS]
//                                          writes SCRIPT, `image 0 0 X Y PAGE` (PAGE a
//                                          page file, page_spool.h) over the
//                                          whole printable area in plotter units, and
//                                          plots it into JOB
//   document STORE DOCUMENT DIR [DIALOG OPTIONS]
//                                          plots each page of a received PDF or image
//                                          file into DIR/page-N.prn as `kvrac plot
//                                          DOCUMENT --page N` would
//   script STORE SCRIPT JOB [DIALOG OPTIONS]
//                                          plots a received plot script into JOB
//   drawing STORE KIND DRAWING JOB [DIALOG OPTIONS]
//                                          plots a received drawing (KIND dxf or hpgl)
//                                          into JOB as `kvrac plot DRAWING` would
// The plot-time dialog gets the options; what it would save is kept from STORE, so a
// job's options never change the printer's settings. Exit status 0 when JOB is
// complete; else 1 (driver failure) or 2 (refused input), with the reason on standard
// error as one line, and JOB removed.
int job_child_main(int argc, char** argv);
