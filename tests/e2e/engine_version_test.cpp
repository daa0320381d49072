// Our Linux engine library in front of an engine that has the divisor-taking
// raw-video entry point itself and implements the older one through it.
#include "agent_process.h"

#include <gtest/gtest.h>

TEST(RawVideo, LibraryForLibobs29ForwardsToAnEngineThatHasTheEntryPoint) {
    AgentProcess agent(
        AgentOptions{.engine = "compat_over_v30", .env = {{"FAKE_OBS_TICK_MS", "2"}}});
    agent.expect_event("ready");
    agent.send(start_line({{"fps", 25}}));
    agent.expect_event("started");
    // Frames reach the agent's probe through the engine's own entry point.
    int examined = 0;
    for (auto until = std::chrono::steady_clock::now() + 10s;
         examined == 0 && std::chrono::steady_clock::now() < until;) {
        agent.send(R"({"cmd":"stats"})");
        examined = agent.expect_event("stats")["examined"].get<int>();
    }
    EXPECT_GT(examined, 0);
    agent.send(R"({"cmd":"stop"})");
    agent.expect_event("finished");
    agent.close_input();
    EXPECT_EQ(agent.wait_exit(), 0);
    // The engine got the agent's own divisor once, and one matching removal.
    std::vector<std::string> journal = agent.journal();
    auto added = journal_calls(journal, "obs_add_raw_video_callback2");
    ASSERT_EQ(added.size(), 1u);
    EXPECT_NE(added[0].find("divisor=12"), std::string::npos) << added[0];
    EXPECT_EQ(journal_calls(journal, "obs_remove_raw_video_callback").size(), 1u);
    EXPECT_TRUE(journal_calls(journal, "misuse").empty());
}
