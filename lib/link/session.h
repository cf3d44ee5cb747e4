// The host side of the driver interface: the service table the driver calls and the
// message records the host sends. One session per process: the driver keeps
// process-wide state, so a program that runs several jobs at once runs each in a
// process of its own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/host_services.h"

constexpr int message_record_size = 2064;

struct host_session {
    uint8_t service_table[256]; // handed to PLADI; u32 host addresses at fixed offsets
    const uint8_t* descriptor;  // the driver's descriptor, from PLADI
    message_handler_fn* config; // configuration handler (descriptor offset 410)
    message_handler_fn* plot;   // plot handler (descriptor offset 414)
    std::string store;          // settings store path
    std::FILE* job;             // job output; null = bytes are discarded
    bool job_write_failed;      // a write to the job output failed
    int job_errno;              // the system's error code of that failed write
    size_t job_unsent;          // bytes written since the system was last asked to
                                // write them behind (output_write_behind)
    std::string save_error;     // why the last save failed, for the user
    bool print_to_stdout;       // driver texts go to standard output (reports)
    bool interactive;           // the driver's dialogs are shown to a person (Windows only)
    bool keep_store;            // saves land in `kept` and leave the store untouched
    std::vector<uint8_t> kept;  // the last record saved while keep_store is set
};

extern host_session session;

// Builds the service table, calls PLADI and finds the two handlers. Returns 0, or 1
// (with a message on standard error) when the descriptor lacks a handler.
int host_open(const std::string& store);

// A fresh zeroed record of `size` bytes carrying `code` at offset 0.
std::vector<uint8_t> new_record(int code, int size = message_record_size);

// Sends 49 (identify, as the drawing host) and 50 (French texts) to a handler.
// Returns 0, or 1 when the driver refused the identification.
int send_identification(message_handler_fn* handler);
