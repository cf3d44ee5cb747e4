// Text helpers of the host program.
#pragma once

#include <string>

// Converts Windows-1252 text (the driver's texts and table names) to UTF-8.
std::string cp1252_to_utf8(const char* text);

// The same, without trailing blanks (table names are stored blank-padded).
std::string cp1252_trimmed(const char* text);
