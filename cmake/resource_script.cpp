// Writes the Windows resource script of kvrac_f.dll from the dialog templates, and the
// bitmap files it names. Built and run on the build machine during the Windows build:
//
//   resource_script OUTPUT_FOLDER
//
// writes OUTPUT_FOLDER/kvrac_f.rc and OUTPUT_FOLDER/bitmap_<id>.bmp. The templates are
// the one description of the dialogs, so the script never has to be edited by hand.
// Texts are Windows-1252 and are written as they are, under code page 1252.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ui/dialog_templates.h"

namespace {

// Window class and style of each control kind, as resource-script text.
struct kind_style {
    control_kind kind;
    const char* window_class;
    const char* style;
};

const kind_style kind_styles[] = {
    {control_kind::push_button, "Button", "BS_PUSHBUTTON | WS_TABSTOP"},
    {control_kind::default_button, "Button", "BS_DEFPUSHBUTTON | WS_TABSTOP"},
    // The procedures check radio buttons themselves.
    {control_kind::radio_button, "Button", "BS_RADIOBUTTON | WS_TABSTOP"},
    {control_kind::group_box, "Button", "BS_GROUPBOX"},
    {control_kind::label, "Static", "SS_LEFT"},
    {control_kind::label_centred, "Static", "SS_CENTER"},
    {control_kind::label_right, "Static", "SS_RIGHT"},
    {control_kind::edit, "Edit", "ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP"},
    {control_kind::drop_list, "ComboBox", "CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP"},
    // Placed by its rectangle; the procedure writes the partner edit itself.
    {control_kind::up_down, "msctls_updown32", "UDS_ARROWKEYS"},
    {control_kind::scroll_bar, "ScrollBar", "SBS_VERT"},
    {control_kind::owner_button, "Button", "BS_OWNERDRAW"},
    {control_kind::picture, "Static", "SS_BITMAP"},
};

const kind_style* style_of(control_kind kind) {
    for (const kind_style& k : kind_styles)
        if (k.kind == kind) return &k;
    return nullptr;
}

// A quoted resource-script string: double quotes doubled, backslashes escaped.
std::string quoted(const char* text) {
    std::string out = "\"";
    for (const char* p = text ? text : ""; *p; ++p) {
        if (*p == '"')
            out += "\"\"";
        else if (*p == '\\')
            out += "\\\\";
        else
            out += *p;
    }
    return out + "\"";
}

void put_u16(std::vector<uint8_t>& b, unsigned v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void put_u32(std::vector<uint8_t>& b, uint32_t v) {
    put_u16(b, v & 0xFFFF);
    put_u16(b, v >> 16);
}

// The standard 16-colour palette, as red, green, blue.
const uint8_t palette16[16][3] = {
    {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128}, {128, 0, 128},
    {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0}, {255, 255, 0},
    {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255},
};

// A 4-bit-per-pixel bitmap file whose every pixel is the bitmap's colour index.
std::vector<uint8_t> bitmap_file(const bitmap_resource& bm) {
    const uint32_t row_bytes = ((bm.width * 4 + 31) / 32) * 4;
    const uint32_t pixel_bytes = row_bytes * bm.height;
    const uint32_t offset = 14 + 40 + 16 * 4;
    std::vector<uint8_t> b;
    b.push_back('B');
    b.push_back('M');
    put_u32(b, offset + pixel_bytes); // file size
    put_u32(b, 0);                    // reserved
    put_u32(b, offset);               // where the pixels start
    put_u32(b, 40);                   // information header size
    put_u32(b, bm.width);
    put_u32(b, bm.height); // positive: rows bottom to top
    put_u16(b, 1);         // planes
    put_u16(b, 4);         // bits per pixel
    put_u32(b, 0);         // no compression
    put_u32(b, pixel_bytes);
    put_u32(b, 3780); // 96 dpi, in pixels per metre
    put_u32(b, 3780);
    put_u32(b, 16); // colours used
    put_u32(b, 0);  // all important
    for (const auto& c : palette16) {
        b.push_back(c[2]);
        b.push_back(c[1]);
        b.push_back(c[0]);
        b.push_back(0);
    }
    const uint8_t pair = static_cast<uint8_t>(bm.colour_index << 4 | bm.colour_index);
    for (int y = 0; y < bm.height; ++y) {
        for (uint32_t i = 0; i < row_bytes; ++i) {
            // Pixels past the width are padding; keep them 0.
            const int first = static_cast<int>(i) * 2;
            uint8_t v = 0;
            if (first < bm.width) v |= pair & 0xF0;
            if (first + 1 < bm.width) v |= pair & 0x0F;
            b.push_back(v);
        }
    }
    return b;
}

int write_file(const std::string& path, const void* bytes, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        return -1;
    }
    bool ok = std::fwrite(bytes, 1, size, f) == size;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) std::perror(path.c_str());
    return ok ? 0 : -1;
}

void write_dialog(std::string& rc, const dialog_template& t) {
    char line[512];
    std::snprintf(line, sizeof line, "%s DIALOG %d, %d, %d, %d\n", t.name, t.x, t.y, t.w, t.h);
    rc += line;
    // A dialog without a title has no caption bar and no system menu either.
    rc += t.title ? "STYLE DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU\n"
                  : "STYLE DS_MODALFRAME | WS_POPUP | WS_VISIBLE\n";
    if (t.title) rc += "CAPTION " + quoted(t.title) + "\n";
    std::snprintf(line, sizeof line, "FONT %d, %s\n", t.font_points, quoted(t.font).c_str());
    rc += line;
    rc += "BEGIN\n";
    for (int i = 0; i < t.control_count; ++i) {
        const control_template& c = t.controls[i];
        const kind_style* k = style_of(c.kind);
        std::string text =
            c.kind == control_kind::picture ? std::to_string(c.resource) : quoted(c.caption);
        std::snprintf(line, sizeof line, "    CONTROL %s, %d, \"%s\", %s, %d, %d, %d, %d\n",
                      text.c_str(), c.id, k->window_class, k->style, c.x, c.y, c.w, c.h);
        rc += line;
    }
    rc += "END\n\n";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: resource_script OUTPUT_FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    std::string rc = "// Written by resource_script from the dialog templates; do not edit.\n"
                     "#include <windows.h>\n"
                     "#include <commctrl.h>\n"
                     "#pragma code_page(1252)\n"
                     "LANGUAGE LANG_FRENCH, SUBLANG_FRENCH\n\n";
    for (const bitmap_resource* bm : all_bitmaps) {
        const std::string name = "bitmap_" + std::to_string(bm->id) + ".bmp";
        std::vector<uint8_t> bytes = bitmap_file(*bm);
        if (write_file(folder + "/" + name, bytes.data(), bytes.size()) != 0) return 1;
        rc += std::to_string(bm->id) + " BITMAP " + quoted(name.c_str()) + "\n";
    }
    rc += "\n";
    for (const dialog_template* t : all_templates) {
        for (int i = 0; i < t->control_count; ++i) {
            if (!style_of(t->controls[i].kind)) {
                std::fprintf(stderr, "resource_script: %s: control %d of an unknown kind\n",
                             t->name, t->controls[i].id);
                return 1;
            }
        }
        write_dialog(rc, *t);
    }
    return write_file(folder + "/kvrac_f.rc", rc.data(), rc.size()) == 0 ? 0 : 1;
}
