// kvrac-printer: the command line. A job's child process is told apart by its first
// argument before anything else runs; everything else is PAPPL's main loop with its
// sub-commands.
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kvrac-printer/job_child.h"
#include "kvrac-printer/printer_app.h"
#if KVRAC_HAVE_PDF
#include "pdf/pdf_source.h"
#endif

#if KVRAC_HAVE_IMAGE_FORMATS
#include "formats/image_formats.h"
#endif

printer_app_state app;

namespace {

// The program's own path, for starting child processes: the executable itself, not
// whatever argv[0] says.
std::string self_path(const char* argv0) {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n > 0) return std::string(buffer, static_cast<size_t>(n));
    return argv0;
}

// PAPPL's `add` and `modify` send `-o media=NAME` as media-default in the job group,
// which the server refuses. Given with media-source, the size goes as media-col-default
// in the printer group instead; the printer has one source, the main roll. Returns the
// -o value with that added where it sets media.
std::string printer_media_option(const std::string& value) {
    cups_option_t* options = nullptr;
    const int n = cupsParseOptions(value.c_str(), 0, &options);
    const bool media = cupsGetOption("media", n, options) != nullptr;
    const bool col = cupsGetOption("media-source", n, options) != nullptr;
    cupsFreeOptions(n, options);
    return media && !col ? value + " media-source=main-roll" : value;
}

} // namespace

int main(int argc, char** argv) {
#if KVRAC_HAVE_PDF
    pdf_source_register(); // PDF documents' pages, in the job processes
#endif
#if KVRAC_HAVE_IMAGE_FORMATS
    image_formats_register(); // TIFF and JPEG images beside PNG, in the server and job children
#endif
    if (argc >= 2 && std::strcmp(argv[1], job_child_flag) == 0) {
        // A job's driver process dies with the server: killed when the server (the
        // thread that waits for it) goes, and gone at once if the server went before
        // this line.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const char* parent = std::getenv(job_parent_variable);
        if (!parent || std::strtol(parent, nullptr, 10) != static_cast<long>(::getppid())) return 1;
        return job_child_main(argc - 2, argv + 2);
    }
    app.self = self_path(argv[0]);

    // PAPPL's local control socket is /run/kvrac-printer.sock for root and
    // TMPDIR/kvrac-printerUID.sock otherwise: one per machine and user. A runtime
    // folder of the caller's choosing gives each server its own.
    if (const char* dir = std::getenv("KVRAC_PRINTER_RUNTIME_DIR"); dir && *dir)
        ::setenv(getuid() == 0 ? "SNAP_COMMON" : "TMPDIR", dir, 1);

    // Without a DNS-SD daemon PAPPL's own device listing aborts.
    if (argc >= 2 && std::strcmp(argv[1], "devices") == 0 && !dnssd_available()) {
        bool verbose = false;
        for (int i = 2; i < argc; ++i) verbose |= std::strcmp(argv[i], "--verbose") == 0;
        return list_devices(verbose);
    }

    // --listen ADDRESS is -o listen-hostname=ADDRESS.
    std::vector<std::string> storage;
    std::vector<char*> args;
    storage.reserve(static_cast<size_t>(argc) * 2);
    const bool sets_defaults =
        argc >= 2 && (std::strcmp(argv[1], "add") == 0 || std::strcmp(argv[1], "modify") == 0);
    for (int i = 0; i < argc; ++i) {
        const char* a = argv[i];
        if (sets_defaults && std::strcmp(a, "-o") == 0 && i + 1 < argc) {
            storage.emplace_back(a);
            storage.push_back(printer_media_option(argv[++i]));
            continue;
        }
        if (sets_defaults && std::strncmp(a, "-o", 2) == 0 && a[2]) {
            storage.push_back("-o" + printer_media_option(a + 2));
            continue;
        }
        std::string value;
        if (std::strncmp(a, "--listen=", 9) == 0) {
            value = a + 9;
        } else if (std::strcmp(a, "--listen") == 0 && i + 1 < argc) {
            value = argv[++i];
        } else {
            storage.emplace_back(a);
            continue;
        }
        storage.emplace_back("-o");
        storage.emplace_back("listen-hostname=" + value);
    }
    for (std::string& s : storage) args.push_back(s.data());
    args.push_back(nullptr);

    const int status =
        papplMainloop(static_cast<int>(args.size()) - 1, args.data(), KVRAC_VERSION,
                      "kvrac-printer " KVRAC_VERSION, printer_driver_count, printer_drivers,
                      nullptr, driver_setup, nullptr, nullptr, system_setup, print_usage, nullptr);
    // Jobs still running when the server stops have their driver processes killed.
    kill_job_children();
    return status;
}
