#pragma once

#include <string>
#include <vector>

// What the process does, chosen by its arguments.
enum class CommandLineMode {
    agent,   // the recording agent: no argument, or none it knows
    list,    // "--list": the capture plug-ins' monitors and windows, one line
    version, // "--version": the agent's own version, one line, no engine
};

// The first of "--list" and "--version" decides; every other argument is ignored.
CommandLineMode command_line_mode(const std::vector<std::string>& arguments);
