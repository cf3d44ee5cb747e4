#include "kvrac/commands.h"
#if KVRAC_HAVE_PDF
#include "pdf/pdf_source.h"
#endif

#if KVRAC_HAVE_IMAGE_FORMATS
#include "formats/image_formats.h"
#endif

int main(int argc, char** argv) {
#if KVRAC_HAVE_PDF
    pdf_source_register();
#endif
#if KVRAC_HAVE_IMAGE_FORMATS
    image_formats_register(); // TIFF and JPEG images beside PNG
#endif
    return kvrac_main(argc, argv);
}
