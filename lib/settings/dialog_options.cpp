// Dialog options into user actions, and the outcome back into words.
//
// The actions follow the dialog's own order of work: the language first (it refills
// the media list and limits the resolutions), then media, format (which resets the
// length), length, margin, copies, fill, resolution, red pen; then the options dialog;
// then the colour dialog (reset, curve, Saturation, Teinte, Gamma); the label last.
#include "settings/dialog_options.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iterator>

#include "host/device_tables.h"
#include "system/text.h"
#include "ui/dialog_templates.h"

const char dialog_options_help[] =
    "  --media NAME|ROW        media type: Bond, Film, \"Utiliser le param\xC3\xA8tre du "
    "traceur\",\n"
    "                          Vellum, or its row 0..3\n"
    "  --format NAME|ROW       paper format by name (as 'kvrac formats' lists it) or row "
    "1..41\n"
    "  --length MM             length of a custom-length format (Format perso.), 1..15000\n"
    "  --margin MM             margin on every side, 0..10\n"
    "  --copies N              copies, 1..99\n"
    "  --fill solid|halftone   polygon fill\n"
    "  --resolution 600|400|300|200   raster resolution in dpi\n"
    "  --language rtl|ktgl     output language (this model offers RTL/GL2 only)\n"
    "  --red-pen yes|no        red-pen printing (not offered by this model)\n"
    "  --red-pen-number N      pen printed in red, 1..255 (not offered by this model)\n"
    "  --program manual|1..20  finisher programme (manual = Plieuse manuelle)\n"
    "  --finisher-margins program|off   finisher margins (with a programme only)\n"
    "  --bin any|fanfold|1..13 output bin (with a programme only)\n"
    "  --manual-feed yes|no    manual feed\n"
    "  --curve P0,P1,P2,P3,P4  tone curve outputs at inputs 0, 64, 128, 192, 255, set by\n"
    "                          dragging the handles: 0..255, each at least 5 above the last\n"
    "  --curve-defaults        reset the tone curve (\"Valeur pr\xC3\xA9"
    "d\xC3\xA9"
    "finie\")\n"
    "  --saturation N          N steps of Saturation (negative: down)\n"
    "  --tint N                N steps of Teinte (negative: down)\n"
    "  --gamma N               N steps of Gamma (negative: down)\n";

namespace {

constexpr int model = 0; // the driver's one model

struct option_def {
    const char* name;
    bool takes_value;
};

constexpr option_def option_defs[] = {
    {"--media", true},      {"--format", true},
    {"--length", true},     {"--margin", true},
    {"--copies", true},     {"--fill", true},
    {"--resolution", true}, {"--language", true},
    {"--red-pen", true},    {"--red-pen-number", true},
    {"--program", true},    {"--finisher-margins", true},
    {"--bin", true},        {"--manual-feed", true},
    {"--curve", true},      {"--curve-defaults", false},
    {"--saturation", true}, {"--tint", true},
    {"--gamma", true},      {"--label", true},
};

int bad_value(const dialog_option& o, const char* takes) {
    std::fprintf(stderr, "kvrac: %s takes %s, not '%s'\n", o.name.c_str(), takes, o.value.c_str());
    return 2;
}

// A count of decimal digits only (at most 9, so it fits an int).
bool parse_count(const std::string& s, int& v) {
    if (s.empty() || s.size() > 9) return false;
    v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    return true;
}

// An optionally signed count of steps, at most 999 either way.
bool parse_steps(const std::string& s, int& v) {
    if (s.empty()) return false;
    const bool negative = s[0] == '-';
    std::string digits = s[0] == '-' || s[0] == '+' ? s.substr(1) : s;
    if (digits.size() > 3 || !parse_count(digits, v)) return false;
    if (negative) v = -v;
    return true;
}

bool same_ascii_fold(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

const dialog_option* last(const std::vector<dialog_option>& options, const char* name) {
    const dialog_option* found = nullptr;
    for (const dialog_option& o : options)
        if (o.name == name) found = &o;
    return found;
}

// Appends the actions one option asks for.
struct script_writer {
    dialog_script& script;
    std::string asked_by;

    void add(user_action a) {
        script.actions.push_back(a);
        script.asked_by.push_back(asked_by);
    }
    void click(int id) { add({user_act::click, id, 0, 0, 0, 0, 0, nullptr, 0}); }
    void row(int id, int r) { add({user_act::select_row, id, r, 0, 0, 0, 0, nullptr, 0}); }
    void type(int id, const std::string& text) {
        script.texts.push_back(text);
        add({user_act::type_text, id, 0, 0, 0, 0, 0, script.texts.back().c_str(), 0});
        add({user_act::leave_field, id, 0, 0, 0, 0, 0, nullptr, 0});
    }
    void steps(int id, int n) {
        const int count = n < 0 ? -n : n;
        const std::string base = asked_by;
        for (int i = 1; i <= count; ++i) {
            asked_by = base + " (step " + std::to_string(i) + " of " + std::to_string(count) + ")";
            add({n > 0 ? user_act::scroll_up : user_act::scroll_down, id, 0, 0, 0, 0, 0, nullptr,
                 ua_must_change});
        }
        asked_by = base;
    }
    void drag(int handle, int value) {
        add({user_act::drag_point, idc_curve, handle, 0, 0, value, 255, nullptr, 0});
    }
    void answer(int value) { add({user_act::answer, 0, value, 0, 0, 0, 0, nullptr, 0}); }
};

int media_row(const dialog_option& o, int& row) {
    if (parse_count(o.value, row)) {
        if (row < media_type_rows && media_type_name(model, row, 0)[0]) return 0;
    } else {
        for (row = 0; row < media_type_rows; ++row)
            if (same_ascii_fold(cp1252_trimmed(media_type_name(model, row, 0)), o.value)) return 0;
    }
    return bad_value(o, "a media type (Bond, Film, Vellum, \"Utiliser le param\xC3\xA8tre du "
                        "traceur\") or row 0..3");
}

int format_row_of(const dialog_option& o, int& row) {
    if (parse_count(o.value, row)) {
        if (row >= 1 && row <= format_rows && media_format_row(model, row).name[0]) return 0;
    } else {
        for (row = 1; row <= format_rows; ++row)
            if (same_ascii_fold(cp1252_trimmed(media_format_row(model, row).name), o.value))
                return 0;
    }
    return bad_value(o, "a format name as 'kvrac formats' lists it, or its row 1..41");
}

// One of the words; its index in *index.
int one_of(const dialog_option& o, std::initializer_list<const char*> words, int& index,
           const char* takes) {
    index = 0;
    for (const char* w : words) {
        if (same_ascii_fold(o.value, w)) return 0;
        ++index;
    }
    return bad_value(o, takes);
}

int parse_curve(const dialog_option& o, int values[5]) {
    int n = 0;
    size_t at = 0;
    while (n < 5) {
        size_t comma = o.value.find(',', at);
        std::string part =
            o.value.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        if (!parse_count(part, values[n]) || values[n] > 255) break;
        ++n;
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    bool rising = n == 5 && o.value.find(',', at) == std::string::npos;
    for (int k = 1; rising && k < 5; ++k) rising = values[k] >= values[k - 1] + 5;
    if (rising) return 0;
    return bad_value(o, "five values 0..255 separated by commas, each at least 5 above the one "
                        "before (the curve control keeps its handles 4 pixels apart)");
}

// The main dialog's own controls.
int main_controls(const std::vector<dialog_option>& options, script_writer& w) {
    int v;
    if (const dialog_option* o = last(options, "--language")) {
        if (one_of(*o, {"rtl", "ktgl"}, v, "rtl or ktgl")) return 2;
        w.asked_by = o->name + " " + o->value;
        w.click(v == 0 ? idc_language_rtl : idc_language_ktgl);
    }
    if (const dialog_option* o = last(options, "--media")) {
        if (media_row(*o, v)) return 2;
        w.asked_by = o->name + " " + o->value;
        w.row(idc_media_list, v);
    }
    if (const dialog_option* o = last(options, "--format")) {
        if (format_row_of(*o, v)) return 2;
        w.asked_by = o->name + " " + o->value;
        w.row(idc_format_list, v - 1);
    }
    // The copy count is checked here against the dialog's own range, so that every
    // count outside it gets the same reason (the dialog itself would refuse 0 with its
    // warning but 100 as too long for its two-digit field). The others are left to the
    // dialog, whose limits depend on the format.
    const struct {
        const char* name;
        int field;
        int low;
        int high; // 0 = no limit here
        const char* takes;
    } numbers[] = {{"--length", idc_length, 1, 0, "a whole number from 1"},
                   {"--margin", idc_margin, 0, 0, "a whole number"},
                   {"--copies", idc_copies, 1, 99, "a whole number 1..99"}};
    for (const auto& n : numbers) {
        if (const dialog_option* o = last(options, n.name)) {
            if (!parse_count(o->value, v) || v < n.low || (n.high && v > n.high))
                return bad_value(*o, n.takes);
            w.asked_by = o->name + " " + o->value;
            w.type(n.field, std::to_string(v));
        }
    }
    if (const dialog_option* o = last(options, "--fill")) {
        if (one_of(*o, {"solid", "halftone"}, v, "solid or halftone")) return 2;
        w.asked_by = o->name + " " + o->value;
        w.click(v == 0 ? idc_fill_solid : idc_fill_halftone);
    }
    if (const dialog_option* o = last(options, "--resolution")) {
        if (one_of(*o, {"600", "400", "300", "200"}, v, "600, 400, 300 or 200")) return 2;
        w.asked_by = o->name + " " + o->value;
        w.click(idc_res_600 + v);
    }
    if (const dialog_option* o = last(options, "--red-pen")) {
        if (one_of(*o, {"yes", "no"}, v, "yes or no")) return 2;
        w.asked_by = o->name + " " + o->value;
        w.click(v == 0 ? idc_red_yes : idc_red_no);
    }
    if (const dialog_option* o = last(options, "--red-pen-number")) {
        if (!parse_count(o->value, v) || v < 1) return bad_value(*o, "a pen number from 1");
        w.asked_by = o->name + " " + o->value;
        w.type(idc_red_pen, std::to_string(v));
    }
    return 0;
}

// The finisher options dialog, opened with "Options..." and closed with OK.
int finisher_controls(const std::vector<dialog_option>& options, script_writer& w) {
    const dialog_option* program = last(options, "--program");
    const dialog_option* margins = last(options, "--finisher-margins");
    const dialog_option* bin = last(options, "--bin");
    const dialog_option* feed = last(options, "--manual-feed");
    if (!program && !margins && !bin && !feed) return 0;
    int v;
    w.asked_by = "the finisher options";
    w.click(idc_options);
    if (program) {
        if (same_ascii_fold(program->value, "manual")) {
            v = 0;
        } else if (!parse_count(program->value, v) || v < 1 || v >= program_rows) {
            return bad_value(*program, "manual or a programme 1..20");
        }
        w.asked_by = program->name + " " + program->value;
        w.row(idc_program_list, v);
    }
    if (margins) {
        if (one_of(*margins, {"program", "off"}, v, "program or off")) return 2;
        w.asked_by = margins->name + " " + margins->value;
        w.row(idc_fmargin_list, v);
    }
    if (bin) {
        if (same_ascii_fold(bin->value, "any")) {
            v = 0;
        } else if (same_ascii_fold(bin->value, "fanfold")) {
            v = 1;
        } else if (parse_count(bin->value, v) && v >= 1 && v + 1 < bin_rows) {
            v += 1;
        } else {
            return bad_value(*bin, "any, fanfold or a bin 1..13");
        }
        w.asked_by = bin->name + " " + bin->value;
        w.row(idc_bin_list, v);
    }
    if (feed) {
        if (one_of(*feed, {"yes", "no"}, v, "yes or no")) return 2;
        w.asked_by = feed->name + " " + feed->value;
        w.click(v == 0 ? idc_feed_yes : idc_feed_no);
    }
    w.asked_by = "the finisher options";
    w.click(idc_ok);
    return 0;
}

// The colour correction dialog, opened with "Correction d'image..." and closed with OK.
int colour_controls(const std::vector<dialog_option>& options, script_writer& w) {
    const dialog_option* defaults = last(options, "--curve-defaults");
    const dialog_option* curve = last(options, "--curve");
    const dialog_option* steps[3] = {last(options, "--saturation"), last(options, "--tint"),
                                     last(options, "--gamma")};
    const int bars[3] = {idc_saturation, idc_tint, idc_gamma};
    if (!defaults && !curve && !steps[0] && !steps[1] && !steps[2]) return 0;
    w.asked_by = "the colour correction";
    w.click(idc_image_correction);
    if (defaults) {
        w.asked_by = "--curve-defaults";
        w.click(idc_curve_reset);
        w.answer(id_yes);
    }
    if (curve) {
        int values[5];
        if (parse_curve(*curve, values)) return 2;
        w.asked_by = curve->name + " " + curve->value;
        // Top down, then bottom up: every handle reaches its place whatever the curve
        // was, since a handle only ever waits for a neighbour that moves first.
        for (int k = 4; k >= 0; --k) w.drag(k, values[k]);
        for (int k = 0; k <= 4; ++k) w.drag(k, values[k]);
    }
    for (int i = 0; i < 3; ++i) {
        if (!steps[i]) continue;
        int n;
        if (!parse_steps(steps[i]->value, n)) return bad_value(*steps[i], "a number of steps");
        w.asked_by = steps[i]->name + " " + steps[i]->value;
        w.steps(bars[i], n);
    }
    w.asked_by = "the colour correction";
    w.click(idc_curve_ok);
    return 0;
}

// Why an action could not be done, in the user's terms.
std::string refusal_text(const dialog_outcome& o) {
    switch (o.refusal) {
    case refusal_kind::disabled:
        switch (o.control) {
        case idc_red_yes:
        case idc_red_no:
        case idc_red_pen:
            return "this model does not offer red-pen printing";
        case idc_language_rtl:
        case idc_language_ktgl:
            return "this model does not offer a choice of output language: it prints RTL/GL2";
        case idc_media_list:
            return "this model does not offer media types";
        case idc_length:
            return "the length applies only to a custom-length format (Format perso.)";
        case idc_res_600:
            return "600 dpi is not available here";
        case idc_res_300:
            return "300 dpi is not available in KTGL+MMR";
        case idc_fmargin_list:
        case idc_bin_list:
            return "the finisher margins and the bin apply only with a programme, not with "
                   "Plieuse manuelle";
        case idc_feed_yes:
        case idc_feed_no:
            return "this model does not offer manual feed";
        case idc_label:
            return "this model does not print labels";
        default:
            return "the dialog does not offer this here";
        }
    case refusal_kind::too_long:
        return "the field takes at most " + std::to_string(o.limit) + " characters";
    case refusal_kind::no_effect:
        return "the dialog refused the step: the curve cannot go further that way";
    case refusal_kind::no_row:
        return "the list has no such row here";
    default:
        return "the dialog did not allow it";
    }
}

} // namespace

const char* dialog_option_name(int i) {
    return i >= 0 && i < static_cast<int>(std::size(option_defs)) ? option_defs[i].name : nullptr;
}

int take_dialog_option(int argc, char** argv, int& i, std::vector<dialog_option>& options) {
    const std::string a = argv[i];
    for (const option_def& s : option_defs) {
        const std::string name = s.name;
        if (a == name && !s.takes_value) {
            options.push_back({name, ""});
            return 1;
        }
        if (!s.takes_value) continue;
        if (a == name) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "kvrac: %s needs a value\n", s.name);
                return 2;
            }
            options.push_back({name, argv[++i]});
            return 1;
        }
        if (a.rfind(name + "=", 0) == 0) {
            options.push_back({name, a.substr(name.size() + 1)});
            return 1;
        }
    }
    return 0;
}

int build_dialog_script(const std::vector<dialog_option>& options, bool plot_time,
                        dialog_script& script) {
    script = {};
    script_writer w{script, ""};
    const dialog_option* label = last(options, "--label");
    if (label && !plot_time) {
        std::fprintf(stderr, "kvrac: --label is given at plot time (kvrac plot)\n");
        return 2;
    }
    if (main_controls(options, w) || finisher_controls(options, w) || colour_controls(options, w))
        return 2;
    if (label) {
        w.asked_by = "--label";
        w.type(idc_label, label->value);
    }
    // The installation dialog is closed with OK; the plot-time dialog with OK when
    // something besides the label was chosen, else with "Annuler" (the label is taken
    // when its field is left, and "Annuler" leaves the stored settings as they are).
    bool changes = false;
    for (const dialog_option& o : options) changes = changes || o.name != "--label";
    w.asked_by = "OK";
    w.click(!plot_time || changes ? idc_ok : idc_cancel);
    return 0;
}

void arm_dialog_script(const dialog_script& script) {
    dialog_set_user_actions(script.actions.data(), static_cast<int>(script.actions.size()),
                            script_stop_on_warning);
}

int report_dialog_outcome(const dialog_script& script) {
    const dialog_outcome& o = dialog_user_outcome();
    if (!o.gave_up) return 0;
    const std::string who = o.action >= 0 && o.action < static_cast<int>(script.asked_by.size())
                                ? script.asked_by[o.action]
                                : "the dialog";
    if (o.gave_up == 1) {
        for (int i = o.box_count - 1; i >= 0; --i) {
            const shown_box& b = o.boxes[i];
            if ((b.style & 0xF0) != mb_icon_exclamation) continue;
            std::fprintf(stderr, "kvrac: %s: %s: %s\n", who.c_str(),
                         cp1252_to_utf8(b.title).c_str(), cp1252_to_utf8(b.text).c_str());
            return 2;
        }
    }
    std::fprintf(stderr, "kvrac: %s: %s\n", who.c_str(), refusal_text(o).c_str());
    return 2;
}
