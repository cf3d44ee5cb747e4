// The JPEG image source fed any file: see fuzz_image_formats.h for what is checked.
#include "fuzz_image_formats.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
#if KVRAC_HAVE_IMAGE_FORMATS
    return fuzz_image_opener(open_jpeg_source, "jpg", data, size);
#else
    (void)data, (void)size;
    return 0;
#endif
}
