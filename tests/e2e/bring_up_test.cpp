#include "agent_process.h"

#include <gtest/gtest.h>

namespace {

// Runs an agent that must end during bring-up; returns its single event.
nlohmann::json fatal_event(AgentProcess& agent, int expected_code) {
    std::string line = only_line(agent, expected_code);
    return line.empty() ? nlohmann::json::object() : nlohmann::json::parse(line);
}

TEST(BringUp, MissingLibraryEndsWithCode2) {
    AgentProcess agent({.engine = ""});
    nlohmann::json event = fatal_event(agent, 2);
    EXPECT_EQ(event["event"], "error");
    std::string message = event["message"];
    EXPECT_EQ(message.rfind(test_platform::engine_file + " introuvable ou incomplète : ", 0), 0u)
        << message;
}

TEST(BringUp, MissingEntryPointNamesTheFirstMissing) {
    struct Case {
        std::string engine, first_missing;
    };
    for (const Case& c : {Case{"fake_obs_no_version", "obs_get_version_string"},
                          Case{"fake_obs_no_bfree", "bfree"}}) {
        AgentProcess agent({.engine = c.engine});
        nlohmann::json event = fatal_event(agent, 2);
        std::string message = event.value("message", "");
        EXPECT_EQ(message.rfind(test_platform::engine_file +
                                    " introuvable ou incomplète : " + c.first_missing + " : ",
                                0),
                  0u)
            << message;
    }
}

TEST(BringUp, RefusedStartUpStepsEndWithCode3) {
    struct Case {
        std::map<std::string, std::string> env;
        std::string message;
        std::string last_call;
    };
    const Case cases[] = {
        {{{"FAKE_OBS_STARTUP", "fail"}}, "libobs ne démarre pas", "obs_startup"},
        {{{"FAKE_OBS_AUDIO", "fail"}}, "son : initialisation refusée", "obs_reset_audio"},
        {{{"FAKE_OBS_RESET_VIDEO", "-5"}},
         test_platform::graphics_name + " : initialisation refusée (code -5)",
         "obs_reset_video"},
    };
    for (const Case& c : cases) {
        AgentProcess agent({.env = c.env});
        agent.send(R"({"cmd":"quit"})");
        nlohmann::json event = fatal_event(agent, 3);
        EXPECT_EQ(event, nlohmann::json({{"event", "error"}, {"message", c.message}}));
        // The audio thread's hold around the video reset aside, nothing follows the refusal.
        std::vector<std::string> journal = agent.journal();
        std::erase_if(journal, [](const std::string& line) {
            return line.find("audio tick") == 0 || line.find("raw_audio_callback") != line.npos;
        });
        ASSERT_FALSE(journal.empty());
        EXPECT_EQ(journal.back().rfind(c.last_call, 0), 0u) << journal.back();
        EXPECT_TRUE(journal_calls(journal, "obs_shutdown").empty());
    }
}

TEST(BringUp, ReadyListsModulesThatLoadedAndEveryEncoder) {
    AgentProcess agent(
        {.modules = {"win-capture", "win-wasapi", "obs-x264", "obs-nvenc", "obs-outputs"},
         .env = {{"FAKE_OBS_MODULE_OPEN", "win-wasapi=-2"},
                 {"FAKE_OBS_MODULE_INIT_FAIL", "obs-nvenc"},
                 {"FAKE_OBS_ENCODERS", "ffmpeg_aac,jim_nvenc,obs_x264,ffmpeg_opus"},
                 {"FAKE_OBS_VERSION", "29.0.2"}}});
    nlohmann::json ready = agent.expect_event("ready");
    EXPECT_EQ(ready, nlohmann::json(
                         {{"event", "ready"},
                          {"version", "29.0.2"},
                          {"modules", {"win-capture", "obs-x264", "obs-outputs"}},
                          {"encoders", {"ffmpeg_aac", "jim_nvenc", "obs_x264", "ffmpeg_opus"}}}));
    agent.close_input();
    EXPECT_EQ(agent.wait_exit(), 0);
    // Notices for the two that failed, with their codes; nothing for the absent ones.
    std::string err = agent.stderr_text();
    EXPECT_NE(err.find("module win-wasapi non chargé (code -2)\n"), std::string::npos) << err;
    EXPECT_NE(err.find("module obs-nvenc non chargé (code 0)\n"), std::string::npos) << err;
    EXPECT_EQ(err.find("obs-ffmpeg"), std::string::npos) << err;
    EXPECT_EQ(err.find("obs-qsv11"), std::string::npos) << err;

    std::vector<std::string> opened = journal_calls(agent.journal(), "obs_open_module");
    ASSERT_EQ(opened.size(), 5u);
    using test_platform::join;
    std::string root = join({agent.root(), "bin", "64bit", "..", ".."});
    EXPECT_EQ(opened[0], "obs_open_module " +
                             join({root, "core", "win-capture",
                                   "win-capture" + test_platform::library_suffix}) +
                             " " + join({root, "core", "win-capture", "data"}));
    EXPECT_EQ(journal_calls(agent.journal(), "obs_post_load_modules").size(), 1u);
}

TEST(BringUp, FixedEngineSettingsAndOrder) {
    AgentProcess agent(
        {.env = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}, .working_directory = "/"});
    agent.expect_event("ready");
    agent.send(R"({"cmd":"quit"})");
    EXPECT_EQ(agent.wait_exit(), 0);
    std::vector<std::string> journal = agent.journal();
    std::vector<std::string> expected = {
        "base_set_log_handler null",
        "obs_startup fr-FR " + test_platform::join({agent.root(), "tmp", "kalto-obs"}) + " null",
        "obs_reset_audio 48000 2",
        "obs_add_raw_audio_callback 0",
        "audio tick",
        "obs_reset_video " + test_platform::graphics_module +
            " 60/1 base=1920x1080 output=1920x1080 format=2 adapter=0 gpu=1 "
            "cs=2 range=1 scale=2",
        "audio tick done",
        "obs_remove_raw_audio_callback 0",
        "obs_post_load_modules",
        "obs_shutdown",
        "live_allocations 0"};
    EXPECT_EQ(journal, expected);
}

TEST(BringUp, NoModulesStillReady) {
    AgentProcess agent({.env = {{"FAKE_OBS_VERSION_NULL", "1"}, {"FAKE_OBS_ENCODERS", ""}}});
    nlohmann::json ready = agent.expect_event("ready");
    EXPECT_EQ(ready["version"], "");
    EXPECT_EQ(ready["modules"], nlohmann::json::array());
    EXPECT_EQ(ready["encoders"], nlohmann::json::array());
    agent.close_input();
    EXPECT_EQ(agent.wait_exit(), 0);
}

TEST(BringUp, EngineLogReachesStandardError) {
    std::string long_text(5000, 'x');
    AgentProcess agent({.env = {{"FAKE_OBS_LOG", "100|erreur %s|un\n"
                                                 "200|%s et %s|a|b\n"
                                                 "300|info\n"
                                                 "400|debug invisible\n"
                                                 "301|aussi invisible\n"
                                                 "100|octets \xff ici\n"
                                                 "200|%s|" +
                                                     long_text},
                                {"FAKE_OBS_STDOUT", "printf du moteur"}}});
    agent.expect_event("ready");
    agent.close_input();
    EXPECT_EQ(agent.wait_exit(), 0);
    std::string err = agent.stderr_text();
    EXPECT_NE(err.find("[obs ERREUR] erreur un\n"), std::string::npos) << err;
    EXPECT_NE(err.find("[obs ATTENTION] a et b\n"), std::string::npos) << err;
    EXPECT_NE(err.find("[obs info] info\n"), std::string::npos) << err;
#ifndef _WIN32
    // Windows carries environment variables as UTF-16: stray bytes cannot reach the fake there.
    EXPECT_NE(err.find("[obs ERREUR] octets \xEF\xBF\xBD ici\n"), std::string::npos) << err;
#endif
    EXPECT_NE(err.find("[obs ATTENTION] " + std::string(4095, 'x') + "\n"), std::string::npos);
    EXPECT_EQ(err.find("invisible"), std::string::npos) << err;
    // Neither the log nor what the engine prints reaches standard output: events alone do.
    for (const std::string& line : agent.stdout_lines())
        EXPECT_EQ(line.rfind("{\"", 0), 0u) << line;
    EXPECT_NE(err.find("printf du moteur\n"), std::string::npos) << err;
}

TEST(BringUp, AllModulesInFixedOrder) {
    AgentProcess agent({.modules = all_modules});
    EXPECT_EQ(agent.expect_event("ready")["modules"], nlohmann::json(all_modules));
    agent.close_input();
    EXPECT_EQ(agent.wait_exit(), 0);
}

} // namespace

#ifndef _WIN32
namespace {

// Without a standard error, what the engine prints still stays out of the events.
TEST(BringUp, ClosedStandardErrorKeepsTheEventsAlone) {
    AgentProcess agent({.env = {{"FAKE_OBS_STDOUT", "printf du moteur"}},
                        .launcher = {"sh", "-c", "exec \"$@\" 2>&-", "sh"}});
    agent.expect_event("ready");
    agent.close_input();
    EXPECT_EQ(agent.wait_exit(), 0);
    for (const std::string& line : agent.stdout_lines())
        EXPECT_EQ(line.rfind("{\"", 0), 0u) << line;
}

std::vector<std::string> display_calls(std::map<std::string, std::string> env) {
    AgentProcess agent({.env = std::move(env)});
    agent.expect_event("ready");
    agent.close_input();
    EXPECT_EQ(agent.wait_exit(), 0);
    std::vector<std::string> calls;
    for (const std::string& line : agent.journal())
        if (line.starts_with("obs_set_nix_platform"))
            calls.push_back(line);
    return calls;
}

} // namespace

TEST(BringUp, X11IsChosenEvenWhenItsServerCannotBeReached) {
    // The engine then reports the missing server itself at start-up.
    EXPECT_EQ(display_calls({{"DISPLAY", ":kalto-absent"}, {"WAYLAND_DISPLAY", ""}}),
              std::vector<std::string>{"obs_set_nix_platform 1"});
}

TEST(BringUp, WaylandIsChosenOnlyOnceConnected) {
    // The engine crashes starting on Wayland without a display.
    EXPECT_EQ(display_calls({{"DISPLAY", ""}, {"WAYLAND_DISPLAY", "kalto-absent"}}),
              std::vector<std::string>{});
}
#endif
