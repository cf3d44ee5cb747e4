// The Windows build, checked from Linux: the DLL's file read with a PE reader of our
// own, the DLL loaded and called by a probe under Wine, and kvrac.exe under Wine giving
// exactly the bytes the Linux build gives for the same scripts and settings.
#include <gtest/gtest.h>

#ifdef KVRAC_HAVE_PNG
#include <png.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path windows_dir = KVRAC_WINDOWS_DIR;

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

struct run_result {
    int status;
    std::string out;
    std::string err;
};

// Runs a shell command line in `cwd` with standard output and error collected.
run_result shell(const std::string& command, const fs::path& cwd) {
    const fs::path out = cwd / ".stdout", err = cwd / ".stderr";
    std::string line = "cd '" + cwd.string() + "' && " + command + " >'" + out.string() + "' 2>'" +
                       err.string() + "' </dev/null";
    int raw = std::system(line.c_str());
    run_result r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
    fs::remove(out);
    fs::remove(err);
    return r;
}

// A Windows program of the build under Wine, without a display: nothing here shows a
// window. Windows line ends in what it prints are turned into Linux ones.
run_result wine(const std::string& program, const std::string& args, const fs::path& cwd) {
    run_result r = shell("env -u DISPLAY WINEPREFIX='" + (windows_dir / "wine").string() +
                             "' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' wine '" +
                             (windows_dir / program).string() + "' " + args,
                         cwd);
    for (std::string* s : {&r.out, &r.err}) {
        std::string t;
        for (size_t i = 0; i < s->size(); ++i)
            if (!((*s)[i] == '\r' && i + 1 < s->size() && (*s)[i + 1] == '\n')) t += (*s)[i];
        *s = t;
    }
    return r;
}

run_result linux_kvrac(const std::string& args, const fs::path& cwd) {
    return shell(std::string("env -u KVRAC_SETTINGS '") + KVRAC_BINARY + "' " + args, cwd);
}

run_result windows_kvrac(const std::string& args, const fs::path& cwd) {
    return wine("kvrac.exe", args, cwd);
}

class Windows : public ::testing::Test {
  protected:
    fs::path dir;
    void SetUp() override {
        ASSERT_TRUE(fs::exists(windows_dir / "kvrac.exe")) << "the windows_build test makes it";
        dir = fs::temp_directory_path() /
              ("kvrac-windows-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
};

// ---- A small reader of 32-bit PE files ----

struct pe_file {
    std::string bytes;
    uint32_t pe;       // offset of the "PE\0\0" signature
    uint32_t optional; // offset of the optional header
    uint16_t sections; // number of sections
    uint32_t section0; // offset of the section table
    std::string fault; // why the file could not be read
};

uint32_t u16_at(const std::string& b, size_t off) {
    if (off + 2 > b.size()) return 0;
    return static_cast<uint8_t>(b[off]) | static_cast<uint8_t>(b[off + 1]) << 8;
}

uint32_t u32_at(const std::string& b, size_t off) {
    return u16_at(b, off) | u16_at(b, off + 2) << 16;
}

pe_file read_pe(const fs::path& path) {
    pe_file f{slurp(path), 0, 0, 0, 0, ""};
    if (f.bytes.size() < 0x40 || f.bytes.compare(0, 2, "MZ") != 0) {
        f.fault = "no MZ header";
        return f;
    }
    f.pe = u32_at(f.bytes, 0x3C);
    if (f.bytes.compare(f.pe, 4, std::string("PE\0\0", 4)) != 0) {
        f.fault = "no PE signature";
        return f;
    }
    f.sections = static_cast<uint16_t>(u16_at(f.bytes, f.pe + 6));
    f.optional = f.pe + 24;
    f.section0 = f.optional + u16_at(f.bytes, f.pe + 20);
    return f;
}

// File offset of a relative virtual address, or 0 when no section holds it.
size_t file_offset(const pe_file& f, uint32_t rva) {
    for (uint32_t i = 0; i < f.sections; ++i) {
        const size_t s = f.section0 + 40 * i;
        const uint32_t va = u32_at(f.bytes, s + 12),
                       size = std::max(u32_at(f.bytes, s + 8), u32_at(f.bytes, s + 16));
        if (rva >= va && rva < va + size) return rva - va + u32_at(f.bytes, s + 20);
    }
    return 0;
}

std::string c_string_at(const pe_file& f, uint32_t rva) {
    size_t off = file_offset(f, rva);
    if (off == 0) return "";
    return std::string(f.bytes.c_str() + off);
}

// Data directory entry: 0 exports, 1 imports, 2 resources.
uint32_t directory_rva(const pe_file& f, int entry) {
    return u32_at(f.bytes, f.optional + 96 + 8 * entry);
}

struct export_entry {
    std::string name;
    uint32_t ordinal;
};

std::vector<export_entry> exports_of(const pe_file& f, std::string* dll_name) {
    std::vector<export_entry> out;
    const size_t d = file_offset(f, directory_rva(f, 0));
    if (d == 0) return out;
    *dll_name = c_string_at(f, u32_at(f.bytes, d + 12));
    const uint32_t base = u32_at(f.bytes, d + 16), names = u32_at(f.bytes, d + 24);
    const size_t name_table = file_offset(f, u32_at(f.bytes, d + 32));
    const size_t ordinal_table = file_offset(f, u32_at(f.bytes, d + 36));
    for (uint32_t i = 0; i < names; ++i)
        out.push_back({c_string_at(f, u32_at(f.bytes, name_table + 4 * i)),
                       base + u16_at(f.bytes, ordinal_table + 2 * i)});
    return out;
}

std::set<std::string> imports_of(const pe_file& f) {
    std::set<std::string> out;
    size_t d = file_offset(f, directory_rva(f, 1));
    for (; d != 0 && u32_at(f.bytes, d + 12) != 0; d += 20) {
        std::string name = c_string_at(f, u32_at(f.bytes, d + 12));
        std::transform(name.begin(), name.end(), name.begin(), ::toupper);
        out.insert(name);
    }
    return out;
}

// Resources: type -> (name or "#id" -> the data's bytes).
using resource_map = std::map<int, std::map<std::string, std::string>>;

std::string utf16_to_latin1(const std::string& b, size_t off, size_t chars) {
    std::string s;
    for (size_t i = 0; i < chars; ++i) {
        uint32_t c = u16_at(b, off + 2 * i);
        s += c < 0x100 ? static_cast<char>(c) : '?';
    }
    return s;
}

resource_map resources_of(const pe_file& f) {
    resource_map out;
    const size_t root = file_offset(f, directory_rva(f, 2));
    if (root == 0) return out;
    auto entries = [&](size_t dir) {
        std::vector<std::pair<uint32_t, uint32_t>> e;
        const uint32_t n = u16_at(f.bytes, dir + 12) + u16_at(f.bytes, dir + 14);
        for (uint32_t i = 0; i < n; ++i)
            e.emplace_back(u32_at(f.bytes, dir + 16 + 8 * i), u32_at(f.bytes, dir + 20 + 8 * i));
        return e;
    };
    for (auto [type, type_dir] : entries(root)) {
        for (auto [name, name_dir] : entries(root + (type_dir & 0x7FFFFFFF))) {
            std::string key;
            if (name & 0x80000000) {
                const size_t s = root + (name & 0x7FFFFFFF);
                key = utf16_to_latin1(f.bytes, s + 2, u16_at(f.bytes, s));
            } else {
                key = "#" + std::to_string(name);
            }
            // The first language of the name.
            auto langs = entries(root + (name_dir & 0x7FFFFFFF));
            if (langs.empty()) continue;
            const size_t data = root + langs[0].second;
            const size_t at = file_offset(f, u32_at(f.bytes, data));
            out[static_cast<int>(type)][key] = f.bytes.substr(at, u32_at(f.bytes, data + 4));
        }
    }
    return out;
}

// A dialog template resource (the classic form): what the tests look at.
struct dialog_info {
    uint32_t style;
    int items;
    int x, y, w, h;
    std::string title; // Latin-1
    int font_points;
    std::string font;
    std::map<int, std::string> texts; // control id -> text (Latin-1)
};

// Reads a UTF-16 string or an ordinal (0xFFFF, n) at *at; advances *at.
std::string sz_or_ordinal(const std::string& b, size_t* at) {
    if (u16_at(b, *at) == 0xFFFF) {
        std::string s = "#" + std::to_string(u16_at(b, *at + 2));
        *at += 4;
        return s;
    }
    size_t n = 0;
    while (u16_at(b, *at + 2 * n) != 0) ++n;
    std::string s = utf16_to_latin1(b, *at, n);
    *at += 2 * (n + 1);
    return s;
}

dialog_info read_dialog(const std::string& b) {
    dialog_info d{};
    d.style = u32_at(b, 0);
    d.items = static_cast<int>(u16_at(b, 8));
    d.x = static_cast<int16_t>(u16_at(b, 10));
    d.y = static_cast<int16_t>(u16_at(b, 12));
    d.w = static_cast<int16_t>(u16_at(b, 14));
    d.h = static_cast<int16_t>(u16_at(b, 16));
    size_t at = 18;
    sz_or_ordinal(b, &at); // menu
    sz_or_ordinal(b, &at); // class
    d.title = sz_or_ordinal(b, &at);
    if (d.style & 0x40) { // DS_SETFONT
        d.font_points = static_cast<int>(u16_at(b, at));
        at += 2;
        d.font = sz_or_ordinal(b, &at);
    }
    for (int i = 0; i < d.items; ++i) {
        at = (at + 3) & ~size_t{3};
        const int id = static_cast<int16_t>(u16_at(b, at + 16));
        at += 18;
        sz_or_ordinal(b, &at); // class
        std::string text = sz_or_ordinal(b, &at);
        at += 2 + u16_at(b, at); // creation data
        if (id != -1) d.texts[id] = text;
    }
    return d;
}

TEST(DriverFile, IsA32BitDllExportingPladiAtOrdinalOne) {
    pe_file f = read_pe(windows_dir / "kvrac_f.dll");
    ASSERT_EQ(f.fault, "");
    EXPECT_EQ(u16_at(f.bytes, f.pe + 4), 0x14Cu);       // i386
    EXPECT_NE(u16_at(f.bytes, f.pe + 22) & 0x2000, 0u); // a DLL
    EXPECT_EQ(u16_at(f.bytes, f.optional), 0x10Bu);     // PE32
    std::string name;
    std::vector<export_entry> exports = exports_of(f, &name);
    EXPECT_EQ(name, "kvrac_f.dll");
    std::map<std::string, uint32_t> by_name;
    for (const export_entry& e : exports) by_name[e.name] = e.ordinal;
    ASSERT_EQ(by_name.count("PLADI"), 1u);
    EXPECT_EQ(by_name["PLADI"], 1u);
    // Nothing else under a decorated form, and only the host program's switches beside it.
    by_name.erase("PLADI");
    for (const char* host_only :
         {"kvrac_headless_mode", "kvrac_set_user_actions", "kvrac_user_outcome"})
        by_name.erase(host_only);
    EXPECT_TRUE(by_name.empty()) << by_name.begin()->first;
}

TEST(DriverFile, ImportsOnlyLibrariesWindowsShips) {
    pe_file f = read_pe(windows_dir / "kvrac_f.dll");
    ASSERT_EQ(f.fault, "");
    std::set<std::string> imports = imports_of(f);
    EXPECT_EQ(imports.count("KERNEL32.DLL"), 1u);
    for (const std::string& dll : imports)
        EXPECT_TRUE(dll == "KERNEL32.DLL" || dll == "USER32.DLL" || dll == "GDI32.DLL" ||
                    dll == "MSVCRT.DLL")
            << dll;
}

TEST(DriverFile, CarriesTheDialogTemplatesAndTheBlackBitmap) {
    pe_file f = read_pe(windows_dir / "kvrac_f.dll");
    ASSERT_EQ(f.fault, "");
    resource_map res = resources_of(f);
    std::set<std::string> dialogs;
    for (const auto& [name, bytes] : res[5]) dialogs.insert(name);
    EXPECT_EQ(dialogs,
              (std::set<std::string>{"DETAILCFG2_FRE", "DRIVERCFG2_FRE", "DRV_VER_FRE",
                                     "IDD_COLOR_FRE", "OPTIONCFG1_FRE", "OPTIONCFG2_FRE"}));

    dialog_info install = read_dialog(res[5]["DETAILCFG2_FRE"]);
    EXPECT_EQ(install.title, "Installation Orvix 9270/9250 Wide Format");
    EXPECT_EQ((std::vector<int>{install.x, install.y, install.w, install.h}),
              (std::vector<int>{4, 19, 459, 242}));
    EXPECT_EQ(install.texts.count(1041), 0u); // no label field
    dialog_info plot = read_dialog(res[5]["DRIVERCFG2_FRE"]);
    EXPECT_EQ(plot.title, "Configuration Orvix 9270/9250 Wide Format ");
    EXPECT_EQ(plot.h, 263);
    // Windows-1252 texts arrive as the right characters.
    EXPECT_EQ(plot.texts[1039], "\xC9tiquette (&L):");
    EXPECT_EQ(plot.texts[1071], "Num\xE9ro de plume rouge sp\xE9"
                                "cifi\xE9"
                                "e (&A):");
    EXPECT_EQ(plot.texts[2], "Annuler");
    dialog_info colour = read_dialog(res[5]["IDD_COLOR_FRE"]);
    EXPECT_EQ(colour.style & 0x00C00000u, 0u); // no caption
    EXPECT_EQ(colour.w, 269);
    EXPECT_EQ(colour.h, 153);
    EXPECT_EQ(colour.font, "MS Sans Serif");
    EXPECT_EQ(colour.font_points, 9);
    EXPECT_EQ(colour.items, 39); // 19 numbered controls and 20 tick marks
    EXPECT_EQ(colour.texts[3010], "Valeur pr\xE9"
                                  "d\xE9"
                                  "finie");
    dialog_info about = read_dialog(res[5]["DRV_VER_FRE"]);
    EXPECT_EQ(about.title, "Au sujet du pilote");
    EXPECT_EQ(about.texts[501], "Orvix KTGL+MMR, pilote RTL/GL2");

    // Bitmap 3032: 63 x 52 pixels at 4 bits, every pixel colour 0 (black).
    ASSERT_EQ(res[2].count("#3032"), 1u);
    ASSERT_EQ(res[2].count("#102"), 1u);
    const std::string& bm = res[2]["#3032"];
    ASSERT_GE(bm.size(), 40u + 64u);
    EXPECT_EQ(u32_at(bm, 4), 63u);
    EXPECT_EQ(u32_at(bm, 8), 52u);
    EXPECT_EQ(u16_at(bm, 14), 4u);
    EXPECT_EQ(u32_at(bm, 40), 0u); // palette entry 0 is black
    const size_t row = 32, pixels = 40 + 16 * 4;
    ASSERT_EQ(bm.size(), pixels + row * 52);
    for (size_t y = 0; y < 52; ++y)
        for (size_t x = 0; x < 63; ++x) {
            uint8_t byte = static_cast<uint8_t>(bm[pixels + y * row + x / 2]);
            ASSERT_EQ(x % 2 ? byte & 0x0F : byte >> 4, 0) << x << "," << y;
        }
}

// ---- The DLL as a host loads and calls it ----

std::map<std::string, std::string> probe_lines(const std::string& text) {
    std::map<std::string, std::string> out;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        size_t space = line.find(' ');
        if (space != std::string::npos) out[line.substr(0, space)] = line.substr(space + 1);
        at = end + 1;
    }
    return out;
}

TEST_F(Windows, HostCallsFollowTheCallingConventionsAndBadCallsAreHarmless) {
    run_result r = wine("abi_probe.exe", "", windows_dir);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    auto p = probe_lines(r.out);
    EXPECT_EQ(p["entry_by_name"], "1");
    EXPECT_EQ(p["entry_by_ordinal_is_entry"], "1");
    EXPECT_EQ(p["module_by_name"], "1");      // the name the driver finds its resources by
    EXPECT_EQ(p["entry_stack_moved"], "0");   // the entry removes its two arguments
    EXPECT_EQ(p["config_stack_moved"], "-4"); // the handlers leave theirs to the caller
    EXPECT_EQ(p["plot_stack_moved"], "-4");
    EXPECT_EQ(p["ident"], "Orvix 9270/9250 Wide Format [Ver. 3.0.0] ADI 4.3 |");
    EXPECT_EQ(p["handlers_in_driver"], "1");
    EXPECT_EQ(p["config_null_record"], "-1");
    EXPECT_EQ(p["plot_null_record"], "-1");
    // With no host table nothing can be stored or loaded: failures, not crashes.
    EXPECT_EQ(p["no_table_save_status"], "-1");
    EXPECT_EQ(p["no_table_plot_start_status"], "-1");
    EXPECT_EQ(p["alive"], "1");
}

// ---- kvrac.exe against kvrac ----

// The settings record's stored layout: byte offsets of the fields the tests vary.
enum : int {
    at_copies = 0,
    at_media_format = 4,
    at_custom_length = 8,
    at_margin = 26,
    at_plot_flags = 28,
    at_mode_flags = 30,
    at_correction = 34,
};

void put_le(std::string& rec, int off, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) rec[off + i] = static_cast<char>(v >> (8 * i));
}

TEST_F(Windows, ConfigurationThroughTheDllStoresTheSameBytes) {
    run_result lin = linux_kvrac("config --reset --settings linux.bin", dir);
    run_result win = windows_kvrac("config --reset --settings windows.bin", dir);
    ASSERT_EQ(lin.status, 0) << lin.err;
    ASSERT_EQ(win.status, 0) << win.err;
    const std::string stored = slurp(dir / "linux.bin");
    ASSERT_EQ(stored.size(), 40u);
    EXPECT_EQ(slurp(dir / "windows.bin"), stored);

    // A second run replaces the store in place and reads what the first one saved.
    std::string changed = stored;
    put_le(changed, at_copies, 7, 4);
    write_file(dir / "windows.bin", changed);
    write_file(dir / "linux.bin", changed);
    ASSERT_EQ(windows_kvrac("config --settings windows.bin", dir).status, 0);
    ASSERT_EQ(linux_kvrac("config --settings linux.bin", dir).status, 0);
    EXPECT_EQ(slurp(dir / "windows.bin"), slurp(dir / "linux.bin"));
    EXPECT_EQ(static_cast<uint8_t>(slurp(dir / "windows.bin")[at_copies]), 7);
    EXPECT_FALSE(fs::exists(dir / "windows.bin.tmp"));
    for (const auto& e : fs::directory_iterator(dir))
        EXPECT_EQ(e.path().extension() == ".tmp", false) << e.path();

    // The texts the driver prints read the same on both.
    for (const char* command : {"report", "legend", "show", "formats"}) {
        run_result l = linux_kvrac(std::string(command) + " --settings linux.bin", dir);
        run_result w = windows_kvrac(std::string(command) + " --settings windows.bin", dir);
        EXPECT_EQ(w.status, l.status) << command;
        std::string lout = l.out, wout = w.out;
        if (std::string(command) == "show") { // first line names the store
            lout.erase(0, lout.find('\n'));
            wout.erase(0, wout.find('\n'));
        }
        EXPECT_EQ(wout, lout) << command;
        EXPECT_FALSE(lout.empty()) << command;
    }
}

// Lines in every unit, pens, line types, widths, the legend, a lift.
const char lines_script[] =
    "move 100 200\ndraw 300 200\ndraw 300 900\nunit mm\nmove 25.4 10\ndraw 200 10\n"
    "unit in\ndraw 10 5\nunit plu\npen 3\nlinetype 3\nwidth 0.35mm\ndraw 5000 5000\n"
    "pen 12\nlinetype 6\nwidth 1.5mm\ndraw 6000 100\nlinetype 0\nwidth -1\ndraw 10 10\n"
    "linetypes 8\nlift\nmove 65535 65535\ndraw 0 0\n";

// Filled polygons, small (in the record) and large (by address).
std::string polygon_script() {
    std::string s = "polygon 7 0 0 1000 0 1000 1000 0 1000\npolygon 3";
    for (int i = 0; i < 700; ++i)
        s += " " + std::to_string(2000 + i * 7) + " " + std::to_string(i % 2 ? 3000 : 2000 + i);
    return s + "\nmove 10 10\ndraw 20 20\n";
}

#ifdef KVRAC_HAVE_PNG
// Writes a w x h PNG of colour type `type` and bit depth `depth` with libpng; sample
// (x, y, c) gives each stored sample. A palette of `colours` entries and tRNS data
// (alpha table, or the transparent value in trns[0..2]) are added when asked.
void write_png(const fs::path& path, int w, int h, int type, int depth, bool interlaced,
               unsigned (*sample)(int x, int y, int c), int colours = 0,
               std::vector<unsigned> trns = {}) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, depth, type,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (colours) {
        std::vector<png_color> palette;
        for (int i = 0; i < colours; ++i)
            palette.push_back({static_cast<png_byte>(i * 71), static_cast<png_byte>(i * 23),
                               static_cast<png_byte>(255 - i * 9)});
        png_set_PLTE(png, info, palette.data(), colours);
    }
    if (colours && !trns.empty()) {
        std::vector<png_byte> alpha(trns.begin(), trns.end());
        png_set_tRNS(png, info, alpha.data(), static_cast<int>(alpha.size()), nullptr);
    } else if (!trns.empty()) {
        png_color_16 key = {};
        key.gray = key.red = static_cast<png_uint_16>(trns[0]);
        key.green = static_cast<png_uint_16>(trns[1]);
        key.blue = static_cast<png_uint_16>(trns[2]);
        png_set_tRNS(png, info, nullptr, 0, &key);
    }
    png_write_info(png, info);
    const int channels = png_get_channels(png, info);
    const size_t row_bytes = (static_cast<size_t>(w) * channels * depth + 7) / 8;
    std::vector<std::vector<png_byte>> rows(h, std::vector<png_byte>(row_bytes, 0));
    std::vector<png_bytep> pointers;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < channels; ++c) {
                const unsigned v = sample(x, y, c) & ((1u << depth) - 1);
                const size_t bit = (static_cast<size_t>(x) * channels + c) * depth;
                if (depth == 16) {
                    rows[y][bit / 8] = static_cast<png_byte>(v >> 8);
                    rows[y][bit / 8 + 1] = static_cast<png_byte>(v);
                } else {
                    rows[y][bit / 8] |= static_cast<png_byte>(v << (8 - depth - bit % 8));
                }
            }
        pointers.push_back(rows[y].data());
    }
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

// Images of every kind the decoder tells apart, placed over lines, plain, see-through
// and in a colour; written into dir. Returns the script.
std::string image_script(const fs::path& dir) {
    write_png(dir / "mono.png", 37, 23, PNG_COLOR_TYPE_GRAY, 1, false,
              [](int x, int y, int) { return unsigned((x + y / 3) % 4 != 0); });
    write_png(dir / "mono-i.png", 41, 29, PNG_COLOR_TYPE_GRAY, 1, true,
              [](int x, int y, int) { return unsigned((x * y) % 7 != 1); });
    write_png(dir / "rgb.png", 33, 21, PNG_COLOR_TYPE_RGB, 8, false,
              [](int x, int y, int c) { return unsigned(x * 7 + y * 11 + c * 80); });
    write_png(dir / "rgba16-i.png", 19, 27, PNG_COLOR_TYPE_RGBA, 16, true, [](int x, int y, int c) {
        return c == 3 ? unsigned(x * 3500) : unsigned(y * 2400 + c * 9000);
    });
    write_png(dir / "pal4.png", 25, 9, PNG_COLOR_TYPE_PALETTE, 4, false,
              [](int x, int y, int) { return unsigned((x + 2 * y) % 12); }, 12, {0, 128, 255, 40});
    write_png(dir / "grey2-key.png", 9, 33, PNG_COLOR_TYPE_GRAY, 2, true,
              [](int x, int y, int) { return unsigned(x ^ y); }, 0, {2, 0, 0});
    write_png(dir / "ga16.png", 7, 7, PNG_COLOR_TYPE_GRAY_ALPHA, 16, false,
              [](int x, int y, int c) { return c ? unsigned(x * 9000) : unsigned(y * 9000); });
    return "unit mm\npen 2\nwidth 0.5mm\nmove 0 0\ndraw 300 200\nmove 0 200\ndraw 300 0\n"
           "image 10 10 60 50 mono.png\n"
           "image 70 10 130 60 mono-i.png transparent color 5\n"
           "image 140 10 220 70 rgb.png\n"
           "image 10 80 50 140 rgba16-i.png transparent\n"
           "image 60 80 160 120 pal4.png\n"
           "image 170 80 190 180 grey2-key.png transparent\n"
           "image 200 80 280 160 ga16.png color 3\n"
           "move 5 5\ndraw 295 5\n";
}
#endif

TEST_F(Windows, JobsAreByteIdenticalToTheLinuxBuild) {
    ASSERT_EQ(linux_kvrac("config --reset --settings base.bin", dir).status, 0);
    const std::string base = slurp(dir / "base.bin");
    ASSERT_EQ(base.size(), 40u);

    // Settings that take different paths through the driver.
    struct variant {
        const char* name;
        std::string record;
    };
    std::vector<variant> variants;
    variants.push_back({"defaults", base});
    std::string ktgl = base; // KTGL+MMR at 400 dpi
    put_le(ktgl, at_mode_flags, (u16_at(base, at_mode_flags) & ~0x0F00u) | 0x0040 | 0x0200, 2);
    variants.push_back({"ktgl", ktgl});
    std::string solid = base; // solid fill, PE in base 64, 300 dpi, 5 mm margin, 3 copies
    put_le(solid, at_plot_flags, (u16_at(base, at_plot_flags) & ~0x1000u) | 0x2000, 2);
    put_le(solid, at_mode_flags, (u16_at(base, at_mode_flags) & ~0x0F00u) | 0x0400, 2);
    put_le(solid, at_margin, 5, 2);
    put_le(solid, at_copies, 3, 4);
    variants.push_back({"solid", solid});
    std::string custom = base; // a custom-length A0 roll of 2 m, a steeper curve
    put_le(custom, at_media_format, 33, 4);
    put_le(custom, at_custom_length, 2000, 4);
    for (int i = 0; i < 5; ++i) custom[at_correction + i] = static_cast<char>(i * 60);
    variants.push_back({"custom", custom});
    std::string upright = base; // a 396 mm length of the 914 mm roll: an unrotated sheet
    put_le(upright, at_media_format, 23, 4);
    variants.push_back({"upright", upright});

    // The examples, with their images: the Windows build reads them with its own PNG
    // decoder, the Linux build with libpng.
    std::vector<std::pair<std::string, std::string>> scripts;
    for (const auto& e : fs::directory_iterator(fs::path(KVRAC_SOURCE_DIR) / "examples")) {
        if (e.path().extension() == ".png") fs::copy_file(e.path(), dir / e.path().filename());
        if (e.path().extension() != ".kvs") continue;
        scripts.emplace_back("example-" + e.path().filename().string(), slurp(e.path()));
    }
    ASSERT_FALSE(scripts.empty());
    scripts.emplace_back("lines.kvs", lines_script);
    scripts.emplace_back("polygons.kvs", polygon_script());
#ifdef KVRAC_HAVE_PNG
    scripts.emplace_back("images.kvs", image_script(dir));
#endif
    for (auto& [path, text] : scripts)
        if (!text.empty()) write_file(dir / path, text);

    for (const variant& v : variants) {
        for (const auto& [path, text] : scripts) {
            SCOPED_TRACE(v.name + std::string(" ") + path);
            write_file(dir / "linux.bin", v.record);
            write_file(dir / "windows.bin", v.record);
            run_result l =
                linux_kvrac("plot '" + path + "' -o linux.prn --settings linux.bin", dir);
            run_result w =
                windows_kvrac("plot '" + path + "' -o windows.prn --settings windows.bin", dir);
            ASSERT_EQ(l.status, 0) << l.err;
            ASSERT_EQ(w.status, 0) << w.err;
            const std::string job = slurp(dir / "linux.prn");
            ASSERT_GT(job.size(), 1000u);
            EXPECT_TRUE(slurp(dir / "windows.prn") == job) << "the Windows job differs";
            // The plot left the stored settings as they were on both.
            EXPECT_EQ(slurp(dir / "windows.bin"), slurp(dir / "linux.bin"));
        }
    }
}

// What Wine's trace saw kvrac.exe ask of the console's output code page, one
// "KERNEL32.SetConsoleOutputCP(page)" or "KERNEL32.GetConsoleOutputCP() retval=page" a
// line, for `report` with standard output on a terminal (script(1) gives it one, and
// Wine a console from it) or on a file. The trace is limited to those two functions.
std::string console_calls(const fs::path& dir, bool on_terminal) {
    const std::string wine_env = "env -u DISPLAY WINEPREFIX='" + (windows_dir / "wine").string() +
                                 "' WINEDLLOVERRIDES='mscoree,mshtml=' ";
    EXPECT_EQ(shell(wine_env + "WINEDEBUG=-all wine reg add 'HKCU\\Software\\Wine\\Debug' /v "
                               "RelayInclude /d "
                               "'KERNEL32.SetConsoleOutputCP;KERNEL32.GetConsoleOutputCP' /f",
                    dir)
                  .status,
              0);
    const std::string run = wine_env + "WINEDEBUG=+relay wine '" +
                            (windows_dir / "kvrac.exe").string() + "' report --settings s.bin";
    const std::string trace = "| grep -a -o 'KERNEL32\\.SetConsoleOutputCP([0-9a-f]\\+)\\|"
                              "KERNEL32\\.GetConsoleOutputCP() retval=[0-9a-f]*' >calls.txt";
    const std::string line =
        on_terminal ? "script -qec \"" + run + " 2>&1 >/dev/tty " + trace + "\" /dev/null"
                    : run + " 2>&1 >out.txt " + trace + "; true";
    EXPECT_EQ(shell(line, dir).status, 0) << line;
    return slurp(dir / "calls.txt");
}

TEST_F(Windows, AConsoleIsToldTheTextsAreUtf8AndGetsItsCodePageBack) {
    ASSERT_EQ(linux_kvrac("config --reset --settings s.bin", dir).status, 0);
    const std::string calls = console_calls(dir, true);
    const size_t got = calls.find("GetConsoleOutputCP() retval=");
    ASSERT_NE(got, std::string::npos) << calls;
    const std::string before = calls.substr(got + 28, calls.find('\n', got) - got - 28);
    EXPECT_NE(before, "0000fde9");
    // UTF-8 (65001) while kvrac.exe runs, the console's own code page at its end.
    EXPECT_EQ(calls.substr(calls.find("KERNEL32.SetConsoleOutputCP")),
              "KERNEL32.SetConsoleOutputCP(0000fde9)\nKERNEL32.SetConsoleOutputCP(" + before +
                  ")\n")
        << calls;
    // Output to a file is no console's business.
    EXPECT_EQ(console_calls(dir, false).find("SetConsoleOutputCP"), std::string::npos);
    EXPECT_NE(slurp(dir / "out.txt").find("S\xC3\xA9lectionner"), std::string::npos);
}

TEST_F(Windows, JobOnStandardOutputKeepsItsBytes) {
    ASSERT_EQ(linux_kvrac("config --reset --settings s.bin", dir).status, 0);
    write_file(dir / "a.kvs", lines_script);
    run_result l = linux_kvrac("plot a.kvs -o - --settings s.bin", dir);
    // Not through wine(), which would turn line ends back: the job must carry CR LF as
    // written, and no CR of Windows' own.
    run_result w = shell("env -u DISPLAY WINEPREFIX='" + (windows_dir / "wine").string() +
                             "' WINEDEBUG=-all wine '" + (windows_dir / "kvrac.exe").string() +
                             "' plot a.kvs -o - --settings s.bin",
                         dir);
    ASSERT_EQ(l.status, 0);
    ASSERT_EQ(w.status, 0) << w.err;
    ASSERT_NE(l.out.find("\r\n"), std::string::npos); // the PJL lines end in CR LF
    EXPECT_TRUE(w.out == l.out);
}

} // namespace
