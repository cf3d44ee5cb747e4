// Pen table reading and lookup (see drawing/pen_table.h for the format).
#include "drawing/pen_table.h"

#include <charconv>
#include <fstream>
#include <sstream>

namespace {

bool parse_int(const std::string& w, int* v) {
    auto [p, ec] = std::from_chars(w.data(), w.data() + w.size(), *v);
    return ec == std::errc() && p == w.data() + w.size();
}

bool parse_width(std::string w, double* mm) {
    double factor = 1;
    if (w.size() > 2 && w.compare(w.size() - 2, 2, "mm") == 0) {
        w.resize(w.size() - 2);
    } else if (w.size() > 2 && w.compare(w.size() - 2, 2, "in") == 0) {
        w.resize(w.size() - 2);
        factor = 25.4;
    }
    auto [p, ec] = std::from_chars(w.data(), w.data() + w.size(), *mm);
    *mm *= factor;
    return ec == std::errc() && p == w.data() + w.size() && *mm >= 0 && *mm <= 297;
}

} // namespace

int pen_table_load(const std::string& path, pen_table* table, std::string* error) {
    std::ifstream in(path);
    if (!in) {
        *error = path + ": cannot read the pen table";
        return 2;
    }
    table->rules.clear();
    std::string line;
    for (long n = 1; std::getline(in, line); ++n) {
        if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string x; words >> x;) w.push_back(x);
        if (w.empty()) continue;
        auto bad = [&](const std::string& what) {
            *error = path + ":" + std::to_string(n) + ": " + what;
            return 2;
        };
        pen_rule r{0, 0, -1, false};
        if (w.size() < 2 || w.size() > 4) return bad("a rule is COLOUR PEN [WIDTH] [force]");
        if (w[0] != "*" && (!parse_int(w[0], &r.colour) || r.colour < 1 || r.colour > 255))
            return bad("colour must be 1..255 or *, not '" + w[0] + "'");
        if (!parse_int(w[1], &r.pen) || r.pen < 1 || r.pen > 255)
            return bad("pen must be 1..255, not '" + w[1] + "'");
        for (size_t k = 2; k < w.size(); ++k) {
            if (w[k] == "force")
                r.force = true;
            else if (r.width_mm >= 0 || !parse_width(w[k], &r.width_mm))
                return bad("width must be 0..297 mm (e.g. 0.35mm or 0.01in), not '" + w[k] + "'");
        }
        if (r.force && r.width_mm < 0) return bad("force needs a width");
        table->rules.push_back(r);
    }
    return 0;
}

pen_choice pen_for(const pen_table& table, const drawing_style& style) {
    const pen_rule* rule = nullptr;
    for (const pen_rule& r : table.rules)
        if (r.colour == style.colour) {
            rule = &r;
            break;
        }
    if (!rule)
        for (const pen_rule& r : table.rules)
            if (r.colour == 0) {
                rule = &r;
                break;
            }
    int pen = rule ? rule->pen : (style.colour >= 1 && style.colour <= 255 ? style.colour : 7);
    double mm = table.default_width_mm;
    if (rule && rule->width_mm >= 0 && (rule->force || style.weight_mm < 0))
        mm = rule->width_mm;
    else if (style.weight_mm >= 0)
        mm = style.weight_mm;
    // A zero weight is the thinnest line the printer draws: one dot at 600 dpi.
    double inch = mm / 25.4;
    if (inch < 1.0 / 600) inch = 1.0 / 600;
    return {pen, inch};
}
