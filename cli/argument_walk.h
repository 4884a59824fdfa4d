// The walk over the command line: every argument that is not a directory is one file; a directory
// stands for the regular files directly inside it.
#pragma once

#include "walk/read_ahead.h"

// Hands every file named by the arguments to the per-file report, in command-line order. With no
// argument the current directory is walked. Always returns 0.
int WalkArguments(int argc, char** argv);

// The same with the look-ahead reading of the caller's choosing.
int WalkArguments(int argc, char** argv, ReadAhead& read_ahead);
