#pragma once

// What each agent of the suites was sent and answered, kept for the schema
// check that runs after them (tests/schema/check_protocol.py). Linux builds only:
// the check runs there.

#include <string>
#include <string_view>

struct ProtocolLog {
    std::string pending;  // the start of a line not yet ended
    std::string accepted; // whole lines that the agent takes as commands
};

// Adds the lines completed by `bytes` that the agent accepts as commands.
void log_sent(ProtocolLog& log, std::string_view bytes);

// Writes the accepted commands and the agent's standard output into the log
// folder, under the name of the agent's tree.
void save_protocol_log(const ProtocolLog& log, const std::string& events, const std::string& root);
