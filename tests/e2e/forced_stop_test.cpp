#include "agent_process.h"

#include <gtest/gtest.h>

namespace {

using nlohmann::json;

// These wait out the 20 s an output has to confirm its stop.

TEST(ForcedStop, FirstOutputThatNeverConfirms) {
    AgentProcess agent({.env = {{"FAKE_OBS_OUTPUT_STOP", "ffmpeg_muxer=never"}}});
    agent.expect_event("ready");
    agent.send(start_line());
    agent.expect_event("started");
    auto asked = std::chrono::steady_clock::now();
    agent.send(R"({"cmd":"stop"})");
    json finished = agent.expect_event("finished", 30s);
    auto waited = std::chrono::steady_clock::now() - asked;
    EXPECT_GE(waited, 19s);
    EXPECT_EQ(finished["code"], -1);
    EXPECT_EQ(finished["error"], "arrêt forcé après 20 s");
    agent.close_input();
    EXPECT_EQ(agent.wait_exit(), 0);
    std::vector<std::string> journal = agent.journal();
    auto force = std::find(journal.begin(), journal.end(), "obs_output_force_stop O1");
    ASSERT_NE(force, journal.end());
    EXPECT_EQ(*(force + 1), "obs_output_release O1");
}

// The replay buffer is not even ended by its forced stop: its release, and the engine's
// shutdown, would wait for ever. It is left to the engine, and the agent still ends.
TEST(ForcedStop, LaterOutputForcedWhileTheFirstConfirms) {
    AgentProcess agent({.env = {{"FAKE_OBS_OUTPUT_STOP", "replay_buffer=stuck"}}});
    agent.expect_event("ready");
    agent.send(start_line({{"mode", "both"}, {"replayDir", "/clips"}}));
    agent.expect_event("started");
    agent.send(R"({"cmd":"quit"})");
    json finished = agent.expect_event("finished", 40s);
    EXPECT_EQ(finished["code"], 0);
    EXPECT_EQ(finished["error"], nullptr);
    EXPECT_EQ(*agent.next_event(), json({{"event", "bye"}}));
    EXPECT_EQ(agent.wait_exit(), 0);
    std::vector<std::string> journal = agent.journal();
    EXPECT_EQ(journal_calls(journal, "obs_output_force_stop"),
              (std::vector<std::string>{"obs_output_force_stop O2"}));
    EXPECT_EQ(journal_calls(journal, "obs_output_release"),
              (std::vector<std::string>{"obs_output_release O1"}));
    EXPECT_TRUE(journal_calls(journal, "obs_shutdown").empty());
}

} // namespace
