// Drawing format sniffing (see drawing/drawing_format.h).
#include "drawing/drawing_format.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The first non-blank line of text starting at i, trimmed; i moves past it.
std::string next_line(const std::string& t, size_t& i) {
    while (i < t.size() && (t[i] == '\n' || t[i] == '\r' || t[i] == ' ' || t[i] == '\t')) ++i;
    size_t end = t.find('\n', i);
    if (end == std::string::npos) end = t.size();
    std::string l = t.substr(i, end - i);
    i = end;
    while (!l.empty() && std::isspace(static_cast<unsigned char>(l.back()))) l.pop_back();
    return l;
}

bool looks_dxf(const std::string& head) {
    if (head.rfind("AutoCAD Binary DXF", 0) == 0) return true;
    size_t i = 0;
    for (int pair = 0; pair < 8; ++pair) {
        std::string code = next_line(head, i);
        std::string value = next_line(head, i);
        if (code == "999") continue;
        return code == "0" && value == "SECTION";
    }
    return false;
}

bool looks_hpgl(const std::string& head) {
    if (!head.empty() && head[0] == 27) return true; // PJL, PCL or RTL escapes
    size_t i = 0;
    while (i < head.size() && (std::isspace(static_cast<unsigned char>(head[i])) || head[i] == ';'))
        ++i;
    static const char* const openers[] = {"IN", "DF", "BP", "PS", "RO", "IP", "SC",
                                          "SP", "PU", "PA", "PD", "PW", "LT", "NP"};
    if (i + 2 > head.size()) return false;
    std::string m = head.substr(i, 2);
    for (char& c : m) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (std::none_of(std::begin(openers), std::end(openers), [&](const char* o) { return m == o; }))
        return false;
    // An instruction is followed by its parameters, ';' or the next instruction; script
    // commands are words followed by a blank.
    char next = i + 2 < head.size() ? head[i + 2] : ';';
    return next == ';' || std::isdigit(static_cast<unsigned char>(next)) || next == '-' ||
           std::isupper(static_cast<unsigned char>(next)) || next == '\n' || next == '\r';
}

} // namespace

drawing_format drawing_format_of(const std::string& path) {
    if (path == "-") return drawing_format::script;
    std::string head;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        head.resize(4096);
        head.resize(std::fread(head.data(), 1, head.size(), f));
        std::fclose(f);
    }
    const drawing_format by_content = drawing_format_of_content(head.data(), head.size());
    if (by_content != drawing_format::script) return by_content;
    std::string ext = lower(std::filesystem::path(path).extension().string());
    if (ext == ".dxf") return drawing_format::dxf;
    if (ext == ".plt" || ext == ".hpgl" || ext == ".hpg" || ext == ".hgl" || ext == ".gl2")
        return drawing_format::hpgl;
    return drawing_format::script;
}

drawing_format drawing_format_of_content(const char* data, size_t size) {
    const std::string head(data, size);
    if (looks_dxf(head)) return drawing_format::dxf;
    if (looks_hpgl(head)) return drawing_format::hpgl;
    return drawing_format::script;
}

const char* drawing_format_name(drawing_format f) {
    switch (f) {
    case drawing_format::dxf:
        return "DXF";
    case drawing_format::hpgl:
        return "HP-GL/2";
    case drawing_format::script:
        break;
    }
    return "plot script";
}
