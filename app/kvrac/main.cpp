#include "kvrac/commands.h"
#if KVRAC_HAVE_PDF
#include "pdf/pdf_source.h"
#endif

int main(int argc, char** argv) {
#if KVRAC_HAVE_PDF
    pdf_source_register();
#endif
    return kvrac_main(argc, argv);
}
