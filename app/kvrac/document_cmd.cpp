// Plotting documents: each asked page through the plot job and link/document_job.h.
#include "kvrac/document_cmd.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "link/document_job.h"
#include "link/plot_job.h"

const char document_options_help[] =
    "\n"
    "Documents (PDF, PNG, TIFF, JPEG; see docs/documents.md): fitted to the printable\n"
    "area, or 1:1 when the page is the area's size; --scale, --fit, --center and\n"
    "--origin place them as drawings.\n"
    "  --page N          the page (PDF) or image (TIFF) to plot (default 1)\n"
    "  --pages all       every page, each in a job of its own (JOB-p1.prn, ...)\n";

namespace {

int bad(const std::string& what) {
    std::fprintf(stderr, "kvrac: %s\nTry 'kvrac help plot'.\n", what.c_str());
    return 2;
}

// The job name of page `page` when several pages are plotted: NAME-pN.EXT.
std::string page_job_name(const std::string& name, int32_t page) {
    std::filesystem::path p(name);
    const std::string ext = p.extension().string();
    p.replace_extension();
    return p.string() + "-p" + std::to_string(page) + ext;
}

} // namespace

int take_document_option(int argc, char** argv, int& i, document_options& d) {
    const std::string a = argv[i];
    if (a != "--page" && a != "--pages") return 0;
    if (i + 1 >= argc) return bad(a + " needs a value");
    const std::string v = argv[++i];
    d.given = true;
    if (a == "--pages") {
        if (v != "all") return bad("--pages takes all, not " + v + " (--page N for one page)");
        d.all_pages = true;
        return 1;
    }
    char* end = nullptr;
    const long n = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end || n < 1 || n > 1000000)
        return bad("--page takes a page number from 1, not " + v);
    d.page = static_cast<int32_t>(n);
    return 1;
}

int run_plot_document(const plot_options& o, const drawing_options& d, const document_options& p) {
    if (d.place.rotate != 0)
        return bad("--rotate acts on drawings; a document's page is plotted as it stands");
    if (!d.pens.empty()) return bad("--pens acts on drawings, not on the document " + o.script);
    if (d.place.units != drawing_units::unknown)
        return bad("--units acts on drawings; a document's page has its own size");
    int32_t pages = 1;
    std::string why;
    if (document_page_count(o.script, &pages, &why) != 0) {
        std::fprintf(stderr, "kvrac: %s\n", why.c_str());
        return 2;
    }
    if (!p.all_pages || pages == 1) {
        if (p.page > pages) {
            std::fprintf(stderr, "kvrac: %s: has %d page%s, not page %d\n", o.script.c_str(), pages,
                         pages == 1 ? "" : "s", p.page);
            return 2;
        }
        plot_options one = o;
        return plot_document_to_job(plot_job_options_of(one, "document"), p.all_pages ? 1 : p.page,
                                    d.place);
    }
    const std::string base =
        o.output.empty() ? std::filesystem::path(o.script).replace_extension(".prn").string()
                         : o.output;
    if (base == "-")
        return bad("several pages go to a job file each: name them with -o NAME.prn, not -");
    for (int32_t page = 1; page <= pages; ++page) {
        plot_options one = o;
        one.output = page_job_name(base, page);
        const std::string name = one.output;
        if (int rc = plot_document_to_job(plot_job_options_of(one, "document"), page, d.place);
            rc != 0)
            return rc;
        std::fprintf(stderr, "kvrac: %s page %d of %d: %s\n", o.script.c_str(), page, pages,
                     name.c_str());
    }
    return 0;
}
