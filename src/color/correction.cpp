// Tone correction: a quartic Bezier curve through five control values, sampled into a
// 256-entry table.
#include "color/correction.h"

#include <cstring>

#include "host/settings.h"

namespace {

// The default correction curve: a monotone curve from 0 to 255. Only its entries at
// the five control inputs are ever read (0, 123, 187, 228, 255); between them it is
// the straight line through those points.
struct default_curve {
    uint8_t table[256];
    constexpr default_curve() : table() {
        constexpr int at[5] = {0, 64, 128, 192, 255};
        constexpr int value[5] = {0, 123, 187, 228, 255};
        for (int k = 0; k < 4; ++k)
            for (int i = at[k]; i <= at[k + 1]; ++i)
                table[i] = static_cast<uint8_t>(value[k] + (value[k + 1] - value[k]) * (i - at[k]) /
                                                               (at[k + 1] - at[k]));
    }
};

constexpr default_curve default_correction;

} // namespace

// At load the table is the default curve and the control values are 0.
correction_state correction = [] {
    correction_state c{};
    std::memcpy(c.table, default_correction.table, sizeof c.table);
    return c;
}();

void reset_correction() {
    std::memcpy(correction.table, default_correction.table, sizeof correction.table);
}

void default_correction_points(uint8_t out[5]) {
    for (int k = 0; k < 5; ++k) out[k] = default_correction.table[correction_inputs[k]];
}

int correction_at(int input) {
    return correction.table[input & 0xFF];
}

void set_correction_at(int input, int value) {
    correction.table[input & 0xFF] = static_cast<uint8_t>(value);
}

double bezier_at(const double p[5], int i) {
    // The order of operations fixes the values where the curve meets an integer exactly
    // (at input 170 the default curve is exactly 208).
    const double r = 1.0 / 255.0;
    double t = i * r;
    double u = 1.0 - t;
    double u2 = u * u;
    double q = (4.0 * i * u2) * u;
    double a = (t * t) * u2;
    double b = t * t;
    double w = (u * b) * t;
    double t4 = b * b;
    double u4 = u2 * u2;
    double y = p[0] * u4;
    y = y + (a * p[2]) * 6.0;
    y = y + (w * p[3]) * 4.0;
    y = y + (p[1] * q) * r;
    y = y + p[4] * t4;
    return y;
}

void build_correction_table() {
    double p[5];
    for (int k = 0; k < 5; ++k) p[k] = correction.points[k];
    // Control values outside 0..255 can carry the curve outside a byte, never outside
    // int: truncate, then keep the low 8 bits.
    for (int i = 0; i < 256; ++i)
        correction.table[i] = static_cast<uint8_t>(static_cast<int>(bezier_at(p, i)));
}

void load_correction_points() {
    for (int k = 0; k < 5; ++k) correction.points[k] = settings.correction_points[k];
    build_correction_table();
}

void reset_correction_points() {
    reset_correction();
    for (int k = 0; k < 5; ++k) {
        correction.points[k] = correction_at(correction_inputs[k]);
        settings.correction_points[k] = static_cast<uint8_t>(correction.points[k]);
    }
    build_correction_table();
}
