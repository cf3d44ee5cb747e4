// kvrac-printer: each plotter as a driverless IPP printer, built on PAPPL.
//
// The server (PAPPL's main loop) owns printers, jobs, the web pages and the devices;
// every use of the driver itself happens in a child process (job_child.h), one per
// job page or configuration, so that no two jobs ever share the driver's process-wide
// state and a driver crash fails one job only.
//
//   main.cpp         the command line: the child mode, then PAPPL's sub-commands
//   system.cpp       the server: listeners, state, document formats, web pages
//   drivers.cpp      one driver per model and output language; IPP attributes from the
//                    driver's tables; the printer's settings record
//   job.cpp          the job: pages spooled, one child per page, complete jobs sent
//   page_spool.cpp   one raster page written to a PNG file row by row
//   page_header.cpp  the page header of a client's raster document, as sent
//   discovery.cpp    device listing and the add-printer page without a DNS-SD daemon
//   job_messages.cpp clear reasons for the jobs PAPPL aborts itself
//   image_filter.cpp PNG documents read before PAPPL lays them out
//   settings_page.cpp the printer's settings page: the driver's own settings in a browser
//   (job.cpp also plots DXF and HP-GL/2 documents through the drawing pipeline)
#pragma once

#include <pappl/pappl.h>

#include <mutex>
#include <string>
#include <vector>

// The program's paths, set once before the server starts.
struct printer_app_state {
    std::string self;      // this program's path, for the child processes
    std::string state_dir; // PAPPL's state file and each printer's settings record
    std::string spool_dir; // documents and the jobs' scratch folders
};

extern printer_app_state app;

// MIME type of plot scripts received as documents.
constexpr const char plot_script_mime[] = "application/vnd.kvrac-plot-script";

// MIME types of the drawings plotted as vectors: DXF drawings and HP-GL/2 plot files.
constexpr const char dxf_mime[] = "image/vnd.dxf";
constexpr const char hpgl_mime[] = "application/vnd.hp-HPGL";

// drivers.cpp: the drivers PAPPL lists, and the callback that fills a printer's driver
// data and attributes from the driver's tables.
extern pappl_pr_driver_t printer_drivers[];
extern const int printer_driver_count;
bool driver_setup(pappl_system_t* system, const char* driver_name, const char* device_uri,
                  const char* device_id, pappl_pr_driver_data_t* data, ipp_t** attrs, void* cbdata);

// The path of a printer's 40-byte settings record (state_dir/printer-ID.settings).
std::string printer_store(pappl_printer_t* printer);

// system.cpp: held while a driver process may write a printer's settings record, so
// that two writers (the settings page, the defaults kept in step with the record) never
// lose each other's change. Never held while taking a PAPPL lock.
extern std::mutex record_lock;

// system.cpp: sets the printer's IPP defaults (media, type, resolution and the vendor
// defaults) from its settings record, and notes them as in step with the record. Does
// nothing when the record cannot be read.
void printer_defaults_from_record(pappl_printer_t* printer);

// settings_page.cpp: adds the printer's settings page (PATH/plotter-settings) and its
// link on the printer's pages.
void add_settings_page(pappl_printer_t* printer);

// drivers.cpp: the dialog options that a page of width x length (hundredths of mm)
// and the job's attributes and the printer's defaults ask for (format and length,
// media type, resolution, copies, and the vendor settings), appended to *out. Returns
// "", or says why the page cannot be printed.
std::string job_dialog_options(pappl_printer_t* printer, pappl_pr_options_t* options, int width,
                               int length, std::vector<std::string>* out);

// drivers.cpp: vendor attribute (a printer default IPP has no attribute for) to dialog
// option; "" for a name that is not one.
std::string vendor_dialog_option(const char* name);

// job.cpp: runs this program's child mode with args, its standard error in err_path.
// Polls job (may be null) for a cancel and then kills the child. Returns the child's
// exit status, -1 when it was killed (cancel or crash) or could not start; *why holds
// the child's last error line or what happened.
int run_child(const std::vector<std::string>& args, const std::string& err_path, pappl_job_t* job,
              std::string* why);

// job.cpp: kills the driver processes still running (the server is stopping).
void kill_job_children();

// job.cpp: the driver callbacks of a job.
bool job_start(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool job_start_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                    unsigned page);
bool job_write_line(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                    unsigned y, const unsigned char* line);
bool job_end_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                  unsigned page);
bool job_end(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool job_print_script(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

// job.cpp: the MIME filter of drawing documents (DXF, HP-GL/2): each is plotted as
// vectors by a child process, as `kvrac plot` plots the file.
bool filter_drawing(pappl_job_t* job, pappl_device_t* device, void* data);

// job.cpp: the MIME filter of documents plotted page by page as `kvrac plot` plots them
// (PDF; TIFF and JPEG where this build reads them): each page fitted to the job's
// media, or 1:1 when it is the media's size, at the job's resolution; a bad file or
// page aborts the job with its reason.
bool filter_document(pappl_job_t* job, pappl_device_t* device, void* data);

// page_header.cpp: the header of the raster page this thread read last from a client's
// document (null when it read none), as the document has it; and its end.
const cups_page_header2_t* document_page_header();
void forget_document_page_header();

// discovery.cpp: device listing that leaves DNS-SD out when no avahi daemon runs (PAPPL
// would abort on an assertion).
bool dnssd_available();
int list_devices(bool verbose);                   // the `devices` sub-command
void add_discovery_pages(pappl_system_t* system); // the add-printer web page

// image_filter.cpp: PNG documents, decoded by the host's reader and laid out by PAPPL.
bool filter_png(pappl_job_t* job, pappl_device_t* device, void* data);

// job_messages.cpp: gives jobs that PAPPL aborts itself a clear job-state-message.
void watch_job_ends(pappl_system_t* system);

// system.cpp: true when the first bytes of a document read as a plot script (text
// whose first command word is one of the script's).
bool looks_like_plot_script(const unsigned char* header, size_t size);

// system.cpp
pappl_system_t* system_setup(int num_options, cups_option_t* options, void* data);
void print_usage(void* data);
