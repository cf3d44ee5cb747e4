// Device discovery without a DNS-SD daemon.
//
// PAPPL lists network printers through avahi; when no avahi daemon runs, its listing
// stops the whole process on an assertion. So when the daemon cannot be reached, every
// listing here leaves DNS-SD out: the `devices` sub-command and the web page that adds
// a printer (which then takes the device URI as typed instead of offering discovered
// printers).
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kvrac-printer/printer_app.h"

namespace {

// Where the avahi daemon listens.
constexpr const char avahi_socket[] = "/run/avahi-daemon/socket";

bool print_device(const char* info, const char* uri, const char* id, void* verbose) {
    if (verbose)
        std::printf("%s\n    %s\n    %s\n", uri, info, id);
    else
        std::printf("%s\n", uri);
    return false; // go on listing
}

void print_error(const char* message, void*) {
    std::fprintf(stderr, "kvrac-printer: %s\n", message);
}

// Escapes text for HTML through PAPPL.
void html_text(pappl_client_t* client, const std::string& text) {
    papplClientHTMLEscape(client, text.c_str(), text.size());
}

// The add-printer page: name, driver and device URI.
bool add_printer_page(pappl_client_t* client, void* data) {
    auto* system = static_cast<pappl_system_t*>(data);
    if (!papplClientHTMLAuthorize(client)) return true;
    std::string status, name, driver = printer_drivers[0].name, uri;
    if (papplClientGetMethod(client) == HTTP_STATE_POST) {
        cups_option_t* form = nullptr;
        const int n = papplClientGetForm(client, &form);
        if (n == 0 || !papplClientIsValidForm(client, n, form)) {
            status = "Invalid form submission.";
        } else {
            const char* v;
            if ((v = cupsGetOption("printer_name", n, form))) name = v;
            if ((v = cupsGetOption("driver_name", n, form))) driver = v;
            if ((v = cupsGetOption("device_uri", n, form))) uri = v;
            if (name.empty())
                status = "Please enter a printer name.";
            else if (uri.find("://") == std::string::npos)
                status = "Please enter the plotter's address as socket://HOST:9100, usb://... or "
                         "file:///FOLDER.";
        }
        if (status.empty()) {
            pappl_printer_t* printer =
                papplPrinterCreate(system, 0, name.c_str(), driver.c_str(), nullptr, uri.c_str());
            if (printer) {
                char path[1024];
                papplPrinterGetPath(printer, nullptr, path, sizeof path);
                papplClientRespondRedirect(client, HTTP_STATUS_FOUND, path);
                cupsFreeOptions(n, form);
                return true;
            }
            status = errno == EEXIST ? "A printer with that name already exists."
                     : errno == EIO  ? "Unable to use that driver."
                     : errno == EINVAL
                         ? "Printer names must start with a letter or underscore and cannot "
                           "contain special characters."
                         : std::strerror(errno);
        }
        cupsFreeOptions(n, form);
    }
    if (!papplClientRespond(client, HTTP_STATUS_OK, nullptr, "text/html", 0, 0)) return true;
    papplClientHTMLHeader(client, "Add Printer", 0);
    papplClientHTMLPuts(client, "<div class=\"row\"><div class=\"col-12\"><h1 "
                                "class=\"title\">Add Printer</h1>\n");
    if (!status.empty()) {
        papplClientHTMLPuts(client, "<div class=\"banner\">");
        html_text(client, status);
        papplClientHTMLPuts(client, "</div>\n");
    }
    papplClientHTMLPuts(client, "<p>Network printers are not discovered on this machine (no DNS-SD "
                                "daemon): enter the plotter's address.</p>\n");
    papplClientHTMLStartForm(client, papplClientGetURI(client), false);
    papplClientHTMLPuts(client, "<table class=\"form\"><tbody>\n<tr><th><label "
                                "for=\"printer_name\">Name:</label></th><td><input type=\"text\" "
                                "name=\"printer_name\" required value=\"");
    html_text(client, name);
    papplClientHTMLPuts(client, "\"></td></tr>\n<tr><th><label for=\"device_uri\">Device "
                                "URI:</label></th><td><input type=\"text\" name=\"device_uri\" "
                                "required placeholder=\"socket://192.168.1.50:9100\" value=\"");
    html_text(client, uri);
    papplClientHTMLPuts(client, "\"></td></tr>\n<tr><th><label for=\"driver_name\">Driver:</label>"
                                "</th><td><select name=\"driver_name\">");
    for (int i = 0; i < printer_driver_count; ++i) {
        papplClientHTMLPrintf(client, "<option value=\"%s\"%s>", printer_drivers[i].name,
                              driver == printer_drivers[i].name ? " selected" : "");
        html_text(client, printer_drivers[i].description);
        papplClientHTMLPuts(client, "</option>");
    }
    papplClientHTMLPuts(client, "</select></td></tr>\n<tr><th></th><td><input type=\"submit\" "
                                "value=\"Add Printer\"></td></tr></tbody></table></form>\n"
                                "</div></div>\n");
    papplClientHTMLFooter(client);
    return true;
}

} // namespace

bool dnssd_available() {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", avahi_socket);
    const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return up;
}

namespace {
pappl_devtype_t listable_devices() {
    const int all = PAPPL_DEVTYPE_ALL;
    return static_cast<pappl_devtype_t>(dnssd_available() ? all : all & ~PAPPL_DEVTYPE_DNS_SD);
}
} // namespace

int list_devices(bool verbose) {
    papplDeviceList(listable_devices(), print_device, verbose ? &verbose : nullptr, print_error,
                    nullptr);
    return 0;
}

void add_discovery_pages(pappl_system_t* system) {
    if (dnssd_available()) return;
    papplSystemAddResourceCallback(system, "/addprinter", "text/html", add_printer_page, system);
}
