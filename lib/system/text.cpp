#include "system/text.h"

#include <cstdint>

namespace {

// Unicode code points of Windows-1252 bytes 0x80..0x9F (0 = unassigned).
const uint16_t cp1252_high[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

void append_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

std::string cp1252_to_utf8(const char* text) {
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        uint32_t cp = *p;
        if (cp >= 0x80 && cp < 0xA0) cp = cp1252_high[cp - 0x80] ? cp1252_high[cp - 0x80] : 0xFFFD;
        append_utf8(out, cp);
    }
    return out;
}

std::string cp1252_trimmed(const char* text) {
    std::string s = cp1252_to_utf8(text);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

namespace {

// The length of the well-formed UTF-8 sequence at p (at most n bytes), or 0.
size_t utf8_sequence(const unsigned char* p, size_t n) {
    size_t len = p[0] >= 0xF0 && p[0] <= 0xF4 ? 4 : p[0] >= 0xE0 ? 3 : p[0] >= 0xC2 ? 2 : 0;
    if (len == 0 || len > n) return 0;
    for (size_t i = 1; i < len; ++i)
        if ((p[i] & 0xC0) != 0x80) return 0;
    // Overlong forms, surrogates, code points past U+10FFFF and the C1 control codes
    // (which terminals obey) are not letters.
    if (len == 2 && p[0] == 0xC2 && p[1] < 0xA0) return 0;
    if (len == 3 && p[0] == 0xE0 && p[1] < 0xA0) return 0;
    if (len == 3 && p[0] == 0xED && p[1] >= 0xA0) return 0;
    if (len == 4 && p[0] == 0xF0 && p[1] < 0x90) return 0;
    if (len == 4 && p[0] == 0xF4 && p[1] >= 0x90) return 0;
    return len;
}

} // namespace

std::string printable_text(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        if (size_t len = c >= 0x80 ? utf8_sequence(p + i, n - i) : 0) {
            out.append(text, i, len);
            i += len;
            continue;
        }
        static const char hex[] = "0123456789ABCDEF";
        out += "\\x";
        out += hex[c >> 4];
        out += hex[c & 15];
        ++i;
    }
    return out;
}
