#include "agent_process.h"

#include <gtest/gtest.h>

namespace {

nlohmann::json error(const std::string& message) {
    return {{"event", "error"}, {"message", message}};
}

// Every line on standard output is one complete JSON event, without "\r".
void expect_only_events(const AgentProcess& agent) {
    std::string out = agent.stdout_text();
    EXPECT_EQ(out.find('\r'), std::string::npos);
    ASSERT_TRUE(out.empty() || out.back() == '\n');
    for (const std::string& line : agent.stdout_lines()) {
        auto event = nlohmann::json::parse(line, nullptr, false);
        ASSERT_TRUE(event.is_object()) << line;
        EXPECT_TRUE(event.contains("event")) << line;
    }
}

TEST(CommandLoop, IdleCommandsAnswerWithoutARecording) {
    AgentProcess agent;
    agent.expect_event("ready");
    agent.send(R"({"cmd":"stop"})");
    agent.send(R"({"cmd":"stats"})");
    agent.send(R"({"cmd":"mask","hidden":true})");
    agent.send(R"({"cmd":"save"})");
    agent.send(R"({"cmd":"Stop"})");
    agent.send(R"({"cmd":"quit"})");
    agent.send(R"({"cmd":"stop"})"); // never handled
    EXPECT_EQ(*agent.next_event(), error("aucun enregistrement en cours"));
    EXPECT_EQ(*agent.next_event(), error("aucun enregistrement en cours"));
    EXPECT_EQ(*agent.next_event(), error("aucun enregistrement en cours"));
    EXPECT_EQ(*agent.next_event(), error("aucun tampon de replay en cours"));
    nlohmann::json unreadable = *agent.next_event();
    EXPECT_EQ(unreadable["message"].get<std::string>().rfind(
                  "commande illisible : unknown variant `Stop`, expected one of `start`, `mask`, "
                  "`save`, `stop`, `stats`, `quit` at line 1 column ",
                  0),
              0u)
        << unreadable;
    EXPECT_EQ(*agent.next_event(), nlohmann::json({{"event", "bye"}}));
    EXPECT_EQ(agent.wait_exit(), 0);
    EXPECT_FALSE(agent.next_event(0ms));
    expect_only_events(agent);
    EXPECT_EQ(journal_calls(agent.journal(), "obs_shutdown").size(), 1u);
}

TEST(CommandLoop, BlankLinesAreSilentAndNoBreakSpacesAreNot) {
    AgentProcess agent;
    agent.expect_event("ready");
    agent.send_raw("   \n\t\n\r\n\n\xC2\xA0\n");
    agent.send(R"(   {"cmd":"stats"}   )");
    agent.send("\xC2\xA0{\"cmd\":\"stats\"}\xC2\xA0");
    agent.close_input();
    EXPECT_EQ(*agent.next_event(), error("aucun enregistrement en cours"));
    nlohmann::json refused = *agent.next_event();
    EXPECT_EQ(refused["message"].get<std::string>().rfind("commande illisible : ", 0), 0u)
        << refused;
    EXPECT_NE(refused["message"].get<std::string>().find(" at line 1 column "), std::string::npos);
    EXPECT_EQ(*agent.next_event(), nlohmann::json({{"event", "bye"}}));
    EXPECT_EQ(agent.wait_exit(), 0);
}

TEST(CommandLoop, InvalidUtf8EndsLikeTheEndOfInput) {
    AgentProcess agent;
    agent.expect_event("ready");
    agent.send_raw("{\"cmd\":\"stats\"}\n{\"cmd\":\"\xff\"}\n{\"cmd\":\"stop\"}\n");
    EXPECT_EQ(*agent.next_event(), error("aucun enregistrement en cours"));
    EXPECT_EQ(*agent.next_event(), nlohmann::json({{"event", "bye"}}));
    // The agent ended while its input was still open.
    EXPECT_EQ(agent.wait_exit(), 0);
    EXPECT_FALSE(agent.next_event(0ms));
}

TEST(CommandLoop, LastLineWithoutLineFeedIsHandled) {
    AgentProcess agent;
    agent.expect_event("ready");
    agent.send_raw("{\"cmd\":\"stats\"}\r\n{\"cmd\":\"save\"}");
    agent.close_input();
    EXPECT_EQ(*agent.next_event(), error("aucun enregistrement en cours"));
    EXPECT_EQ(*agent.next_event(), error("aucun tampon de replay en cours"));
    EXPECT_EQ(*agent.next_event(), nlohmann::json({{"event", "bye"}}));
    EXPECT_EQ(agent.wait_exit(), 0);
    expect_only_events(agent);
}

TEST(CommandLoop, LinesWrittenBeforeReadyAreReadAfterIt) {
    AgentProcess agent;
    agent.send(R"({"cmd":"stop"})");
    agent.send(R"({"cmd":"quit"})");
    EXPECT_EQ(agent.next_event()->value("event", ""), "ready");
    EXPECT_EQ(*agent.next_event(), error("aucun enregistrement en cours"));
    EXPECT_EQ(*agent.next_event(), nlohmann::json({{"event", "bye"}}));
    EXPECT_EQ(agent.wait_exit(), 0);
}

TEST(CommandLoop, ClosedStandardOutputDoesNotStopTheAgent) {
    AgentProcess agent;
    agent.expect_event("ready");
    agent.close_output();
    for (int i = 0; i < 50; ++i)
        agent.send(R"({"cmd":"stats"})");
    agent.send(R"({"cmd":"quit"})");
    EXPECT_EQ(agent.wait_exit(), 0);
    EXPECT_EQ(journal_calls(agent.journal(), "obs_shutdown").size(), 1u);
}

} // namespace
