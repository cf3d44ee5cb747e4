// Text helpers of the host program.
#pragma once

#include <string>

// Converts Windows-1252 text (the driver's texts and table names) to UTF-8.
std::string cp1252_to_utf8(const char* text);

// The same, without trailing blanks (table names are stored blank-padded).
std::string cp1252_trimmed(const char* text);

// The text with every byte a terminal would not show as a letter written as \xNN:
// control bytes, DEL, and bytes that are not part of well-formed UTF-8. Backslashes
// stay as they are; well-formed UTF-8 letters are kept.
std::string printable_text(const std::string& text);
