#include "protocol_log.h"

#include "main/command_loop.h"
#include "protocol/command.h"

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
        if (!is_blank_line(line) && parse_command(line).command)
            log.accepted += line + "\n";
    }
}

void save_protocol_log(const ProtocolLog& log, const std::string& events, const std::string& root) {
    namespace fs = std::filesystem;
    fs::path dir = KALTO_PROTOCOL_LOG_DIR;
    std::error_code ignored;
    fs::create_directories(dir, ignored);
    std::string name = fs::path(root).filename().string();
    std::ofstream(dir / (name + ".commands"), std::ios::binary) << log.accepted;
    std::ofstream(dir / (name + ".events"), std::ios::binary) << events;
}
