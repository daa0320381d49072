#pragma once

// A virtual X display for the real engine: screen 0 shows a moving test
// pattern in the window "Mire" and a white window "Blanc" entirely covered by a
// red window "Cache"; screen 1 stays black.

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

struct Desktop {
    std::string display; // ":N"
};

// Starts the display and its windows once; empty display on failure.
const Desktop& desktop();
void stop_desktop();

// Sends SIGTERM to each process, then SIGKILL to those not ended within `grace`;
// returns once every one is reaped.
void end_processes(const std::vector<pid_t>& pids, std::chrono::milliseconds grace);

// Runs a command and returns what it printed on standard output.
std::string command_output(const std::string& command);
