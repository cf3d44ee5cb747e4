// PJL: the text lines after a universal exit, up to the next escape. The reader keeps
// the settings a user would want to see (finisher programme, margins, bin, language).
#include "jobread/reader.h"

void read_pjl(job_state& j) {
    const uint64_t from = src_offset(j.src);
    std::string line;
    for (;;) {
        int c = src_peek(j.src);
        if (c < 0 || c == 0x1B) break;
        src_get(j.src);
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.rfind("@PJL", 0) == 0) {
                std::string body = line.size() > 5 ? line.substr(5) : "";
                if (j.summary && !body.empty()) j.summary->pjl.push_back(body);
            } else if (!line.empty()) {
                note_unknown(j, "PJL text", src_offset(j.src) - line.size() - 1);
            }
            line.clear();
        } else if (line.size() < 4096) {
            line += static_cast<char>(c);
        }
    }
    if (!line.empty()) note_unknown(j, "PJL text", src_offset(j.src) - line.size());
    if (j.summary) j.summary->bytes.pjl += src_offset(j.src) - from;
}
