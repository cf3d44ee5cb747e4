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

// Whether a save may write the store: it may when the path names nothing yet, an empty
// file, or a file of exactly `count` bytes (a record), through symbolic links. A file of
// another size is something else the user keeps (a script, a picture) and is never
// overwritten; a folder or a device is refused too. Returns 0, or 1 with *why saying
// what the path holds and how to go on.
int store_check_writable(const std::string& path, int count, std::string* why);

// Writes the bytes to a temporary file beside the store (its link target when the store
// is a symbolic link), flushes it to disk and renames it over the store. Only the
// default store's folder is created when missing; a --settings or $KVRAC_SETTINGS path
// must name an existing folder. Refuses what store_check_writable refuses. Returns 0
// on success; on failure the store is untouched, the temporary file removed, and
// *error says why.
int store_save(const std::string& path, const void* bytes, int count, std::string* error);
