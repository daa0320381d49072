#include "agent_process.h"

#include <fstream>
#include <mutex>

std::vector<std::string> AgentProcess::journal() const {
    std::vector<std::string> lines;
    std::ifstream in(root_ + "/journal");
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> journal_calls(const std::vector<std::string>& journal,
                                       const std::string& prefix) {
    std::vector<std::string> calls;
    for (const std::string& line : journal)
        if (line.rfind(prefix, 0) == 0)
            calls.push_back(line);
    return calls;
}

std::string start_line(nlohmann::json extra) {
    nlohmann::json start = {{"cmd", "start"},
                            {"mode", "file"},
                            {"path", "/tmp/kalto-e2e/video.mp4"},
                            {"source", {{"kind", "window"}, {"window", "Jeu:GameWindow:jeu.exe"}}},
                            {"baseWidth", 1920},
                            {"baseHeight", 1080},
                            {"width", 1280},
                            {"height", 720},
                            {"fps", 30},
                            {"bitrate", 6000},
                            {"audio", {{"kind", "none"}}}};
    for (auto& [key, value] : extra.items())
        start[key] = value;
    return start.dump();
}
