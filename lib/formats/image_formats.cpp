// Registration of the TIFF and JPEG sources with the image sources.
#include "formats/image_formats.h"

void image_formats_register() {
    image_sources_add(open_tiff_source);
    image_sources_add(open_jpeg_source);
}
