// DXF drawings read with dxflib, as drawing operations.
//
// Entities: LINE, POINT, LWPOLYLINE and POLYLINE (with bulges), ARC, CIRCLE, ELLIPSE,
// SPLINE, SOLID, TRACE, HATCH (solid as areas, patterns as their lines), TEXT, MTEXT,
// ATTRIB, INSERT (nested, scaled, rotated, arrays) and DIMENSION (through its block).
// Layers that are off or frozen are not plotted; BYLAYER and BYBLOCK colours, line types
// and weights are resolved; line types map to the driver's patterns by their dashes.
// Anything else (3DFACE, XLINE, RAY, IMAGE, meshes, paper space) is skipped and counted.
#pragma once

#include <string>

#include "drawing/drawing.h"
#include "link/drawing_job.h"

// Checks that path is a complete ASCII DXF file: group codes are numbers, it starts
// with a section and ends with EOF. Returns 0, or 2 with *error naming the file and
// line.
int dxf_check_file(const std::string& path, std::string* error);

// Reads the DXF file into the sink. Throws drawing_failure for a bad file (naming the
// file and the entity's line): a block that inserts itself, absurd counts.
void dxf_read_file(const std::string& path, drawing_sink& sink, drawing_report& report);

// A DXF file as pipeline input, checked with dxf_check_file first and placed by its
// extents. Returns 0, or 2 with *error naming the file and line.
int dxf_input(const std::string& path, drawing_input* in, std::string* error);
