#include "drawing/script.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <utility>

#ifndef _WIN32
#include <condition_variable>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#endif

#include "images/image_source.h"
#include "images/png_image.h"
#include "system/text.h"

namespace {

constexpr size_t block_size = 1 << 20;
// Bytes kept after the bytes read: a zero sentinel, then room for the quick path's
// loads at the very end.
constexpr size_t block_padding = 1 + quick_padding;

// Reports a bad line. Bytes of the line quoted in `what` that a terminal would act on
// are shown escaped.
int fail(script_reader& r, const std::string& what) {
    r.error = printable_text(r.name + ":" + std::to_string(r.line_number) + ": " + what);
    return 2;
}

// The end of the line that starts at `start`, with `avail` bytes in the block: a line
// feed, a carriage return, or both together. Sets *skip to the bytes of the line end;
// returns null when the block holds no line end. The reader scans first for the line
// end its file has used so far (a line feed, unless carriage returns alone were met),
// then for the other one only up to there, so each byte is looked at about once
// whichever ends the lines. A block without any carriage return (the usual case) takes
// one scan for the line feed alone.
const char* line_end(script_reader& r, const char* start, size_t avail, size_t* skip) {
    *skip = 1;
    if (!r.block_has_cr) return static_cast<const char*>(std::memchr(start, '\n', avail));
    const char usual = r.cr_lines ? '\r' : '\n';
    const char* first = static_cast<const char*>(std::memchr(start, usual, avail));
    const size_t before = first ? static_cast<size_t>(first - start) : avail;
    const char* other = static_cast<const char*>(std::memchr(start, usual ^ ('\r' ^ '\n'), before));
    const char* end = other ? other : first;
    if (!end) return nullptr;
    if (*end == '\n') {
        r.cr_lines = false;
        return end;
    }
    const char* after = end + 1;
    if (after == start + avail) {
        r.skip_lf = true; // the next block may begin with this line end's line feed
    } else if (*after == '\n') {
        *skip = 2;
    } else {
        r.cr_lines = true;
    }
    return end;
}

} // namespace

#ifndef _WIN32
// The next block of a regular file, read on a thread of its own: the system's copy of
// the file into memory, a tenth of a long drawing's time, overlaps the parsing and
// plotting of the block before. The thread holds one block: the reader takes it in
// exchange for the block it has finished with, and the thread reads the next into that.
struct script_read_ahead {
    script_read_ahead(std::FILE* f, size_t size) : file(f), next(size, 0) {
        thread = std::thread([this] { run(); });
    }
    ~script_read_ahead() {
        {
            std::lock_guard<std::mutex> hold(lock);
            stop = true;
        }
        changed.notify_all();
        thread.join();
    }
    script_read_ahead(const script_read_ahead&) = delete;
    script_read_ahead& operator=(const script_read_ahead&) = delete;

    // Swaps the block read ahead into `block` once it is there; returns its bytes, with
    // *err the system's reason when the read failed (else 0), and asks for the next.
    size_t take(std::vector<char>& block, int* err) {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [this] { return ready; });
        block.swap(next);
        ready = false;
        *err = error;
        if (!at_end) wanted = true;
        changed.notify_all();
        return got;
    }

  private:
    void run() {
        std::unique_lock<std::mutex> hold(lock);
        for (;;) {
            changed.wait(hold, [this] { return wanted || stop; });
            if (stop) return;
            wanted = false;
            hold.unlock();
            errno = 0;
            const size_t n = std::fread(next.data(), 1, block_size, file);
            const int e = n < block_size && std::ferror(file) ? errno : 0;
            hold.lock();
            got = n;
            error = e;
            at_end = n < block_size;
            ready = true;
            changed.notify_all();
        }
    }

    std::FILE* file;
    std::vector<char> next; // the block being read, or read and not yet taken
    std::thread thread;
    std::mutex lock;
    std::condition_variable changed;
    bool wanted = true;  // the reader wants the next block (the first at once)
    bool ready = false;  // `next` holds a block the reader has not taken
    bool at_end = false; // the block read last was the file's last
    bool stop = false;
    size_t got = 0;
    int error = 0;
};
#else
struct script_read_ahead {};
#endif

namespace {

// Reads the next block of the script into r.block: taken from the thread reading
// ahead, or read now. Returns the bytes read; on a read error, errno says why.
size_t read_block(script_reader& r) {
#ifndef _WIN32
    if (r.ahead) {
        int err = 0;
        const size_t got = r.ahead->take(r.block, &err);
        errno = err;
        return got;
    }
#endif
    return std::fread(r.block.data(), 1, block_size, r.file);
}

// Reads the next line (without its end) into *line. Returns false at the end of file.
// A read error ends the script too, with r.error set.
bool next_line(script_reader& r, std::string_view* line) {
    r.carry.clear();
    for (;;) {
        if (r.skip_lf && r.begin < r.end) {
            if (r.block[r.begin] == '\n') ++r.begin;
            r.skip_lf = false;
        }
        if (r.begin < r.end) {
            const char* start = r.block.data() + r.begin;
            size_t skip = 1;
            const char* nl = line_end(r, start, r.end - r.begin, &skip);
            if (nl) {
                size_t n = static_cast<size_t>(nl - start);
                r.begin += n + skip;
                if (r.carry.empty()) {
                    *line = std::string_view(start, n);
                } else {
                    r.carry.append(start, n);
                    *line = r.carry;
                }
                return true;
            }
            r.carry.append(start, r.end - r.begin);
            r.begin = r.end;
        }
        if (r.eof) {
            if (r.carry.empty()) return false;
            *line = r.carry;
            return true;
        }
        size_t got = read_block(r);
        r.block[got] = '\0'; // the quick path's sentinel
        r.begin = 0;
        r.end = got;
        // A UTF-8 byte-order mark that some editors put at the start of a text.
        if (r.first_block && got >= 3 && std::memcmp(r.block.data(), "\xEF\xBB\xBF", 3) == 0)
            r.begin = 3;
        r.first_block = false;
        r.block_has_cr = std::memchr(r.block.data(), '\r', got) != nullptr;
        if (got < block_size) {
            r.eof = true;
            if (std::ferror(r.file)) {
                r.error = r.name + ": read error: " + std::strerror(errno);
                return false;
            }
        }
    }
}

// Splits the next word off s; blanks are spaces, tabs and every other control byte
// (a carriage return of a CR LF line end among them).
std::string_view next_word(std::string_view& s) {
    const char* p = s.data();
    const char* end = p + s.size();
    while (p < end && static_cast<unsigned char>(*p) <= ' ') ++p;
    const char* w = p;
    while (p<end&& static_cast<unsigned char>(*p)> ' ') ++p;
    s = std::string_view(p, static_cast<size_t>(end - p));
    return std::string_view(w, static_cast<size_t>(p - w));
}

// A plain run of decimal digits (the common form of plotter units), or -1.
long plain_digits(std::string_view w) {
    if (w.empty() || w.size() > 9) return -1;
    long v = 0;
    for (char c : w) {
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

bool parse_long(std::string_view w, long* v) {
    if (!w.empty() && w[0] == '+') w.remove_prefix(1);
    auto [p, ec] = std::from_chars(w.data(), w.data() + w.size(), *v);
    return ec == std::errc() && p == w.data() + w.size() && !w.empty();
}

bool parse_double(std::string_view w, double* v) {
    if (!w.empty() && w[0] == '+') w.remove_prefix(1);
    auto [p, ec] = std::from_chars(w.data(), w.data() + w.size(), *v, std::chars_format::fixed);
    return ec == std::errc() && p == w.data() + w.size() && !w.empty() && std::isfinite(*v);
}

// A coordinate in the script's unit, converted to plotter units 0..65535.
int parse_coordinate(script_reader& r, std::string_view w, uint16_t* out) {
    if (r.unit == script_unit::plu) {
        long d = plain_digits(w);
        if (d >= 0 && d <= 65535) {
            *out = static_cast<uint16_t>(d);
            return 0;
        }
    }
    double v;
    if (!parse_double(w, &v)) return fail(r, "not a number: '" + std::string(w) + "'");
    if (r.unit == script_unit::mm)
        v = v / 25.4 * r.steps_per_inch;
    else if (r.unit == script_unit::in)
        v = v * r.steps_per_inch;
    double rounded = std::floor(v + 0.5);
    if (rounded < 0 || rounded > 65535)
        return fail(r, "coordinate " + std::string(w) + " is outside the plot range 0..65535" +
                           (r.unit == script_unit::plu ? "" : " plotter units after conversion"));
    *out = static_cast<uint16_t>(rounded);
    return 0;
}

int parse_integer(script_reader& r, std::string_view w, long low, long high, long* out) {
    if (!parse_long(w, out)) return fail(r, "not a whole number: '" + std::string(w) + "'");
    if (*out < low || *out > high)
        return fail(r, std::string(w) + " is outside " + std::to_string(low) + ".." +
                           std::to_string(high));
    return 0;
}

// Resolution a PDF page's size is first read at: fine enough that the page's size in
// inches is known to a ten-thousandth of an inch.
constexpr double pdf_probe_dpi = 7200;

// The rest of an image line: X1 Y1 X2 Y2 PATH [transparent] [color N] [page N]. PATH
// may be written in double quotes when it holds blanks. The image's header is read
// now, so a missing or unreadable file stops the script at its line.
int parse_image(script_reader& r, std::string_view rest, script_image* img) {
    uint16_t* corners[4] = {&img->x1, &img->y1, &img->x2, &img->y2};
    for (uint16_t* c : corners) {
        std::string_view w = next_word(rest);
        if (w.empty()) return fail(r, "image needs X1 Y1 X2 Y2 and an image file");
        if (parse_coordinate(r, w, c)) return 2;
    }
    // The same rectangle whichever two opposite corners name it.
    if (img->x1 > img->x2) std::swap(img->x1, img->x2);
    if (img->y1 > img->y2) std::swap(img->y1, img->y2);
    while (!rest.empty() && (rest[0] == ' ' || rest[0] == '\t')) rest.remove_prefix(1);
    std::string_view path;
    if (!rest.empty() && rest[0] == '"') {
        size_t close = rest.find('"', 1);
        if (close == std::string_view::npos)
            return fail(r, "image file name lacks its closing quote");
        path = rest.substr(1, close - 1);
        rest.remove_prefix(close + 1);
    } else {
        path = next_word(rest);
    }
    if (path.empty()) return fail(r, "image needs an image file after its corners");
    img->transparent = false;
    img->colour = 7;
    img->page = 1;
    img->crop = image_crop{};
    img->turned = false;
    for (std::string_view w = next_word(rest); !w.empty(); w = next_word(rest)) {
        if (w == "transparent") {
            img->transparent = true;
        } else if (w == "color") {
            std::string_view n = next_word(rest);
            if (n.empty()) return fail(r, "color needs a colour index");
            if (parse_integer(r, n, -32768, 32767, &img->colour)) return 2;
        } else if (w == "page") {
            std::string_view n = next_word(rest);
            if (n.empty()) return fail(r, "page needs a page number");
            long page = 0;
            if (parse_integer(r, n, 1, 1000000, &page)) return 2;
            img->page = static_cast<int32_t>(page);
        } else {
            return fail(r, "unknown image option '" + std::string(w) + "'");
        }
    }
    std::filesystem::path file(path);
    if (file.is_relative() && !r.folder.empty()) file = std::filesystem::path(r.folder) / file;
    img->path = file.string();
    image_open_options options;
    options.page = img->page;
    // A drawn page's size is read at a fine resolution first; it is then rendered with
    // as many pixels as the printer has dots across its rectangle (the larger of the
    // two directions when the rectangle's shape differs from the page's).
    options.render_dpi = r.device_dpi > 0 ? pdf_probe_dpi : 72;
    std::string why;
    std::unique_ptr<image_source> source = probe_image_source(img->path, options, &why);
    if (!source) return fail(r, "cannot read image " + img->path + ": " + why);
    if (r.device_dpi > 0 && source->info().format == "PDF") {
        const double page_w_in = source->info().width / pdf_probe_dpi;
        const double page_h_in = source->info().height / pdf_probe_dpi;
        const double dots_w = (img->x2 - img->x1) / r.steps_per_inch * r.device_dpi;
        const double dots_h = (img->y2 - img->y1) / r.steps_per_inch * r.device_dpi;
        options.render_dpi = std::max({1.0, dots_w / page_w_in, dots_h / page_h_in});
        source = probe_image_source(img->path, options, &why);
        if (!source) return fail(r, "cannot read image " + img->path + ": " + why);
    }
    img->render_dpi = options.render_dpi;
    img->width = source->info().width;
    img->height = source->info().height;
    img->mono = source->info().mono;
    img->line = r.line_number;
    return 0;
}

// The common line "move X Y" or "draw X Y" in plotter units, read by the quick path
// (drawing/script_quick.h). Returns true with the command in cmd and the line consumed.
inline bool quick_vector(script_reader& r, script_command& cmd) {
    if (r.unit != script_unit::plu || r.skip_lf) return false;
    const unsigned char* block = reinterpret_cast<const unsigned char*>(r.block.data());
    quick_point q;
    const unsigned char* p = quick_line(block + r.begin, q);
    if (!p) return false;
    assert(p <= block + r.end);
    if (q.lf) r.cr_lines = false;
    r.begin = static_cast<size_t>(p - block);
    ++r.line_number;
    cmd.op = q.draw ? script_op::draw : script_op::move;
    cmd.x = q.x;
    cmd.y = q.y;
    return true;
}

struct command_name {
    const char* word;
    script_op op;
    int operands; // -1: variable
};

const command_name commands[] = {
    {"move", script_op::move, 2},         {"draw", script_op::draw, 2},
    {"lift", script_op::lift, 0},         {"pen", script_op::pen, 1},
    {"linetype", script_op::linetype, 1}, {"linetypes", script_op::linetypes, 1},
    {"width", script_op::width, 1},       {"polygon", script_op::polygon, -1},
    {"cancel", script_op::cancel, 0},     {"unit", script_op::unit, 1},
    {"image", script_op::image, -1},      {"text", script_op::text, -1},
};

} // namespace

int script_open(script_reader& r, const std::string& path, double steps_per_inch) {
    r.name = path;
    r.folder = path == "-" ? "" : std::filesystem::path(path).parent_path().string();
    r.line_number = 0;
    r.block.assign(block_size + block_padding, 0);
    r.begin = r.end = 0;
    r.eof = false;
    r.first_block = true;
    r.cr_lines = false;
    r.skip_lf = false;
    r.block_has_cr = false;
    r.unit = script_unit::plu;
    r.steps_per_inch = steps_per_inch;
    r.device_dpi = 0;
    r.error.clear();
    r.ahead.reset();
    r.file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!r.file) {
        r.error = path + ": " + std::strerror(errno);
        return 2;
    }
#ifndef _WIN32
    // Only a regular file is read ahead: a read of it always returns, so the thread
    // can always be stopped; standard input or a pipe may wait for its writer.
    struct stat st {};
    if (::fstat(::fileno(r.file), &st) == 0 && S_ISREG(st.st_mode))
        r.ahead = std::make_shared<script_read_ahead>(r.file, r.block.size());
#endif
    return 0;
}

void script_close(script_reader& r) {
    r.ahead.reset(); // stops the thread before the file goes
    if (r.file && r.file != stdin) std::fclose(r.file);
    r.file = nullptr;
}

namespace {

// What general_line returns for a line that holds no command (blank, comment, unit).
constexpr int no_command = 3;

// Reads and parses the next line, whatever it holds: returns 1 for a command in cmd,
// no_command for a line without one, 0 at the end of the script, 2 for a bad line or a
// read error.
int general_line(script_reader& r, script_command& cmd) {
    std::string_view line;
    if (!next_line(r, &line)) return r.error.empty() ? 0 : 2;
    ++r.line_number;
    if (r.line_number == 1 && line.substr(0, 4) == "\x89PNG") {
        const std::string name = r.name == "-" ? "FILE.png" : r.name;
        r.error = printable_text(r.name +
                                 " is a PNG image, not a plot script: place it on the sheet from a "
                                 "script with a line 'image X1 Y1 X2 Y2 " +
                                 name + "' (its corners) and plot that script");
        return 2;
    }
    // A text line may hold '#' inside its quotes: its parser removes its own comment.
    std::string_view lead = line.substr(std::min(line.find_first_not_of(" \t"), line.size()));
    const bool text_line = lead.substr(0, 5) == "text " || lead.substr(0, 5) == "text\t";
    if (const void* hash = text_line ? nullptr : std::memchr(line.data(), '#', line.size()))
        line = line.substr(0, static_cast<size_t>(static_cast<const char*>(hash) - line.data()));
    std::string_view rest = line;
    std::string_view word = next_word(rest);
    if (word.empty()) return no_command; // blank or comment line

    // Moves and draws make up nearly every line: test them first.
    const command_name* c = word == "draw" ? &commands[1] : word == "move" ? &commands[0] : nullptr;
    for (size_t k = 2; !c && k < std::size(commands); ++k)
        if (word == commands[k].word) c = &commands[k];
    if (!c) return fail(r, "unknown command '" + std::string(word) + "'");
    std::string_view args[2];
    if (c->operands >= 0) {
        for (int i = 0; i < c->operands; ++i) {
            args[i] = next_word(rest);
            if (args[i].empty())
                return fail(r, std::string(c->word) + " needs " + std::to_string(c->operands) +
                                   " operand" + (c->operands > 1 ? "s" : ""));
        }
        if (!next_word(rest).empty())
            return fail(r, std::string(c->word) + " takes " + std::to_string(c->operands) +
                               " operand" + (c->operands == 1 ? "" : "s"));
    }
    cmd.op = c->op;
    switch (c->op) {
    case script_op::unit:
        if (args[0] == "plu")
            r.unit = script_unit::plu;
        else if (args[0] == "mm")
            r.unit = script_unit::mm;
        else if (args[0] == "in")
            r.unit = script_unit::in;
        else
            return fail(r, "unit must be plu, mm or in, not '" + std::string(args[0]) + "'");
        return no_command;
    case script_op::move:
    case script_op::draw:
        if (parse_coordinate(r, args[0], &cmd.x) || parse_coordinate(r, args[1], &cmd.y)) return 2;
        return 1;
    case script_op::pen:
    case script_op::linetype:
        if (parse_integer(r, args[0], 0, 65535, &cmd.number)) return 2;
        return 1;
    case script_op::linetypes:
        if (parse_integer(r, args[0], -32768, 32767, &cmd.number)) return 2;
        return 1;
    case script_op::width: {
        // A width in its own unit (0.35mm, 0.02in), else in the script's unit when
        // that is mm or in; plotter units are too coarse for pens, so a bare width
        // under `unit plu` is in inches.
        std::string_view w = args[0];
        bool mm = r.unit == script_unit::mm;
        if (w.size() > 2 && (w.substr(w.size() - 2) == "mm" || w.substr(w.size() - 2) == "in")) {
            mm = w.substr(w.size() - 2) == "mm";
            w.remove_suffix(2);
        }
        if (!parse_double(w, &cmd.width_inch))
            return fail(r, "not a width: '" + std::string(args[0]) +
                               "' (a number, in mm or in: 0.35mm, 0.02in)");
        if (mm) cmd.width_inch /= 25.4;
        return 1;
    }
    case script_op::polygon: {
        std::string_view pen = next_word(rest);
        if (pen.empty()) return fail(r, "polygon needs a pen and at least one vertex");
        if (parse_integer(r, pen, -32768, 32767, &cmd.number)) return 2;
        cmd.points.clear();
        for (std::string_view w = next_word(rest); !w.empty(); w = next_word(rest)) {
            uint16_t v;
            if (parse_coordinate(r, w, &v)) return 2;
            cmd.points.push_back(v);
        }
        if (cmd.points.empty() || cmd.points.size() % 2)
            return fail(r, "polygon needs X Y pairs after its pen");
        if (cmd.points.size() / 2 > 32767) return fail(r, "polygon has more than 32767 vertices");
        return 1;
    }
    case script_op::image:
        return parse_image(r, rest, &cmd.image) ? 2 : 1;
    case script_op::text:
        return script_parse_text(r, rest, &cmd.text) ? 2 : 1;
    case script_op::lift:
    case script_op::cancel:
        return 1;
    }
    assert(false); // every command of the table is handled above
    return no_command;
}

// script_next past its first quick try: the general parser, then the quick path again
// for the lines after a line without a command. Kept out of script_next so that the
// quick path's caller saves no registers for it.
[[gnu::noinline]] int next_after_quick(script_reader& r, script_command& cmd) {
    for (;;) {
        const int got = general_line(r, cmd);
        if (got != no_command) return got;
        if (quick_vector(r, cmd)) return 1;
    }
}

} // namespace

int script_next(script_reader& r, script_command& cmd) {
    if (quick_vector(r, cmd)) return 1;
    return next_after_quick(r, cmd);
}

int script_next_general(script_reader& r, script_command& cmd) {
    for (;;) {
        const int got = general_line(r, cmd);
        if (got != no_command) return got;
    }
}
