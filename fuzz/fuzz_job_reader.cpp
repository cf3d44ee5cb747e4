// Fuzz target: the job reader and its renderer over arbitrary bytes, with a small
// picture so that each input is drawn quickly.
#include <cstddef>
#include <cstdint>
#include <string>

#if KVRAC_HAVE_JOBREAD
#include "jobread/job_reader.h"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
#if KVRAC_HAVE_JOBREAD
    view_request want;
    want.long_side = 256;
    want.max_pixels = 1 << 20;
    view_picture picture;
    job_summary summary;
    std::string error;
    read_job_memory(data, size, want, &picture, &summary, &error);
#else
    (void)data;
    (void)size;
#endif
    return 0;
}
