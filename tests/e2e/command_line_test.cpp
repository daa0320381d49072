#include "agent_process.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

using nlohmann::json;

// "type|property|name|value" lines; an item without a value is none of the plug-in's choices.
const std::string scripted_lists =
    "monitor_capture|method|Automatique|0\n"
    "monitor_capture|monitor_id|Moniteur 1: 1920x1080 @ 0,0|\\\\?\\DISPLAY#A\n"
    "monitor_capture|monitor_id|Moniteur 2|\\\\.\\DISPLAY2\n"
    "monitor_capture|monitor_id|sans valeur\n"
    "window_capture|window|[jeu.exe]: Partie \"1\"|Partie \"1\":Jeu:jeu.exe\n"
    "game_capture|window|[autre.exe]: Autre|Autre:A:autre.exe";

TEST(CommandLine, ListPrintsThePlugInsOwnItemsAfterABringUpAsUsual) {
    AgentProcess agent({.modules = all_modules,
                        .env = {{"FAKE_OBS_LIST", scripted_lists}},
                        .arguments = {"--list"}});
    EXPECT_EQ(only_line(agent, 0),
              R"({"monitors":[{"name":"Moniteur 1: 1920x1080 @ 0,0","value":"\\\\?\\DISPLAY#A"},)"
              R"({"name":"Moniteur 2","value":"\\\\.\\DISPLAY2"}],"windows":[)"
              R"({"name":"[jeu.exe]: Partie \"1\"","value":"Partie \"1\":Jeu:jeu.exe"}]})");
    std::vector<std::string> journal = agent.journal();
    EXPECT_EQ(journal_calls(journal, "obs_open_module").size(), all_modules.size());
    EXPECT_EQ(journal_calls(journal, "obs_reset_video").size(), 1u);
    EXPECT_EQ(journal_calls(journal, "obs_post_load_modules").size(), 1u);
    EXPECT_EQ(journal_calls(journal, "obs_get_source_properties"),
              (std::vector<std::string>{"obs_get_source_properties monitor_capture -> P1",
                                        "obs_get_source_properties window_capture -> P2"}));
    EXPECT_EQ(journal_calls(journal, "obs_properties_destroy"),
              (std::vector<std::string>{"obs_properties_destroy P1", "obs_properties_destroy P2"}));
    EXPECT_TRUE(journal_calls(journal, "misuse").empty());
    // Shut down as the agent is: a Windows process's end would otherwise run the engine
    // libraries' own ends under their threads.
    EXPECT_EQ(journal.back(), "live_allocations 0");

    // A capture type the engine does not have lists nothing.
    AgentProcess bare({.arguments = {"--list"}});
    EXPECT_EQ(only_line(bare, 0), R"({"monitors":[],"windows":[]})");
}

TEST(CommandLine, ListFailsAsABringUpDoes) {
    struct Case {
        AgentOptions options;
        int code;
        std::string message; // its beginning
        bool engine_started;
    };
    Case cases[] = {
        {{.engine = ""}, 2, test_platform::engine_file + " introuvable ou incomplète : ", false},
        {{.engine = "fake_obs_no_list_string"},
         2,
         test_platform::engine_file +
             " introuvable ou incomplète : obs_property_list_item_string : ",
         false},
        {{.env = {{"FAKE_OBS_STARTUP", "fail"}}}, 3, "libobs ne démarre pas", true},
    };
    for (Case& c : cases) {
        c.options.arguments = {"--list"};
        AgentProcess agent(c.options);
        json event = json::parse(only_line(agent, c.code), nullptr, false);
        EXPECT_EQ(event.value("event", ""), "error") << event;
        EXPECT_EQ(event.value("message", "").rfind(c.message, 0), 0u) << event;
        EXPECT_EQ(journal_calls(agent.journal(), "obs_startup").size(), c.engine_started ? 1u : 0u);
    }
    // Only the listing needs the property entries: the engine that lacks one still records.
    AgentProcess agent({.engine = "fake_obs_no_list_string", .arguments = {"--quiet", "list"}});
    agent.expect_event("ready");
    agent.close_input();
    EXPECT_EQ(agent.wait_exit(), 0);
}

TEST(CommandLine, VersionLoadsNoEngine) {
    AgentProcess agent({.arguments = {"--version", "--list"}});
    std::string line = only_line(agent, 0);
    EXPECT_TRUE(std::regex_match(
        line, std::regex(R"re(\{"commit":"([0-9a-f]{7,}(-dirty)?|unknown)","version":")re" +
                         std::string(KALTO_PROJECT_VERSION) + R"re("\})re")))
        << line;
    EXPECT_TRUE(agent.journal().empty()); // the engine library was never opened
}

} // namespace
