// Times the agent from outside, as a controller sees it: spawn to "ready",
// start to "started", save to "saved", stop to "finished", and the CPU the
// agent uses while it records 1280x720 at 30 fps, and its resident memory then.
#include "agent_process.h"
#include "timing.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace {

// User plus system CPU seconds of a process, all its threads included.
double cpu_seconds(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15) {
            stime = std::stoull(field);
            break;
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

using clock_type = std::chrono::steady_clock;

TEST(AgentTiming, OneSession) {
    const char* root = std::getenv("KALTO_BENCH_ROOT");
    ASSERT_NE(root, nullptr);
    std::string out =
        std::string(std::getenv("KALTO_BENCH_OUT") ? std::getenv("KALTO_BENCH_OUT") : "/tmp");
    auto spawned = clock_type::now();
    AgentProcess agent({.installed_root = root});
    agent.expect_event("ready", 30s);
    auto ready = clock_type::now();

    nlohmann::json start = {{"cmd", "start"},
                            {"mode", "both"},
                            {"path", out + "/agent.mp4"},
                            {"replayDir", out},
                            {"source", {{"kind", "monitor"}, {"monitor", "0"}}},
                            {"baseWidth", 1280},
                            {"baseHeight", 720},
                            {"width", 1280},
                            {"height", 720},
                            {"fps", 30},
                            {"bitrate", 2500},
                            {"audio", {{"kind", "desktop"}}}};
    auto start_sent = clock_type::now();
    agent.send(start.dump());
    agent.expect_event("started", 30s);
    auto started = clock_type::now();

    double cpu_before = cpu_seconds(agent.pid());
    auto window = clock_type::now();
    EXPECT_FALSE(agent.next_event(10s)); // ten seconds of recording
    double cores = (cpu_seconds(agent.pid()) - cpu_before) /
                   std::chrono::duration<double>(clock_type::now() - window).count();

    double rss = resident_mib(std::to_string(agent.pid()));

    auto save_sent = clock_type::now();
    agent.send(R"({"cmd":"save"})");
    agent.expect_event("saved", 30s);
    auto saved = clock_type::now();

    auto stop_sent = clock_type::now();
    agent.send(R"({"cmd":"stop"})");
    agent.expect_event("finished", 60s);
    auto finished = clock_type::now();
    agent.send(R"({"cmd":"quit"})");
    EXPECT_EQ(agent.wait_exit(), 0);

    print_figures(elapsed_ms(spawned, ready), elapsed_ms(start_sent, started),
                  elapsed_ms(save_sent, saved), elapsed_ms(stop_sent, finished), cores, rss);
}

} // namespace
