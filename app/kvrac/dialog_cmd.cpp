// The about and curve commands. Both run the configuration sequence with a scripted
// user who only looks (the installation dialog is left with "Annuler") and with saves
// kept in memory, so the store is never written.
#include "kvrac/dialog_cmd.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "color/correction.h"
#include "host/settings.h"
#include "link/config_sequence.h"
#include "link/session.h"
#include "settings/dialog_options.h"
#include "system/text.h"
#include "ui/dialog_templates.h"

#ifdef KVRAC_HAVE_PNG
#include <png.h>
#endif

namespace {

void add(dialog_script& s, user_act act, int control, const char* why) {
    s.actions.push_back({act, control, 0, 0, 0, 0, 0, nullptr, 0});
    s.asked_by.push_back(why);
}

// Runs the configuration sequence with the looking user; the record the driver would
// have saved lands in session.kept.
int look(dialog_script& s) {
    session.keep_store = true;
    int rc = run_configuration(false, &s);
    session.keep_store = false;
    if (rc == 0 && session.kept.size() != settings_size) rc = 1;
    return rc;
}

#ifdef KVRAC_HAVE_PNG
// Writes 0xRRGGBB pixels as an 8-bit RGB PNG. Returns 0, or 1 with errno's story told.
int write_png(const std::string& path, const std::vector<uint32_t>& pixels, int width, int height) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "kvrac: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        return 1;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<png_byte> row(static_cast<size_t>(width) * 3);
    bool ok = png && info;
    if (ok && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, f);
        png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                uint32_t c = pixels[static_cast<size_t>(y) * width + x];
                row[3 * x] = static_cast<png_byte>(c >> 16);
                row[3 * x + 1] = static_cast<png_byte>(c >> 8);
                row[3 * x + 2] = static_cast<png_byte>(c);
            }
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
    } else {
        ok = false;
    }
    png_destroy_write_struct(&png, &info);
    if (std::fclose(f) != 0) ok = false;
    if (!ok) {
        std::fprintf(stderr, "kvrac: cannot write %s\n", path.c_str());
        std::remove(path.c_str());
        return 1;
    }
    return 0;
}
#endif

} // namespace

int run_about(const std::string& store) {
    if (host_open(store) != 0) return 1;
    dialog_script s;
    add(s, user_act::click, idc_version, "Version...");
    add(s, user_act::look, idc_about_text, "the about box");
    add(s, user_act::click, idc_ok, "the about box");
    add(s, user_act::click, idc_cancel, "Annuler");
    if (int rc = look(s)) return rc;
    const dialog_outcome& o = dialog_user_outcome();
    if (o.look_count < 1) {
        std::fprintf(stderr, "kvrac: the about box did not open\n");
        return 1;
    }
    std::printf("%s\n%s\n", cp1252_to_utf8(about_template.title).c_str(),
                cp1252_trimmed(o.looks[0]).c_str());
    return 0;
}

int run_curve(const std::string& store, const std::string& png_path) {
#ifndef KVRAC_HAVE_PNG
    if (!png_path.empty()) {
        std::fprintf(stderr, "kvrac: this kvrac was built without libpng: no --png\n");
        return 2;
    }
#endif
    if (host_open(store) != 0) return 1;
    dialog_script s;
    add(s, user_act::click, idc_image_correction, "Correction d'image...");
    add(s, user_act::snapshot, idc_curve, "the curve area");
    add(s, user_act::click, idc_curve_ok, "OK");
    add(s, user_act::click, idc_cancel, "Annuler");
    if (int rc = look(s)) return rc;
    const settings_record kept = settings_from_bytes(session.kept.data());
    std::printf("input  output\n");
    for (int k = 0; k < 5; ++k)
        std::printf("%5d  %6d\n", correction_inputs[k], kept.correction_points[k]);
#ifdef KVRAC_HAVE_PNG
    const dialog_outcome& o = dialog_user_outcome();
    if (!png_path.empty()) {
        if (o.snapshot.empty()) {
            std::fprintf(stderr, "kvrac: the colour dialog did not draw its curve\n");
            return 1;
        }
        return write_png(png_path, o.snapshot, o.snapshot_width, o.snapshot_height);
    }
#endif
    return 0;
}
