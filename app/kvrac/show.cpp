#include "kvrac/show.h"

#include <cstdio>
#include <string>

#include "host/device_tables.h"
#include "host/settings.h"
#include "settings/store.h"
#include "system/text.h"

namespace {

constexpr double inch_mm = 25.4;

void line(const char* name, const std::string& value, const std::string& meaning) {
    std::printf("%-18s %-8s %s\n", name, value.c_str(), meaning.c_str());
}

std::string num(long v) {
    return std::to_string(v);
}

std::string hex4(unsigned v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04x", v);
    return buf;
}

// "(out of range: ...)" note for a field the driver will replace by its default.
std::string range_note(long v, long low, long high) {
    if (v >= low && v <= high) return "";
    return " (out of range " + num(low) + ".." + num(high) + ": the driver uses the default)";
}

std::string size_text(double length, double width) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%g x %g in (%.0f x %.0f mm)", length, width, length * inch_mm,
                  width * inch_mm);
    return buf;
}

std::string resolution_text(unsigned mode) {
    switch (mode & mode_res_mask) {
    case mode_res_600:
        return "600 dpi";
    case mode_res_400:
        return "400 dpi";
    case mode_res_300:
        return "300 dpi";
    case mode_res_200:
        return "200 dpi";
    default:
        return "no valid resolution (the driver uses its default)";
    }
}

} // namespace

int show_settings(const std::string& store) {
    uint8_t bytes[settings_size];
    if (store_load(store, bytes, settings_size) != 0) {
        std::fprintf(stderr, "kvrac: no settings stored in %s (run 'kvrac config')\n",
                     store.c_str());
        return 1;
    }
    const settings_record s = settings_from_bytes(bytes);
    const int model = 0; // the only model with tables
    std::printf("settings store: %s\n", store.c_str());

    line("copies", num(s.copies), "copies per plot" + range_note(s.copies, 1, 99));
    format_row f = media_format_row(model, s.media_format);
    std::string fmt = f.name[0] ? cp1252_trimmed(f.name) : "?";
    if (f.custom == 1) {
        char buf[96];
        std::snprintf(buf, sizeof buf, ", custom length x %g in (%.0f mm wide)", f.width,
                      f.width * inch_mm);
        fmt += buf;
    } else if (f.name[0]) {
        fmt += ", " + size_text(f.length, f.width);
    }
    line("media_format", num(s.media_format),
         "paper format: " + fmt + range_note(s.media_format, 1, format_rows));
    line("custom_length_mm", num(s.custom_length_mm),
         std::string("roll length of a custom format, mm") +
             (f.custom == 1 ? "" : " (not used by this format)") +
             range_note(s.custom_length_mm, 1, max_custom_length_mm));
    line("media_type", num(s.media_type),
         "media type: " + cp1252_trimmed(media_type_name(model, s.media_type, 0)) +
             range_note(s.media_type, 0, media_type_rows - 1));
    line("finish_program", num(s.finish_program),
         "finisher programme: " + cp1252_trimmed(finish_program_name(model, s.finish_program)) +
             range_note(s.finish_program, 0, program_rows - 1));
    line("finish_margins", num(s.finish_margins),
         "finisher margins: " + cp1252_trimmed(finish_margins_name(model, s.finish_margins)) +
             range_note(s.finish_margins, 0, margin_rows - 1));
    line("finish_bin", num(s.finish_bin),
         "finisher bin: " + cp1252_trimmed(finish_bin_name(model, s.finish_bin)) +
             range_note(s.finish_bin, 0, bin_rows - 1));
    line("red_pen", num(s.red_pen),
         std::string("pen printed in red when red printing is on") + range_note(s.red_pen, 1, 255));
    line("reserved_word", num(s.reserved_word), "reserved");
    line("margin_mm", num(s.margin_mm),
         "margin on all four sides, mm" + range_note(s.margin_mm, 0, 10));

    std::string pf = (s.plot_flags & plot_halftone) ? "halftone fill" : "solid fill";
    pf += (s.plot_flags & plot_pe_base64) ? ", 8-bit encoded polylines (PE)"
                                          : ", 7-bit encoded polylines (PE7)";
    if (s.plot_flags & plot_serial) {
        unsigned hs = s.plot_flags & plot_handshake_mask;
        pf += hs == 0                         ? ", serial port with Xon/Xoff"
              : hs == plot_handshake_hardware ? ", serial port with hardware handshake"
                                              : ", serial port without handshake set-up";
    } else {
        pf += ", parallel port";
    }
    line("plot_flags", hex4(s.plot_flags), pf);

    std::string mf = (s.mode_flags & mode_ktgl) ? "KTGL+MMR" : "HP-RTL/GL2";
    mf += ", " + resolution_text(s.mode_flags);
    mf += (s.mode_flags & mode_manual_feed) ? ", manual feed" : ", no manual feed";
    mf += (s.mode_flags & mode_red_pen) ? ", red printing" : ", no red printing";
    mf += (s.mode_flags & mode_rotated) ? ", paper rotated" : ", paper not rotated";
    line("mode_flags", hex4(s.mode_flags), mf);

    std::string mi = s.model_index == 0
                         ? cp1252_trimmed(reinterpret_cast<const char*>(model_name_field(0)))
                         : "unknown model (the driver uses its defaults)";
    line("model_index", num(s.model_index), mi);
    char curve[64];
    std::snprintf(curve, sizeof curve, "%u,%u,%u,%u,%u", s.correction_points[0],
                  s.correction_points[1], s.correction_points[2], s.correction_points[3],
                  s.correction_points[4]);
    line("correction_points", curve, "tone curve outputs at inputs 0, 64, 128, 192, 255");
    line("spare", num(s.spare), "unused");
    return 0;
}

int show_formats() {
    std::printf("%-4s %-36s %s\n", "row", "name", "size");
    for (int row = 1; row <= format_rows; ++row) {
        format_row f = media_format_row(0, row);
        std::string size;
        if (f.custom == 1) {
            char buf[128];
            std::snprintf(buf, sizeof buf,
                          "custom length x %g in (%.0f mm wide), default length %d mm, "
                          "up to %d mm",
                          f.width, f.width * inch_mm, default_custom_length(0, row),
                          f.max_length_mm);
            size = buf;
        } else {
            size = size_text(f.length, f.width);
        }
        std::printf("%-4d %-36s %s\n", row, cp1252_trimmed(f.name).c_str(), size.c_str());
    }
    return 0;
}
