// Hershey font reading, composition of accented letters and text layout.
//
// A font file holds one glyph per record: a 5-column number, a 3-column count of
// coordinate pairs, then the pairs as letters offset from 'R' (the first pair is the
// left and right bearing, " R" lifts the pen). Records may wrap onto following lines.
// The glyphs are in ASCII order from the space. Y grows downward in the file, with the
// baseline at 9 and capital tops at -12; glyphs are stored here with y upward from the
// baseline.
#include "drawing/stroke_font.h"

#include "drawing/plot_writer.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <numbers>

namespace {

// Reads the next non-line-end byte at text[i], advancing i; -1 at the end.
int next_byte(const std::string& text, size_t& i) {
    while (i < text.size() && (text[i] == '\n' || text[i] == '\r')) ++i;
    return i < text.size() ? static_cast<unsigned char>(text[i++]) : -1;
}

int parse_glyphs(const std::string& text, stroke_font* f, std::string* why) {
    size_t i = 0;
    while (f->glyphs.size() < 95) {
        while (i < text.size() && (text[i] == '\n' || text[i] == '\r')) ++i;
        if (i >= text.size()) break;
        char head[9] = {};
        for (int k = 0; k < 8; ++k) {
            int c = next_byte(text, i);
            if (c < 0) {
                *why = "a glyph record is cut short";
                return 2;
            }
            head[k] = static_cast<char>(c);
        }
        int count = std::atoi(head + 5);
        if (count < 1 || count > 1000) {
            *why = "bad coordinate count in glyph record " + std::to_string(f->glyphs.size() + 1);
            return 2;
        }
        stroke_glyph g;
        std::vector<drawing_point> stroke;
        for (int k = 0; k < count; ++k) {
            int a = next_byte(text, i), b = next_byte(text, i);
            if (a < 0 || b < 0) {
                *why = "a glyph record is cut short";
                return 2;
            }
            if (k == 0) {
                g.left = a - 'R';
                g.right = b - 'R';
            } else if (a == ' ' && b == 'R') {
                if (!stroke.empty()) g.strokes.push_back(std::move(stroke));
                stroke.clear();
            } else {
                stroke.push_back(
                    {static_cast<double>(a - 'R'), static_cast<double>(9 - (b - 'R'))});
            }
        }
        if (!stroke.empty()) g.strokes.push_back(std::move(stroke));
        f->glyphs.push_back(std::move(g));
    }
    if (f->glyphs.size() < 95) {
        *why = "only " + std::to_string(f->glyphs.size()) + " glyphs, printable ASCII needs 95";
        return 2;
    }
    return 0;
}

enum accent { none, acute, grave, circumflex, diaeresis, cedilla };

// A composed character: a base letter (or two, for the ligatures) and an accent.
struct composed {
    char32_t code;
    char base, second;
    accent mark;
};

const composed composed_table[] = {
    {U'à', 'a', 0, grave},      {U'â', 'a', 0, circumflex}, {U'ä', 'a', 0, diaeresis},
    {U'á', 'a', 0, acute},      {U'é', 'e', 0, acute},      {U'è', 'e', 0, grave},
    {U'ê', 'e', 0, circumflex}, {U'ë', 'e', 0, diaeresis},  {U'î', 'i', 0, circumflex},
    {U'ï', 'i', 0, diaeresis},  {U'í', 'i', 0, acute},      {U'ô', 'o', 0, circumflex},
    {U'ö', 'o', 0, diaeresis},  {U'ó', 'o', 0, acute},      {U'ù', 'u', 0, grave},
    {U'û', 'u', 0, circumflex}, {U'ü', 'u', 0, diaeresis},  {U'ú', 'u', 0, acute},
    {U'ÿ', 'y', 0, diaeresis},  {U'ç', 'c', 0, cedilla},    {U'À', 'A', 0, grave},
    {U'Â', 'A', 0, circumflex}, {U'Ä', 'A', 0, diaeresis},  {U'É', 'E', 0, acute},
    {U'È', 'E', 0, grave},      {U'Ê', 'E', 0, circumflex}, {U'Ë', 'E', 0, diaeresis},
    {U'Î', 'I', 0, circumflex}, {U'Ï', 'I', 0, diaeresis},  {U'Ô', 'O', 0, circumflex},
    {U'Ö', 'O', 0, diaeresis},  {U'Ù', 'U', 0, grave},      {U'Û', 'U', 0, circumflex},
    {U'Ü', 'U', 0, diaeresis},  {U'Ÿ', 'Y', 0, diaeresis},  {U'Ç', 'C', 0, cedilla},
    {U'æ', 'a', 'e', none},     {U'œ', 'o', 'e', none},     {U'Æ', 'A', 'E', none},
    {U'Œ', 'O', 'E', none},     {U'«', '<', '<', none},     {U'»', '>', '>', none},
    {U'’', '\'', 0, none},      {U'‘', '`', 0, none},       {U'“', '"', 0, none},
    {U'”', '"', 0, none},       {U'–', '-', 0, none},       {U'—', '-', 0, none},
    {U'\u00A0', ' ', 0, none},  {U'\u202F', ' ', 0, none},  {U'…', '.', 0, none},
};

// Accent strokes, font units, x from the letter's centre, y from the accent's foot.
void accent_strokes(accent a, double foot, std::vector<std::vector<drawing_point>>& out) {
    switch (a) {
    case acute:
        out.push_back({{-1, foot}, {2, foot + 3}});
        break;
    case grave:
        out.push_back({{1, foot}, {-2, foot + 3}});
        break;
    case circumflex:
        out.push_back({{-3, foot}, {0, foot + 3}, {3, foot}});
        break;
    case diaeresis:
        out.push_back({{-2.5, foot}, {-2.5, foot + 1}});
        out.push_back({{2.5, foot}, {2.5, foot + 1}});
        break;
    case cedilla:
        out.push_back({{0, 0}, {0, -2}, {2, -3}, {1, -5}, {-2, -5}});
        break;
    case none:
        break;
    }
}

// UTF-8 to code points; a malformed byte becomes U+FFFD.
std::u32string decode_utf8(const std::string& s) {
    std::u32string out;
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int n = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        char32_t cp = n <= 0 ? c : c & (0x3F >> n);
        bool ok = n >= 0 && i + static_cast<size_t>(n) < s.size();
        for (int k = 1; ok && k <= n; ++k) {
            unsigned char t = static_cast<unsigned char>(s[i + k]);
            ok = (t & 0xC0) == 0x80;
            cp = (cp << 6) | (t & 0x3F);
        }
        if (!ok) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += static_cast<size_t>(n) + 1;
    }
    return out;
}

// One laid-out character: glyph strokes in font units and its advance.
struct shaped {
    std::vector<std::vector<drawing_point>> strokes;
    double advance;
    bool missing;
};

const stroke_glyph& glyph_of(const stroke_font& f, char c) {
    unsigned u = static_cast<unsigned char>(c);
    return f.glyphs[u >= 32 && u < 127 ? u - 32 : '?' - 32];
}

// Appends glyph c's strokes shifted so its left bearing sits at x.
void place(const stroke_font& f, char c, double x, bool dotless,
           std::vector<std::vector<drawing_point>>& out) {
    const stroke_glyph& g = glyph_of(f, c);
    for (const auto& s : g.strokes) {
        bool above = true; // a dotless i drops the strokes wholly above the x-height
        for (auto p : s) above = above && p.y > 15;
        if (dotless && above) continue;
        auto& o = out.emplace_back();
        for (auto p : s) o.push_back({p.x - g.left + x, p.y});
    }
}

shaped shape(const stroke_font& f, char32_t cp) {
    shaped r{{}, 0, false};
    if (cp >= 32 && cp < 127) {
        place(f, static_cast<char>(cp), 0, false, r.strokes);
        const stroke_glyph& g = glyph_of(f, static_cast<char>(cp));
        r.advance = g.right - g.left;
        return r;
    }
    if (cp == U'°' || cp == U'±' || cp == U'⌀' || cp == U'€') {
        const stroke_glyph& o = glyph_of(f, 'o');
        if (cp == U'°') {
            std::vector<drawing_point> ring;
            flatten_arc({4, 18}, 2.5, 0, 2 * std::numbers::pi, 0.1, ring);
            r.strokes.push_back(ring);
            r.advance = 8;
        } else if (cp == U'±') {
            r.strokes.push_back({{1, 11}, {17, 11}});
            r.strokes.push_back({{9, 4}, {9, 18}});
            r.strokes.push_back({{1, 1}, {17, 1}});
            r.advance = 18;
        } else if (cp == U'⌀') {
            place(f, 'O', 0, false, r.strokes);
            const stroke_glyph& big = glyph_of(f, 'O');
            r.advance = big.right - big.left;
            r.strokes.push_back({{2, -2}, {r.advance - 2, 23}});
        } else { // euro: a C with two bars
            place(f, 'C', 0, false, r.strokes);
            const stroke_glyph& c = glyph_of(f, 'C');
            r.advance = c.right - c.left;
            r.strokes.push_back({{1, 12}, {13, 12}});
            r.strokes.push_back({{1, 8}, {12, 8}});
        }
        (void)o;
        return r;
    }
    for (const composed& c : composed_table) {
        if (c.code != cp) continue;
        bool upper = c.base >= 'A' && c.base <= 'Z';
        place(f, c.base, 0, c.base == 'i' && c.mark != none, r.strokes);
        const stroke_glyph& g = glyph_of(f, c.base);
        r.advance = g.right - g.left;
        if (c.second) {
            double x = r.advance - (c.base == '<' || c.base == '>' ? 10 : 4);
            place(f, c.second, x, false, r.strokes);
            const stroke_glyph& h = glyph_of(f, c.second);
            r.advance = x + h.right - h.left;
        }
        if (c.mark != none) {
            std::vector<std::vector<drawing_point>> a;
            accent_strokes(c.mark, upper ? 23 : 16, a);
            double centre = -g.left; // the glyph's own x = 0
            for (auto& s : a) {
                for (auto& p : s) p.x += centre;
                r.strokes.push_back(std::move(s));
            }
        }
        return r;
    }
    place(f, '?', 0, false, r.strokes);
    const stroke_glyph& q = glyph_of(f, '?');
    r.advance = q.right - q.left;
    r.missing = true;
    return r;
}

std::vector<std::u32string> split_lines(const std::u32string& text) {
    std::vector<std::u32string> lines(1);
    for (char32_t c : text) {
        if (c == U'\n')
            lines.emplace_back();
        else if (c != U'\r')
            lines.back().push_back(c);
    }
    return lines;
}

double line_advance(const stroke_font& f, const std::u32string& line) {
    double w = 0;
    for (char32_t c : line) w += shape(f, c).advance;
    return w;
}

} // namespace

int stroke_font_load(const std::string& path, stroke_font* font, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": cannot read the stroke font";
        return 2;
    }
    std::string text((std::istreambuf_iterator<char>(in)), {});
    font->path = path;
    font->glyphs.clear();
    std::string why;
    if (parse_glyphs(text, font, &why) != 0) {
        *error = path + ": not a usable stroke font: " + why;
        return 2;
    }
    return 0;
}

const stroke_font* stroke_font_default(std::string* error) {
    struct loaded {
        stroke_font font;
        std::string error;
        bool ok;
    };
    static const loaded once = [] {
        loaded l{};
        const char* dir = std::getenv("KVRAC_FONT_DIR");
        std::string path =
            std::string(dir && *dir ? dir : "/usr/share/hershey-fonts") + "/rowmans.jhf";
        l.ok = stroke_font_load(path, &l.font, &l.error) == 0;
        if (!l.ok)
            l.error += " (text needs the Hershey fonts: install the Debian package "
                       "hershey-fonts-data, or set KVRAC_FONT_DIR to a folder holding rowmans.jhf)";
        return l;
    }();
    if (!once.ok) {
        *error = once.error;
        return nullptr;
    }
    return &once.font;
}

double stroke_text_width(const stroke_font& font, const text_run& run) {
    double scale = run.height / font_cap_height * run.width_factor;
    double w = 0;
    for (const auto& line : split_lines(decode_utf8(run.utf8)))
        w = std::max(w, line_advance(font, line) * scale);
    return w;
}

size_t stroke_text(const stroke_font& font, const text_run& run,
                   std::vector<std::vector<drawing_point>>& out) {
    const double scale = run.height / font_cap_height;
    const double sx = scale * run.width_factor;
    const double slant = std::tan(run.slant_deg * std::numbers::pi / 180);
    const affine turn = compose(translation(run.at.x, run.at.y), rotation_deg(run.angle_deg));
    const auto lines = split_lines(decode_utf8(run.utf8));
    const double spacing = run.height * (run.line_spacing > 0 ? run.line_spacing : 1.6);
    // Vertical offset of the first baseline from the justification point.
    double block = spacing * static_cast<double>(lines.size() - 1);
    double y0 = 0;
    switch (run.valign) {
    case text_valign::baseline:
        y0 = 0;
        break;
    case text_valign::bottom:
        y0 = font_descent * scale + block;
        break;
    case text_valign::middle:
        y0 = (block - font_cap_height * scale) / 2;
        break;
    case text_valign::top:
        y0 = -font_cap_height * scale;
        break;
    }
    size_t missing = 0;
    for (size_t li = 0; li < lines.size(); ++li) {
        double width = 0;
        std::vector<shaped> chars;
        for (char32_t c : lines[li]) {
            chars.push_back(shape(font, c));
            width += chars.back().advance * sx;
        }
        double x = run.halign == text_halign::left     ? 0
                   : run.halign == text_halign::center ? -width / 2
                                                       : -width;
        double y = y0 - spacing * static_cast<double>(li);
        for (const shaped& s : chars) {
            missing += s.missing;
            for (const auto& stroke : s.strokes) {
                auto& o = out.emplace_back();
                for (auto p : stroke)
                    o.push_back(apply(turn, {x + p.x * sx + p.y * scale * slant, y + p.y * scale}));
            }
            x += s.advance * sx;
        }
    }
    return missing;
}

void drawing_sink::text(const drawing_style& s, const text_run& t) {
    std::string why;
    const stroke_font* font = stroke_font_default(&why);
    if (!font) throw drawing_failure(why);
    std::vector<std::vector<drawing_point>> strokes;
    missing_glyphs += stroke_text(*font, t, strokes);
    for (const auto& p : strokes) path(s, p.data(), p.size(), false);
}
