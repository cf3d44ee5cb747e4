// One plot job's set-up, output and ending, shared by every kind of plot (see
// plot_job.h). The job's bytes come from the driver through session.job; this module
// only decides where they go and whether they stay.
#include "link/plot_job.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "link/config_sequence.h"
#include "link/session.h"
#include "settings/store.h"

namespace {

std::string default_output(const std::string& input) {
    std::filesystem::path p(input);
    p.replace_extension(".prn");
    return p.string();
}

// Whether the job's name and the input's resolve to the same file. A name that cannot
// be resolved is no input file to protect.
bool overwrites_input(const std::string& out_path, const std::string& input) {
    std::error_code out_error, input_error;
    const auto out = std::filesystem::weakly_canonical(out_path, out_error);
    const auto in = std::filesystem::weakly_canonical(input, input_error);
    return !out_error && !input_error && out == in;
}

// Checks the asked --area against the printable one. Returns 0, or 2 (reported).
int check_area(const plot_job_options& o, const plot_area& area) {
    if (o.area_length <= 0) return 0;
    if (o.area_length > area.side_a || o.area_width > area.side_b) {
        std::fprintf(stderr, "kvrac: --area %gx%g is larger than the printable area %gx%g in\n",
                     o.area_length, o.area_width, area.side_a, area.side_b);
        return 2;
    }
    if (o.area_length * area.steps_per_inch < 1 || o.area_width * area.steps_per_inch < 1) {
        std::fprintf(stderr,
                     "kvrac: --area %gx%g is smaller than one plotter unit (1/%g in) a side\n",
                     o.area_length, o.area_width, area.steps_per_inch);
        return 2;
    }
    return 0;
}

} // namespace

int plot_job_setup(const plot_job_options& o, plot_job& job) {
    job = plot_job{};
    job.out = {nullptr, "", "", "", -1};
    dialog_script dialog;
    if (build_dialog_script(o.dialog, true, dialog) != 0) return 2;
    if (host_open(o.store) != 0) return 1;
    uint8_t stored[40];
    if (store_load(o.store, stored, 40) != 0) {
        // Nothing stored yet: configure with the defaults first, as an installation would.
        if (run_configuration(false) != 0) return 1;
    }
    // Set only now: the defaults saved just above must reach the store.
    if (o.keep_store) session.keep_store = true;
    job.out_path = o.output.empty() ? default_output(o.input) : o.output;
    job.to_stdout = job.out_path == "-";
    if (!job.to_stdout && o.input != "-" && overwrites_input(job.out_path, o.input)) {
        std::fprintf(stderr, "kvrac: the job would overwrite the %s %s\n", o.input_kind,
                     o.input.c_str());
        return 2;
    }
    session.job = nullptr;
    session.job_write_failed = false;
    session.job_unsent = 0;
    session.job_errno = 0;

    // Identify, load the settings, the plot-time dialog (the options' user acts in it,
    // or a person does) with the printable area.
    if (plot_identify_and_load() != 0) return 1;
    if (int rc = plot_time_dialog(dialog, &job.area); rc != 0) return rc;
    if (check_area(o, job.area) != 0) {
        plot_end();
        return 2;
    }
    job.side_a = o.area_length > 0 ? o.area_length : job.area.side_a;
    job.side_b = o.area_length > 0 ? o.area_width : job.area.side_b;
    return 0;
}

int plot_job_start(plot_job& job) {
    std::string why;
    if (job.to_stdout) {
        stdout_binary();
        job.out.stream = stdout;
        job.out.name = "standard output";
    } else if (output_open(job.out_path, job.out, &why) != 0) {
        std::fprintf(stderr, "kvrac: %s\n", why.c_str());
        return 2;
    }
    // The driver writes many small pieces: one large buffer keeps the system calls few.
    static char out_buffer[1 << 20];
    std::setvbuf(job.out.stream, out_buffer, _IOFBF, sizeof out_buffer);
    session.job = job.out.stream;
    session.job_write_failed = false;
    session.job_unsent = 0;
    session.job_errno = 0;
    return plot_start_job(job.side_a, job.side_b);
}

int plot_job_end(plot_job& job, int status) {
    plot_end();
    session.job = nullptr;
    if (status == 0 && session.job_write_failed) {
        std::fprintf(stderr, "kvrac: cannot write %s: %s\n", job.out.name.c_str(),
                     std::strerror(session.job_errno));
        return 1;
    }
    return status;
}

int plot_job_close(plot_job& job, int status, bool keep) {
    if (job.to_stdout) {
        // The bytes are gone already: nothing to discard, only to flush.
        if (status == 0 && job.out.stream && std::fflush(stdout) != 0) {
            std::fprintf(stderr, "kvrac: cannot write standard output: %s\n", std::strerror(errno));
            status = 1;
        }
        job.out.stream = nullptr;
        return status;
    }
    if (status != 0 || !keep || !job.out.stream) {
        output_discard(job.out);
        return status;
    }
    std::string why;
    if (output_commit(job.out, &why) != 0) {
        std::fprintf(stderr, "kvrac: %s\n", why.c_str());
        return 1;
    }
    return 0;
}

std::string plot_job_scratch_folder(const plot_job& job) {
    if (job.out.temp.empty()) return "";
    const std::string folder = std::filesystem::path(job.out.temp).parent_path().string();
    return folder.empty() ? "." : folder;
}
