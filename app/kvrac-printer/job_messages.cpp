// Clear reasons for jobs that PAPPL aborts itself.
//
// PAPPL takes any document format on Print-Job, and its own image and raster readers
// abort a job they cannot read, all without a job-state-message: the client would see
// only "Job aborted.". When a job ends, its printer and job numbers go to a worker
// thread (PAPPL reports the end with its locks held, so nothing can be asked there);
// the worker gives an aborted job that has no message one that names the format and
// says what to send instead.
#include <pthread.h>
#include <signal.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "kvrac-printer/printer_app.h"

namespace {

struct job_messages_state {
    std::mutex lock;
    std::condition_variable wake;
    std::deque<std::pair<int, int>> ended; // (printer id, job id) of jobs just ended
    pappl_system_t* system;
};

// Never destroyed: the worker waits on it until the process ends, and destroying a
// condition variable that a thread waits on blocks the exit.
job_messages_state& messages = *new job_messages_state;

std::string reason_for(const char* format) {
    const std::string f = format ? format : "";
    if (f == "image/png" || f == "image/jpeg")
        return "The " + f + " document cannot be read: it is damaged, is not " + f +
               " or is larger than 32768 x 65536 pixels";
    if (f == "image/pwg-raster" || f == "image/urf")
        return "The " + f + " document cannot be read: it is damaged or ends early";
    if (f == plot_script_mime) return "The plot script could not be printed";
    if (f == dxf_mime || f == hpgl_mime) return "The drawing could not be printed";
    return "Document format " + (f.empty() ? std::string("(unknown)") : f) +
           " is not supported: send PWG raster, Apple raster, PNG, JPEG, DXF, HP-GL/2 or a "
           "plot script";
}

void explain(int printer_id, int job_id) {
    pappl_printer_t* printer =
        papplSystemFindPrinter(messages.system, nullptr, printer_id, nullptr);
    pappl_job_t* job = printer ? papplPrinterFindJob(printer, job_id) : nullptr;
    if (!job || papplJobGetState(job) != IPP_JSTATE_ABORTED) return;
    const char* m = papplJobGetMessage(job);
    if (m && *m) return;
    const std::string why = reason_for(papplJobGetFormat(job));
    papplJobSetMessage(job, "%s", why.c_str());
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", why.c_str());
}

void worker() {
    std::unique_lock<std::mutex> hold(messages.lock);
    for (;;) {
        messages.wake.wait(hold, [] { return !messages.ended.empty(); });
        const auto [printer_id, job_id] = messages.ended.front();
        messages.ended.pop_front();
        hold.unlock();
        explain(printer_id, job_id);
        hold.lock();
    }
}

// PAPPL's event callback: called with PAPPL's locks held, so it only queues.
void on_event(pappl_system_t*, pappl_printer_t* printer, pappl_job_t* job, pappl_event_t event,
              void*) {
    if (!(event & PAPPL_EVENT_JOB_COMPLETED) || !printer || !job) return;
    {
        std::lock_guard<std::mutex> hold(messages.lock);
        messages.ended.emplace_back(papplPrinterGetID(printer), papplJobGetID(job));
    }
    messages.wake.notify_one();
}

} // namespace

void watch_job_ends(pappl_system_t* system) {
    messages.system = system;
    // The worker takes no signals: SIGTERM must reach the thread running the server,
    // whose wait it interrupts.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    std::thread(worker).detach();
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    papplSystemSetEventCallback(system, on_event, nullptr);
}
