#pragma once

#include "main/line_reader.h"

#include <optional>
#include <string>
#include <string_view>

// True when the line holds nothing but Unicode white space.
bool is_blank_line(std::string_view line);

struct Recording;

// What the loop does after one line.
enum class LoopStep { Continue, Quit };

// Handles one line from the reader: blank lines are skipped, unreadable ones
// reported, commands dispatched against the active recording slot.
LoopStep handle_line(const std::string& line, std::optional<Recording>& active);

// Handles lines until `quit` or the end of input, then stops the recording,
// shuts the engine down and emits "bye". Returns the exit code.
int run_command_loop(LineChannel& lines);
