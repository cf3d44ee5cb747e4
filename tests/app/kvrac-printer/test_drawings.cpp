// DXF drawings and HP-GL/2 plot files printed to kvrac-printer with ipptool, typed and
// sent as application/octet-stream: the job on the file:// device equals what `kvrac
// plot` writes for the same file with the printer's record and the job's options; a
// broken drawing aborts its job with the reader's reason and the next job prints.
#include "app/kvrac-printer/printer_server.h"

using printer_test::command_result;
using printer_test::printer_server;
using printer_test::read_all;
namespace fs = std::filesystem;

#ifndef KVRAC_HAVE_DXF
#define KVRAC_HAVE_DXF 0
#endif

namespace {

// DXF is read only where the programs were built with dxflib.
constexpr bool have_dxf = KVRAC_HAVE_DXF;

// A DXF drawing in millimetres: an L of lines and a circle (its flattening depends on
// the job's resolution).
const char plan_dxf[] = "0\nSECTION\n2\nHEADER\n9\n$INSUNITS\n70\n4\n0\nENDSEC\n"
                        "0\nSECTION\n2\nENTITIES\n"
                        "0\nLINE\n8\n0\n10\n10\n20\n10\n11\n150\n21\n10\n"
                        "0\nLINE\n8\n0\n10\n10\n20\n10\n11\n10\n21\n120\n"
                        "0\nCIRCLE\n8\n0\n10\n80\n20\n70\n40\n40\n"
                        "0\nENDSEC\n0\nEOF\n";

// An HP-GL/2 plot file: a box with pen 1, a circle and a relative move with pen 2.
const char plan_plt[] = "IN;SP1;PU400,400;PD4400,400,4400,3200,400,3200,400,400;"
                        "PU2400,1800;CI1000;SP2;PR;PU200,200;PD1000,0,0,1000;PU;SP0;";

void write_file(const fs::path& p, const std::string& content) {
    std::ofstream(p, std::ios::binary) << content;
}

// US Letter (format row 10) at `dpi` with the defaults of a new printer.
std::string job_attrs_options(int dpi) {
    return "--format 10 --media 0 --resolution " + std::to_string(dpi) +
           " --copies 1 --fill halftone --margin 0 --program manual --manual-feed no";
}

const std::vector<std::string> letter(int dpi) {
    return {"ATTR keyword media na_letter_8.5x11in",
            "ATTR resolution printer-resolution " + std::to_string(dpi) + "dpi"};
}

// `kvrac plot FILE` with a fresh copy of the printer's settings record and the options
// the job asks for; the job's bytes ("" after a test failure).
std::string kvrac_plot(printer_server& server, const fs::path& drawing, int dpi) {
    const fs::path record = server.dir() / "record.bin";
    const fs::path out = server.dir() / "expected.prn";
    fs::remove(record);
    fs::remove(out);
    fs::copy_file(server.state_dir() / "printer-1.settings", record);
    const command_result r = server.run(
        std::string("'") + KVRAC_BINARY + "' plot '" + drawing.string() + "' -o '" + out.string() +
        "' --settings '" + record.string() + "' " + job_attrs_options(dpi));
    EXPECT_EQ(r.status, 0) << r.out;
    return read_all(out);
}

class PrinterDrawings : public ::testing::Test {
  protected:
    printer_server server{"drawings"};
    std::string uri;

    void SetUp() override {
        ASSERT_TRUE(server.ready());
        uri = server.add_printer("plotter", "file://" + server.device_dir().string());
        ASSERT_FALSE(uri.empty());
    }

    // Prints file as format under job_name and waits for the job's end.
    printer_test::job_status print(const fs::path& file, const std::string& format,
                                   const std::string& job_name, int dpi) {
        std::string why;
        const int job = server.print(uri, file, format, letter(dpi), job_name, &why);
        EXPECT_GT(job, 0) << why;
        if (job <= 0) return {};
        return server.wait_job(uri, job);
    }
};

} // namespace

TEST_F(PrinterDrawings, FormatsAreAdvertised) {
    const fs::path test = server.dir() / "formats.test";
    write_file(test, "{\n OPERATION Get-Printer-Attributes\n GROUP operation-attributes-tag\n"
                     " ATTR charset attributes-charset utf-8\n"
                     " ATTR naturalLanguage attributes-natural-language en\n"
                     " ATTR uri printer-uri $uri\n"
                     " ATTR keyword requested-attributes document-format-supported\n"
                     " STATUS successful-ok\n"
                     " EXPECT document-format-supported WITH-VALUE \"application/vnd.hp-HPGL\"\n" +
                         std::string(have_dxf ? " EXPECT document-format-supported WITH-VALUE "
                                                "\"image/vnd.dxf\"\n"
                                              : "") +
                         "}\n");
    const command_result r = server.run("ipptool -t '" + uri + "' '" + test.string() + "'");
    EXPECT_EQ(r.status, 0) << r.out;
}

TEST_F(PrinterDrawings, TypedAndSniffedDrawingsEqualKvracPlot) {
    const fs::path dxf = server.dir() / "plan.dxf";
    const fs::path plt = server.dir() / "plan.plt";
    const fs::path kvs = server.dir() / "plan.kvs";
    write_file(dxf, plan_dxf);
    write_file(plt, plan_plt);
    // A plot script is still told apart from the drawings.
    write_file(kvs, "pen 1\nmove 100 100\ndraw 3000 2000\ndraw 3000 100\n");
    const std::string record = read_all(server.state_dir() / "printer-1.settings");
    ASSERT_EQ(record.size(), 40u);

    struct case_t {
        fs::path file;
        const char* format;
        const char* job;
        int dpi;
    } cases[] = {
        {dxf, "image/vnd.dxf", "dxf-typed", 200},
        {dxf, "application/octet-stream", "dxf-sniffed", 600},
        {plt, "application/vnd.hp-HPGL", "plt-typed", 300},
        {plt, "application/octet-stream", "plt-sniffed", 300},
        {kvs, "application/octet-stream", "script-sniffed", 400},
    };
    for (const case_t& c : cases) {
        if (!have_dxf && c.file == dxf) continue;
        SCOPED_TRACE(c.job);
        const auto status = print(c.file, c.format, c.job, c.dpi);
        ASSERT_EQ(status.state, "completed") << status.message << "\n"
                                             << read_all(server.log_file());
        const std::string printed = read_all(server.device_dir() / (std::string(c.job) + ".prn"));
        ASSERT_FALSE(printed.empty());
        const std::string expected = kvrac_plot(server, c.file, c.dpi);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(printed.size(), expected.size());
        EXPECT_TRUE(printed == expected) << "the job differs from kvrac plot's";
    }
    // The jobs' options (resolutions) are for each job only.
    EXPECT_TRUE(read_all(server.state_dir() / "printer-1.settings") == record)
        << "a job changed the printer's settings record";
    // The circle is flattened for the job's resolution, so the comparison above checks
    // that the job's resolution (not the printer's stored one) reached the pipeline.
    if (have_dxf) {
        EXPECT_NE(kvrac_plot(server, dxf, 200), kvrac_plot(server, dxf, 600));
    }
}

TEST_F(PrinterDrawings, BadOrCutDrawingsSayWhyAndTheNextJobPrints) {
    if (have_dxf) {
        // Cut short: no EOF.
        std::string cut = plan_dxf;
        cut.resize(cut.find("0\nENDSEC\n0\nEOF"));
        const fs::path broken = server.dir() / "broken.dxf";
        write_file(broken, cut);
        const auto status = print(broken, "image/vnd.dxf", "broken.dxf", 300);
        EXPECT_EQ(status.state, "aborted");
        EXPECT_NE(status.message.find("broken.dxf:"), std::string::npos) << status.message;
        EXPECT_NE(status.message.find("truncated"), std::string::npos) << status.message;
        EXPECT_EQ(status.message.find(server.dir().string()), std::string::npos)
            << "the message names the spooled file: " << status.message;
        // The device opens its file at the job's start: nothing may be written to it.
        EXPECT_TRUE(read_all(server.device_dir() / "broken.dxf.prn").empty());
    }

    // A plot file with nothing to plot is no printed job either.
    const fs::path empty = server.dir() / "empty.plt";
    write_file(empty, "IN;SP1;PU100,100;SP0;");
    auto status = print(empty, "application/vnd.hp-HPGL", "empty", 300);
    EXPECT_EQ(status.state, "aborted");
    EXPECT_NE(status.message.find("nothing to plot"), std::string::npos) << status.message;
    EXPECT_TRUE(read_all(server.device_dir() / "empty.prn").empty());

    // Cut at the sheet's right edge (US Letter is 11 in, 11176 plotter units): printed,
    // and the client is told.
    const fs::path wide = server.dir() / "wide.plt";
    write_file(wide, "IN;SP1;PU400,400;PD20000,400;PU;SP0;");
    status = print(wide, "application/vnd.hp-HPGL", "wide.plt", 300);
    EXPECT_EQ(status.state, "completed") << status.message;
    EXPECT_NE(status.message.find("wide.plt: 1 entity cut at the right edge"), std::string::npos)
        << status.message;
    EXPECT_FALSE(read_all(server.device_dir() / "wide.plt.prn").empty());

    const fs::path good = server.dir() / (have_dxf ? "plan.dxf" : "plan.plt");
    write_file(good, have_dxf ? plan_dxf : plan_plt);
    status = print(good, have_dxf ? "image/vnd.dxf" : "application/vnd.hp-HPGL", "after", 300);
    EXPECT_EQ(status.state, "completed") << status.message;
    EXPECT_FALSE(read_all(server.device_dir() / "after.prn").empty());
}
