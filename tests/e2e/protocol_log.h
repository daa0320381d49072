#pragma once

// What each agent of the suites was sent and answered, kept for the schema
// check that runs after them (tests/schema/check_protocol.py). Linux builds only:
// the check runs there.

#include <string>
#include <string_view>
#include <vector>

struct ProtocolLog {
    std::string pending;  // the start of a line not yet ended
    std::string accepted; // whole lines that the agent takes as commands
};

// Adds the lines completed by `bytes` that the agent accepts as commands.
void log_sent(ProtocolLog& log, std::string_view bytes);

// What an agent started with `arguments` writes on standard output: "events",
// "list" (the list, or the event of a failed bring-up), or "" for nothing to check.
std::string protocol_log_kind(const std::vector<std::string>& arguments);

// Writes the accepted commands and the agent's standard output into the log
// folder, under the name of the agent's tree and with `kind` as extension.
void save_protocol_log(const ProtocolLog& log, const std::string& output, const std::string& root,
                       const std::string& kind);
