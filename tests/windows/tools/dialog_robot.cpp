// An automated user of the real dialogs. Runs kvrac.exe with --interactive, finds
// each dialog window by its title, checks its controls against the dialog templates by
// enumerating them, saves a PNG picture of it, sets controls with window messages as a
// person's clicks and typing would, opens the nested dialogs and closes everything
// with OK or "Annuler"; then checks the settings the driver stored.
//
//   dialog_robot SCREENSHOT_FOLDER
//
// Run from the folder holding kvrac.exe, under a display. Prints one line per check and
// ends with "N passed, M failed"; the exit status is 0 when nothing failed.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "ui/dialog_templates.h"

namespace {

struct robot_state {
    int passed;              // checks that held
    int failed;              // checks that did not
    std::string shots;       // folder for the pictures
    PROCESS_INFORMATION run; // the kvrac.exe being driven
};

robot_state robot = {0, 0, "", {}};

void check(bool ok, const char* what, const std::string& detail = "") {
    if (ok) {
        ++robot.passed;
        std::printf("ok   %s\n", what);
    } else {
        ++robot.failed;
        std::printf("FAIL %s %s\n", what, detail.c_str());
    }
    std::fflush(stdout);
}

// ---- Pictures: a window's pixels from the screen, as a PNG file ----

uint32_t crc_table[256];

uint32_t crc32(const uint8_t* p, size_t n, uint32_t crc = 0xFFFFFFFFu) {
    if (!crc_table[1])
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            crc_table[i] = c;
        }
    for (size_t i = 0; i < n; ++i) crc = crc_table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

void put_be32(std::vector<uint8_t>& b, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}

void png_chunk(std::vector<uint8_t>& file, const char* type, const std::vector<uint8_t>& data) {
    put_be32(file, static_cast<uint32_t>(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    file.insert(file.end(), body.begin(), body.end());
    put_be32(file, crc32(body.data(), body.size()) ^ 0xFFFFFFFFu);
}

// Writes rows of red, green, blue bytes as a PNG with stored (uncompressed) deflate
// blocks: bigger than it could be, and readable by anything.
bool write_png(const std::string& path, int w, int h, const std::vector<uint8_t>& rgb) {
    std::vector<uint8_t> raw;
    for (int y = 0; y < h; ++y) {
        raw.push_back(0); // no filter
        raw.insert(raw.end(), rgb.begin() + static_cast<size_t>(y) * w * 3,
                   rgb.begin() + static_cast<size_t>(y + 1) * w * 3);
    }
    std::vector<uint8_t> z = {0x78, 0x01};
    uint32_t a = 1, b = 0;
    for (uint8_t v : raw) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    for (size_t at = 0; at < raw.size() || at == 0;) {
        const size_t n = raw.size() - at < 65535 ? raw.size() - at : 65535;
        z.push_back(at + n == raw.size() ? 1 : 0);
        z.push_back(static_cast<uint8_t>(n));
        z.push_back(static_cast<uint8_t>(n >> 8));
        z.push_back(static_cast<uint8_t>(~n));
        z.push_back(static_cast<uint8_t>(~n >> 8));
        z.insert(z.end(), raw.begin() + at, raw.begin() + at + n);
        at += n;
        if (n == 0) break;
    }
    put_be32(z, b << 16 | a);
    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    put_be32(ihdr, w);
    put_be32(ihdr, h);
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0}); // 8-bit RGB
    png_chunk(file, "IHDR", ihdr);
    png_chunk(file, "IDAT", z);
    png_chunk(file, "IEND", {});
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    return std::fclose(f) == 0 && ok;
}

// Reads w x h pixels of the screen from (left, top) as red, green, blue bytes.
std::vector<uint8_t> screen_pixels(int left, int top, int w, int h) {
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, dib);
    BitBlt(memory, 0, 0, w, h, screen, left, top, SRCCOPY);
    GdiFlush();
    const int stride = (w * 3 + 3) & ~3;
    const uint8_t* p = static_cast<const uint8_t*>(bits);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t* px = p + static_cast<size_t>(y) * stride + x * 3;
            uint8_t* out = &rgb[(static_cast<size_t>(y) * w + x) * 3];
            out[0] = px[2];
            out[1] = px[1];
            out[2] = px[0];
        }
    SelectObject(memory, old);
    DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return rgb;
}

// Lets the window finish painting.
void settle(HWND window) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(400);
}

// Saves what the screen shows of the window; returns whether the picture has more than
// one colour (a blank capture would not).
bool screenshot(HWND window, const char* name) {
    settle(window);
    RECT r;
    GetWindowRect(window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return false;
    const std::vector<uint8_t> rgb = screen_pixels(r.left, r.top, w, h);
    bool varied = false;
    for (size_t i = 0; i < rgb.size() && !varied; i += 3)
        varied = std::memcmp(&rgb[i], rgb.data(), 3) != 0;
    const std::string path = robot.shots + "\\" + name;
    bool written = write_png(path, w, h, rgb);
    check(written && varied, (std::string("picture ") + name).c_str());
    return written && varied;
}

// ---- Finding windows and acting on them ----

// The text of a window of the driven process, asked of the window itself (an edit
// keeps its text where GetWindowText from another process does not look).
std::string text_of(HWND window) {
    char buf[512] = "";
    DWORD_PTR got = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), SMTO_NORMAL,
                        2000, &got);
    buf[sizeof buf - 1] = 0;
    return buf;
}

// Waits up to about ten seconds for a top-level dialog of the driven process with
// exactly that title (or, with a null title, without a title and holding control
// `with_control`).
struct dialog_search {
    const char* title; // wanted title, or null
    int with_control;  // without a title: a control the dialog holds
    DWORD pid;         // the driven process
    HWND found;        // the dialog, once found
};

BOOL CALLBACK match_dialog(HWND w, LPARAM p) {
    dialog_search* s = reinterpret_cast<dialog_search*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    char cls[64];
    GetClassNameA(w, cls, sizeof cls);
    if (pid != s->pid || std::strcmp(cls, "#32770") != 0 || !IsWindowVisible(w)) return TRUE;
    bool match = s->title ? text_of(w) == s->title : GetDlgItem(w, s->with_control) != nullptr;
    if (match) s->found = w;
    return !match;
}

HWND wait_for_dialog(const char* title, int with_control = 0) {
    dialog_search s = {title, with_control, robot.run.dwProcessId, nullptr};
    for (int i = 0; i < 100 && !s.found; ++i) {
        EnumWindows(match_dialog, reinterpret_cast<LPARAM>(&s));
        if (!s.found) Sleep(100);
    }
    return s.found;
}

bool wait_gone(HWND window) {
    for (int i = 0; i < 100; ++i) {
        if (!IsWindow(window) || !IsWindowVisible(window)) return true;
        Sleep(100);
    }
    return false;
}

// A click that may open a modal window: posted, so the robot is not held up by it.
void click_later(HWND dlg, int id) {
    PostMessageA(GetDlgItem(dlg, id), BM_CLICK, 0, 0);
}

void click(HWND dlg, int id) {
    SendMessageA(GetDlgItem(dlg, id), BM_CLICK, 0, 0);
}

// Chooses a row of a drop-down list as a person does: the selection, then the
// notification the list sends its dialog.
void choose_row(HWND dlg, int id, int row) {
    HWND list = GetDlgItem(dlg, id);
    SendMessageA(list, CB_SETCURSEL, row, 0);
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

// Types into an edit: focus to it, its text replaced, focus on to `next` (posted when
// leaving the field may bring up a warning).
void type_and_leave(HWND dlg, int id, const char* text, int next, bool may_warn) {
    SendMessageA(dlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dlg, id)), TRUE);
    // The procedure may check the text as it changes and warn at once: do not wait for
    // the warning to be answered.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(GetDlgItem(dlg, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text),
                        SMTO_NORMAL, 2000, &ignored);
    WPARAM to = reinterpret_cast<WPARAM>(GetDlgItem(dlg, next));
    if (may_warn)
        PostMessageA(dlg, WM_NEXTDLGCTL, to, TRUE);
    else
        SendMessageA(dlg, WM_NEXTDLGCTL, to, TRUE);
}

bool enabled(HWND dlg, int id) {
    return IsWindowEnabled(GetDlgItem(dlg, id)) != 0;
}

bool checked(HWND dlg, int id) {
    return SendMessageA(GetDlgItem(dlg, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

const char* class_of_kind(control_kind k) {
    switch (k) {
    case control_kind::push_button:
    case control_kind::default_button:
    case control_kind::radio_button:
    case control_kind::group_box:
    case control_kind::owner_button:
        return "Button";
    case control_kind::label:
    case control_kind::label_centred:
    case control_kind::label_right:
    case control_kind::picture:
        return "Static";
    case control_kind::edit:
        return "Edit";
    case control_kind::drop_list:
        return "ComboBox";
    case control_kind::up_down:
        return "msctls_updown32";
    case control_kind::scroll_bar:
        return "ScrollBar";
    }
    return "?";
}

// Dialog units of a template's font in pixels, worked out as the dialog manager does:
// the average width of the 52 letters and the font's height.
SIZE base_units(const dialog_template& t) {
    HDC dc = GetDC(nullptr);
    HFONT font = CreateFontA(-MulDiv(t.font_points, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0,
                             FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, t.font);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE letters = {0, 0};
    GetTextExtentPoint32A(dc, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &letters);
    TEXTMETRICA tm = {};
    GetTextMetricsA(dc, &tm);
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(nullptr, dc);
    return {(letters.cx / 26 + 1) / 2, tm.tmHeight};
}

// Enumerates the dialog's controls and compares them with its template: the same
// number, and each numbered one with its class, caption and place.
void check_controls(HWND dlg, const dialog_template& t) {
    const SIZE base = base_units(t);
    std::vector<HWND> direct;
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) direct.push_back(c);
    check(static_cast<int>(direct.size()) == t.control_count,
          (std::string(t.name) + ": control count").c_str(),
          std::to_string(direct.size()) + " != " + std::to_string(t.control_count));
    int wrong = 0;
    std::string first;
    for (int i = 0; i < t.control_count; ++i) {
        const control_template& c = t.controls[i];
        if (c.id == -1) continue;
        HWND w = GetDlgItem(dlg, c.id);
        char cls[64] = "";
        if (w) GetClassNameA(w, cls, sizeof cls);
        const int px = MulDiv(c.x, base.cx, 4), py = MulDiv(c.y, base.cy, 8);
        RECT want = {px, py, px + MulDiv(c.w, base.cx, 4), py + MulDiv(c.h, base.cy, 8)};
        RECT got = {0, 0, 0, 0};
        if (w) {
            GetWindowRect(w, &got);
            MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&got), 2);
        }
        bool text_ok = true;
        if (c.kind != control_kind::edit && c.kind != control_kind::drop_list &&
            c.kind != control_kind::picture && c.kind != control_kind::up_down &&
            c.kind != control_kind::scroll_bar && c.id != idc_about_text)
            text_ok = w && text_of(w) == c.caption;
        // Drop-down lists take the height of their closed field; up-down arrows take
        // their own width.
        bool place_ok = w && got.left == want.left && got.top == want.top &&
                        (c.kind == control_kind::up_down || got.right == want.right) &&
                        (c.kind == control_kind::drop_list || got.bottom == want.bottom);
        if (!w || _stricmp(cls, class_of_kind(c.kind)) != 0 || !text_ok || !place_ok) {
            if (first.empty())
                first = "control " + std::to_string(c.id) + " (" + cls + ", '" +
                        (w ? text_of(w) : "") + "', at " + std::to_string(got.left) + "," +
                        std::to_string(got.top) + "-" + std::to_string(got.right) + "," +
                        std::to_string(got.bottom) + " for " + std::to_string(want.left) + "," +
                        std::to_string(want.top) + "-" + std::to_string(want.right) + "," +
                        std::to_string(want.bottom) + ")";
            ++wrong;
        }
    }
    check(wrong == 0, (std::string(t.name) + ": controls match the template").c_str(), first);
}

void start_kvrac(const std::string& args) {
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    std::string line = "kvrac.exe " + args;
    std::vector<char> buf(line.begin(), line.end());
    buf.push_back(0);
    robot.run = {};
    BOOL ok = CreateProcessA(nullptr, buf.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                             &robot.run);
    check(ok != 0, ("start kvrac.exe " + args).c_str());
}

int finish_kvrac() {
    DWORD code = 255;
    if (WaitForSingleObject(robot.run.hProcess, 20000) != WAIT_OBJECT_0) {
        TerminateProcess(robot.run.hProcess, 255);
        check(false, "kvrac.exe ends");
    }
    GetExitCodeProcess(robot.run.hProcess, &code);
    CloseHandle(robot.run.hProcess);
    CloseHandle(robot.run.hThread);
    return static_cast<int>(code);
}

std::string read_file(const char* path) {
    std::string out;
    FILE* f = std::fopen(path, "rb");
    if (!f) return out;
    char buf[256];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
}

unsigned le(const std::string& b, int off, int bytes) {
    unsigned v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(b[off + i]);
    return v;
}

// ---- The curve control, as a person sees and drags it ----

// Where the colour dialog draws its handles: x at the fifths of the control's client
// area, y from the top as far down as the value is below 255.
struct curve_view {
    HWND control;   // the curve control
    int w, h;       // its client size, pixels
    int value[5];   // the values the handles should show
    int x[5], y[5]; // the handles' centres they give, client pixels
};

curve_view curve_of(HWND colour, const int (&values)[5]) {
    curve_view v = {GetDlgItem(colour, idc_curve), 0, 0, {}, {}, {}};
    RECT c = {0, 0, 0, 0};
    GetClientRect(v.control, &c);
    v.w = c.right;
    v.h = c.bottom;
    for (int k = 0; k < 5; ++k) {
        v.value[k] = values[k];
        v.x[k] = v.w * k / 4;
        v.y[k] = v.h - v.h * values[k] / 255;
    }
    return v;
}

// The centre row of the red square the screen shows around the handle's column (the
// square spans columns x - 2 .. x + 1; the blue curve may cover some of it), or -1
// when there is none within 12 rows of where it should be.
int handle_row_on_screen(const curve_view& v, int k) {
    POINT origin = {0, 0};
    ClientToScreen(v.control, &origin);
    const int first = v.x[k] - 2 < 0 ? 0 : v.x[k] - 2;
    const int last = v.x[k] + 1 >= v.w ? v.w - 1 : v.x[k] + 1;
    const int columns = last - first + 1;
    const std::vector<uint8_t> px = screen_pixels(origin.x + first, origin.y, columns, v.h);
    int low = -1, high = -1;
    for (int y = v.y[k] - 12; y <= v.y[k] + 12; ++y) {
        if (y < 0 || y >= v.h) continue;
        for (int c = 0; c < columns; ++c) {
            const uint8_t* p = &px[(static_cast<size_t>(y) * columns + c) * 3];
            if (p[0] > 200 && p[1] < 60 && p[2] < 60) {
                if (low < 0) low = y;
                high = y;
            }
        }
    }
    return low < 0 ? -1 : (low + high + 1) / 2;
}

// Checks that every handle is drawn where its value puts it (a pixel either way, for
// the square cut by the area's edge or crossed by the curve).
void check_handles_drawn(const curve_view& v, const char* what) {
    settle(GetParent(v.control));
    std::string wrong;
    for (int k = 0; k < 5; ++k) {
        const int row = handle_row_on_screen(v, k);
        if (row < 0 || row < v.y[k] - 1 || row > v.y[k] + 1)
            wrong += " handle " + std::to_string(k) + " at " + std::to_string(row) + " for " +
                     std::to_string(v.y[k]);
    }
    check(wrong.empty(), what, wrong);
}

// The window holding the mouse capture in the driven program, or null.
HWND capture_of_kvrac() {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(robot.run.dwThreadId, &info)) return nullptr;
    return info.hwndCapture;
}

// A mouse button pressed at (x, y) of the control, moved through `path` and released
// at its last point, sent as the messages the mouse makes. Returns whether the
// control held the mouse capture between the press and the release.
bool drag(HWND control, int x, int y, std::initializer_list<POINT> path) {
    DWORD_PTR ignored = 0;
    auto send = [&](UINT message, WPARAM keys, int px, int py) {
        SendMessageTimeoutA(control, message, keys, MAKELPARAM(px, py), SMTO_NORMAL, 2000,
                            &ignored);
    };
    send(WM_LBUTTONDOWN, MK_LBUTTON, x, y);
    const bool captured = capture_of_kvrac() == control;
    POINT last = {x, y};
    for (const POINT& p : path) {
        send(WM_MOUSEMOVE, MK_LBUTTON, p.x, p.y);
        last = p;
    }
    send(WM_LBUTTONUP, 0, last.x, last.y);
    return captured;
}

// The value the dialog takes from a handle dragged to row y of an area h rows high.
int value_at_row(int h, int y) {
    return (h - y) * 255 / h;
}

// Drags two handles of the colour dialog showing `values`: a press three pixels off a
// handle grabs nothing; a press two pixels off handle 2 takes it 12 pixels down; then
// handle 1, pulled far above handle 2, stops 4 pixels below it. After each drag the
// handles are drawn where the new values put them. Returns the values the dialog
// should now hold.
std::vector<int> drag_curve(HWND colour, const int (&values)[5]) {
    curve_view v = curve_of(colour, values);
    check(v.w > 40 && v.h > 40, "curve area has a size",
          std::to_string(v.w) + "x" + std::to_string(v.h));
    check_handles_drawn(v, "handles drawn at the stored values");

    check(!drag(v.control, v.x[2], v.y[2] + 3, {{v.x[2], v.y[2] + 8}, {v.x[2], v.y[2] + 14}}),
          "a press 3 pixels off a handle takes no capture");
    check_handles_drawn(v, "a press 3 pixels off a handle moves nothing");

    const int target = v.y[2] + 12;
    check(drag(v.control, v.x[2] + 1, v.y[2] - 2, {{v.x[2], v.y[2] + 5}, {v.x[2] + 1, target}}),
          "a press 2 pixels off handle 2 captures the mouse");
    check(capture_of_kvrac() == nullptr, "the release gives the mouse back");
    int moved[5] = {values[0], values[1], value_at_row(v.h, target), values[3], values[4]};
    v = curve_of(colour, moved);
    check_handles_drawn(v, "handle 2 dragged down and redrawn from its new value");

    drag(v.control, v.x[1] - 2, v.y[1] + 2, {{v.x[1], v.y[1] - 10}, {v.x[1], 0}});
    moved[1] = value_at_row(v.h, v.y[2] + 4);
    v = curve_of(colour, moved);
    check_handles_drawn(v, "handle 1 stopped 4 pixels below handle 2");
    return std::vector<int>(moved, moved + 5);
}

// The installation dialog with its three nested dialogs; OK at the end.
void installation_run() {
    DeleteFileA("robot-store.bin");
    start_kvrac("config --interactive --reset --settings robot-store.bin");
    HWND main = wait_for_dialog("Installation Orvix 9270/9250 Wide Format");
    check(main != nullptr, "installation dialog found by its title");
    if (!main) return;
    check_controls(main, installation_template);
    // This model: the red-pen and output-language groups are off, RTL/GL2 forced.
    check(!enabled(main, idc_colour_group) && !enabled(main, idc_language_group) &&
              checked(main, idc_language_rtl),
          "red pen and language groups disabled, RTL/GL2 checked");
    check(checked(main, idc_res_600), "600 dpi checked by default");
    screenshot(main, "installation.png");

    choose_row(main, idc_format_list, 10); // A0
    type_and_leave(main, idc_copies, "3", idc_margin, false);
    click(main, idc_fill_solid);
    click(main, idc_res_400);
    check(checked(main, idc_fill_solid) && !checked(main, idc_fill_halftone) &&
              checked(main, idc_res_400),
          "radio buttons follow the clicks");

    // Zero copies: the warning, and the field back to the last accepted number.
    type_and_leave(main, idc_copies, "0", idc_margin, true);
    HWND box = wait_for_dialog("Nombre de copies");
    check(box != nullptr, "copies warning shown");
    if (box) {
        check(text_of(GetDlgItem(box, 0xFFFF)) ==
                  "D\xE9"
                  "finir le nombre de copies dans la plage de 1 \xE0 99.",
              "copies warning text", text_of(GetDlgItem(box, 0xFFFF)));
        screenshot(box, "warning-copies.png");
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        check(wait_gone(box), "warning closed with OK");
    }
    Sleep(200);
    check(text_of(GetDlgItem(main, idc_copies)) == "3", "copies field back to 3",
          text_of(GetDlgItem(main, idc_copies)));

    // Colour correction: no caption; one Gamma step up; two handles dragged; reset
    // answered No; OK.
    std::vector<int> curve;
    click_later(main, idc_image_correction);
    HWND colour = wait_for_dialog(nullptr, idc_curve);
    check(colour != nullptr, "colour dialog found");
    if (colour) {
        check((GetWindowLongA(colour, GWL_STYLE) & WS_CAPTION) != WS_CAPTION,
              "colour dialog has no caption");
        check_controls(colour, colour_template);
        SendMessageA(colour, WM_VSCROLL, MAKEWPARAM(SB_LINEUP, 0),
                     reinterpret_cast<LPARAM>(GetDlgItem(colour, idc_gamma)));
        screenshot(colour, "colour.png");
        // One Gamma step up from the default curve 0, 123, 187, 228, 255.
        curve = drag_curve(colour, {0, 127, 192, 232, 255});
        screenshot(colour, "colour-dragged.png");
        click_later(colour, idc_curve_reset);
        HWND ask = wait_for_dialog("Correction d'image");
        check(ask != nullptr, "reset question shown");
        if (ask) {
            check(text_of(GetDlgItem(ask, 0xFFFF)) == "R\xE9initialiser aux valeurs initiales ?",
                  "reset question text", text_of(GetDlgItem(ask, 0xFFFF)));
            PostMessageA(ask, WM_COMMAND, IDNO, 0);
            check(wait_gone(ask), "question answered No");
        }
        click_later(colour, idc_curve_ok);
        check(wait_gone(colour), "colour dialog closed with OK");
    }

    // Finisher options: lists, the bypass rule, a programme and a bin; OK.
    click_later(main, idc_options);
    HWND options = wait_for_dialog("Installation Orvix 9270/9250 Wide Format - Options");
    check(options != nullptr, "options dialog found by its title");
    if (options) {
        check_controls(options, options_install_template);
        check(SendDlgItemMessageA(options, idc_program_list, CB_GETCOUNT, 0, 0) == 21 &&
                  SendDlgItemMessageA(options, idc_fmargin_list, CB_GETCOUNT, 0, 0) == 2 &&
                  SendDlgItemMessageA(options, idc_bin_list, CB_GETCOUNT, 0, 0) == 15,
              "finisher lists hold 21, 2 and 15 rows");
        check(!enabled(options, idc_fmargin_list) && !enabled(options, idc_bin_list),
              "margin and bin disabled for the manual folder");
        choose_row(options, idc_program_list, 3);
        check(enabled(options, idc_fmargin_list) && enabled(options, idc_bin_list),
              "margin and bin enabled for programme 3");
        choose_row(options, idc_bin_list, 2);
        screenshot(options, "options.png");
        click_later(options, idc_ok);
        check(wait_gone(options), "options dialog closed with OK");
    }

    // About box.
    click_later(main, idc_version);
    HWND about = wait_for_dialog("Au sujet du pilote");
    check(about != nullptr, "about box found by its title");
    if (about) {
        check(text_of(GetDlgItem(about, idc_about_text)) ==
                  "Orvix 9270/9250 Wide Format [Ver. 3.0.0] ADI 4.3 ",
              "about box shows the identification", text_of(GetDlgItem(about, idc_about_text)));
        screenshot(about, "about.png");
        click_later(about, idc_ok);
        check(wait_gone(about), "about box closed");
    }

    click_later(main, idc_ok);
    check(finish_kvrac() == 0, "kvrac config ends with status 0");
    const std::string s = read_file("robot-store.bin");
    check(s.size() == 40, "store written", std::to_string(s.size()));
    if (s.size() != 40) return;
    check(le(s, 0, 4) == 3, "store: 3 copies");
    check(le(s, 4, 4) == 11, "store: format row 11 (A0)");
    check((le(s, 28, 2) & 0x1000) == 0, "store: solid fill");
    check((le(s, 30, 2) & 0x0F00) == 0x0200, "store: 400 dpi");
    check(le(s, 14, 2) == 3 && le(s, 18, 2) == 2, "store: programme 3, bin 2");
    // The curve one Gamma step up, then dragged.
    std::string stored_curve, wanted_curve;
    for (int k = 0; k < 5; ++k) {
        stored_curve += std::to_string(le(s, 34 + k, 1)) + " ";
        wanted_curve += std::to_string(k < static_cast<int>(curve.size()) ? curve[k] : -1) + " ";
    }
    check(stored_curve == wanted_curve, "store: the curve as the handles were left",
          stored_curve + "for " + wanted_curve);
}

// The plot-time dialog: its own title and the label field, its options, colour and
// about dialogs; "Annuler" changes nothing.
void plot_time_run() {
    const std::string before = read_file("robot-store.bin");
    FILE* f = std::fopen("robot.kvs", "wb");
    if (f) {
        std::fputs("move 100 100\ndraw 2000 2000\n", f);
        std::fclose(f);
    }
    DeleteFileA("robot.prn");
    start_kvrac("plot robot.kvs --interactive -o robot.prn --settings robot-store.bin");
    HWND main = wait_for_dialog("Configuration Orvix 9270/9250 Wide Format ");
    check(main != nullptr, "plot-time dialog found by its title");
    if (!main) return;
    check_controls(main, plot_time_template);
    type_and_leave(main, idc_label, "Plan 12", idc_copies, false);
    screenshot(main, "plot-time.png");
    click_later(main, idc_options);
    HWND options = wait_for_dialog("Configuration Orvix 9270/9250 Wide Format - Options");
    check(options != nullptr, "plot-time options dialog found by its title");
    if (options) {
        check_controls(options, options_plot_template);
        choose_row(options, idc_bin_list, 5);
        screenshot(options, "plot-time-options.png");
        click_later(options, idc_cancel);
        check(wait_gone(options), "options dialog closed with Annuler");
    }
    click_later(main, idc_image_correction);
    HWND colour = wait_for_dialog(nullptr, idc_curve);
    check(colour != nullptr, "plot-time colour dialog found");
    if (colour) {
        check_controls(colour, colour_template);
        screenshot(colour, "plot-time-colour.png");
        click_later(colour, idc_curve_ok);
        check(wait_gone(colour), "plot-time colour dialog closed with OK");
    }
    click_later(main, idc_version);
    HWND about = wait_for_dialog("Au sujet du pilote");
    check(about != nullptr, "plot-time about box found by its title");
    if (about) {
        check_controls(about, about_template);
        screenshot(about, "plot-time-about.png");
        click_later(about, idc_ok);
        check(wait_gone(about), "plot-time about box closed");
    }
    click_later(main, idc_cancel);
    check(finish_kvrac() == 0, "kvrac plot ends with status 0");
    check(read_file("robot-store.bin") == before, "Annuler left the store as it was");
    check(read_file("robot.prn").size() > 100, "the job was written");
}

} // namespace

int main(int argc, char** argv) {
    robot.shots = argc > 1 ? argv[1] : ".";
    CreateDirectoryA(robot.shots.c_str(), nullptr);
    installation_run();
    plot_time_run();
    std::printf("%d passed, %d failed\n", robot.passed, robot.failed);
    return robot.failed == 0 ? 0 : 1;
}
