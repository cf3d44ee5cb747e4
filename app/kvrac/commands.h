// The kvrac program's commands.
#pragma once

// Runs the program with its command line. Returns the exit status: 0 done, 1 the
// driver answered a failure (or a store is missing), 2 bad usage or bad input.
int kvrac_main(int argc, char** argv);
