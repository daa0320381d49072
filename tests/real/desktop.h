#pragma once

// A virtual X display for the real engine: screen 0 shows a moving test
// pattern in the window "Mire" and a white window "Blanc"; screen 1 stays black.

#include <string>

struct Desktop {
    std::string display; // ":N"
};

// Starts the display and its windows once; empty display on failure.
const Desktop& desktop();
void stop_desktop();

// Runs a command and returns what it printed on standard output.
std::string command_output(const std::string& command);
