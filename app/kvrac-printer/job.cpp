// A job: its pages spooled, each plotted by a child process, the complete job sent.
//
// PAPPL runs each job in a thread of its own and hands raster pages line by line. Each
// page is written to a page file in the job's scratch folder (page_spool.h); at the
// end of the page a child process plots it through the driver into a job file
// (job_child.h). Only when every page's child succeeded and the job was not canceled
// are the job files sent to the device, in page order, so the device never sees half
// a job: back-to-back jobs on one connection each arrive complete. A cancel kills the
// running child; a child that crashes fails its job alone.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "kvrac-printer/job_child.h"
#include "kvrac-printer/page_spool.h"
#include "kvrac-printer/printer_app.h"

extern char** environ;

namespace {

// One job between its start and end callbacks.
struct job_record {
    std::string dir;                // scratch folder in the spool directory
    std::string store;              // the printer's settings record
    std::vector<std::string> files; // complete job files of the pages done, in order
    page_spool page;                // the page being received
    unsigned page_number;           // pages started, from 1
    int copies;                     // copies the job asked for (the driver makes them)
    bool bilevel;                   // print-color-mode bi-level
    bool failed;                    // a page failed; the job's message says why
};

// How often a running child is checked for its end and the job for a cancel.
constexpr long poll_nanoseconds = 20 * 1000 * 1000;

// Bytes sent to the device per write.
constexpr size_t send_chunk = 1 << 20;

// Jobs whose callbacks run in some thread. PAPPL 1.3 can start one job in two threads
// when a job is submitted just as another ends; the second must not touch the first's
// record.
struct claims_state {
    std::mutex lock;
    std::set<pappl_job_t*> jobs;
};

claims_state claims;

// Driver processes running now, so that the server can kill them when it stops.
struct children_state {
    std::mutex lock;
    std::set<pid_t> running;
};

children_state children;

// The environment of a driver process: the server's, with the server's process id.
std::vector<std::string> child_environment() {
    std::vector<std::string> env;
    const std::string parent = std::string(job_parent_variable) + "=";
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, parent.c_str(), parent.size()) != 0) env.emplace_back(*e);
    env.push_back(parent + std::to_string(::getpid()));
    return env;
}

// Claims the job for this thread. Returns false (after stopping the job with a
// message) when another thread has it.
bool claim(pappl_job_t* job) {
    std::lock_guard<std::mutex> hold(claims.lock);
    if (claims.jobs.insert(job).second) return true;
    papplJobSetMessage(job, "The server started this job twice and stopped it; print it again");
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Job started a second time; stopped.");
    return false;
}

void release_claim(pappl_job_t* job) {
    std::lock_guard<std::mutex> hold(claims.lock);
    claims.jobs.erase(job);
}

job_record* record_of(pappl_job_t* job) {
    return static_cast<job_record*>(papplJobGetData(job));
}

// Why a job stopped from outside: a cancel, or an abort by PAPPL (a damaged raster,
// say), whose reason job_messages.cpp adds when PAPPL gave none.
bool stopped(pappl_job_t* job) {
    return papplJobIsCanceled(job);
}

std::string stop_message(pappl_job_t* job) {
    const char* m = papplJobGetMessage(job);
    if (papplJobGetState(job) == IPP_JSTATE_ABORTED) return m ? m : "";
    return "Canceled";
}

// Creates the job's scratch folder, empty. Returns "" or why not.
std::string make_scratch(pappl_job_t* job, std::string* dir) {
    *dir = app.spool_dir + "/kvrac-p" + std::to_string(papplPrinterGetID(papplJobGetPrinter(job))) +
           "-j" + std::to_string(papplJobGetID(job));
    std::error_code ec;
    std::filesystem::remove_all(*dir, ec);
    if (::mkdir(dir->c_str(), 0700) != 0)
        return "cannot create the job's folder " + *dir + ": " + std::strerror(errno);
    return "";
}

void remove_scratch(const std::string& dir) {
    std::error_code ec;
    if (!dir.empty()) std::filesystem::remove_all(dir, ec);
}

// Ends the job's record: scratch folder removed, record freed.
void drop_record(pappl_job_t* job) {
    job_record* r = record_of(job);
    if (!r) return;
    page_spool_abandon(r->page);
    remove_scratch(r->dir);
    delete r;
    papplJobSetData(job, nullptr);
    release_claim(job);
}

// Marks the job failed with a message for the client (none when why is empty), and
// frees its record.
bool fail(pappl_job_t* job, const std::string& why) {
    if (!why.empty()) {
        papplJobSetMessage(job, "%s", why.c_str());
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", why.c_str());
    }
    drop_record(job);
    return false;
}

// The last non-empty line of a file, for a child's error.
std::string last_line(const std::string& path) {
    std::ifstream in(path);
    std::string line, last;
    while (std::getline(in, line))
        if (!line.empty()) last = line;
    return last;
}

// Sends the files to the device, in order. Returns "" or why not.
std::string send_files(const std::vector<std::string>& files, pappl_device_t* device) {
    std::vector<char> buffer(send_chunk);
    for (const std::string& path : files) {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) return "cannot read the job file " + path + ": " + std::strerror(errno);
        size_t got;
        while ((got = std::fread(buffer.data(), 1, buffer.size(), f)) > 0) {
            if (papplDeviceWrite(device, buffer.data(), got) < 0) {
                std::fclose(f);
                return "the printer's connection failed while the job was sent";
            }
        }
        const bool read_error = std::ferror(f);
        std::fclose(f);
        if (read_error) return "cannot read the job file " + path;
    }
    papplDeviceFlush(device);
    return "";
}

std::string page_path(const job_record& r, unsigned page, const char* ext) {
    return r.dir + "/page-" + std::to_string(page) + ext;
}

// The child's messages name the spooled file: the client knows the document by the
// job's name. Returns text with every mention of the file put in the client's terms.
std::string in_client_terms(pappl_job_t* job, const std::string& document, std::string text) {
    const char* name = papplJobGetName(job);
    const std::string shown = name && *name ? name : "the document";
    for (size_t at = 0; (at = text.find(document, at)) != std::string::npos; at += shown.size())
        text.replace(at, document.size(), shown);
    return text;
}

// Logs each line the child left in err (as named() puts it) as a warning of the job,
// and returns them joined with "; " for the job's message.
template <typename Naming>
std::string logged_notes(pappl_job_t* job, const std::string& err, const Naming& named) {
    std::string notes;
    std::ifstream in(err);
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        line = named(line);
        papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s", line.c_str());
        notes += (notes.empty() ? "" : "; ") + line;
    }
    return notes;
}

} // namespace

int run_child(const std::vector<std::string>& args, const std::string& err_path, pappl_job_t* job,
              std::string* why) {
    if (job) {
        std::string line;
        for (const std::string& a : args) line += " " + a;
        papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Driver process:%s", line.c_str());
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(app.self.c_str()));
    argv.push_back(const_cast<char*>(job_child_flag));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<std::string> env = child_environment();
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    int rc;
    {
        std::lock_guard<std::mutex> hold(children.lock);
        rc = posix_spawn(&pid, app.self.c_str(), &actions, nullptr, argv.data(), envp.data());
        if (rc == 0) children.running.insert(pid);
    }
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        *why = std::string("cannot start the driver process: ") + std::strerror(rc);
        return -1;
    }
    int status = 0;
    bool killed = false;
    for (;;) {
        pid_t done;
        {
            // Reaped and forgotten under the lock, so that a stopping server never
            // kills a process id that has been given to another process.
            std::lock_guard<std::mutex> hold(children.lock);
            done = ::waitpid(pid, &status, WNOHANG);
            if (done == pid || (done < 0 && errno != EINTR)) children.running.erase(pid);
        }
        if (done == pid) break;
        if (done < 0 && errno != EINTR) {
            *why = std::string("lost the driver process: ") + std::strerror(errno);
            return -1;
        }
        if (job && !killed && papplJobIsCanceled(job)) {
            ::kill(pid, SIGKILL);
            killed = true;
        }
        timespec pause{0, poll_nanoseconds};
        ::nanosleep(&pause, nullptr);
    }
    if (killed) {
        *why = "canceled";
        return -1;
    }
    if (WIFSIGNALED(status)) {
        *why = "the driver process stopped on signal " + std::to_string(WTERMSIG(status)) + " (" +
               strsignal(WTERMSIG(status)) + ")";
        return -1;
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    *why = code == 0 ? "" : last_line(err_path);
    if (code != 0 && why->empty())
        *why = "the driver process failed (status " + std::to_string(code) + ")";
    return code;
}

void kill_job_children() {
    std::lock_guard<std::mutex> hold(children.lock);
    for (pid_t pid : children.running) ::kill(pid, SIGKILL);
}

bool job_start(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*) {
    if (!claim(job)) return false;
    auto* r = new job_record{};
    papplJobSetData(job, r);
    if (std::string why = make_scratch(job, &r->dir); !why.empty()) return fail(job, why);
    r->store = printer_store(papplJobGetPrinter(job));
    r->copies = options->copies;
    // PAPPL repeats the pages of an image document once per copy; the driver makes the
    // copies itself, so each page is received once.
    options->copies = 1;
    r->bilevel = options->print_color_mode == PAPPL_COLOR_MODE_BI_LEVEL;
    return true;
}

bool job_start_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned) {
    job_record* r = record_of(job);
    if (!r) return false;
    r->page_number++;
    // PAPPL keeps a header of its own (8-bit grey, the job's media) for a 1-bit page
    // and passes the page's packed lines under it; the page's own header describes
    // them. With it in options, PAPPL hands the lines on as they are, as many as the
    // page has.
    const cups_page_header2_t* sent = document_page_header();
    if (sent && sent->cupsBitsPerPixel == 1 && options->header.cupsBitsPerPixel == 8) {
        if (sent->cupsColorSpace != CUPS_CSPACE_K)
            return fail(job, "Page " + std::to_string(r->page_number) +
                                 " is 1-bit with white as 1; the plotter takes 1-bit black "
                                 "(PWG black_1) or 8-bit grey pages");
        options->header = *sent;
    }
    const auto& h = options->header;
    if (h.cupsBitsPerPixel != 1 && h.cupsBitsPerPixel != 8)
        return fail(job, "Page " + std::to_string(r->page_number) + " has " +
                             std::to_string(h.cupsBitsPerPixel) +
                             " bits per dot; the plotter takes 1-bit black or 8-bit grey pages");
    if (page_spool_open(r->page, page_path(*r, r->page_number, ".page"), h.cupsWidth, h.cupsHeight,
                        h.cupsBitsPerPixel, r->bilevel) != 0)
        return fail(job, "Page " + std::to_string(r->page_number) + ": " + r->page.error);
    return true;
}

bool job_write_line(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned,
                    const unsigned char* line) {
    job_record* r = record_of(job);
    if (!r) return false;
    if (page_spool_write(r->page, line) != 0)
        return fail(job, "Page " + std::to_string(r->page_number) + ": " + r->page.error);
    return true;
}

bool job_end_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned) {
    job_record* r = record_of(job);
    if (!r) return false;
    const unsigned n = r->page_number;
    const std::string page = "Page " + std::to_string(n) + ": ";
    papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Page %u: %u of %u lines received.", n,
                r->page.rows_written, r->page.height);
    // PAPPL ends a raster page whose data stops early without its missing lines and
    // without an error: a short page is a damaged document, never a page to pad.
    if (r->page.file && r->page.rows_written < r->page.height && !stopped(job))
        return fail(job, page + "the document ends after " + std::to_string(r->page.rows_written) +
                             " of its " + std::to_string(r->page.height) +
                             " lines; it is damaged or was cut short");
    if (page_spool_close(r->page) != 0) return fail(job, page + r->page.error);
    if (stopped(job)) return fail(job, stop_message(job));

    // The page's own size (a PWG raster page carries it), in hundredths of mm.
    const auto& h = options->header;
    const int width = static_cast<int>(h.cupsWidth * 2540.0 / h.HWResolution[0] + 0.5);
    const int length = static_cast<int>(h.cupsHeight * 2540.0 / h.HWResolution[1] + 0.5);
    std::vector<std::string> args = {"page", r->store, page_path(*r, n, ".page"),
                                     page_path(*r, n, ".kvs"), page_path(*r, n, ".prn")};
    const int copies = options->copies;
    options->copies = r->copies;
    std::string why = job_dialog_options(papplJobGetPrinter(job), options, width, length, &args);
    options->copies = copies;
    if (!why.empty()) return fail(job, page + why);
    if (h.HWResolution[0] != h.HWResolution[1])
        return fail(job, page + "the plotter prints the same resolution across and along");
    // The page's own resolution wins over the job's printer-resolution.
    for (size_t i = 5; i + 1 < args.size(); ++i)
        if (args[i] == "--resolution") args[i + 1] = std::to_string(h.HWResolution[0]);

    int status = run_child(args, page_path(*r, n, ".err"), job, &why);
    if (status != 0) {
        if (stopped(job)) return fail(job, stop_message(job));
        return fail(job, page + why);
    }
    std::remove(page_path(*r, n, ".page").c_str());
    r->files.push_back(page_path(*r, n, ".prn"));
    return true;
}

bool job_end(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device) {
    forget_document_page_header();
    job_record* r = record_of(job);
    if (!r) return false; // a page failed; its message is set
    if (stopped(job)) return fail(job, stop_message(job));
    if (r->files.empty()) return fail(job, "The document has no pages");
    if (std::string why = send_files(r->files, device); !why.empty()) return fail(job, why);
    drop_record(job);
    return true;
}

bool job_print_script(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
    // PAPPL cancels a job that is still pending by removing its document, and can do so
    // after the job has been started: there is nothing to print, and the job stays
    // canceled when this reports success.
    const char* document = papplJobGetFilename(job);
    if (!document) return true;
    const std::string file = document;
    if (!claim(job)) return false;
    auto* r = new job_record{};
    papplJobSetData(job, r);
    // A document whose type was not recognised lands here too.
    {
        unsigned char head[8192];
        std::FILE* f = std::fopen(file.c_str(), "rb");
        const size_t got = f ? std::fread(head, 1, sizeof head, f) : 0;
        if (f) std::fclose(f);
        if (!looks_like_plot_script(head, got))
            return fail(job, "The document is not PWG raster, Apple raster, PNG, JPEG, DXF, "
                             "HP-GL/2 or a plot script");
    }
    if (std::string why = make_scratch(job, &r->dir); !why.empty()) return fail(job, why);
    r->store = printer_store(papplJobGetPrinter(job));
    const std::string out = r->dir + "/script.prn";
    std::vector<std::string> args = {"script", r->store, file, out};
    std::string why =
        job_dialog_options(papplJobGetPrinter(job), options, options->media.size_width,
                           options->media.size_length, &args);
    if (!why.empty()) return fail(job, why);
    if (run_child(args, r->dir + "/script.err", job, &why) != 0) {
        if (stopped(job)) return fail(job, stop_message(job));
        return fail(job, "Plot script: " + why);
    }
    r->files.push_back(out);
    papplJobSetImpressionsCompleted(job, 1);
    return job_end(job, options, device);
}

bool filter_drawing(pappl_job_t* job, pappl_device_t* device, void*) {
    if (!claim(job)) return false;
    auto* r = new job_record{};
    papplJobSetData(job, r);
    const std::string format = papplJobGetFormat(job) ? papplJobGetFormat(job) : "";
    const char* kind = format == dxf_mime ? "dxf" : "hpgl";
    papplJobSetImpressions(job, 1);
    if (std::string why = make_scratch(job, &r->dir); !why.empty()) return fail(job, why);
    r->store = printer_store(papplJobGetPrinter(job));
    const std::string document = papplJobGetFilename(job);
    const std::string out = r->dir + "/drawing.prn";
    const std::string err = r->dir + "/drawing.err";
    std::vector<std::string> args = {"drawing", r->store, kind, document, out};
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 0, false);
    std::string why =
        job_dialog_options(papplJobGetPrinter(job), options, options->media.size_width,
                           options->media.size_length, &args);
    if (!why.empty()) {
        papplJobDeletePrintOptions(options);
        return fail(job, why);
    }
    auto named = [&](std::string text) { return in_client_terms(job, document, std::move(text)); };
    const int status = run_child(args, err, job, &why);
    if (status != 0) {
        papplJobDeletePrintOptions(options);
        if (stopped(job)) return fail(job, stop_message(job));
        return fail(job, "Drawing: " + named(why));
    }
    // What the plot cut at the edges or the reader skipped: logged, and left in the
    // job's message for the client.
    const std::string notes = logged_notes(job, err, named);
    r->files.push_back(out);
    papplJobSetImpressionsCompleted(job, 1);
    const bool sent = job_end(job, options, device);
    papplJobDeletePrintOptions(options);
    if (sent && !notes.empty()) papplJobSetMessage(job, "%s", notes.c_str());
    return sent;
}

bool filter_document(pappl_job_t* job, pappl_device_t* device, void*) {
    if (!claim(job)) return false;
    auto* r = new job_record{};
    papplJobSetData(job, r);
    if (std::string why = make_scratch(job, &r->dir); !why.empty()) return fail(job, why);
    r->store = printer_store(papplJobGetPrinter(job));
    const std::string document = papplJobGetFilename(job);
    const std::string err = r->dir + "/document.err";
    std::vector<std::string> args = {"document", r->store, document, r->dir};
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 0, false);
    std::string why =
        job_dialog_options(papplJobGetPrinter(job), options, options->media.size_width,
                           options->media.size_length, &args);
    if (!why.empty()) {
        papplJobDeletePrintOptions(options);
        return fail(job, why);
    }
    auto named = [&](std::string text) {
        if (text.rfind("kvrac: ", 0) == 0) text.erase(0, 7);
        return in_client_terms(job, document, std::move(text));
    };
    const int status = run_child(args, err, job, &why);
    if (status != 0) {
        papplJobDeletePrintOptions(options);
        if (stopped(job)) return fail(job, stop_message(job));
        return fail(job, "Document: " + named(why));
    }
    for (unsigned page = 1; std::filesystem::exists(page_path(*r, page, ".prn")); ++page)
        r->files.push_back(page_path(*r, page, ".prn"));
    // What was cut at the area's edges: logged, and left in the job's message.
    const std::string notes = logged_notes(job, err, named);
    papplJobSetImpressions(job, static_cast<int>(r->files.size()));
    papplJobSetImpressionsCompleted(job, static_cast<int>(r->files.size()));
    const bool sent = job_end(job, options, device);
    papplJobDeletePrintOptions(options);
    if (sent && !notes.empty()) papplJobSetMessage(job, "%s", notes.c_str());
    return sent;
}
