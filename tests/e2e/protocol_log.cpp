#include "protocol_log.h"

#include "main/command_line.h"
#include "main/command_loop.h"
#include "protocol/command.h"
#include "recording/recording.h"

#include <filesystem>
#include <fstream>

void log_sent(ProtocolLog& log, std::string_view bytes) {
    log.pending.append(bytes);
    std::size_t end;
    while ((end = log.pending.find('\n')) != std::string::npos) {
        std::string line = log.pending.substr(0, end);
        log.pending.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (is_blank_line(line))
            continue;
        ParsedCommand parsed = parse_command(line);
        if (!parsed.command)
            continue;
        // A start in a mode the agent refuses is not accepted either.
        auto* start = std::get_if<Start>(&parsed.command->value);
        if (!start || is_recording_mode(start->mode))
            log.accepted += line + "\n";
    }
}

std::string protocol_log_kind(const std::vector<std::string>& arguments) {
    switch (command_line_mode(arguments)) {
    case CommandLineMode::list:
        return "list";
    case CommandLineMode::version:
        return "";
    case CommandLineMode::agent:
        break;
    }
    return "events";
}

void save_protocol_log(const ProtocolLog& log, const std::string& output, const std::string& root,
                       const std::string& kind) {
    namespace fs = std::filesystem;
    if (kind.empty())
        return;
    fs::path dir = KALTO_PROTOCOL_LOG_DIR;
    std::error_code ignored;
    fs::create_directories(dir, ignored);
    std::string name = fs::path(root).filename().string();
    std::ofstream(dir / (name + ".commands"), std::ios::binary) << log.accepted;
    std::ofstream(dir / (name + "." + kind), std::ios::binary) << output;
}
