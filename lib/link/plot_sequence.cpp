// The plot sequence, message by message (see link/plot_sequence.h for the steps).
#include "link/plot_sequence.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "drawing/script.h"
#include "drawing/stroke_font.h"
#include "host/wire.h"
#include "images/raster_rows.h"
#include "link/session.h"
#include "platform/host_address.h"
#include "raster/raster_image.h"
#include "settings/dialog_options.h"

namespace {

// The sequence's state between messages.
struct sequence_state {
    // An image announced by message 52 may still be held for the driver's row requests:
    // only then does a message need the images settled after it. False after
    // plot_end, and after any message that released them all.
    bool images_held;
};

sequence_state sequence = {false};

} // namespace

int plot_identify_and_load() {
    if (send_identification(session.plot) != 0) return 1;
    auto rec = new_record(29);
    le_put_i16(rec.data(), 4, 3); // host version 3
    le_put_u32(rec.data(), 11, 0);
    session.plot(rec.data());
    return le_i16(rec.data(), 0) == 0 ? 0 : 1;
}

int plot_time_dialog(const dialog_script& script, plot_area* area) {
    auto rec = new_record(46);
    le_put_u32(rec.data(), 5, 0);
    if (!session.interactive) arm_dialog_script(script);
    session.plot(rec.data());
    if (le_i16(rec.data(), 0) == -1) return 1;
    if (!session.interactive && report_dialog_outcome(script) != 0) {
        plot_end();
        return 2;
    }
    area->side_a = le_f64(rec.data(), 9);
    area->side_b = le_f64(rec.data(), 17);
    area->steps_per_inch = le_f64(rec.data(), 41);
    return 0;
}

int plot_start_job(double side_a, double side_b) {
    auto rec = new_record(47);
    le_put_u32(rec.data(), 5, 0);
    le_put_f64(rec.data(), 9, side_a);
    le_put_f64(rec.data(), 17, side_b);
    session.plot(rec.data());
    rec = new_record(36);
    le_put_i16(rec.data(), 4, 8);
    session.plot(rec.data());
    rec = new_record(30);
    session.plot(rec.data());
    return le_i16(rec.data(), 0) == 0 ? 0 : 1;
}

namespace {

// plot_send for every command but moves and draws.
[[gnu::noinline]] int send_command(const script_command& c, std::vector<uint8_t>& rec,
                                   size_t* dirty) {
    *dirty = c.op == script_op::polygon ? rec.size()
             : c.op == script_op::image ? static_cast<size_t>(raster_header_size)
                                        : plot_small_message_span;
    auto code = [&rec](int v) { le_put_i16(rec.data(), 0, v); };
    host_addr vertices = 0;
    int32_t image = 0; // host value of an image announced by this message
    switch (c.op) {
    case script_op::move:
    case script_op::draw:
        return plot_send_point(c.op == script_op::draw, c.x, c.y, rec.data(), dirty);
    case script_op::lift:
        code(8);
        break;
    case script_op::pen:
        code(5);
        le_put_u16(rec.data(), 4, static_cast<uint16_t>(c.number));
        break;
    case script_op::linetype:
        code(7);
        le_put_u16(rec.data(), 4, static_cast<uint16_t>(c.number));
        break;
    case script_op::linetypes:
        code(36);
        le_put_i16(rec.data(), 4, static_cast<int>(c.number));
        break;
    case script_op::width:
        code(41);
        le_put_f64(rec.data(), 4, c.width_inch);
        break;
    case script_op::cancel:
        code(9);
        break;
    case script_op::polygon: {
        const int n = static_cast<int>(c.points.size() / 2);
        if (n <= 513) { // vertices inline from +12: they fit the record
            code(33);
            le_put_i16(rec.data(), 6, static_cast<int>(c.number));
            le_put_i16(rec.data(), 10, n);
            for (size_t i = 0; i < c.points.size(); ++i)
                le_put_u16(rec.data(), 12 + 2 * static_cast<int>(i), c.points[i]);
        } else { // the vertex array by its host address
            code(54);
            le_put_i16(rec.data(), 4, static_cast<int>(c.number));
            le_put_i16(rec.data(), 6, n);
            // The vertex array is a host record too: u16 pairs, written little-endian.
            static std::vector<uint8_t> array;
            array.resize(2 * c.points.size());
            for (size_t i = 0; i < c.points.size(); ++i)
                le_put_u16(array.data(), 2 * static_cast<int>(i), c.points[i]);
            vertices = host_addr_of(array.data());
            le_put_u32(rec.data(), 8, vertices);
        }
        break;
    }
    case script_op::image:
        code(52); // sent at the next message, which runs the driver's raster step
        image = raster_rows_announce(c.image, rec.data());
        break;
    case script_op::text:
        return plot_send_text(c, rec, dirty);
    case script_op::unit:
        return 0;
    }
    session.plot(rec.data());
    if (image != 0 || sequence.images_held) {
        raster_rows_settle(image); // an image announced before this message has been sent
        sequence.images_held = image != 0;
    }
    if (vertices) host_addr_forget(vertices);
    return le_i16(rec.data(), 0) == -1 ? 1 : 0;
}

} // namespace

// Three fields, the message, and the images settled only when one is held.
int plot_send_point(bool draw, uint16_t x, uint16_t y, uint8_t* rec, size_t* dirty) {
    *dirty = plot_small_message_span;
    le_put_i16(rec, 0, draw ? 4 : 3);
    le_put_u16(rec, 4, x);
    le_put_u16(rec, 6, y);
    session.plot(rec);
    if (sequence.images_held) { // an image announced before this message has been sent
        raster_rows_settle(0);
        sequence.images_held = false;
    }
    return le_i16(rec, 0) == -1 ? 1 : 0;
}

int plot_send(const script_command& c, std::vector<uint8_t>& rec, size_t* dirty) {
    if (c.op == script_op::move || c.op == script_op::draw)
        return plot_send_point(c.op == script_op::draw, c.x, c.y, rec.data(), dirty);
    return send_command(c, rec, dirty);
}

int plot_send_text(const script_command& c, std::vector<uint8_t>& rec, size_t* dirty) {
    std::string why;
    const stroke_font* font = stroke_font_default(&why);
    if (!font) return 1; // the script reader checked the font when it read the line
    const script_text& t = c.text;
    text_run run{t.utf8,
                 {t.x, t.y},
                 t.height,
                 t.angle_deg,
                 1,
                 0,
                 static_cast<text_halign>(t.halign),
                 text_valign::baseline,
                 1.6};
    std::vector<std::vector<drawing_point>> strokes;
    stroke_text(*font, run, strokes);
    script_command step{};
    auto unit = [](double v) {
        return static_cast<uint16_t>(std::clamp(std::floor(v + 0.5), 0.0, 65535.0));
    };
    for (const auto& s : strokes) {
        for (size_t i = 0; i < s.size(); ++i) {
            step.op = i == 0 ? script_op::move : script_op::draw;
            step.x = unit(s[i].x), step.y = unit(s[i].y);
            plot_record_clear(rec, *dirty);
            if (plot_send(step, rec, dirty) != 0) return 1;
        }
    }
    return 0;
}

void plot_end() {
    auto rec = new_record(2);
    session.plot(rec.data());
    raster_rows_settle(0);
    sequence.images_held = false;
}
