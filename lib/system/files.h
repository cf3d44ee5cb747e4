// The file and console operations kvrac needs whose portable forms do not behave alike
// on Linux and on Windows, or that must never destroy what the user points at: writing
// a file the user names (a job, the settings store) under a unique temporary name
// beside it and moving it into place whole; writing straight to devices, pipes and
// standard output; removing temporary files on every failure and on a stopping signal;
// binary standard output and UTF-8 text on a console.
#pragma once

#include <cstdio>
#include <string>

// Renames `from` to `to`, replacing `to` when it exists, and has the rename reach the
// disk before returning. Returns 0, or -1 with *why saying what went wrong; `from` is
// left in place on failure.
int file_replace(const std::string& from, const std::string& to, std::string* why);

// The file that receives bytes written to `path`: `path` itself, or, when it is a
// symbolic link, what the chain of links ends at (which may not exist yet), so that
// replacing the file keeps the link. Returns "" with *why set when the chain loops.
// Windows has no links for kvrac to follow: there it returns `path`.
std::string file_link_target(const std::string& path, std::string* why);

// A file the user named, being written.
struct output_file {
    std::FILE* stream;  // where the bytes go; null once committed or discarded
    std::string name;   // the name the user gave, for messages
    std::string temp;   // the temporary file beside the target; "" = written straight through
    std::string target; // what the temporary file replaces when committed
    int guard;          // the temporary file's slot in the signal cleanup, -1 = none
};

// Opens `path` for writing. A character or block device, a FIFO, a socket, or a name
// of an open descriptor (/dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N) is
// written straight through: nothing is created, renamed or truncated. Anything else is
// written to a new file beside the link target (file_link_target), created
// exclusively under a unique name and removed if the program stops on SIGINT, SIGTERM
// or SIGHUP before it is committed; the target is untouched until output_commit.
// Returns 0, or -1 with *why naming the file and the system's reason.
int output_open(const std::string& path, output_file& out, std::string* why);

// Flushes the bytes to the disk and moves the temporary file over the target (for a
// straight-through output: flushes and closes). The replaced file's permission bits
// are kept; a new file gets the usual ones (0666 less the umask). Returns 0, or -1
// with *why naming the file and the system's reason; the temporary file is then
// removed and the target left as it was.
int output_commit(output_file& out, std::string* why);

// Has the system start writing what `stream` holds so far to its disk, without waiting
// for it: the bytes of a large job then reach the disk while the rest of the job is
// made, and the commit's fsync has little left to wait for. Does nothing where the
// stream is no file (a pipe, a device) or the system cannot.
void output_write_behind(std::FILE* stream);

// Closes the output and removes its temporary file; the target is left as it was.
// Harmless on an output already committed or discarded.
void output_discard(output_file& out);

// Keeps `path` (a temporary file just created) in a fixed buffer that the handlers of
// SIGINT, SIGTERM and SIGHUP remove before letting the signal end the program; the
// handlers are installed on the first call, except for a signal the program was
// started with ignored. Also has an exceeded file-size limit fail the write (EFBIG)
// instead of ending the program, so that it is reported and cleaned up like any other
// write failure. Returns the slot to give back to cleanup_forget, or -1 when every slot
// is taken or the path is too long (the file is then not guarded).
int cleanup_guard(const std::string& path);

// Drops the path from the cleanup (once it was renamed or removed). -1 is ignored.
void cleanup_forget(int slot);

// Has a console show the UTF-8 texts kvrac prints: on Windows, when standard output or
// error is a console, its output code page is set to UTF-8 until the program ends
// (the console's own code page would show each accented letter as two wrong ones).
// Files and pipes get the bytes as they are. Nothing to do elsewhere.
void console_utf8();

// Makes standard output carry bytes unchanged (Windows otherwise turns each line feed
// into carriage return and line feed). Call before the first byte is written.
void stdout_binary();

#ifdef _WIN32
// The system's text for a GetLastError code, without its final full stop and line
// end; "error N" when the system has none.
std::string win32_error_text(unsigned long code);
#endif
