// kvrac view: reads a job file back and draws the sheet it would print, or says what it
// holds.
#include "kvrac/view_cmd.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#if KVRAC_HAVE_JOBREAD
#include "jobread/job_reader.h"
#endif

const char view_help[] =
    "Usage: kvrac view JOB [-o PICTURE.png] [--dpi N] [--page N] [--summary]\n"
    "\n"
    "Reads a print job in either output language (PJL + HP-GL/2 + HP-RTL, or KTGL+MMR)\n"
    "and draws the sheet it prints: white paper, the printable area outlined in light\n"
    "grey, lines in their pen's grey with their width and dash pattern, filled polygons\n"
    "with their halftone, raster images dot for dot as the printer puts them.\n"
    "\n"
    "  -o, --output PNG  picture file (default: the job's name with .png)\n"
    "  --dpi N           picture resolution in dots per inch (default: the sheet's long\n"
    "                    side about 2000 pixels)\n"
    "  --page N          page to draw, from 1 (default 1)\n"
    "  --summary         print what the job holds: language, sheet and orientation,\n"
    "                    copies, finisher settings, pens, lines, polygons, images, the\n"
    "                    drawn extent and the bytes of each kind. Without -o no picture\n"
    "                    is written.\n"
    "\n"
    "An instruction the reader does not know is counted, listed once and skipped. A job\n"
    "cut short or damaged is drawn up to the fault, which is reported with its byte\n"
    "offset.\n"
    "\n"
    "Exit status: 0 done, 1 the job was read only in part or the picture cannot be\n"
    "written, 2 bad usage or not a job.\n";

#if KVRAC_HAVE_JOBREAD

namespace {

int usage(const std::string& what) {
    std::fprintf(stderr, "kvrac view: %s\nTry 'kvrac view --help'.\n", what.c_str());
    return 2;
}

std::string kb(uint64_t n) {
    char text[32];
    std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(n));
    return text;
}

void print_summary(const std::string& job, const job_summary& s) {
    std::printf("job:         %s\n", job.c_str());
    std::printf("language:    %s\n", s.language.c_str());
    std::printf("sheet:       %.1f x %.1f mm (%.3f x %.3f in), %s\n", s.sheet_w_in * 25.4,
                s.sheet_h_in * 25.4, s.sheet_w_in, s.sheet_h_in,
                s.rotated ? "rotated (drawing x along the paper's length)"
                          : "unrotated (drawing x across the paper)");
    if (s.copies)
        std::printf("copies:      %d\n", s.copies);
    else
        std::printf("copies:      not stated\n");
    if (!s.label.empty()) std::printf("label:       %s\n", s.label.c_str());
    for (const std::string& p : s.pjl) std::printf("PJL:         %s\n", p.c_str());
    if (s.manual_feed) std::printf("manual feed: yes\n");
    std::printf("pages:       %d\n", s.pages);
    std::string pens;
    for (int p : s.pens) pens += (pens.empty() ? "" : " ") + std::to_string(p);
    std::printf("pens used:   %s\n", pens.empty() ? "none" : pens.c_str());
    std::printf("lines:       %llu\n", static_cast<unsigned long long>(s.lines));
    std::printf("polygons:    %llu\n", static_cast<unsigned long long>(s.polygons));
    std::printf("images:      %llu raster pieces\n", static_cast<unsigned long long>(s.images));
    if (s.drawn)
        std::printf("extent:      %.1f..%.1f x %.1f..%.1f mm from the sheet's lower left corner\n",
                    s.min_x_in * 25.4, s.max_x_in * 25.4, s.min_y_in * 25.4, s.max_y_in * 25.4);
    else
        std::printf("extent:      nothing drawn\n");
    std::printf("bytes:       %s in all: %s PJL, %s set-up, %s vectors, %s raster, %s other\n",
                kb(s.total_bytes).c_str(), kb(s.bytes.pjl).c_str(), kb(s.bytes.setup).c_str(),
                kb(s.bytes.vectors).c_str(), kb(s.bytes.raster).c_str(), kb(s.bytes.other).c_str());
    for (const std::string& u : s.unknown) std::printf("unknown:     %s\n", u.c_str());
}

// Reads job and, when picture is not empty, writes its picture. Returns the exit status.
// Progress of a long read on a terminal: the share of the job read, at most once per
// percent.
struct progress_line {
    const std::string* job;
    uint64_t size;
    int shown;
};

void show_progress(uint64_t done, void* context) {
    auto* p = static_cast<progress_line*>(context);
    const int percent = static_cast<int>(done * 100 / p->size);
    if (percent == p->shown) return;
    p->shown = percent;
    std::fprintf(stderr, "\rkvrac view: reading %s: %d %%", p->job->c_str(), percent);
    std::fflush(stderr);
}

int view(const std::string& job, const std::string& picture, const view_request& want,
         bool summary) {
    std::FILE* f = std::fopen(job.c_str(), "rb");
    if (!f) {
        std::fprintf(stderr, "kvrac view: cannot read %s: %s\n", job.c_str(), std::strerror(errno));
        return 2;
    }
    view_picture pic;
    job_summary s;
    std::string error;
    view_request w = want;
    w.picture = !picture.empty();
    std::error_code size_error;
    const uint64_t size = std::filesystem::file_size(job, size_error);
    progress_line line{&job, size, -1};
    if (!size_error && size > (16u << 20) && isatty(2)) {
        w.progress = show_progress;
        w.progress_context = &line;
    }
    int rc = read_job_file(f, w, &pic, &s, &error);
    std::fclose(f);
    if (line.shown >= 0) std::fputc('\n', stderr);
    if (rc == 2) {
        std::fprintf(stderr, "kvrac view: %s: %s\n", job.c_str(), error.c_str());
        return 2;
    }
    for (const std::string& warning : s.warnings)
        std::fprintf(stderr, "kvrac view: %s: warning: %s\n", job.c_str(), warning.c_str());
    if (!s.unknown.empty() && !summary)
        std::fprintf(stderr,
                     "kvrac view: %s: %zu kind(s) of instruction not known, skipped: %s%s\n",
                     job.c_str(), s.unknown.size(), s.unknown[0].c_str(),
                     s.unknown.size() > 1 ? ", ..." : "");
    if (rc == 1) std::fprintf(stderr, "kvrac view: %s: %s\n", job.c_str(), error.c_str());
    if (summary) print_summary(job, s);
    if (!picture.empty()) {
        if (want.page > s.pages && s.pages > 0) {
            std::fprintf(stderr, "kvrac view: %s has %d page(s), not %d\n", job.c_str(), s.pages,
                         want.page);
            return 2;
        }
        std::string why;
        if (write_picture_png(pic, picture, &why) != 0) {
            std::fprintf(stderr, "kvrac view: cannot write %s: %s\n", picture.c_str(), why.c_str());
            return 1;
        }
    }
    return rc == 0 ? 0 : 1;
}

} // namespace

int run_view(const view_options& o) {
    view_request want;
    if (!o.dpi.empty()) {
        char* end = nullptr;
        want.dpi = std::strtod(o.dpi.c_str(), &end);
        if (*end || !(want.dpi >= 1 && want.dpi <= 2400))
            return usage("--dpi takes a resolution from 1 to 2400");
    }
    if (!o.page.empty()) {
        char* end = nullptr;
        long n = std::strtol(o.page.c_str(), &end, 10);
        if (*end || n < 1 || n > 1000000) return usage("--page takes a page number from 1");
        want.page = static_cast<int>(n);
    }
    std::string picture = o.picture;
    if (picture.empty() && !o.summary) {
        std::filesystem::path p(o.job);
        p.replace_extension(".png");
        picture = p.string();
    }
    std::error_code picture_error, job_error; // a name that cannot be resolved is no job
    if (!picture.empty() &&
        std::filesystem::weakly_canonical(picture, picture_error) ==
            std::filesystem::weakly_canonical(o.job, job_error) &&
        !picture_error && !job_error)
        return usage("the picture would overwrite the job " + o.job);
    return view(o.job, picture, want, o.summary);
}

int write_preview(const std::string& job, const std::string& picture) {
    if (job == "-") {
        std::fprintf(stderr, "kvrac: --preview needs a job file, not standard output\n");
        return 1;
    }
    return view(job, picture, view_request{}, false) == 0 ? 0 : 1;
}

#else

int run_view(const view_options&) {
    std::fprintf(stderr, "kvrac: kvrac view is not available in this build (it needs libtiff "
                         "and libpng)\n");
    return 2;
}

int write_preview(const std::string&, const std::string&) {
    std::fprintf(stderr, "kvrac: --preview is not available in this build (it needs libtiff "
                         "and libpng)\n");
    return 1;
}

#endif
