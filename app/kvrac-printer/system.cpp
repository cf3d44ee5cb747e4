// The server: one PAPPL system with its listeners, state, document formats and
// printers, set up in one place.
//
// Safe by default: it listens on localhost only; `-o listen-hostname=ADDRESS` (or
// `--listen ADDRESS`) opens it to a network. The web pages that change anything ask for
// the administrator password set on the Security page.
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "drawing/drawing_format.h"
#include "host/device_tables.h"
#include "host/settings.h"
#include "kvrac-printer/printer_app.h"
#include "settings/store.h"

std::mutex record_lock;

namespace {

// Port the server listens on unless -o server-port=N says otherwise.
constexpr int default_port = 8631;

// Largest image document PAPPL decodes: a 36-inch roll at 600 dpi is 21,600 dots wide.
constexpr size_t image_max_bytes = size_t{1} << 30;
constexpr int image_max_width = 32768;
constexpr int image_max_height = 65536;

constexpr const char footer_html[] =
    "kvrac-printer " KVRAC_VERSION " &middot; every job is printed through the kvrac driver";

// The server's state beyond PAPPL's.
struct server_state {
    std::string state_file;            // PAPPL's state file
    std::mutex sync_lock;              // guards synced
    std::map<int, std::string> synced; // printer id -> defaults last written to its record
};

server_state server;

const char* option(int n, cups_option_t* o, const char* name, const char* fallback) {
    const char* v = cupsGetOption(name, n, o);
    return v && *v ? v : fallback;
}

std::string default_state_dir() {
    if (getuid() == 0) return "/var/lib/kvrac-printer";
    if (const char* x = std::getenv("XDG_STATE_HOME"); x && *x)
        return std::string(x) + "/kvrac-printer";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/state/kvrac-printer";
}

// mkdir -p with mode 0700 for what it creates. Returns true when dir exists after.
bool make_dirs(const std::string& dir) {
    for (size_t at = 1; at <= dir.size(); ++at) {
        if (at < dir.size() && dir[at] != '/') continue;
        std::string part = dir.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

pappl_loglevel_t log_level(const char* v) {
    const struct {
        const char* name;
        pappl_loglevel_t level;
    } levels[] = {{"fatal", PAPPL_LOGLEVEL_FATAL},
                  {"error", PAPPL_LOGLEVEL_ERROR},
                  {"warn", PAPPL_LOGLEVEL_WARN},
                  {"info", PAPPL_LOGLEVEL_INFO},
                  {"debug", PAPPL_LOGLEVEL_DEBUG}};
    for (const auto& l : levels)
        if (std::strcmp(v, l.name) == 0) return l.level;
    return PAPPL_LOGLEVEL_WARN;
}

// A document sent as application/octet-stream that is no raster, PNG or JPEG: a PDF or
// TIFF document where this build reads them, a DXF
// drawing or an HP-GL/2 plot file when its content says so (as `kvrac plot` tells
// them), else a plot script, or what the plot-script job rejects with a clear reason
// (PAPPL would abort it without one).
const char* sniff_format(const unsigned char* header, size_t size, void*) {
#if KVRAC_HAVE_PDF
    if (size >= 5 && std::memcmp(header, "%PDF-", 5) == 0) return "application/pdf";
#endif
#if KVRAC_HAVE_IMAGE_FORMATS
    if (size >= 4 && (std::memcmp(header, "II*\0", 4) == 0 || std::memcmp(header, "MM\0*", 4) == 0))
        return "image/tiff";
#endif
    switch (drawing_format_of_content(reinterpret_cast<const char*>(header), size)) {
    case drawing_format::dxf:
        return dxf_mime;
    case drawing_format::hpgl:
        return hpgl_mime;
    case drawing_format::script:
        break;
    }
    return plot_script_mime;
}

// The dialog options that a printer's defaults ask for, as `kvrac config` options.
std::vector<std::string> printer_default_options(pappl_printer_t* printer) {
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    pappl_pr_options_t o{};
    o.media = data.media_default;
    o.printer_resolution[0] = data.x_default;
    o.printer_resolution[1] = data.y_default;
    o.copies = 1;
    std::vector<std::string> args;
    job_dialog_options(printer, &o, o.media.size_width, o.media.size_length, &args);
    return args;
}

// Writes a printer's defaults into its settings record through the driver's
// installation dialog, when they changed since the last time.
void sync_record(pappl_printer_t* printer, void*) {
    std::vector<std::string> args = printer_default_options(printer);
    std::string key;
    for (const std::string& a : args) key += a + '\n';
    const int id = papplPrinterGetID(printer);
    {
        std::lock_guard<std::mutex> hold(server.sync_lock);
        if (server.synced[id] == key) return;
    }
    args.insert(args.begin(), {"configure", printer_store(printer)});
    std::string why;
    const std::string err = app.spool_dir + "/kvrac-configure-" + std::to_string(id) + ".err";
    int rc;
    {
        std::lock_guard<std::mutex> writing(record_lock);
        rc = run_child(args, err, nullptr, &why);
    }
    if (rc != 0) {
        papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Settings record not saved: %s",
                        why.c_str());
    } else {
        std::lock_guard<std::mutex> hold(server.sync_lock);
        server.synced[id] = key;
    }
    std::remove(err.c_str());
}

bool save_state(pappl_system_t* system, void*) {
    papplSystemIteratePrinters(system, sync_record, nullptr);
    return papplSystemSaveState(system, server.state_file.c_str());
}

// A new printer: its settings record is made with the driver's installation defaults
// (unless one is kept from before), the printer's defaults are read from it, and its
// settings page is added.
void printer_created(pappl_printer_t* printer, void*) {
    const std::string store = printer_store(printer);
    std::string why;
    const std::string err =
        app.spool_dir + "/kvrac-configure-" + std::to_string(papplPrinterGetID(printer)) + ".err";
    int rc;
    {
        std::lock_guard<std::mutex> writing(record_lock);
        rc = run_child({"configure", store}, err, nullptr, &why);
    }
    if (rc != 0)
        papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Settings record not made: %s", why.c_str());
    std::remove(err.c_str());
    printer_defaults_from_record(printer);
    add_settings_page(printer);
}

} // namespace

void printer_defaults_from_record(pappl_printer_t* printer) {
    uint8_t bytes[settings_size];
    if (store_load(printer_store(printer), bytes, settings_size) != 0) return;
    const settings_record s = settings_from_bytes(bytes);

    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    const format_row f = media_format_row(0, s.media_format);
    if (f.name[0]) {
        pappl_media_col_t& m = data.media_default;
        m.size_width = static_cast<int>(f.width * 2540 + 0.5);
        m.size_length =
            f.custom ? s.custom_length_mm * 100 : static_cast<int>(f.length * 2540 + 0.5);
        pwg_media_t* pwg = f.custom ? nullptr : pwgMediaForSize(m.size_width, m.size_length);
        if (pwg)
            std::snprintf(m.size_name, sizeof m.size_name, "%s", pwg->pwg);
        else
            pwgFormatSizeName(m.size_name, sizeof m.size_name, "custom",
                              f.custom ? "roll" : "sheet", m.size_width, m.size_length, "mm");
        if (s.media_type >= 0 && s.media_type < data.num_type)
            std::snprintf(m.type, sizeof m.type, "%s", data.type[s.media_type]);
        data.media_ready[0] = m;
    }
    const int dpi = (s.mode_flags & mode_res_600)   ? 600
                    : (s.mode_flags & mode_res_400) ? 400
                    : (s.mode_flags & mode_res_300) ? 300
                    : (s.mode_flags & mode_res_200) ? 200
                                                    : 0;
    if (dpi) data.x_default = data.y_default = dpi;

    const std::string margin = std::to_string(s.margin_mm);
    const std::string program = s.finish_program == 0 ? "manual" : std::to_string(s.finish_program);
    const std::string bin = s.finish_bin == 0   ? "any"
                            : s.finish_bin == 1 ? "fanfold"
                                                : std::to_string(s.finish_bin - 1);
    cups_option_t vendor[] = {
        {const_cast<char*>("kvrac-fill"),
         const_cast<char*>(s.plot_flags & plot_halftone ? "halftone" : "solid")},
        {const_cast<char*>("kvrac-margin"), const_cast<char*>(margin.c_str())},
        {const_cast<char*>("kvrac-program"), const_cast<char*>(program.c_str())},
        {const_cast<char*>("kvrac-finisher-margins"),
         const_cast<char*>(s.finish_margins == 0 ? "program" : "off")},
        {const_cast<char*>("kvrac-bin"), const_cast<char*>(bin.c_str())},
        {const_cast<char*>("kvrac-manual-feed"),
         const_cast<char*>(s.mode_flags & mode_manual_feed ? "yes" : "no")},
    };
    papplPrinterSetDriverDefaults(printer, &data,
                                  static_cast<int>(sizeof vendor / sizeof vendor[0]), vendor);
    std::lock_guard<std::mutex> hold(server.sync_lock);
    std::string key;
    for (const std::string& a : printer_default_options(printer)) key += a + '\n';
    server.synced[papplPrinterGetID(printer)] = key;
}

namespace {

// True when something already accepts connections on host:port. PAPPL's listeners
// share a port with another server without complaint, which would split the clients
// between two servers.
bool port_taken(const char* host, int port) {
    http_addrlist_t* list = httpAddrGetList(std::strcmp(host, "*") == 0 ? "localhost" : host,
                                            AF_UNSPEC, std::to_string(port).c_str());
    bool taken = false;
    for (http_addrlist_t* a = list; a && !taken; a = a->next) {
        int fd = ::socket(httpAddrFamily(&a->addr), SOCK_STREAM, 0);
        if (fd < 0) continue;
        taken = ::connect(fd, reinterpret_cast<sockaddr*>(&a->addr),
                          static_cast<socklen_t>(httpAddrLength(&a->addr))) == 0;
        ::close(fd);
    }
    httpAddrFreeList(list);
    return taken;
}

} // namespace

bool looks_like_plot_script(const unsigned char* header, size_t size) {
    static const char* const words[] = {"unit",    "move",     "draw",      "lift",
                                        "pen",     "linetype", "linetypes", "width",
                                        "polygon", "cancel",   "image"};
    for (size_t k = 0; k < size; ++k)
        if (header[k] == 0 || (header[k] < 0x20 && !std::isspace(header[k]))) return false;
    size_t i = 0;
    for (;;) { // skip blanks and comment lines
        while (i < size && std::isspace(header[i])) ++i;
        if (i < size && header[i] == '#') {
            while (i < size && header[i] != '\n') ++i;
            continue;
        }
        break;
    }
    size_t end = i;
    while (end < size && std::isalpha(header[end])) ++end;
    const std::string word(reinterpret_cast<const char*>(header + i), end - i);
    for (const char* w : words)
        if (word == w) return true;
    return false;
}

pappl_system_t* system_setup(int n, cups_option_t* o, void*) {
    app.state_dir = option(n, o, "state-directory", default_state_dir().c_str());
    app.spool_dir = option(n, o, "spool-directory", (app.state_dir + "/spool").c_str());
    if (!make_dirs(app.state_dir) || !make_dirs(app.spool_dir)) {
        std::fprintf(stderr, "kvrac-printer: cannot create %s or %s: %s\n", app.state_dir.c_str(),
                     app.spool_dir.c_str(), std::strerror(errno));
        return nullptr;
    }
    server.state_file = app.state_dir + "/kvrac-printer.state";
    const std::string log_default = app.state_dir + "/kvrac-printer.log";
    const char* log_file = option(n, o, "log-file", log_default.c_str());
    const int port = std::atoi(option(n, o, "server-port", std::to_string(default_port).c_str()));
    const char* listen = option(n, o, "listen-hostname", "localhost");
    const char* auth = option(n, o, "auth-service", nullptr);
    descriptor(); // the driver's tables, built before any thread reads them
    if (port_taken(listen, port)) {
        std::fprintf(stderr, "kvrac-printer: port %d on %s is in use (another server?)\n", port,
                     listen);
        return nullptr;
    }

    pappl_system_t* system = papplSystemCreate(
        static_cast<pappl_soptions_t>(PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE |
                                      PAPPL_SOPTIONS_WEB_LOG | PAPPL_SOPTIONS_WEB_SECURITY),
        option(n, o, "server-name", "kvrac-printer"), port, "_print,_universal",
        app.spool_dir.c_str(), log_file, log_level(option(n, o, "log-level", "warn")), auth, false);
    if (!system) return nullptr;
    if (!papplSystemAddListeners(system, listen)) {
        std::fprintf(stderr, "kvrac-printer: cannot listen on %s port %d\n", listen, port);
        papplSystemDelete(system);
        return nullptr;
    }
    if (std::strcmp(listen, "localhost") == 0) papplSystemSetHostName(system, "localhost");
    if (const char* group = option(n, o, "admin-group", nullptr))
        papplSystemSetAdminGroup(system, group);
    papplSystemSetFooterHTML(system, footer_html);
    papplSystemSetMaxImageSize(system, image_max_bytes, image_max_width, image_max_height);
    papplSystemSetMIMECallback(system, sniff_format, nullptr);
    add_discovery_pages(system);
    watch_job_ends(system);
    // Found before PAPPL's own PNG reader, which never returns from a file that is not
    // a PNG.
    papplSystemAddMIMEFilter(system, "image/png", plot_script_mime, filter_png, nullptr);
    // Drawings: plotted as vectors; listed in document-format-supported by PAPPL (DXF
    // where this build reads it).
#if KVRAC_HAVE_DXF
    papplSystemAddMIMEFilter(system, dxf_mime, plot_script_mime, filter_drawing, nullptr);
#endif
    papplSystemAddMIMEFilter(system, hpgl_mime, plot_script_mime, filter_drawing, nullptr);
    // Documents plotted page by page through the host's image sources, at the job's
    // resolution, a portrait page turned across a landscape area (PAPPL's own JPEG path
    // would lay the picture out at its own resolution).
#if KVRAC_HAVE_PDF
    papplSystemAddMIMEFilter(system, "application/pdf", plot_script_mime, filter_document, nullptr);
#endif
#if KVRAC_HAVE_IMAGE_FORMATS
    papplSystemAddMIMEFilter(system, "image/tiff", plot_script_mime, filter_document, nullptr);
    papplSystemAddMIMEFilter(system, "image/jpeg", plot_script_mime, filter_document, nullptr);
#endif
    papplSystemSetPrinterDrivers(system, printer_driver_count, printer_drivers, nullptr,
                                 printer_created, driver_setup, nullptr);
    papplSystemLoadState(system, server.state_file.c_str());
    papplSystemSetSaveCallback(system, save_state, nullptr);
    return system;
}

void print_usage(void*) {
    std::puts(
        "Usage: kvrac-printer SUB-COMMAND [OPTIONS] [FILES]\n"
        "\n"
        "Each plotter as an IPP Everywhere printer; every job is printed through the\n"
        "kvrac driver. Sub-commands: server, add, delete, modify, printers, submit, jobs,\n"
        "cancel, status, shutdown, options, drivers, devices.\n"
        "\n"
        "Server options (server -o NAME=VALUE):\n"
        "  server-port=N          port (default 8631)\n"
        "  listen-hostname=ADDR   listen on ADDR instead of localhost only (also --listen ADDR)\n"
        "  state-directory=DIR    printers and their settings records\n"
        "  spool-directory=DIR    documents and jobs being printed (default STATE/spool)\n"
        "  log-file=FILE          log (default STATE/kvrac-printer.log; - for standard error)\n"
        "  log-level=LEVEL        fatal, error, warn (default), info, debug\n"
        "  admin-group=GROUP      group allowed to change the server on its web pages\n"
        "\n"
        "Printer defaults (modify -o NAME=VALUE): kvrac-fill=solid|halftone,\n"
        "kvrac-margin=0..10, kvrac-program=manual|1..20, kvrac-finisher-margins=program|off,\n"
        "kvrac-bin=any|fanfold|1..13, kvrac-manual-feed=no|yes.\n"
        "\n"
        "KVRAC_PRINTER_RUNTIME_DIR=DIR puts the local control socket in DIR, so that\n"
        "several servers can run at once; client sub-commands need the same value.\n"
        "See docs/printer-app.md.");
}
