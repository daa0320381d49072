// The listing on the real engine, and agents that run at once, sharing the
// engine's module configuration folder.
#include "agent_process.h"
#include "desktop.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// A window of ours, shown before the constructor returns; it ends with its input.
struct TestWindow {
    pid_t pid = -1;
    int input = -1;

    TestWindow(const std::string& title, const std::string& colour) {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::string program = KALTO_COLOUR_WINDOW;
        char* argv[] = {program.data(), const_cast<char*>(title.c_str()),
                        const_cast<char*>(colour.c_str()), nullptr};
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        input = in[1];
        // "ready" once the server shows it.
        pollfd shown{out[0], POLLIN, 0};
        char first = 0;
        if (pid < 0 || poll(&shown, 1, 10000) != 1 || read(out[0], &first, 1) != 1 || first != 'r')
            ADD_FAILURE() << "the window " << title << " was not shown";
        close(out[0]);
    }
    ~TestWindow() {
        close(input);
        if (pid > 0)
            end_processes({pid}, 2s);
    }
};

AgentOptions real_options(std::map<std::string, std::string> env = {},
                          std::vector<std::string> arguments = {}) {
    return {.env = std::move(env), .installed_root = KALTO_REAL_ROOT, .arguments = arguments};
}

// Runs `kalto-obs --list` to its end; the list it printed, or null.
json listing(std::map<std::string, std::string> env = {}) {
    AgentProcess agent(real_options(std::move(env), {"--list"}));
    EXPECT_EQ(agent.wait_exit(60s), 0) << agent.stderr_text();
    std::vector<std::string> lines = agent.stdout_lines();
    EXPECT_EQ(lines.size(), 1u) << agent.stdout_text();
    return lines.empty() ? json() : json::parse(lines[0], nullptr, false);
}

std::unique_ptr<AgentProcess> recording_agent(const std::map<std::string, std::string>& env,
                                              const json& source, const std::string& mode,
                                              const std::string& path,
                                              json extra = json::object()) {
    auto agent = std::make_unique<AgentProcess>(real_options(env));
    agent->expect_event("ready", 30s);
    json start = {{"cmd", "start"},
                  {"mode", mode},
                  {"path", path},
                  {"source", source},
                  {"baseWidth", 320},
                  {"baseHeight", 180},
                  {"width", 320},
                  {"height", 180},
                  {"fps", 30},
                  {"bitrate", 2000},
                  {"audio", {{"kind", "desktop"}}}};
    start.update(extra);
    agent->send(start.dump());
    agent->expect_event("started", 20s);
    return agent;
}

// A folder of the test's own, kept when the test fails.
fs::path test_folder(const std::string& name) {
    fs::path folder = fs::temp_directory_path() / (name + "-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

// Frames a decoder reads from the file: 0 when it cannot be read at all.
int decoded_frames(const std::string& path) {
    std::string out = command_output("ffprobe -v error -count_frames -select_streams v:0 "
                                     "-show_entries stream=nb_read_frames -of csv=p=0 '" +
                                     path + "' 2>/dev/null");
    return std::atoi(out.c_str());
}

TEST(RealEngineList, ListsTheScreensAndAWindowOfOursByTitle) {
    TestWindow window("Liste kalto", "ff0000");
    json list = listing();
    ASSERT_TRUE(list.is_object()) << list;
    // The screens, numbered from "0" as the engine's screen capture numbers them.
    ASSERT_FALSE(list["monitors"].empty()) << list;
    for (std::size_t i = 0; i < list["monitors"].size(); ++i) {
        const json& item = list["monitors"][i];
        EXPECT_EQ(item["value"], std::to_string(i)) << list;
        EXPECT_FALSE(item["name"].get<std::string>().empty()) << item;
    }
    std::string value;
    for (const json& item : list["windows"])
        if (item["name"] == "[colour_window]: Liste kalto")
            value = item["value"];
    ASSERT_EQ(value.rfind("Liste kalto:", 0), 0u) << list;
    EXPECT_EQ(value.substr(value.rfind(':')), ":colour_window") << value;

    // The value is what a start takes: the window's red is recorded (luma 63).
    fs::path folder = test_folder("kalto-list");
    auto agent = recording_agent({}, {{"kind", "window"}, {"window", value}}, "file",
                                 (folder / "liste.mkv").string());
    double mean = 0;
    for (auto until = std::chrono::steady_clock::now() + 15s;
         std::chrono::steady_clock::now() < until && std::abs(mean - 63.0) >= 10.0;) {
        EXPECT_FALSE(agent->next_event(1s)); // nothing comes while the picture is red
        agent->send(R"({"cmd":"stats"})");
        mean = agent->expect_event("stats")["brightness"];
    }
    EXPECT_NEAR(mean, 63.0, 10.0);
    agent->close_input();
    EXPECT_EQ(agent->expect_event("finished", 30s)["code"], 0);
    EXPECT_EQ(agent->wait_exit(), 0);
    EXPECT_GT(decoded_frames((folder / "liste.mkv").string()), 20);
    if (!::testing::Test::HasFailure())
        fs::remove_all(folder);
}

// Two agents record at once while a third lists, all with the same module
// configuration folder: each keeps its own files, and the folder holds nothing.
TEST(RealEngineList, TwoRecordingsAtOnceAndAListingShareTheConfigurationFolder) {
    fs::path shared = test_folder("kalto-shared");
    std::map<std::string, std::string> env = {{"TMPDIR", shared.string()}};
    fs::path clips = shared / "clips";
    auto first = recording_agent(env, {{"kind", "window"}, {"window", "Mire:ffplay:ffplay"}},
                                 "file", (shared / "premier.mkv").string());
    auto second =
        recording_agent(env, {{"kind", "monitor"}, {"monitor", "0"}}, "both",
                        (shared / "second.mp4").string(), {{"replayDir", clips.string()}});

    json list = listing(env);
    EXPECT_TRUE(list.contains("monitors") && list.contains("windows")) << list;
    EXPECT_FALSE(first->next_event(1s)); // both record on, silently
    second->send(R"({"cmd":"save"})");
    std::string clip = second->expect_event("saved", 20s)["path"];

    for (AgentProcess* agent : {first.get(), second.get()}) {
        agent->send(R"({"cmd":"quit"})");
        EXPECT_EQ(agent->expect_event("finished", 30s)["code"], 0);
        EXPECT_EQ(agent->wait_exit(), 0);
    }
    for (const fs::path& file : {shared / "premier.mkv", shared / "second.mp4", fs::path(clip)})
        EXPECT_GT(decoded_frames(file.string()), 20) << file;
    // On Linux no engine plug-in writes there.
    ASSERT_TRUE(fs::is_directory(shared / "kalto-obs"));
    EXPECT_TRUE(fs::is_empty(shared / "kalto-obs"));
    if (!::testing::Test::HasFailure())
        fs::remove_all(shared);
}

} // namespace
