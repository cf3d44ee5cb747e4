// The plot script's text command (see drawing/script_text.h).
#include "drawing/script_text.h"

#include <charconv>
#include <cmath>

#include "drawing/script.h"
#include "drawing/stroke_font.h"

namespace {

int fail(script_reader& r, const std::string& what) {
    r.error = r.name + ":" + std::to_string(r.line_number) + ": " + what;
    return 2;
}

std::string_view word(std::string_view& s) {
    size_t a = 0;
    while (a < s.size() && static_cast<unsigned char>(s[a]) <= ' ') ++a;
    size_t b = a;
    while (b < s.size() && static_cast<unsigned char>(s[b]) > ' ' && s[b] != '"') ++b;
    std::string_view w = s.substr(a, b - a);
    s.remove_prefix(b);
    return w;
}

bool number(std::string_view w, double* v) {
    if (!w.empty() && w[0] == '+') w.remove_prefix(1);
    auto [p, ec] = std::from_chars(w.data(), w.data() + w.size(), *v, std::chars_format::fixed);
    return ec == std::errc() && p == w.data() + w.size() && !w.empty() && std::isfinite(*v);
}

double to_plu(const script_reader& r, double v) {
    if (r.unit == script_unit::mm) return v / 25.4 * r.steps_per_inch;
    if (r.unit == script_unit::in) return v * r.steps_per_inch;
    return v;
}

} // namespace

int script_parse_text(script_reader& r, std::string_view rest, script_text* t) {
    double v[4];
    int n = 0;
    for (;;) {
        std::string_view w = word(rest);
        if (w.empty()) break;
        if (n == 4) return fail(r, "text takes X Y HEIGHT [ANGLE] and the text in double quotes");
        if (!number(w, &v[n])) return fail(r, "not a number: '" + std::string(w) + "'");
        ++n;
    }
    while (!rest.empty() && static_cast<unsigned char>(rest[0]) <= ' ') rest.remove_prefix(1);
    if (n < 3 || rest.empty() || rest[0] != '"')
        return fail(r, "text takes X Y HEIGHT [ANGLE] and the text in double quotes");
    t->utf8.clear();
    size_t i = 1;
    for (; i < rest.size() && rest[i] != '"'; ++i) {
        if (rest[i] == '\\' && i + 1 < rest.size()) {
            char e = rest[++i];
            t->utf8 += e == 'n' ? '\n' : e;
        } else {
            t->utf8 += rest[i];
        }
    }
    if (i >= rest.size()) return fail(r, "the text lacks its closing quote");
    rest.remove_prefix(i + 1);
    if (size_t hash = rest.find('#'); hash != std::string_view::npos) rest = rest.substr(0, hash);
    t->halign = 0;
    std::string_view j = word(rest);
    if (j == "center" || j == "centre")
        t->halign = 1;
    else if (j == "right")
        t->halign = 2;
    else if (!j.empty() && j != "left")
        return fail(r, "after the text only left, center or right may follow, not '" +
                           std::string(j) + "'");
    if (!word(rest).empty()) return fail(r, "text has something after its justification");
    t->x = to_plu(r, v[0]);
    t->y = to_plu(r, v[1]);
    t->height = to_plu(r, v[2]);
    t->angle_deg = n == 4 ? v[3] : 0;
    if (!(t->height > 0)) return fail(r, "text height must be above 0");
    std::string why;
    const stroke_font* font = stroke_font_default(&why);
    if (!font) return fail(r, why);
    // Every stroke must land inside the plot range.
    text_run run{t->utf8,
                 {t->x, t->y},
                 t->height,
                 t->angle_deg,
                 1,
                 0,
                 static_cast<text_halign>(t->halign),
                 text_valign::baseline,
                 1.6};
    std::vector<std::vector<drawing_point>> strokes;
    stroke_text(*font, run, strokes);
    for (const auto& s : strokes)
        for (auto p : s)
            if (p.x < -0.5 || p.y < -0.5 || p.x >= 65535.5 || p.y >= 65535.5)
                return fail(r, "the text reaches outside the plot range 0..65535");
    return 0;
}
