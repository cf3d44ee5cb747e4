// Reads back HP-GL/2 text the way a plotter would, for tests: PE runs are decoded into
// pen-up moves and pen-down lines, other instructions are skipped, and the first syntax fault (a
// byte that is neither a flag nor a digit inside a run, a coordinate pair cut in half, a stray byte
// outside any instruction) is reported.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct hpgl_event {
    char kind;    // 'M' pen-up move, 'D' pen-down line
    int64_t x, y; // pen position afterwards, device units
};

struct hpgl_reading {
    std::vector<hpgl_event> events;
    std::string fault;     // empty when the text is valid
    bool run_open = false; // the text ends inside a PE run
};

// Decodes one PE number at s[i], advancing i. False on a byte that is no digit.
inline bool read_pe_number(const std::string& s, size_t& i, bool base64, int64_t& value) {
    uint64_t folded = 0;
    int shift = 0;
    for (; i < s.size(); ++i, shift += base64 ? 6 : 5) {
        unsigned c = static_cast<uint8_t>(s[i]);
        bool last = base64 ? c >= 191 && c <= 254 : c >= 95 && c <= 126;
        bool more = base64 ? c >= 63 && c <= 126 : c >= 63 && c <= 94;
        if (!last && !more) return false;
        folded |= static_cast<uint64_t>(c - (last ? (base64 ? 191 : 95) : 63)) << shift;
        if (last) {
            ++i;
            value =
                folded & 1 ? -static_cast<int64_t>(folded >> 1) : static_cast<int64_t>(folded >> 1);
            return true;
        }
    }
    return false;
}

inline bool is_upper(char c) {
    return c >= 'A' && c <= 'Z';
}

inline hpgl_reading read_hpgl(const std::string& s) {
    hpgl_reading r;
    int64_t x = 0, y = 0;
    size_t i = 0;
    while (i < s.size()) {
        if (s[i] == ';') {
            ++i;
            continue;
        }
        if (i + 1 >= s.size() || !is_upper(s[i]) || !is_upper(s[i + 1])) {
            r.fault = "stray byte at " + std::to_string(i);
            return r;
        }
        bool pe = s.compare(i, 2, "PE") == 0;
        i += 2;
        if (!pe) {
            while (i < s.size() && s[i] != ';' && !is_upper(s[i])) ++i;
            continue;
        }
        bool base64 = true, up = false;
        if (i < s.size() && s[i] == '7') base64 = false, ++i;
        int64_t pair[2];
        int have = 0;
        r.run_open = true;
        while (i < s.size() && s[i] != ';') {
            if (s[i] == '<' && have == 0) {
                up = true, ++i;
                continue;
            }
            if (!read_pe_number(s, i, base64, pair[have])) {
                r.fault = "bad byte in PE run at " + std::to_string(i);
                return r;
            }
            if (++have == 2) {
                x += pair[0], y += pair[1];
                r.events.push_back({up ? 'M' : 'D', x, y});
                up = false, have = 0;
            }
        }
        if (have) {
            r.fault = "half a coordinate pair before " + std::to_string(i);
            return r;
        }
        if (i < s.size()) r.run_open = false;
    }
    return r;
}
