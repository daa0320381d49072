#pragma once

#include "common/channel.h"

#include <cstddef>
#include <functional>
#include <string>

using LineChannel = Channel<std::string>;

// Reads bytes from `read` (a count, 0 at the end, -1 on failure) and queues
// each line without its line feed and one carriage return before it. Stops
// at the end, on a failure, on a line that is not UTF-8, or when the loop is
// gone; then closes the sending end.
void read_lines(const std::function<long(char*, std::size_t)>& read, LineChannel& lines);

// Starts the reader thread on standard input. False when no thread can be started.
bool start_line_reader(ChannelPtr<std::string> lines);
