// The configuration sequence, message by message.
#include "link/config_sequence.h"

#include <cstdio>
#include <vector>

#include "host/wire.h"
#include "link/session.h"
#include "settings/dialog_options.h"

int run_configuration(bool reset, const dialog_script* script) {
    const bool scripted = script && !session.interactive;
    if (send_identification(session.config) != 0) return 1;
    std::vector<uint8_t> rec;

    const int codes[] = {11, 20, 21, 22, 23, 25, 40, 44, 47};
    for (int code : codes) {
        rec = new_record(code);
        if (code == 11) {
            le_put_i16(rec.data(), 4, 3);
            le_put_u32(rec.data(), 11, 0);
        }
        if (code == 21) le_put_i16(rec.data(), 6, reset ? 1 : 0);
        if (code == 21 && scripted) arm_dialog_script(*script);
        session.config(rec.data());
        if (le_i16(rec.data(), 0) != 0) {
            if (code == 47 && !session.save_error.empty())
                std::fprintf(stderr, "kvrac: %s\n", session.save_error.c_str());
            return 1;
        }
        if (code == 21 && scripted && report_dialog_outcome(*script) != 0) return 2;
    }
    return 0;
}
