#include "agent_process.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

using nlohmann::json;

// Fast frames: a black run of six is seen well within one idle tick.
std::unique_ptr<AgentProcess> black_agent(const std::string& luma, const std::string& refuse = "") {
    auto agent = std::make_unique<AgentProcess>(AgentOptions{
        .env = {{"FAKE_OBS_TICK_MS", "2"}, {"FAKE_OBS_LUMA", luma}, {"FAKE_OBS_REFUSE", refuse}}});
    agent->expect_event("ready");
    return agent;
}

TEST(BlackImage, FallsBackToTheNextMethodThenReportsBlackOnce) {
    auto agent = black_agent("window_capture=16");
    agent->send(start_line());
    EXPECT_EQ(agent->expect_event("started")["source"], "fenêtre WGC");
    EXPECT_EQ(*agent->next_event(), json({{"event", "source"},
                                          {"source", "fenêtre BitBlt"},
                                          {"reason", "image noire avec fenêtre WGC"}}));
    EXPECT_EQ(
        *agent->next_event(),
        json({{"event", "black"},
              {"message", "image noire avec toutes les sources (dernière : fenêtre BitBlt)"}}));
    // Still black for several more ticks: nothing more is said.
    EXPECT_FALSE(agent->next_event(1500ms));
    agent->send(R"({"cmd":"stats"})");
    json stats = *agent->next_event();
    EXPECT_EQ(stats["source"], "fenêtre BitBlt");
    EXPECT_GE(stats["darkSeconds"].get<double>(), 6.0);
    // Every frame examined was dark, and each stands for half a second.
    EXPECT_EQ(stats["darkSeconds"].get<double>(), stats["examined"].get<double>() * 0.5);
    EXPECT_EQ(stats["brightness"], 16.0);
    agent->close_input();
    EXPECT_EQ(agent->wait_exit(), 0);
    std::vector<std::string> journal = agent->journal();
    // The replaced source is released right after the new one took channel 0.
    auto set = std::find(journal.begin(), journal.end(), "obs_set_output_source 0 S2");
    ASSERT_NE(set, journal.end());
    EXPECT_EQ(*(set + 1), "obs_source_release S1");
    for (const std::string& line : journal)
        EXPECT_EQ(line.rfind("misuse", 0), std::string::npos) << line;
}

TEST(BlackImage, MonitorFallsBackToTheWindowCandidate) {
    auto agent = black_agent("monitor_capture=16,window_capture=120");
    agent->send(start_line({{"source", {{"kind", "monitor"}, {"monitor", "m"}, {"window", "w"}}}}));
    EXPECT_EQ(agent->expect_event("started")["source"], "écran DXGI");
    EXPECT_EQ(*agent->next_event(), json({{"event", "source"},
                                          {"source", "écran WGC"},
                                          {"reason", "image noire avec écran DXGI"}}));
    EXPECT_EQ(*agent->next_event(), json({{"event", "source"},
                                          {"source", "fenêtre WGC"},
                                          {"reason", "image noire avec écran WGC"}}));
    EXPECT_FALSE(agent->next_event(1200ms));
    agent->send(R"({"cmd":"stop"})");
    json finished = agent->expect_event("finished");
    EXPECT_EQ(finished["stats"]["source"], "fenêtre WGC");
    agent->close_input();
    EXPECT_EQ(agent->wait_exit(), 0);
}

TEST(BlackImage, RefusedLaterCandidatesAreSkippedSilently) {
    auto agent = black_agent("monitor_capture=16", "source:monitor_capture/2");
    agent->send(start_line({{"source", {{"kind", "monitor"}, {"monitor", "m"}}}}));
    agent->expect_event("started");
    EXPECT_EQ(*agent->next_event(),
              json({{"event", "black"},
                    {"message", "image noire avec toutes les sources (dernière : écran DXGI)"}}));
    EXPECT_FALSE(agent->next_event(1200ms));
    agent->close_input();
    EXPECT_EQ(agent->wait_exit(), 0);
    // The refused candidate was asked for once only.
    EXPECT_EQ(journal_calls(agent->journal(), "obs_source_create monitor_capture").size(), 2u);
}

TEST(BlackImage, NoFallbackWhileCommandsKeepArriving) {
    auto agent = black_agent("window_capture/2=16");
    agent->send(start_line());
    agent->expect_event("started");
    // A command every 100 ms for two seconds: the loop never idles for 500 ms.
    for (int i = 0; i < 20; ++i) {
        agent->send(R"({"cmd":"stats"})");
        json event = *agent->next_event();
        ASSERT_EQ(event["event"], "stats") << event;
        std::this_thread::sleep_for(100ms); // the controller's own pace, not a synchronisation
    }
    EXPECT_EQ(agent->expect_event("source")["source"], "fenêtre BitBlt");
    agent->close_input();
    EXPECT_EQ(agent->wait_exit(), 0);
}

TEST(BlackImage, SixBlackFramesInARowAndNotFiveMakeTheNextMethodTakeOver) {
    for (int delivered : {5, 6}) {
        auto agent = std::make_unique<AgentProcess>(
            AgentOptions{.env = {{"FAKE_OBS_TICK_MS", "2"},
                                 {"FAKE_OBS_LUMA", "window_capture=16"},
                                 {"FAKE_OBS_DELIVERED_FRAMES", std::to_string(delivered)}}});
        agent->expect_event("ready");
        agent->send(start_line());
        agent->expect_event("started");
        // Every frame the engine will give has been examined before the loop idles.
        json stats;
        for (auto until = std::chrono::steady_clock::now() + 10s;
             std::chrono::steady_clock::now() < until;) {
            agent->send(R"({"cmd":"stats"})");
            stats = agent->expect_event("stats");
            if (stats["examined"] == delivered)
                break;
        }
        ASSERT_EQ(stats["examined"], delivered);
        std::optional<json> next = agent->next_event(1500ms);
        if (delivered == 6)
            EXPECT_EQ(next.value_or(json())["event"], "source");
        else
            EXPECT_FALSE(next) << *next;
        agent->close_input();
        EXPECT_EQ(agent->wait_exit(), 0);
    }
}

TEST(BlackImage, MaskSuspendsTheProbeAndTheFallback) {
    auto agent = black_agent("window_capture=120");
    agent->send(start_line());
    agent->expect_event("started");
    agent->send(R"({"cmd":"mask","hidden":true})");
    agent->send(R"({"cmd":"mask","hidden":true})");
    agent->send(R"({"cmd":"stats"})");
    json before = *agent->next_event();
    ASSERT_EQ(before["event"], "stats");
    // Masked: the picture is black, yet no fallback and no counting.
    EXPECT_FALSE(agent->next_event(1500ms));
    agent->send(R"({"cmd":"stats"})");
    json during = *agent->next_event();
    EXPECT_EQ(during["examined"], before["examined"]);
    EXPECT_EQ(during["darkSeconds"], 0.0);
    agent->send(R"({"cmd":"mask","hidden":false})");
    agent->send(R"({"cmd":"mask","hidden":false})");
    agent->send(R"({"cmd":"stop"})");
    json finished = agent->expect_event("finished");
    EXPECT_EQ(finished["stats"]["source"], "fenêtre WGC");
    // A new recording starts unmasked and counts frames again.
    agent->send(start_line());
    agent->expect_event("started");
    EXPECT_FALSE(agent->next_event(700ms));
    agent->send(R"({"cmd":"stats"})");
    json again = *agent->next_event();
    EXPECT_GT(again["examined"].get<int>(), 0);
    EXPECT_EQ(again["brightness"], 120.0);
    agent->close_input();
    EXPECT_EQ(agent->wait_exit(), 0);
    EXPECT_EQ(journal_calls(agent->journal(), "obs_source_set_enabled"),
              (std::vector<std::string>{"obs_source_set_enabled S1 false",
                                        "obs_source_set_enabled S1 true"}));
}

TEST(BlackImage, MaskActsOnTheReplacementSource) {
    auto agent = black_agent("window_capture/2=16");
    agent->send(start_line());
    agent->expect_event("source");
    agent->send(R"({"cmd":"mask","hidden":true})");
    agent->send(R"({"cmd":"stats"})");
    agent->expect_event("stats");
    agent->close_input();
    EXPECT_EQ(agent->wait_exit(), 0);
    EXPECT_EQ(journal_calls(agent->journal(), "obs_source_set_enabled"),
              (std::vector<std::string>{"obs_source_set_enabled S2 false"}));
}

} // namespace
