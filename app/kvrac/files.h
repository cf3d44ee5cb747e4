// The few file operations whose portable forms do not behave alike on Linux and on
// Windows: replacing a file by renaming another over it, and writing binary bytes to
// standard output.
#pragma once

#include <string>

// Renames `from` to `to`, replacing `to` when it exists, and has the rename reach the
// disk before returning. Returns 0, or -1 with *why saying what went wrong; `from` is
// left in place on failure.
int file_replace(const std::string& from, const std::string& to, std::string* why);

// Makes standard output carry bytes unchanged (Windows otherwise turns each line feed
// into carriage return and line feed). Call before the first byte is written.
void stdout_binary();

#ifdef _WIN32
// The system's text for a GetLastError code, without its final full stop and line
// end; "error N" when the system has none.
std::string win32_error_text(unsigned long code);
#endif
