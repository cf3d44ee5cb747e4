// The web interface with no DNS-SD daemon, as on a build machine: every page the server
// links to (a bounded crawl from the home page and the printer's page) answers, and the
// server still answers IPP after each one; the add-printer form adds a printer, and a
// form sent without its session field is refused and changes nothing.
#include <cups/cups.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <deque>
#include <map>
#include <set>

#include "app/kvrac-printer/printer_server.h"

using printer_test::printer_server;
using printer_test::read_all;

namespace {

struct http_reply {
    int status = 0;      // 0 when no HTTP answer came
    std::string headers; // the header lines as sent
    std::string body;
    std::string header(const std::string& name) const {
        std::string lower = headers;
        std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
        std::string key = "\r\n" + name + ":";
        std::transform(key.begin(), key.end(), key.begin(), ::tolower);
        const size_t at = lower.find(key);
        if (at == std::string::npos) return "";
        size_t from = at + key.size();
        while (from < headers.size() && headers[from] == ' ') ++from;
        return headers.substr(from, headers.find("\r\n", from) - from);
    }
};

// True when raw holds a whole reply: the last chunk of a chunked body, or as many bytes
// as Content-Length says (PAPPL may keep the connection open after it).
bool reply_complete(const std::string& raw) {
    const size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos) return false;
    std::string head = raw.substr(0, end + 2);
    std::transform(head.begin(), head.end(), head.begin(), ::tolower);
    if (head.find("transfer-encoding: chunked") != std::string::npos)
        return raw.size() >= end + 9 && raw.compare(raw.size() - 5, 5, "0\r\n\r\n") == 0;
    const size_t len = head.find("\r\ncontent-length:");
    return len != std::string::npos &&
           raw.size() - end - 4 >= std::strtoul(head.c_str() + len + 17, nullptr, 10);
}

// One HTTP/1.0 request on 127.0.0.1:port with "Connection: close" (the server keeps
// connections open otherwise), so the whole reply is what arrives before the close. extra: more
// header lines, each ending in CRLF. A server that does not answer within 30 s gives status 0.
http_reply http(int port, const std::string& method, const std::string& path,
                const std::string& extra = "", const std::string& body = "") {
    http_reply r;
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return r;
    timeval tv{30, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string raw;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        std::string req = method + " " + path +
                          " HTTP/1.0\r\nHost: localhost:" + std::to_string(port) +
                          "\r\nConnection: close\r\n" + extra;
        if (method == "POST")
            req += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                   std::to_string(body.size()) + "\r\n";
        req += "\r\n" + body;
        if (::send(fd, req.data(), req.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(req.size())) {
            char buf[8192];
            ssize_t n;
            while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) {
                raw.append(buf, static_cast<size_t>(n));
                if (reply_complete(raw)) break;
            }
        }
    }
    ::close(fd);
    const size_t end = raw.find("\r\n\r\n");
    if (raw.rfind("HTTP/", 0) != 0 || end == std::string::npos) return r;
    r.status = std::atoi(raw.c_str() + raw.find(' ') + 1);
    r.headers = raw.substr(0, end + 2);
    r.body = raw.substr(end + 4);
    if (r.header("Transfer-Encoding") == "chunked") {
        // PAPPL chunks its pages even for HTTP/1.0 clients.
        std::string body;
        size_t at = 0;
        while (at < r.body.size()) {
            const size_t line = r.body.find("\r\n", at);
            if (line == std::string::npos) break;
            const size_t n = std::strtoul(r.body.c_str() + at, nullptr, 16);
            if (n == 0) break;
            body += r.body.substr(line + 2, n);
            at = line + 2 + n + 2;
        }
        r.body = body;
    }
    return r;
}

// True when the server answers Get-Printer-Attributes for the printer.
bool answers_ipp(int port, const std::string& printer) {
    http_t* h =
        httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
    if (!h) return false;
    ipp_t* req = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    const std::string uri = "ipp://localhost:" + std::to_string(port) + "/ipp/print/" + printer;
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "printer-state");
    ipp_t* resp = cupsDoRequest(h, req, "/ipp/print");
    const bool ok = resp && ippGetStatusCode(resp) == IPP_STATUS_OK &&
                    ippFindAttribute(resp, "printer-state", IPP_TAG_ENUM);
    ippDelete(resp);
    httpClose(h);
    return ok;
}

// The local paths a page links to: href and action attributes (and Location) that are
// absolute paths on this server or URLs naming localhost:port, without their fragment.
std::vector<std::string> local_links(const std::string& html, int port) {
    std::vector<std::string> out;
    const std::string self = "://localhost:" + std::to_string(port);
    for (const char* attr : {"href=\"", "action=\""}) {
        for (size_t at = html.find(attr); at != std::string::npos; at = html.find(attr, at + 1)) {
            const size_t from = at + std::strlen(attr), to = html.find('"', from);
            if (to == std::string::npos) break;
            std::string link = html.substr(from, to - from);
            const size_t host = link.find(self);
            if (host != std::string::npos && host < 6) link = link.substr(host + self.size());
            if (link.empty() || link[0] != '/' || link.rfind("//", 0) == 0) continue;
            link = link.substr(0, link.find('#'));
            // HTML escapes in attribute values (&amp; in query strings).
            for (size_t amp; (amp = link.find("&amp;")) != std::string::npos;)
                link.replace(amp, 5, "&");
            out.push_back(link);
        }
    }
    return out;
}

// The value of the hidden input `name` in a page's form ("" when absent).
std::string form_value(const std::string& html, const std::string& name) {
    const size_t at = html.find("name=\"" + name + "\"");
    if (at == std::string::npos) return "";
    const size_t tag = html.rfind('<', at), close = html.find('>', at);
    const std::string input = html.substr(tag, close - tag);
    const size_t v = input.find("value=\"");
    if (v == std::string::npos) return "";
    return input.substr(v + 7, input.find('"', v + 7) - v - 7);
}

// The cookies a reply sets, as one Cookie header line ("" when none).
std::string cookies_of(const http_reply& r) {
    std::string jar;
    for (size_t at = r.headers.find("Set-Cookie:"); at != std::string::npos;
         at = r.headers.find("Set-Cookie:", at + 1)) {
        size_t from = at + 11;
        while (r.headers[from] == ' ') ++from;
        const size_t to = r.headers.find_first_of(";\r", from);
        jar += (jar.empty() ? "" : "; ") + r.headers.substr(from, to - from);
    }
    return jar.empty() ? "" : "Cookie: " + jar + "\r\n";
}

std::string url_encode(const std::string& s) {
    std::string out;
    char hex[4];
    for (unsigned char c : s) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
            out += static_cast<char>(c);
        } else {
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

bool no_dnssd_daemon() {
    return !printer_test::fs::exists("/run/avahi-daemon/socket") ||
           std::system("pgrep -x avahi-daemon >/dev/null 2>&1") != 0;
}

} // namespace

TEST(PrinterWebPages, EveryLinkedPageAnswersAndTheServerSurvivesWithoutDnssd) {
    if (!no_dnssd_daemon())
        GTEST_SKIP() << "an avahi daemon runs here; this test is for its absence";
    printer_server server("web-pages");
    ASSERT_TRUE(server.ready());
    ASSERT_FALSE(server.add_printer("plotter", "file://" + server.device_dir().string()).empty());
    const int port = server.port();

    // Pages PAPPL and the program serve, whether or not a page links to them, then every
    // local link the pages hold, breadth first, at most 120 pages.
    // (network and TLS pages and supplies exist only where the server or driver enables
    // them, and then answer 404 here).
    std::deque<std::string> queue = {"/",
                                     "/config",
                                     "/network",
                                     "/security",
                                     "/logs",
                                     "/addprinter",
                                     "/tls-install-crt",
                                     "/tls-new-crt",
                                     "/tls-new-csr",
                                     "/plotter",
                                     "/plotter/config",
                                     "/plotter/media",
                                     "/plotter/printing",
                                     "/plotter/delete",
                                     "/plotter/supplies",
                                     "/plotter/jobs"};
    std::set<std::string> seen(queue.begin(), queue.end());
    std::map<std::string, int> answered;
    while (!queue.empty() && answered.size() < 120) {
        const std::string path = queue.front();
        queue.pop_front();
        const http_reply r = http(port, "GET", path);
        answered[path] = r.status;
        ASSERT_NE(r.status, 0) << "no answer to GET " << path << "\n"
                               << read_all(server.log_file());
        ASSERT_TRUE(answers_ipp(port, "plotter"))
            << "the server stopped answering IPP after GET " << path << "\n"
            << read_all(server.dir() / "server.out");
        // 200 (206 for the log file's tail), a redirect, or 401 where the page asks for
        // the administrator; pages of features the server lacks say 404 (the pages that
        // must exist are checked below).
        EXPECT_TRUE(r.status == 200 || r.status == 206 || r.status == 301 || r.status == 302 ||
                    r.status == 303 || r.status == 401 || r.status == 404)
            << "GET " << path << " answered " << r.status;
        if (r.status >= 300 && r.status < 400) {
            for (const std::string& l : local_links("href=\"" + r.header("Location") + "\"", port))
                if (seen.insert(l).second) queue.push_back(l);
        }
        if (r.header("Content-Type").find("text/html") == std::string::npos) continue;
        for (const std::string& l : local_links(r.body, port))
            if (seen.insert(l).second) queue.push_back(l);
    }
    std::string list;
    for (const auto& [path, status] : answered) list += path + " " + std::to_string(status) + "\n";
    RecordProperty("pages", list);
    std::printf("%s", list.c_str());

    // The core pages answer with content, not "not found".
    for (const char* page : {"/", "/config", "/security", "/logs", "/addprinter", "/plotter",
                             "/plotter/", "/plotter/config", "/plotter/media", "/plotter/printing",
                             "/plotter/delete", "/plotter/jobs"})
        EXPECT_EQ(answered[page], 200) << page << "\n" << list;
    EXPECT_GE(answered.size(), 15u) << list;
    EXPECT_TRUE(answers_ipp(port, "plotter"));
}

TEST(PrinterWebPages, AddPrinterFormAddsAPrinterAndFormsWithoutSessionAreRefused) {
    if (!no_dnssd_daemon())
        GTEST_SKIP() << "an avahi daemon runs here; this test is for its absence";
    printer_server server("web-add");
    ASSERT_TRUE(server.ready());
    ASSERT_FALSE(server.add_printer("plotter", "file://" + server.device_dir().string()).empty());
    const int port = server.port();

    const http_reply page = http(port, "GET", "/addprinter");
    ASSERT_EQ(page.status, 200) << page.headers;
    EXPECT_NE(page.body.find("enter the plotter's address"), std::string::npos)
        << "without DNS-SD the page asks for the address instead of listing devices";
    const std::string session = form_value(page.body, "session");
    ASSERT_FALSE(session.empty()) << "the form carries a session field";
    const std::string cookie = cookies_of(page);
    const std::string device = url_encode("file://" + server.device_dir().string());

    // Without the session field: refused, no printer added.
    const http_reply forged =
        http(port, "POST", "/addprinter", cookie,
             "printer_name=forged&driver_name=orvix_9270_rtl&device_uri=" + device);
    EXPECT_EQ(forged.status, 200);
    EXPECT_NE(forged.body.find("Invalid form submission"), std::string::npos) << forged.body;
    ASSERT_TRUE(answers_ipp(port, "plotter"));
    EXPECT_FALSE(answers_ipp(port, "forged"));

    // The same with a wrong session value.
    const http_reply wrong =
        http(port, "POST", "/addprinter", cookie,
             "session=0123456789abcdef&printer_name=forged&driver_name=orvix_9270_rtl&device_uri=" +
                 device);
    EXPECT_NE(wrong.body.find("Invalid form submission"), std::string::npos) << wrong.body;
    EXPECT_FALSE(answers_ipp(port, "forged"));

    // Deleting a printer without the session field leaves it in place.
    const http_reply del = http(port, "POST", "/plotter/delete", cookie, "");
    EXPECT_TRUE(answers_ipp(port, "plotter")) << del.status << "\n" << del.body;

    // A driver the server does not have: refused with a message, nothing added.
    const http_reply nodriver = http(
        port, "POST", "/addprinter", cookie,
        "session=" + session + "&printer_name=nodriver&driver_name=nosuch&device_uri=" + device);
    EXPECT_NE(nodriver.body.find("Unable to use that driver"), std::string::npos) << nodriver.body;
    EXPECT_FALSE(answers_ipp(port, "nodriver"));

    // With the session field: the printer is added and the page sends the browser to it.
    const http_reply added = http(port, "POST", "/addprinter", cookie,
                                  "session=" + session +
                                      "&printer_name=webadded&driver_name=orvix_9270_rtl"
                                      "&device_uri=" +
                                      device);
    EXPECT_TRUE(added.status == 302 || added.status == 303) << added.status << "\n" << added.body;
    EXPECT_NE(added.header("Location").find("/webadded"), std::string::npos) << added.headers;
    EXPECT_TRUE(answers_ipp(port, "webadded")) << read_all(server.log_file());
    const printer_test::command_result listed = server.sub("printers");
    EXPECT_NE(listed.out.find("webadded"), std::string::npos) << listed.out;
    EXPECT_EQ(listed.out.find("forged"), std::string::npos) << listed.out;
    EXPECT_EQ(http(port, "GET", "/webadded").status, 200);
}
