// Which kind of drawing a file holds: by its content first, then by its name.
#pragma once

#include <cstddef>
#include <string>

enum class drawing_format { script, dxf, hpgl };

// Looks at the first kilobytes of path: a DXF file starts with "0" / "SECTION" (or a
// 999 comment), a plot file with an escape or an HP-GL/2 instruction such as IN or BP.
// When the content says nothing clear, the extension decides (.dxf; .plt .hpgl .hpg
// .hgl .gl2 .prn); anything else is a plot script. "-" (standard input) is a script.
drawing_format drawing_format_of(const std::string& path);

// The same look at bytes already read (the start of a file): dxf or hpgl when the
// content says so clearly, else script.
drawing_format drawing_format_of_content(const char* head, size_t size);

const char* drawing_format_name(drawing_format f);
