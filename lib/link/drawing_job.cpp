// Drawings in a plot job (see link/drawing_job.h).
#include "link/drawing_job.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "drawing/hpgl_reader.h"
#include "host/wire.h"
#include "link/session.h"
#include "settings/store.h"

namespace {

// Printer dots per inch from a settings record (the raster resolution field).
double record_dpi(const uint8_t* s) {
    switch (le_u16(s, 30) & 0x0F00) {
    case 0x100:
        return 600;
    case 0x200:
        return 400;
    case 0x400:
        return 300;
    default:
        return 200;
    }
}

} // namespace

int hpgl_input(const std::string& path, drawing_input* in, std::string* error) {
    std::error_code status_error; // never thrown: a folder that cannot be searched is reported
    const auto type = std::filesystem::status(path, status_error).type();
    if (type != std::filesystem::file_type::regular) {
        const std::string why = type == std::filesystem::file_type::not_found
                                    ? std::strerror(ENOENT)
                                : status_error ? status_error.message()
                                               : "not a file (a folder or a device?)";
        *error = path + ": " + why;
        return 2;
    }
    in->path = path;
    in->format = drawing_format::hpgl;
    in->read = [path](drawing_sink& s, drawing_report& r) { hpgl_read_file(path, s, r); };
    in->anchor = drawing_anchor::origin;
    return 0;
}

bool plot_settings_in_force(uint8_t* record, size_t size) {
    if (session.keep_store && session.kept.size() >= size) {
        std::memcpy(record, session.kept.data(), size);
        return true;
    }
    return store_load(session.store, record, static_cast<int>(size)) == 0;
}

double plot_settings_dpi() {
    uint8_t stored[40];
    if (!plot_settings_in_force(stored, sizeof stored)) std::memset(stored, 0, sizeof stored);
    return record_dpi(stored);
}

int plot_drawing_job(const drawing_input& in, const placement_options& place, const pen_table& pens,
                     const plot_area& area, double side_a, double side_b, drawing_summary* summary,
                     std::string* error) {
    uint8_t stored[40];
    if (!plot_settings_in_force(stored, sizeof stored)) std::memset(stored, 0, sizeof stored);
    placement_options placed = place;
    placed.anchor = in.anchor;
    std::vector<uint8_t> message(message_record_size);
    size_t dirty = 0;
    plot_emitter emit = [&](const script_command& c) {
        plot_record_clear(message, dirty);
        return plot_send(c, message, &dirty);
    };
    const double steps = area.steps_per_inch;
    const sheet_geometry sheet{side_a * steps, side_b * steps, steps, record_dpi(stored)};
    return plot_drawing(in.read, placed, pens, sheet, emit, summary, error);
}
