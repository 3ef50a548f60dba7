// The program's entry: the start-up sequence, the main loop and the shutdown sequence.
#pragma once
#include "core/datacheck.h"

// Runs the whole program and returns its exit code (0 or 1). Fatal conditions that end
// the process early print their message on stderr (command line) or in the error box.
// digests are the game data and physics files the program was built for.
int app_main(int argc, char **argv, const DataDigests &digests);
