// The printer drivers: one per model and output language the driver library writes.
//
// Everything a client sees about the plotter comes from the driver's own tables in
// its descriptor (paper formats, media types, capability words) and from the
// printer's settings record, which the driver fills and keeps: media with PWG names,
// the custom-length rolls as a size range, media types, resolutions, copies 1 to 99,
// and, for what IPP has no attribute for, vendor attributes set with `modify -o` or
// on the web page. A job's attributes become the dialog options a user would give
// `kvrac plot` for the same job.
#include <cups/cups.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "host/device_tables.h"
#include "host/settings.h"
#include "kvrac-printer/printer_app.h"
#include "settings/store.h"

namespace {

// A paper format of the model as IPP sees it.
struct format_entry {
    int row;           // format row, 1..41
    std::string pwg;   // PWG media name ("" for a custom-length roll row)
    int width, length; // hundredths of mm (length 0 for a roll row)
};

// Most copies the driver makes of a job (PAPPL itself allows 999).
constexpr int max_copies = 99;

// What a printer setting IPP has no attribute for maps to.
struct vendor_entry {
    const char* name;      // vendor attribute ("kvrac-fill"); "-default" and
                           // "-supported" are added
    const char* option;    // dialog option it sets
    const char* supported; // comma-separated keywords, or "" for a range
    int low, high;         // integer range when supported is ""
};

const vendor_entry vendor_entries[] = {
    {"kvrac-fill", "--fill", "solid,halftone", 0, 0},
    {"kvrac-margin", "--margin", "", 0, 10},
    {"kvrac-program", "--program", "manual,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20", 0,
     0},
    {"kvrac-finisher-margins", "--finisher-margins", "program,off", 0, 0},
    {"kvrac-bin", "--bin", "any,fanfold,1,2,3,4,5,6,7,8,9,10,11,12,13", 0, 0},
    {"kvrac-manual-feed", "--manual-feed", "no,yes", 0, 0},
};

// The tables, built once from the descriptor before the server starts jobs.
struct driver_tables_state {
    std::once_flag built;
    std::vector<format_entry> formats;  // every format row, in table order
    std::vector<std::string> media;     // media-supported: fixed sizes, then roll range
    std::vector<std::string> types;     // media-type keywords, by media-type row
    int roll_min_width, roll_max_width; // hundredths of mm
    int resolutions[4];                 // ascending dpi
    int resolution_count;
};

driver_tables_state tables;

int hundredths(double inches) {
    return static_cast<int>(std::lround(inches * 2540.0));
}

// Trims the blank padding of a table name.
std::string trimmed(const char* s) {
    std::string t(s);
    while (!t.empty() && t.back() == ' ') t.pop_back();
    return t;
}

// A keyword from a table name: lower-case ASCII letters and digits, other runs as '-';
// accented e (Windows-1252) read as e.
std::string keyword_of(const std::string& name) {
    std::string k;
    for (unsigned char c : name) {
        if (c == 0xE8 || c == 0xE9 || c == 0xEA) c = 'e';
        if (std::isalnum(c) && c < 0x80)
            k += static_cast<char>(std::tolower(c));
        else if (!k.empty() && k.back() != '-')
            k += '-';
    }
    while (!k.empty() && k.back() == '-') k.pop_back();
    return k;
}

// A PWG dimension in mm: up to two decimals, trailing zeros dropped.
std::string mm_text(int hundredths) {
    char t[32];
    std::snprintf(t, sizeof t, "%.2f", hundredths / 100.0);
    std::string s(t);
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

// The PWG name of a fixed size: the standard size within 1.5 mm each way (the table's
// inch values are rounded: A0 is 33.12 x 46.773 in, 0.25 mm and 1 mm off), else a
// self-describing name of our own ("om_" + the format's name + its size).
std::string pwg_name(int width, int length, const std::string& table_name) {
    constexpr int reach = 150, step = 25;
    pwg_media_t* best = nullptr;
    int best_off = 0;
    for (int dw = -reach; dw <= reach; dw += step)
        for (int dl = -reach; dl <= reach; dl += step) {
            pwg_media_t* m = pwgMediaForSize(width + dw, length + dl);
            const int off = std::abs(dw) + std::abs(dl);
            if (m && m->pwg && std::strncmp(m->pwg, "custom_", 7) != 0 && (!best || off < best_off))
                best = m, best_off = off;
        }
    if (best) return best->pwg;
    return "om_" + keyword_of(table_name) + "_" + mm_text(width) + "x" + mm_text(length) + "mm";
}

void build_tables() {
    char name[128];
    int rolls_min = 0, rolls_max = 0;
    for (int row = 1; row <= format_rows; ++row) {
        format_row f = media_format_row(0, row);
        if (!f.name[0]) continue;
        format_entry e{row, "", hundredths(f.width), f.custom ? 0 : hundredths(f.length)};
        if (f.custom) {
            rolls_min = rolls_min ? std::min(rolls_min, e.width) : e.width;
            rolls_max = std::max(rolls_max, e.width);
        } else {
            e.pwg = pwg_name(e.width, e.length, trimmed(f.name));
        }
        // Two rows of one size (none today) would give one name twice.
        bool twice = false;
        for (const format_entry& o : tables.formats) twice |= !e.pwg.empty() && o.pwg == e.pwg;
        if (!twice && !e.pwg.empty()) tables.media.push_back(e.pwg);
        tables.formats.push_back(e);
    }
    tables.roll_min_width = rolls_min;
    tables.roll_max_width = rolls_max;
    if (rolls_max > 0) {
        // Any length from 1 mm to the longest custom length the dialog accepts.
        pwgFormatSizeName(name, sizeof name, "roll", "min", rolls_min, 100, "mm");
        tables.media.push_back(name);
        pwgFormatSizeName(name, sizeof name, "roll", "max", rolls_max, max_custom_length_mm * 100,
                          "mm");
        tables.media.push_back(name);
    }
    for (int row = 0; row < media_type_rows; ++row)
        tables.types.push_back(keyword_of(trimmed(media_type_name(0, row, 0))));
    const bool has_600 = model_capability(0, cap_600dpi) == 1;
    tables.resolution_count = 0;
    for (int dpi : {200, 300, 400, 600})
        if (dpi != 600 || has_600) tables.resolutions[tables.resolution_count++] = dpi;
}

const driver_tables_state& driver_tables() {
    std::call_once(tables.built, build_tables);
    return tables;
}

// The format row for a page of width x length (hundredths of mm): a fixed format of
// that size within 1 mm, either way round, else a roll as wide as the page (or as
// long, for a page turned on its side) with the other side as custom length. Returns
// the row and sets *custom_mm, or 0 when no format fits.
int format_for(int width, int length, int* custom_mm) {
    constexpr int slack = 100;
    *custom_mm = 0;
    for (const format_entry& f : driver_tables().formats) {
        if (f.length == 0) continue;
        if ((std::abs(f.width - width) <= slack && std::abs(f.length - length) <= slack) ||
            (std::abs(f.width - length) <= slack && std::abs(f.length - width) <= slack))
            return f.row;
    }
    for (int turn = 0; turn < 2; ++turn) {
        const int across = turn ? length : width, along = turn ? width : length;
        const int mm = (along + 50) / 100;
        if (mm < 1 || mm > max_custom_length_mm) continue;
        for (const format_entry& f : driver_tables().formats) {
            if (f.length != 0 || std::abs(f.width - across) > slack) continue;
            *custom_mm = mm;
            return f.row;
        }
    }
    return 0;
}

// Sets a media collection for format row (custom length in mm for a roll row).
void media_for_row(int row, int custom_mm, pappl_media_col_t* m) {
    std::memset(m, 0, sizeof *m);
    for (const format_entry& f : driver_tables().formats) {
        if (f.row != row) continue;
        m->size_width = f.width;
        m->size_length = f.length ? f.length : custom_mm * 100;
        if (f.length)
            std::snprintf(m->size_name, sizeof m->size_name, "%s", f.pwg.c_str());
        else
            pwgFormatSizeName(m->size_name, sizeof m->size_name, "custom", "roll", m->size_width,
                              m->size_length, "mm");
    }
    std::snprintf(m->source, sizeof m->source, "main-roll");
    std::snprintf(m->type, sizeof m->type, "%s", driver_tables().types[0].c_str());
}

} // namespace

pappl_pr_driver_t printer_drivers[] = {
    {"orvix_9270_rtl", "Orvix 9270/9250 Wide Format, HP-RTL/GL2",
     "MFG:Orvix;MDL:9270/9250 Wide Format;CMD:PJL,HPGL2,RTL;", nullptr},
    {"orvix_9270_ktgl", "Orvix 9270/9250 Wide Format, KTGL+MMR",
     "MFG:Orvix;MDL:9270/9250 Wide Format;CMD:PJL,KTGL;", nullptr},
};

// The KTGL+MMR driver is offered only where the model writes that language.
const int printer_driver_count = model_capability(0, cap_ktgl) == 1 ? 2 : 1;

std::string printer_store(pappl_printer_t* printer) {
    return app.state_dir + "/printer-" + std::to_string(papplPrinterGetID(printer)) + ".settings";
}

std::string vendor_dialog_option(const char* name) {
    for (const vendor_entry& v : vendor_entries)
        if (std::strcmp(v.name, name) == 0) return v.option;
    return "";
}

bool driver_setup(pappl_system_t* system, const char* driver_name, const char*, const char*,
                  pappl_pr_driver_data_t* data, ipp_t** attrs, void*) {
    const driver_tables_state& t = driver_tables();
    const bool ktgl = std::strcmp(driver_name, "orvix_9270_ktgl") == 0;
    if (!ktgl && std::strcmp(driver_name, "orvix_9270_rtl") != 0) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unknown driver '%s'.", driver_name);
        return false;
    }
    if (ktgl && printer_driver_count < 2) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "This model does not write KTGL+MMR.");
        return false;
    }

    data->printfile_cb = job_print_script;
    data->rstartjob_cb = job_start;
    data->rstartpage_cb = job_start_page;
    data->rwriteline_cb = job_write_line;
    data->rendpage_cb = job_end_page;
    data->rendjob_cb = job_end;
    data->format = plot_script_mime;
    std::snprintf(data->make_and_model, sizeof data->make_and_model, "Orvix %s",
                  trimmed(reinterpret_cast<const char*>(model_name_field(0))).c_str());
    data->ppm = 1;
    data->kind = PAPPL_KIND_DOCUMENT;
    data->color_supported =
        static_cast<pappl_color_mode_t>(PAPPL_COLOR_MODE_MONOCHROME | PAPPL_COLOR_MODE_BI_LEVEL);
    data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
    data->content_default = PAPPL_CONTENT_AUTO;
    data->quality_default = IPP_QUALITY_NORMAL;
    data->scaling_default = PAPPL_SCALING_AUTO;
    data->orient_default = IPP_ORIENT_NONE;
    // Clients are asked for 8-bit grey pages: forcing every job of the printer to 1 bit
    // would lose grey for all. A 1-bit black page a client sends anyway is printed as
    // sent (job_start_page takes its own header, page_header.cpp). Bi-level jobs are
    // thresholded from grey when spooled.
    data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
    data->force_raster_type = PAPPL_PWG_RASTER_TYPE_NONE;
    data->duplex = PAPPL_DUPLEX_NONE;
    data->sides_supported = PAPPL_SIDES_ONE_SIDED;
    data->sides_default = PAPPL_SIDES_ONE_SIDED;

    data->num_resolution = t.resolution_count;
    for (int i = 0; i < t.resolution_count; ++i)
        data->x_resolution[i] = data->y_resolution[i] = t.resolutions[i];
    data->x_default = data->y_default = t.resolutions[t.resolution_count - 1];

    // The plot area is the whole sheet less the printer's own margin setting, which
    // the driver applies; the page itself has none.
    data->borderless = true;
    data->left_right = 0;
    data->bottom_top = 0;
    data->num_media = static_cast<int>(std::min<size_t>(t.media.size(), PAPPL_MAX_MEDIA));
    for (int i = 0; i < data->num_media; ++i)
        data->media[i] = t.media[static_cast<size_t>(i)].c_str();
    data->num_source = 1;
    data->source[0] = "main-roll";
    data->num_type = static_cast<int>(t.types.size());
    for (int i = 0; i < data->num_type; ++i)
        data->type[i] = t.types[static_cast<size_t>(i)].c_str();
    // The driver's installation default is format row 1; a ready roll always has a
    // length inside the roll range.
    media_for_row(1, 0, &data->media_default);
    data->media_ready[0] = data->media_default;
    data->tracking_supported = PAPPL_MEDIA_TRACKING_CONTINUOUS;

    data->num_vendor = 0;
    for (const vendor_entry& v : vendor_entries) data->vendor[data->num_vendor++] = v.name;

    ipp_t* a = ippNew();
    for (const vendor_entry& v : vendor_entries) {
        const std::string supported = std::string(v.name) + "-supported";
        const std::string deflt = std::string(v.name) + "-default";
        if (!v.supported[0]) {
            ippAddRange(a, IPP_TAG_PRINTER, supported.c_str(), v.low, v.high);
            ippAddInteger(a, IPP_TAG_PRINTER, IPP_TAG_INTEGER, deflt.c_str(), v.low);
            continue;
        }
        std::vector<std::string> words;
        for (const char *p = v.supported, *q; *p; p = *q ? q + 1 : q) {
            q = std::strchr(p, ',');
            if (!q) q = p + std::strlen(p);
            words.emplace_back(p, static_cast<size_t>(q - p));
        }
        std::vector<const char*> ptrs;
        for (const std::string& w : words) ptrs.push_back(w.c_str());
        ippAddStrings(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, supported.c_str(),
                      static_cast<int>(ptrs.size()), nullptr, ptrs.data());
        ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, deflt.c_str(), nullptr, ptrs[0]);
    }
    // The driver renders grey as it is; the only rendering intent is the printer's own.
    ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported", nullptr,
                 "auto");
    ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr,
                 "auto");
    *attrs = a;
    return true;
}

std::string job_dialog_options(pappl_printer_t* printer, pappl_pr_options_t* o, int width,
                               int length, std::vector<std::string>* out) {
    int custom_mm = 0;
    const int row = format_for(width, length, &custom_mm);
    if (row == 0) {
        char why[200];
        std::snprintf(why, sizeof why,
                      "No paper format of the plotter is %.0f x %.0f mm; use one of its "
                      "sheet sizes or a page as wide as one of its rolls",
                      width / 100.0, length / 100.0);
        return why;
    }
    out->push_back("--format");
    out->push_back(std::to_string(row));
    if (custom_mm > 0) {
        out->push_back("--length");
        out->push_back(std::to_string(custom_mm));
    }
    const driver_tables_state& t = driver_tables();
    for (size_t i = 0; i < t.types.size(); ++i)
        if (t.types[i] == o->media.type) {
            out->push_back("--media");
            out->push_back(std::to_string(i));
        }
    out->push_back("--resolution");
    out->push_back(std::to_string(o->printer_resolution[0]));
    if (o->copies < 1 || o->copies > max_copies)
        return "The plotter makes 1 to " + std::to_string(max_copies) + " copies of a job, not " +
               std::to_string(o->copies);
    out->push_back("--copies");
    out->push_back(std::to_string(o->copies));

    // Each vendor setting from the job, else the printer's default (PAPPL looks the
    // defaults up in the job's attributes only, where they never are).
    std::vector<std::pair<std::string, std::string>> vendor;
    ipp_t* defaults = printer ? papplPrinterGetDriverAttributes(printer) : nullptr;
    for (const vendor_entry& v : vendor_entries) {
        const char* value = cupsGetOption(v.name, o->num_vendor, o->vendor);
        char text[256];
        if (!value && defaults) {
            const std::string name = std::string(v.name) + "-default";
            if (ipp_attribute_t* a = ippFindAttribute(defaults, name.c_str(), IPP_TAG_ZERO)) {
                ippAttributeString(a, text, sizeof text);
                value = text;
            }
        }
        if (value) vendor.emplace_back(v.option, value);
    }
    ippDelete(defaults);
    // The finisher's margin and bin controls are disabled while the programme is the
    // manual folder: the dialog would refuse them.
    bool manual_folder = true;
    for (const auto& [option, value] : vendor)
        if (option == "--program") manual_folder = value == "manual";
    for (const auto& [option, value] : vendor) {
        if (manual_folder && (option == "--finisher-margins" || option == "--bin")) continue;
        out->push_back(option);
        out->push_back(value);
    }
    return "";
}
