// The page header a client's raster document really carries.
//
// PAPPL 1.3 reads each page header of a PWG or Apple raster document itself and hands
// the page callbacks a header of its own making unless the page has 8 bits per dot or
// more: the lines of a 1-bit page then arrive under an 8-bit grey header of the job's
// media, and would be printed as grey dots. The page callbacks run in the thread that
// reads the document, right after its header, so the header read last in a thread is
// the page's own. This program's definition of libcups' header reader is the one
// PAPPL calls; it records each header and passes the call on to libcups.
#include <dlfcn.h>

#include <cups/raster.h>

#include "kvrac-printer/printer_app.h"

namespace {

using read_header_fn = unsigned (*)(cups_raster_t*, cups_page_header2_t*);

// The header read last in this thread, when the read succeeded.
thread_local cups_page_header2_t last_header;
thread_local bool have_header = false;

read_header_fn libcups_read_header() {
    static const read_header_fn real =
        reinterpret_cast<read_header_fn>(::dlsym(RTLD_NEXT, "cupsRasterReadHeader2"));
    return real;
}

} // namespace

extern "C" unsigned cupsRasterReadHeader2(cups_raster_t* r, cups_page_header2_t* h) {
    const read_header_fn real = libcups_read_header();
    const unsigned ok = real ? real(r, h) : 0;
    have_header = ok != 0;
    if (have_header) last_header = *h;
    return ok;
}

const cups_page_header2_t* document_page_header() {
    return have_header ? &last_header : nullptr;
}

void forget_document_page_header() {
    have_header = false;
}
