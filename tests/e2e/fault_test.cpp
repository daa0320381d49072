#include "agent_process.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using nlohmann::json;

json error(const std::string& message) {
    return {{"event", "error"}, {"message", message}};
}

#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
constexpr bool memory_readable = true;
#else
constexpr bool memory_readable = false; // no /proc, or a sanitizer's bookkeeping swells it
#endif

// The agent's peak resident memory in MiB; 0 where it cannot be read.
double peak_memory_mib(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; memory_readable && std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0.0;
}

// Reads the agent's peak while it still runs (an ended process has no
// figures), ends it, and checks the peak against `bound` MiB.
void quit_within_memory(AgentProcess& agent, double bound, const char* what) {
    double peak = peak_memory_mib(agent.pid());
    agent.send(R"({"cmd":"quit"})");
    EXPECT_EQ(*agent.next_event(), json({{"event", "bye"}}));
    EXPECT_EQ(agent.wait_exit(), 0);
    EXPECT_LT(peak, bound);
    if (memory_readable) {
        EXPECT_GT(peak, 0.0); // the figure was really read
    }
    std::printf("peak resident memory with %s: %.1f MiB\n", what, peak);
}

TEST(Faults, TenMegabyteLines) {
    AgentProcess agent;
    agent.expect_event("ready");
    const std::string padding(10 * 1024 * 1024, 'x');
    agent.send(R"({"cmd":"stats","padding":")" + padding + "\"}");
    EXPECT_EQ(*agent.next_event(30s), error("aucun enregistrement en cours"));
    agent.send("[" + padding);
    json unreadable = *agent.next_event(30s);
    EXPECT_EQ(unreadable["message"].get<std::string>().rfind("commande illisible : ", 0), 0u);
    // Nested arrays up to the end of a 10 MB line are refused, not followed down.
    agent.send(std::string(10 * 1024 * 1024, '['));
    unreadable = *agent.next_event(30s);
    EXPECT_NE(unreadable["message"].get<std::string>().find("recursion limit"), std::string::npos);
    // A handful of copies of the line at most.
    quit_within_memory(agent, 200.0, "10 MB lines");
}

TEST(Faults, BurstOfAHundredThousandCommands) {
    AgentProcess agent;
    agent.expect_event("ready");
    std::string burst;
    for (int i = 0; i < 50000; ++i)
        burst += "{\"cmd\":\"stats\"}\n{\"cmd\":\"save\"}\n";
    agent.send_raw(burst);
    for (int i = 0; i < 100000; ++i) {
        auto event = agent.next_event(30s);
        ASSERT_TRUE(event) << i;
        ASSERT_EQ((*event)["message"],
                  i % 2 ? "aucun tampon de replay en cours" : "aucun enregistrement en cours")
            << i;
    }
    // The queued lines (1.6 MB of input) and nothing more than a small multiple of them.
    quit_within_memory(agent, 200.0, "a burst of 100 000 commands");
}

TEST(Faults, ControllerDisappearsMidRecording) {
    AgentProcess agent;
    agent.expect_event("ready");
    agent.send(start_line({{"mode", "both"}}));
    agent.expect_event("started");
    agent.close_output();
    agent.close_input();
    EXPECT_EQ(agent.wait_exit(), 0);
    std::vector<std::string> journal = agent.journal();
    EXPECT_EQ(journal_calls(journal, "obs_output_release").size(), 2u);
    EXPECT_EQ(journal_calls(journal, "obs_shutdown").size(), 1u);
}

} // namespace
