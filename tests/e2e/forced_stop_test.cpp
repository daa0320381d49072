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

// Both outputs were asked to stop together and share the 20 s: then the file output's
// forced stop ends it, the replay buffer's does not. That one is left to the engine,
// which can then record no more (nor shut down), and the agent still ends.
TEST(ForcedStop, OutputsShareTheDeadlineAndOneLeftRunningRefusesLaterStarts) {
    AgentProcess agent(
        {.env = {{"FAKE_OBS_OUTPUT_STOP", "ffmpeg_muxer=never,replay_buffer=stuck"}}});
    agent.expect_event("ready");
    agent.send(start_line({{"mode", "both"}, {"replayDir", "/clips"}}));
    agent.expect_event("started");
    agent.send(R"({"cmd":"stop"})");
    json finished = agent.expect_event("finished", 35s);
    EXPECT_EQ(finished["error"], "arrêt forcé après 20 s");
    agent.send(start_line());
    EXPECT_EQ(*agent.next_event(),
              json({{"event", "error"},
                    {"message", "une sortie précédente tourne encore : redémarrez l'agent"}}));
    agent.send(R"({"cmd":"quit"})");
    EXPECT_EQ(*agent.next_event(), json({{"event", "bye"}}));
    EXPECT_EQ(agent.wait_exit(), 0);
    std::vector<std::string> journal = agent.journal();
    EXPECT_EQ(journal_calls(journal, "obs_output_force_stop"),
              (std::vector<std::string>{"obs_output_force_stop O1", "obs_output_force_stop O2"}));
    EXPECT_EQ(journal_calls(journal, "obs_output_release"),
              (std::vector<std::string>{"obs_output_release O1"}));
    EXPECT_TRUE(journal_calls(journal, "obs_shutdown").empty());
}

// Only the first output decides "finished": a replay buffer forced, and left to the
// engine, leaves no trace there.
TEST(ForcedStop, LaterOutputForcedWhileTheFirstConfirms) {
    AgentProcess agent({.env = {{"FAKE_OBS_OUTPUT_STOP", "replay_buffer=stuck"}}});
    agent.expect_event("ready");
    agent.send(start_line({{"mode", "both"}, {"replayDir", "/clips"}}));
    agent.expect_event("started");
    agent.send(R"({"cmd":"stop"})");
    json finished = agent.expect_event("finished", 35s);
    EXPECT_EQ(finished["code"], 0);
    EXPECT_EQ(finished["error"], nullptr);
    agent.close_input();
    EXPECT_EQ(agent.wait_exit(), 0);
}

} // namespace
