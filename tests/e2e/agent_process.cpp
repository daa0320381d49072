#include "agent_process.h"
#include "agent_process_shared.h"

#include <gtest/gtest.h>
#include <sstream>

#include <filesystem>
#include <fstream>
#include <mutex>

std::filesystem::path prepare_tree(const std::string& root, const AgentOptions& options) {
    namespace fs = std::filesystem;
    fs::create_directories(fs::path(root) / "tmp");
    if (!options.installed_root.empty())
        return fs::path(options.installed_root) / "bin" / "64bit";
    fs::path bin = fs::path(root) / "bin" / "64bit";
    fs::create_directories(bin);
    fs::copy_file(KALTO_AGENT_PATH, bin / test_platform::agent_file);
    if (!options.engine.empty())
        fs::copy_file(fs::path(KALTO_FAKES_DIR) / options.engine /
                          (options.engine + test_platform::library_suffix),
                      bin / test_platform::engine_file);
    for (const std::string& module : options.modules) {
        fs::path dir = fs::path(root) / "core" / module;
        fs::create_directories(dir);
        std::ofstream(dir / (module + test_platform::library_suffix)).put('\0');
    }
    return bin;
}

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

const std::vector<std::string> all_modules = {"win-capture", "win-wasapi", "obs-ffmpeg", "obs-x264",
                                              "obs-nvenc",   "obs-qsv11",  "obs-outputs"};

std::string only_line(AgentProcess& agent, int code) {
    EXPECT_EQ(agent.wait_exit(), code) << agent.stderr_text();
    std::vector<std::string> lines = agent.stdout_lines();
    EXPECT_EQ(lines.size(), 1u) << agent.stdout_text();
    return lines.empty() ? "" : lines[0];
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
    start.update(extra);
    return start.dump();
}

void AgentProcess::close_output() {
    // The reading thread closes its end, so the agent's later writes fail.
    shared_->stop_reading_out = true;
    if (shared_->out_thread.joinable())
        shared_->out_thread.join();
}

std::vector<std::string> AgentProcess::stdout_lines() const {
    std::vector<std::string> lines;
    std::istringstream in(stdout_text());
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string AgentProcess::stdout_text() const {
    std::lock_guard<std::mutex> guard(shared_->lock);
    return shared_->out;
}

std::string AgentProcess::stderr_text() const {
    std::lock_guard<std::mutex> guard(shared_->lock);
    return shared_->err;
}

std::optional<nlohmann::json> AgentProcess::next_event(std::chrono::milliseconds deadline) {
    std::unique_lock<std::mutex> lock(shared_->lock);
    std::size_t feed = std::string::npos;
    shared_->changed.wait_for(lock, deadline, [&] {
        feed = shared_->out.find('\n', shared_->taken);
        return feed != std::string::npos || shared_->out_closed;
    });
    feed = shared_->out.find('\n', shared_->taken);
    if (feed == std::string::npos)
        return std::nullopt;
    std::string line = shared_->out.substr(shared_->taken, feed - shared_->taken);
    shared_->taken = feed + 1;
    return nlohmann::json::parse(line);
}

nlohmann::json AgentProcess::expect_event(const std::string& kind,
                                          std::chrono::milliseconds deadline) {
    auto until = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        auto event = next_event(left);
        if (!event)
            break;
        if (event->value("event", "") == kind)
            return *event;
    }
    ADD_FAILURE() << "no \"" << kind << "\" event; stdout:\n"
                  << stdout_text() << "stderr:\n"
                  << stderr_text();
    return nlohmann::json::object();
}
