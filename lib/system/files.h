// The few file and console operations whose portable forms do not behave alike on
// Linux and on Windows: replacing a file by renaming another over it, writing binary
// bytes to standard output, and UTF-8 text on a console.
#pragma once

#include <string>

// Renames `from` to `to`, replacing `to` when it exists, and has the rename reach the
// disk before returning. Returns 0, or -1 with *why saying what went wrong; `from` is
// left in place on failure.
int file_replace(const std::string& from, const std::string& to, std::string* why);

// Has a console show the UTF-8 texts kvrac prints: on Windows, when standard output or
// error is a console, its output code page is set to UTF-8 until the program ends
// (the console's own code page would show each accented letter as two wrong ones).
// Files and pipes get the bytes as they are. Nothing to do elsewhere.
void console_utf8();

// Makes standard output carry bytes unchanged (Windows otherwise turns each line feed
// into carriage return and line feed). Call before the first byte is written.
void stdout_binary();

#ifdef _WIN32
// The system's text for a GetLastError code, without its final full stop and line
// end; "error N" when the system has none.
std::string win32_error_text(unsigned long code);
#endif
