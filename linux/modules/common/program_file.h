#pragma once

// The program a process runs, as this system says it.

#include <string>
#include <sys/types.h>

// A program replaced on disk while it runs is named "<name> (deleted)", by its
// link in /proc and by clients that read their own: the name without it.
std::string without_deleted(std::string name);

// The file name of the program `pid` runs; empty when it cannot be read (the
// process is gone, or another user's).
std::string program_file(pid_t pid);
