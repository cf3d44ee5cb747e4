// The settings store: the driver's 40-byte record in a file of exactly 40 bytes.
#pragma once

#include <string>

// Where the store lives: the --settings value when given, else $KVRAC_SETTINGS, else
// ${XDG_CONFIG_HOME:-$HOME/.config}/kvrac/settings.bin.
std::string store_path(const char* option_value);

// Reads exactly `count` bytes. Returns 0 when the file holds exactly that many; 1 when
// it is missing, of another size or unreadable ("nothing saved"). The buffer is only
// written on success.
int store_load(const std::string& path, void* buffer, int count);

// Writes the bytes to a temporary file beside the store, flushes it to disk and renames
// it over the store, creating the folder when missing. Returns 0 on success; on failure
// the store is untouched, the temporary file removed, and *error says why.
int store_save(const std::string& path, const void* bytes, int count, std::string* error);
