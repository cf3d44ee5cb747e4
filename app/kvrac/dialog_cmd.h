// Commands that look at the driver's dialogs: the about box and the tone curve.
#pragma once

#include <string>

// Opens the installation dialog, presses "Version..." and prints the about box's title
// and text. Nothing is saved. Returns 0, or 1 when the driver failed.
int run_about(const std::string& store);

// Opens the installation dialog and its "Correction d'image..." dialog and prints the
// stored tone curve's five values; with a PNG path, also writes the curve area as the
// dialog draws it. Nothing is saved. Returns 0, 1 when the driver failed or the picture
// cannot be written, 2 when PNG output is asked of a build without libpng.
int run_curve(const std::string& store, const std::string& png_path);
