// HP-GL/2 plot files written by other programs, read as drawing operations.
//
// The file may be bare HP-GL/2 or a job wrapped in PJL and PCL/RTL escapes (such as the
// jobs this driver writes): escapes are followed and their binary data skipped, and the
// HP-GL/2 parts are read. Coordinates reach the sink in plotter units (1/40 mm) on the
// plot file's own page; placement on our sheet is the pipeline's.
//
// Read: IN DF PS RO IP SC IW SP PU PD PA PR PE LT PW WU NP PC PM FP EP RA EA RR ER CI AA
// AR LB DT SI DI BP PG. Any other instruction is skipped and counted once in a note.
#pragma once

#include <cstddef>
#include <string>

#include "drawing/drawing.h"

// Reads the plot file at path. Throws drawing_failure when it cannot be read.
void hpgl_read_file(const std::string& path, drawing_sink& sink, drawing_report& report);

// Reads plot file bytes already in memory; name is used in messages.
void hpgl_read(const char* data, size_t size, const std::string& name, drawing_sink& sink,
               drawing_report& report);
