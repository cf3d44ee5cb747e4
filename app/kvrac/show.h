// Printing the stored settings and the paper formats for a person.
#pragma once

#include <string>

// Prints the store's settings, one field a line. Returns 0, or 1 when nothing is stored.
int show_settings(const std::string& store);

// Prints the model's 41 paper formats. Returns 0.
int show_formats();
