// Command-line front end: parses the command and its options, then runs it.
#include "kvrac/commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "images/raster_rows.h"
#include "kvrac/dialog_cmd.h"
#include "kvrac/document_cmd.h"
#include "kvrac/drawing_cmd.h"
#include "kvrac/plot_cmd.h"
#include "kvrac/show.h"
#include "kvrac/view_cmd.h"
#include "link/config_sequence.h"
#include "link/document_job.h"
#include "link/driver_link.h"
#include "link/session.h"
#include "settings/dialog_options.h"
#include "settings/store.h"
#include "system/files.h"
#include "system/text.h"

namespace {

const char program_help[] =
    "Usage: kvrac COMMAND [OPTIONS]\n"
    "\n"
    "Stand-alone host for the kvrac_f plotter driver (Orvix 9270/9250 Wide Format).\n"
    "\n"
    "Commands:\n"
    "  config     configure the driver and store its settings\n"
    "  plot       plot a script, a DXF drawing or an HP-GL/2 plot file into a print job\n"
    "  report     show the driver's own settings summary (French)\n"
    "  legend     show the driver's line-type legend (French)\n"
    "  show       print the stored settings\n"
    "  formats    list the paper formats of the printer\n"
    "  about      show the driver's about box\n"
    "  curve      show the stored tone curve (values, and a PNG picture)\n"
    "  view       draw a print job as a PNG picture, or summarise it\n"
    "  help       print this help, or a command's help (kvrac help COMMAND)\n"
    "\n"
    "Options for every command:\n"
    "  --settings PATH   settings store (default: $KVRAC_SETTINGS, else\n"
    "                    ${XDG_CONFIG_HOME:-$HOME/.config}/kvrac/settings.bin)\n"
    "  -h, --help        help for the command\n"
    "  -V, --version     print kvrac's version\n"
    "\n"
    "Exit status: 0 done, 1 the driver answered a failure, 2 bad usage.\n";

const char config_help[] =
    "Usage: kvrac config [--reset] [--settings PATH] [DIALOG OPTIONS]\n"
    "\n"
    "Sends the driver its configuration sequence (identify, texts, version check,\n"
    "model list, configure, capabilities, save). The driver loads the stored settings,\n"
    "or its defaults when nothing valid is stored, shows its installation dialog, and\n"
    "saves the result to the store. The dialog options below are what a user does in\n"
    "that dialog (and in its \"Options...\" and \"Correction d'image...\" dialogs)\n"
    "before pressing OK. A value the dialog refuses is reported with the dialog's own\n"
    "(French) warning; the dialog is then cancelled and the store left as it was.\n"
    "\n"
    "  --reset           start from the driver's defaults instead of the stored settings\n"
    "  --settings PATH   settings store\n"
    "  --interactive     show the installation dialog to a person (Windows build)\n"
    "\n"
    "Exit status: 0 saved, 1 the driver answered a failure (its message is shown),\n"
    "2 bad usage or a value the dialog refused (nothing saved).\n"
    "\n"
    "Dialog options:\n";

const char show_help[] = "Usage: kvrac show [--settings PATH]\n"
                         "\n"
                         "Prints the stored settings, one field a line: name, value and meaning.\n"
                         "Exit status: 0 shown, 1 nothing is stored, 2 bad usage.\n";

const char plot_help[] =
    "Usage: kvrac plot SCRIPT|DRAWING|DOCUMENT [-o JOB] [--area LxW] [--settings PATH]\n"
    "                  [--scale 1:N] [--fit] [--center] [--rotate DEG] [--origin X,Y]\n"
    "                  [--units mm|in] [--pens FILE] [--page N | --pages all]\n"
    "                  [--image-memory MB]\n"
    "\n"
    "Plots a script (see docs/plot-scripts.md), a DXF drawing, an HP-GL/2 plot file or\n"
    "a document (a PDF, PNG, TIFF or JPEG file) (told apart by their content, then their\n"
    "extension) with the stored settings and writes the print job. The placement\n"
    "options below act on drawings and documents.\n"
    "When nothing is stored yet, the driver is configured with its\n"
    "defaults first.\n"
    "\n"
    "  -o, --output JOB  job file (default: the script's name with .prn; - for\n"
    "                    standard output). Replaced only when the plot succeeds; a\n"
    "                    link keeps pointing at it; a device, a FIFO or /dev/stdout\n"
    "                    is written straight through.\n"
    "  --area LxW        plot on a smaller area, in inches (e.g. 30x20)\n"
    "  --settings PATH   settings store\n"
    "  --interactive     show the plot-time dialog to a person (Windows build)\n"
    "  --preview PNG     also draw the job written as a picture (see kvrac view)\n"
    "  --label TEXT      label printed with the job: printable ASCII without '\"', at\n"
    "                    most 64 characters; used for this plot only, never stored\n"
    "  --image-memory MB memory an image on a rotated sheet (or a turned document)\n"
    "                    may take once decoded (default 256, or KVRAC_IMAGE_MEMORY);\n"
    "                    a larger image goes through a temporary file beside the job\n"
    "\n"
    "The driver shows its plot-time dialog before the job starts. With no dialog\n"
    "option it is left with \"Annuler\", so the stored settings stay as they are (the\n"
    "label is taken all the same). Any dialog option below is applied and the dialog\n"
    "closed with OK: the settings then used are also stored.\n"
    "\n"
    "A script that draws nothing gives a warning and no job; a drawing that reaches\n"
    "beyond the plot area gives a warning saying how far.\n"
    "\n"
    "Exit status: 0 done, 1 the driver answered a failure, the plot was cancelled\n"
    "or the job could not be written, 2 bad usage, a bad script line (reported\n"
    "with file name and line number) or a value the dialog refused; no job is\n"
    "written then.\n"
    "\n"
    "Dialog options:\n";

const char report_help[] =
    "Usage: kvrac report [--settings PATH]\n"
    "\n"
    "Loads the stored settings into the driver as a plot would and prints the driver's\n"
    "own French summary of them.\n";

const char legend_help[] = "Usage: kvrac legend\n"
                           "\n"
                           "Prints the driver's legend of line types 0 to 7 (French).\n";

const char formats_help[] =
    "Usage: kvrac formats\n"
    "\n"
    "Lists the printer's paper formats: row number (as used by the settings), name,\n"
    "size in inches and millimetres. Custom-length roll formats show their width and\n"
    "the default length the driver takes when the format is chosen.\n";

const char about_help[] = "Usage: kvrac about [--settings PATH]\n"
                          "\n"
                          "Opens the installation dialog, presses \"Version...\" and prints the\n"
                          "about box: its title and the driver's identification. Nothing is "
                          "saved.\n";

const char curve_help[] =
    "Usage: kvrac curve [--png PATH] [--settings PATH]\n"
    "\n"
    "Prints the stored tone curve: the outputs at the inputs 0, 64, 128, 192 and 255\n"
    "(the defaults when nothing is stored). With --png, also writes the curve area as\n"
    "the colour correction dialog draws it (red handles and the blue curve over the\n"
    "black square) as a PNG picture. Nothing is saved.\n"
    "\n"
    "Exit status: 0 done, 1 the driver failed or the picture cannot be written, 2 bad\n"
    "usage (or --png in a build without libpng).\n";

struct command_line {
    std::string command;               // config, show, formats, help
    std::vector<std::string> args;     // operands after the command
    const char* settings;              // --settings value, or null
    bool help;                         // -h / --help given
    bool version;                      // -V / --version given
    bool reset;                        // config --reset
    std::string output;                // plot -o
    std::string area;                  // plot --area
    std::string image_memory;          // plot --image-memory
    bool interactive;                  // config and plot --interactive
    std::vector<dialog_option> dialog; // config and plot: options acting on the dialogs
    std::string png;                   // curve --png
    std::string preview;               // plot --preview
    std::string dpi;                   // view --dpi
    std::string page;                  // view --page
    bool summary;                      // view --summary
    drawing_options drawing;           // plot: placement of a drawing or document
    document_options document;         // plot: the pages of a document
};

// The command being parsed, for the help hint after a usage error ("" = none yet).
std::string hint_command;

// Where to read about a usage error: the command's help once the command is known.
void help_hint() {
    if (hint_command.empty())
        std::fprintf(stderr, "Try 'kvrac --help'.\n");
    else
        std::fprintf(stderr, "Try 'kvrac help %s'.\n", hint_command.c_str());
}

// Reports a usage error; what the user typed (in `detail`) is shown with bytes a
// terminal would act on escaped.
int usage_error(const char* what, const std::string& detail) {
    std::fprintf(stderr, "kvrac: %s%s\n", what, printable_text(detail).c_str());
    help_hint();
    return 2;
}

// The number of single-letter edits (insert, delete, change, or swap of neighbours)
// that turn a into b.
size_t edit_distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

// The word of `known` nearest to `word` when it is close enough to be a typing slip
// (at most two edits, and fewer than half the letters of the word), else "".
std::string nearest(const std::string& word, const std::vector<std::string>& known) {
    std::string best;
    size_t best_distance = 3;
    for (const std::string& k : known) {
        const size_t letters = k.size() - (k.rfind("--", 0) == 0 ? 2 : 0);
        const size_t d = edit_distance(word, k);
        if (d < best_distance && 2 * d < letters) {
            best = k;
            best_distance = d;
        }
    }
    return best;
}

// An unknown option, with the nearest option the command takes when one is close.
int unknown_option(const std::string& option, const std::string& command) {
    std::vector<std::string> known = {"--settings", "--help", "--version"};
    if (command == "config") known.insert(known.end(), {"--reset", "--interactive"});
    if (command == "plot")
        known.insert(known.end(), {"--output", "--area", "--interactive", "--image-memory",
                                   "--page", "--pages"});
    if (command == "curve") known.push_back("--png");
    if (command == "view") known.insert(known.end(), {"--output", "--dpi", "--page", "--summary"});
    if (command == "config" || command == "plot")
        for (int i = 0; dialog_option_name(i); ++i)
            if (command == "plot" || std::strcmp(dialog_option_name(i), "--label") != 0)
                known.push_back(dialog_option_name(i));
    const std::string best = nearest(option.substr(0, option.find('=')), known);
    if (best.empty()) return usage_error("unknown option ", option);
    return usage_error("unknown option ", option + " (did you mean " + best + "?)");
}

const char* help_of(const std::string& command) {
    if (command == "config") return config_help;
    if (command == "show") return show_help;
    if (command == "formats") return formats_help;
    if (command == "plot") return plot_help;
    if (command == "report") return report_help;
    if (command == "legend") return legend_help;
    if (command == "about") return about_help;
    if (command == "curve") return curve_help;
    if (command == "view") return view_help;
    return nullptr;
}

// An unknown command, with the nearest command when one is close.
int unknown_command(const std::string& word) {
    const std::string best = nearest(word, {"config", "plot", "view", "report", "legend", "show",
                                            "formats", "about", "curve", "help"});
    return usage_error("no such command: ",
                       best.empty() ? word : word + " (did you mean " + best + "?)");
}

// Prints a command's help with the option lists it shares with others. Returns 0, or
// 2 for an unknown command.
int print_help(const std::string& command) {
    const char* text = help_of(command);
    if (!text) return unknown_command(command);
    std::fputs(text, stdout);
    if (command == "config" || command == "plot") std::fputs(dialog_options_help, stdout);
    if (command == "plot") {
        std::fputs(drawing_options_help, stdout);
        std::fputs(document_options_help, stdout);
    }
    return 0;
}

// Parses argv into cmd. Returns 0, or 2 after reporting a usage error.
int parse(int argc, char** argv, command_line& cmd) {
    cmd = {"",    {}, nullptr, false, false, false, "",    "", "",
           false, {}, "",      "",    "",    "",    false, {}, {}};
    hint_command.clear();
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            cmd.help = true;
        } else if (a == "-V" || a == "--version") {
            cmd.version = true;
        } else if (a == "--settings" || a.rfind("--settings=", 0) == 0) {
            if (a == "--settings") {
                if (i + 1 >= argc) return usage_error("--settings needs a path", "");
                cmd.settings = argv[++i];
            } else {
                cmd.settings = argv[i] + std::strlen("--settings=");
            }
        } else if (a == "--reset" && cmd.command == "config") {
            cmd.reset = true;
        } else if (a == "--interactive" && (cmd.command == "config" || cmd.command == "plot")) {
            if (!driver_has_dialogs())
                return usage_error("--interactive needs the Windows build: this one has no ",
                                   "window system");
            cmd.interactive = true;
        } else if ((a == "-o" || a == "--output") &&
                   (cmd.command == "plot" || cmd.command == "view")) {
            if (i + 1 >= argc) return usage_error(a.c_str(), " needs a value");
            cmd.output = argv[++i];
        } else if (a == "--image-memory" && cmd.command == "plot") {
            if (i + 1 >= argc) return usage_error("--image-memory needs a number of megabytes", "");
            cmd.image_memory = argv[++i];
        } else if ((a == "--area" && cmd.command == "plot") ||
                   ((a == "--dpi" || a == "--page") && cmd.command == "view")) {
            if (i + 1 >= argc) return usage_error(a.c_str(), " needs a value");
            (a == "--area" ? cmd.area : a == "--dpi" ? cmd.dpi : cmd.page) = argv[++i];
        } else if (a == "--summary" && cmd.command == "view") {
            cmd.summary = true;
        } else if (a == "--preview" && cmd.command == "plot") {
            if (i + 1 >= argc) return usage_error("--preview needs a path", "");
            cmd.preview = argv[++i];
        } else if (a == "--png" && cmd.command == "curve") {
            if (i + 1 >= argc) return usage_error("--png needs a path", "");
            cmd.png = argv[++i];
        } else if (int took = cmd.command == "plot"
                                  ? take_drawing_option(argc, argv, i, cmd.drawing)
                                  : 0) {
            if (took == 2) return 2;
        } else if (int took_page = cmd.command == "plot"
                                       ? take_document_option(argc, argv, i, cmd.document)
                                       : 0) {
            if (took_page == 2) return 2;
        } else if ((cmd.command == "config" || cmd.command == "plot") && a.rfind("--", 0) == 0) {
            int taken = take_dialog_option(argc, argv, i, cmd.dialog);
            if (taken == 2) {
                help_hint();
                return 2;
            }
            if (taken == 0) return unknown_option(a, cmd.command);
        } else if (a.size() > 1 && a[0] == '-') {
            return unknown_option(a, cmd.command);
        } else if (cmd.command.empty()) {
            cmd.command = a;
            if (help_of(a)) hint_command = a;
        } else {
            cmd.args.push_back(a);
        }
    }
    return 0;
}

// A store that a save would have to refuse (a file of another size, a folder) stops
// the command before the driver is asked anything. Returns 0, or 2 after saying why.
int check_store(const std::string& store) {
    std::string why;
    if (store_check_writable(store, 40, &why) == 0) return 0;
    std::fprintf(stderr, "kvrac: %s\n", why.c_str());
    return 2;
}

// Builds the dialog's script; a refused value gets the command's help hint.
int dialog_script_of(const command_line& cmd, bool plot_time, dialog_script& dialog) {
    if (build_dialog_script(cmd.dialog, plot_time, dialog) == 0) return 0;
    help_hint();
    return 2;
}

int run_config(const command_line& cmd) {
    if (!cmd.args.empty()) return usage_error("config takes no operand: ", cmd.args[0]);
    dialog_script dialog;
    if (dialog_script_of(cmd, false, dialog) != 0) return 2;
    if (check_store(store_path(cmd.settings)) != 0) return 2;
    if (host_open(store_path(cmd.settings)) != 0) return 1;
    return run_configuration(cmd.reset, &dialog);
}

int plot_command(const command_line& cmd) {
    if (cmd.args.size() != 1)
        return usage_error("plot takes one script", cmd.args.empty() ? "" : ", not several");
    plot_options o{cmd.args[0], cmd.output, store_path(cmd.settings), 0.0, 0.0, cmd.dialog};
    if (!cmd.area.empty()) {
        char x = 0;
        char extra = 0;
        if (std::sscanf(cmd.area.c_str(), "%lf%c%lf%c", &o.area_length, &x, &o.area_width,
                        &extra) != 3 ||
            (x != 'x' && x != 'X') || !(o.area_length > 0) || !(o.area_width > 0))
            return usage_error("--area takes LENGTHxWIDTH in inches, not ", cmd.area);
    }
    if (!cmd.image_memory.empty()) {
        char* end = nullptr;
        errno = 0;
        const long long mb = std::strtoll(cmd.image_memory.c_str(), &end, 10);
        if (errno || *end || mb < 1 || mb > (1 << 20))
            return usage_error("--image-memory takes whole megabytes from 1 to 1048576, not ",
                               cmd.image_memory);
        o.image_memory = static_cast<size_t>(mb) << 20;
    } else if (raster_rows_env_budget() < 0) {
        return usage_error("KVRAC_IMAGE_MEMORY takes whole megabytes from 1 to 1048576, not ",
                           std::getenv("KVRAC_IMAGE_MEMORY"));
    }
    if (o.script == "-" && o.output.empty())
        return usage_error("a script read from standard input needs -o", "");
    dialog_script dialog;
    if (dialog_script_of(cmd, true, dialog) != 0) return 2;
    if (check_store(o.store) != 0) return 2;
    int rc = 0;
    if (is_document_file(o.script)) {
        if (cmd.document.all_pages && !cmd.preview.empty())
            return usage_error("--preview draws one job, not one per page: use --page N, or ",
                               "kvrac view on each page's job");
        rc = run_plot_document(o, cmd.drawing, cmd.document);
    } else if (cmd.document.given) {
        return usage_error("--page and --pages act on documents (PDF, PNG, TIFF, JPEG), not on ",
                           o.script);
    } else if (is_drawing_file(o.script)) {
        rc = run_plot_drawing(o, cmd.drawing);
    } else {
        if (cmd.drawing.given)
            return usage_error("placement and pen options act on drawings (DXF, HP-GL/2), not on ",
                               "the plot script " + o.script);
        rc = run_plot(o);
    }
    if (rc == 0 && !cmd.preview.empty())
        rc = write_preview(o.output.empty()
                               ? std::filesystem::path(o.script).replace_extension(".prn").string()
                               : o.output,
                           cmd.preview);
    return rc;
}

} // namespace

int kvrac_main(int argc, char** argv) {
    console_utf8();
    command_line cmd;
    if (int rc = parse(argc, argv, cmd)) return rc;
    if (cmd.version) {
        std::printf("kvrac %s\n", KVRAC_VERSION);
        return 0;
    }
    session.interactive = cmd.interactive;
    if (cmd.interactive && !cmd.dialog.empty())
        return usage_error("dialog options act on the headless dialog, not with ",
                           "--interactive: choose in the dialog");
    if (cmd.command.empty() || cmd.command == "help") {
        if (cmd.args.empty()) {
            std::fputs(program_help, stdout);
            return cmd.command.empty() && !cmd.help ? 2 : 0;
        }
        return print_help(cmd.args[0]);
    }
    if (cmd.help) return print_help(cmd.command);
    if (cmd.command == "config") return run_config(cmd);
    if (cmd.command == "show") {
        if (!cmd.args.empty()) return usage_error("show takes no operand: ", cmd.args[0]);
        return show_settings(store_path(cmd.settings));
    }
    if (cmd.command == "plot") return plot_command(cmd);
    if (cmd.command == "view") {
        if (cmd.args.size() != 1)
            return usage_error(cmd.args.empty() ? "which job? kvrac view JOB"
                                                : "view takes one job, not several",
                               "");
        return run_view({cmd.args[0], cmd.output, cmd.dpi, cmd.page, cmd.summary});
    }
    if (cmd.command == "report" || cmd.command == "legend") {
        if (!cmd.args.empty()) return usage_error("no operand expected: ", cmd.args[0]);
        std::string store = store_path(cmd.settings);
        return cmd.command == "report" ? run_report(store) : run_legend(store);
    }
    if (cmd.command == "about" || cmd.command == "curve") {
        if (!cmd.args.empty()) return usage_error("no operand expected: ", cmd.args[0]);
        std::string store = store_path(cmd.settings);
        return cmd.command == "about" ? run_about(store) : run_curve(store, cmd.png);
    }
    if (cmd.command == "formats") {
        if (!cmd.args.empty()) return usage_error("formats takes no operand: ", cmd.args[0]);
        return show_formats();
    }
    return unknown_command(cmd.command);
}
