#include "../../linux/modules/win-wasapi/process_streams.h"
#include "agent_process.h"
#include "desktop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

class DesktopEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { ASSERT_FALSE(desktop().display.empty()) << "Xvfb did not start"; }
    void TearDown() override { stop_desktop(); }
};

const auto* environment = ::testing::AddGlobalTestEnvironment(new DesktopEnvironment);

std::unique_ptr<AgentProcess> real_agent(std::map<std::string, std::string> env = {}) {
    auto agent =
        std::make_unique<AgentProcess>(AgentOptions{.env = env, .installed_root = KALTO_REAL_ROOT});
    json ready = agent->expect_event("ready", 30s);
    EXPECT_EQ(ready["modules"],
              json({"win-capture", "win-wasapi", "obs-ffmpeg", "obs-x264", "obs-outputs"}));
    return agent;
}

json probe(const std::string& path) {
    std::string out = command_output(
        "ffprobe -v error -print_format json -show_streams -show_format '" + path + "'");
    return json::parse(out, nullptr, false);
}

json stream_of(const json& probed, const std::string& type) {
    for (const json& stream : probed.value("streams", json::array()))
        if (stream.value("codec_type", "") == type)
            return stream;
    return json::object();
}

double duration_of(const json& probed) {
    return std::stod(probed["format"].value("duration", "0"));
}

void expect_playable(const std::string& path, int width, int height) {
    ASSERT_TRUE(fs::exists(path)) << path;
    json probed = probe(path);
    json video = stream_of(probed, "video");
    EXPECT_EQ(video.value("codec_name", ""), "h264") << probed;
    EXPECT_EQ(video.value("width", 0), width);
    EXPECT_EQ(video.value("height", 0), height);
    EXPECT_EQ(stream_of(probed, "audio").value("codec_name", ""), "aac") << probed;
    EXPECT_GT(duration_of(probed), 0.5);
}

std::string output_dir(const AgentProcess& agent) {
    return agent.root() + "/tmp";
}

json window_start(const std::string& mode, const std::string& path, json extra = json::object()) {
    json start = {{"mode", mode},
                  {"path", path},
                  {"source", {{"kind", "window"}, {"window", "Mire:ffplay:ffplay"}}},
                  {"baseWidth", 640},
                  {"baseHeight", 360},
                  {"width", 640},
                  {"height", 360},
                  {"fps", 30},
                  {"bitrate", 2000},
                  {"audio", {{"kind", "desktop"}}}};
    start.update(extra);
    return start;
}

TEST(RealEngine, FileModeWritesAPlayableFile) {
    auto agent = real_agent();
    std::string path = output_dir(*agent) + "/fichier.mp4";
    agent->send(start_line(
        window_start("file", path,
                     {{"baseWidth", 1280}, {"baseHeight", 720}, {"width", 960}, {"height", 540}})));
    EXPECT_EQ(agent->expect_event("started", 20s)["source"], "fenêtre WGC");
    EXPECT_FALSE(agent->next_event(3s)); // record for three seconds
    agent->send(R"({"cmd":"stop"})");
    json finished = agent->expect_event("finished", 30s);
    EXPECT_EQ(finished["code"], 0) << finished;
    EXPECT_EQ(finished["path"], path);
    agent->send(R"({"cmd":"quit"})");
    agent->expect_event("bye", 20s);
    EXPECT_EQ(agent->wait_exit(), 0);
    expect_playable(path, 960, 540);
    double seconds = finished["stats"]["seconds"];
    EXPECT_NEAR(duration_of(probe(path)), seconds, 0.5);
}

TEST(RealEngine, ReplaySaveAndBothOutputs) {
    auto agent = real_agent();
    std::string dir = output_dir(*agent);
    agent->send(start_line(window_start("replay", dir)));
    agent->expect_event("started", 20s);
    EXPECT_FALSE(agent->next_event(2500ms));
    agent->send(R"({"cmd":"save"})");
    json saved = agent->expect_event("saved", 20s);
    std::string replay = saved["path"];
    EXPECT_EQ(replay.rfind(dir + "/KALTO_replay_", 0), 0u) << replay;
    expect_playable(replay, 640, 360);
    agent->send(R"({"cmd":"stop"})");
    json finished = agent->expect_event("finished", 30s);
    EXPECT_EQ(finished["code"], 0);
    EXPECT_EQ(finished["path"], nullptr);

    std::string clips = dir + "/clips";
    fs::create_directories(clips);
    std::string file = dir + "/les-deux.mp4";
    agent->send(start_line(window_start("both", file, {{"replayDir", clips}})));
    agent->expect_event("started", 20s);
    EXPECT_FALSE(agent->next_event(2500ms));
    agent->send(R"({"cmd":"save"})");
    std::string both_replay = agent->expect_event("saved", 20s)["path"];
    EXPECT_EQ(both_replay.rfind(clips + "/KALTO_replay_", 0), 0u) << both_replay;
    agent->send(R"({"cmd":"stop"})");
    EXPECT_EQ(agent->expect_event("finished", 30s)["code"], 0);
    agent->close_input();
    EXPECT_EQ(agent->wait_exit(), 0);
    expect_playable(both_replay, 640, 360);
    expect_playable(file, 640, 360);
}

// Without replayDir the clips land beside the recording; the engine itself
// would crash saving into an empty folder.
TEST(RealEngine, BothWithoutReplayDirSavesBesideTheFile) {
    auto agent = real_agent();
    std::string dir = output_dir(*agent);
    agent->send(start_line(window_start("both", dir + "/sans-dossier.mkv")));
    agent->expect_event("started", 20s);
    EXPECT_FALSE(agent->next_event(2500ms));
    agent->send(R"({"cmd":"save"})");
    std::string clip = agent->expect_event("saved", 20s)["path"];
    EXPECT_EQ(clip.rfind(dir + "/KALTO_replay_", 0), 0u) << clip;
    agent->send(R"({"cmd":"stop"})");
    EXPECT_EQ(agent->expect_event("finished", 30s)["code"], 0);
    agent->close_input();
    EXPECT_EQ(agent->wait_exit(), 0);
    expect_playable(clip, 640, 360);
}

TEST(RealEngine, EndOfInputFinalisesTheFile) {
    auto agent = real_agent();
    std::string path = output_dir(*agent) + "/fin.mp4";
    agent->send(start_line(window_start("file", path)));
    agent->expect_event("started", 20s);
    EXPECT_FALSE(agent->next_event(2s));
    agent->close_input();
    EXPECT_EQ(agent->expect_event("finished", 30s)["code"], 0);
    EXPECT_EQ(*agent->next_event(10s), json({{"event", "bye"}}));
    EXPECT_EQ(agent->wait_exit(), 0);
    expect_playable(path, 640, 360);
}

TEST(RealEngine, BlackScreenFallsBackToTheWindow) {
    auto agent = real_agent();
    std::string path = output_dir(*agent) + "/repli.mp4";
    agent->send(start_line(window_start(
        "file", path,
        {{"source", {{"kind", "monitor"}, {"monitor", "1"}, {"window", "Mire:ffplay:ffplay"}}}})));
    EXPECT_EQ(agent->expect_event("started", 20s)["source"], "écran DXGI");
    EXPECT_EQ(*agent->next_event(20s), json({{"event", "source"},
                                             {"source", "écran WGC"},
                                             {"reason", "image noire avec écran DXGI"}}));
    EXPECT_EQ(*agent->next_event(20s), json({{"event", "source"},
                                             {"source", "fenêtre WGC"},
                                             {"reason", "image noire avec écran WGC"}}));
    // The window shows moving content: no more fallback.
    EXPECT_FALSE(agent->next_event(4s));
    agent->send(R"({"cmd":"stats"})");
    json stats = agent->expect_event("stats");
    EXPECT_EQ(stats["source"], "fenêtre WGC");
    EXPECT_GT(stats["brightness"].get<double>(), 30.0);
    agent->send(R"({"cmd":"stop"})");
    EXPECT_EQ(agent->expect_event("finished", 30s)["code"], 0);
    agent->close_input();
    EXPECT_EQ(agent->wait_exit(), 0);
    expect_playable(path, 640, 360);
}

TEST(RealEngine, MissingWindowIsBlackAndFallsBack) {
    // No window of that class: one of the class would be taken, whatever its title.
    auto agent = real_agent();
    agent->send(start_line(
        window_start("file", output_dir(*agent) + "/absente.mp4",
                     {{"source", {{"kind", "window"}, {"window", "Absente:absente:absente"}}}})));
    EXPECT_EQ(agent->expect_event("started", 20s)["source"], "fenêtre WGC");
    EXPECT_EQ(*agent->next_event(20s), json({{"event", "source"},
                                             {"source", "fenêtre BitBlt"},
                                             {"reason", "image noire avec fenêtre WGC"}}));
    EXPECT_EQ(agent->next_event(20s)->value("event", ""), "black");
    agent->close_input();
    EXPECT_EQ(agent->expect_event("finished", 30s)["code"], 0);
    EXPECT_EQ(agent->wait_exit(), 0);
}

TEST(RealEngine, StaysBlackAndSaysSoOnce) {
    auto agent = real_agent();
    agent->send(start_line(window_start("file", output_dir(*agent) + "/noir.mp4",
                                        {{"source", {{"kind", "monitor"}, {"monitor", "1"}}}})));
    agent->expect_event("started", 20s);
    EXPECT_EQ(agent->next_event(20s)->value("event", ""), "source");
    EXPECT_EQ(*agent->next_event(20s),
              json({{"event", "black"},
                    {"message", "image noire avec toutes les sources (dernière : écran WGC)"}}));
    EXPECT_FALSE(agent->next_event(5s));
    agent->close_input();
    EXPECT_EQ(agent->expect_event("finished", 30s)["code"], 0);
    EXPECT_EQ(agent->wait_exit(), 0);
}

TEST(RealEngine, UnwritablePathFailsCleanlyAndTheNextStartWorks) {
    auto agent = real_agent();
    agent->send(start_line(window_start("file", "/proc/kalto/impossible.mp4")));
    json refused = agent->expect_event("error", 20s);
    // The engine's own text follows, localised: only the prefix is ours.
    EXPECT_EQ(refused["message"].get<std::string>().rfind("démarrage refusé : ", 0), 0u) << refused;
    agent->send(R"({"cmd":"stats"})");
    EXPECT_EQ(agent->expect_event("error")["message"], "aucun enregistrement en cours");
    std::string path = output_dir(*agent) + "/apres.mp4";
    agent->send(start_line(window_start("file", path)));
    agent->expect_event("started", 20s);
    EXPECT_FALSE(agent->next_event(2s));
    agent->send(R"({"cmd":"stop"})");
    EXPECT_EQ(agent->expect_event("finished", 30s)["code"], 0);
    agent->close_input();
    EXPECT_EQ(agent->wait_exit(), 0);
    expect_playable(path, 640, 360);
}

// Mean volume in dB of the file's sound after the audio filters `filters`.
double mean_volume(const std::string& path, const std::string& filters) {
    std::string out = command_output("ffmpeg -hide_banner -nostats -i '" + path + "' -vn -af " +
                                     filters + "volumedetect -f null - 2>&1");
    std::size_t at = out.find("mean_volume: ");
    return at == std::string::npos ? -1000.0 : std::stod(out.substr(at + 13));
}

// Around one frequency; the whole track.
double band_volume(const std::string& path, int frequency) {
    return mean_volume(path, "bandpass=f=" + std::to_string(frequency) + ":width_type=h:w=60,");
}

double track_volume(const std::string& path) {
    return mean_volume(path, "");
}

struct Sound {
    double at_3000 = 0, at_440 = 0, at_660 = 0, at_1000 = 0, whole = 0; // mean volumes in dB
};

// Records the window "Mire" with the sound `audio`: `started` is awaited, then
// `under_way` runs, then three more seconds are recorded.
Sound record_sound(const json& audio, std::map<std::string, std::string> env = {},
                   const std::function<void()>& under_way = {}) {
    auto agent = real_agent(env);
    std::string path = output_dir(*agent) + "/son.mp4";
    agent->send(start_line(window_start("file", path, {{"audio", audio}})));
    agent->expect_event("started", 20s);
    if (under_way)
        under_way();
    EXPECT_FALSE(agent->next_event(3s));
    agent->close_input();
    EXPECT_EQ(agent->expect_event("finished", 30s)["code"], 0);
    EXPECT_EQ(agent->wait_exit(), 0);
    return {band_volume(path, 3000), band_volume(path, 440), band_volume(path, 660),
            band_volume(path, 1000), track_volume(path)};
}

// Players ended however the test leaves: a tone left playing would be in later recordings.
struct Players {
    std::vector<pid_t> pids;
    ~Players() {
        for (pid_t pid : pids)
            if (pid > 0)
                kill_desktop_process(pid);
    }
};

// Record streams the sound server holds, of any client.
int record_streams() {
    std::string outputs = command_output("pactl list short source-outputs 2>/dev/null");
    return static_cast<int>(std::count(outputs.begin(), outputs.end(), '\n'));
}

TEST(RealEngine, SoundComesFromTheSoundServerElseIsSilent) {
    // The server plays 1000 Hz.
    Sound computer = record_sound({{"kind", "desktop"}});
    EXPECT_GT(computer.at_1000, computer.at_440 + 15.0);
    // A player whose window says it runs on another machine: its connection's process here is
    // a proxy's, not the application's. Its sound is not taken.
    Players players{{start_player("Ailleurs", 660)}};
    ASSERT_GT(players.pids[0], 0);
    command_output("xprop -name Ailleurs -f WM_CLIENT_MACHINE 8s -set WM_CLIENT_MACHINE ailleurs");
    EXPECT_LT(record_sound({{"kind", "process"}, {"window", "Ailleurs:ffplay:ffplay"}}).whole,
              -60.0);
    // A window naming the player's process as its own, as a sandboxed client's number may: the
    // X server says whose it is, a process that plays nothing.
    std::string liar_command =
        KALTO_COLOUR_WINDOW " Menteur 000000 " + std::to_string(players.pids[0]) + " >/dev/null";
    FILE* liar = popen(liar_command.c_str(), "we");
    ASSERT_NE(liar, nullptr);
    ASSERT_TRUE(wait_for_window("Menteur"));
    EXPECT_LT(record_sound({{"kind", "process"}, {"window", "Menteur:colour_window:colour_window"}})
                  .whole,
              -60.0);
    pclose(liar);
    EXPECT_LT(
        record_sound({{"kind", "desktop"}}, {{"PULSE_SERVER", "unix:/nonexistent/pulse"}}).whole,
        -60.0);
}

TEST(RealEngine, AnApplicationsSoundIsItsOwnAlone) {
    // The game runs under another name than its program's file, as programs that rename
    // themselves do: its streams still name the program.
    fs::path renamed = fs::temp_directory_path() / ("kalto-renomme-" + std::to_string(getpid()));
    fs::create_directories(renamed);
    fs::create_symlink(command_output("command -v ffplay | tr -d '\\n'"), renamed / "jeu-renomme");
    // Another program's window of the game's title, older: it is not the game.
    FILE* impostor = popen(KALTO_COLOUR_WINDOW " Jeu440 000000 >/dev/null", "we");
    ASSERT_NE(impostor, nullptr);
    ASSERT_TRUE(wait_for_window("Jeu440"));
    Players players{
        {start_player("Jeu440", 440, renamed / "jeu-renomme"), start_player("Chat1000", 1000)}};
    fs::remove_all(renamed);
    ASSERT_GT(players.pids[0], 0);
    ASSERT_GT(players.pids[1], 0);
    // The server's own 1000 Hz plays as well: neither it nor the chat is in the game's sound.
    Sound game = record_sound({{"kind", "process"}, {"window", "Jeu440:ffplay:ffplay"}});
    Sound chat = record_sound({{"kind", "process"}, {"window", "Chat1000:ffplay:ffplay"}});
    Sound computer = record_sound({{"kind", "desktop"}});
    EXPECT_GT(game.at_440, game.at_1000 + 15.0) << game.at_440 << " dB against " << game.at_1000;
    EXPECT_GT(chat.at_1000, chat.at_440 + 15.0) << chat.at_1000 << " dB against " << chat.at_440;
    // The computer's sound holds both; the game's tone is as loud in either: none lost on the way.
    EXPECT_GT(computer.at_1000, computer.at_440 - 15.0);
    EXPECT_GT(computer.at_440, computer.at_1000 - 15.0);
    EXPECT_NEAR(game.at_440, computer.at_440, 3.0);

    // Following one player then the other, quickly, as a window changing hands would: once
    // nothing is followed, no stream of ours is left on the server, not even one that was
    // ended while the server was making it.
    ProcessStreams* streams =
        start_process_streams([](void*, const float*, std::size_t) {}, nullptr);
    follow_process(*streams, players.pids[0]);
    auto until = std::chrono::steady_clock::now() + 10s;
    while (record_streams() == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(record_streams(), 1) << "the game's stream was not recorded";
    for (int i = 0; i < 200; ++i) {
        follow_process(*streams, players.pids[i % 2]);
        std::this_thread::sleep_for(1ms);
    }
    follow_process(*streams, 0);
    until = std::chrono::steady_clock::now() + 10s;
    while (record_streams() > 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(record_streams(), 0);
    stop_process_streams(streams);
    pclose(impostor);
}

// A window whose process starts two players once told to, through a named pipe. They
// are all in one process group, ended together however the test leaves.
struct Launcher {
    std::string go = "/tmp/kalto-go-" + std::to_string(getpid());
    int window_input = -1; // the window ends when it closes
    pid_t group = -1;

    Launcher() {
        int fds[2];
        if (mkfifo(go.c_str(), 0600) != 0 || pipe2(fds, O_CLOEXEC) != 0)
            return;
        // A third, short, ends during the recording.
        std::string script =
            "export SDL_AUDIODRIVER=pulseaudio; (read go < " + go +
            "; for f in 440 660 880:duration=2; do ffplay -loglevel quiet -nodisp "
            "-autoexit -f lavfi -i sine=frequency=$f & done; wait) & exec " KALTO_COLOUR_WINDOW
            " Lanceur 000000";
        char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), script.data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
        if (posix_spawn(&group, "/bin/sh", &actions, &attributes, argv, environ) != 0)
            group = -1;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[0]);
        window_input = fds[1];
    }
    ~Launcher() {
        if (group > 0) {
            kill(-group, SIGKILL);
            waitpid(group, nullptr, 0);
        }
        if (window_input >= 0)
            close(window_input);
        std::error_code ignored;
        std::filesystem::remove(go, ignored);
    }
    // Tells the players to start; false when nobody listened before the deadline.
    bool start_players(std::chrono::steady_clock::time_point until) {
        while (std::chrono::steady_clock::now() < until) {
            int fd = open(go.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                bool said = write(fd, "go\n", 3) == 3;
                close(fd);
                return said;
            }
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }
};

TEST(RealEngine, AnApplicationsSoundHoldsWhatItsChildrenPlay) {
    // The window's process plays nothing itself. Once the recording is under way, a process
    // it started starts three players: their streams are taken as they appear. One ends
    // soon: its stream goes, and the microphone (the default source) is never recorded instead.
    ASSERT_TRUE(start_microphone(3000));
    Launcher launcher;
    ASSERT_GT(launcher.group, 0);
    auto until = std::chrono::steady_clock::now() + 20s;
    std::string owner = "= " + std::to_string(launcher.group);
    auto shown = [&] {
        return command_output("xprop -name Lanceur _NET_WM_PID 2>/dev/null").find(owner) !=
               std::string::npos;
    };
    while (!shown() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(shown()) << "the window did not appear";
    auto players = [] {
        std::string inputs = command_output("pactl list sink-inputs 2>/dev/null");
        int count = 0;
        for (std::size_t at = 0;
             (at = inputs.find("application.process.binary = \"ffplay\"", at)) != std::string::npos;
             ++at)
            ++count;
        return count;
    };
    bool started = false, three = false, ended = false;
    Sound sound = record_sound(
        {{"kind", "process"}, {"window", "Lanceur:colour_window:colour_window"}}, {}, [&] {
            auto deadline = std::chrono::steady_clock::now() + 20s;
            started = launcher.start_players(deadline);
            while (started && !(three = players() == 3) &&
                   std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(50ms);
            // Once the short one's input is gone, one stream of ours records each of the others.
            while (three && !(ended = players() == 2 && record_streams() == 2) &&
                   std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(50ms);
        });
    ASSERT_TRUE(started) << "the players were not started";
    EXPECT_TRUE(three) << "the three players did not play together";
    EXPECT_TRUE(ended) << "a stream of an ended input was left, or one of the others not recorded";
    EXPECT_GT(sound.at_440, sound.at_1000 + 15.0) << sound.at_440 << " against " << sound.at_1000;
    EXPECT_GT(sound.at_660, sound.at_1000 + 15.0) << sound.at_660 << " against " << sound.at_1000;
    EXPECT_LT(sound.at_3000, sound.at_440 - 30.0) << "the microphone: " << sound.at_3000;
    // Mixed whole: a stream held back or cut short would be quieter than the other.
    EXPECT_NEAR(sound.at_440, sound.at_660, 2.0);
}

// A file recording of a 320x180 window at its own size.
json small_window_start(const std::string& path, const std::string& window) {
    return window_start("file", path,
                        {{"source", {{"kind", "window"}, {"window", window}}},
                         {"baseWidth", 320},
                         {"baseHeight", 180},
                         {"width", 320},
                         {"height", 180}});
}

TEST(RealEngine, StatisticsGrowWithTheRecording) {
    auto agent = real_agent();
    agent->send(
        start_line(small_window_start(output_dir(*agent) + "/blanc.mp4", "Blanc:ffplay:ffplay")));
    agent->expect_event("started", 20s);
    EXPECT_FALSE(agent->next_event(2s));
    agent->send(R"({"cmd":"stats"})");
    json first = agent->expect_event("stats");
    EXPECT_FALSE(agent->next_event(2s));
    agent->send(R"({"cmd":"stats"})");
    json second = agent->expect_event("stats");
    EXPECT_GT(second["rendered"].get<int>(), first["rendered"].get<int>());
    EXPECT_GT(second["encoded"].get<int>(), first["encoded"].get<int>());
    EXPECT_GT(second["examined"].get<int>(), first["examined"].get<int>());
    EXPECT_EQ(second["dropped"], 0);
    // White is luma 235 in partial range (the covering red would be 63). The first
    // frames may be black: the mean is taken over the frames between the two.
    auto luma_sum = [](const json& stats) {
        return stats["brightness"].get<double>() * stats["examined"].get<double>();
    };
    double between = (luma_sum(second) - luma_sum(first)) /
                     (second["examined"].get<double>() - first["examined"].get<double>());
    EXPECT_NEAR(between, 235.0, 10.0) << first << second;
    EXPECT_NEAR(second["fps"].get<double>(), 30.0, 1.0);
    agent->close_input();
    EXPECT_EQ(agent->expect_event("finished", 30s)["code"], 0);
    EXPECT_EQ(agent->wait_exit(), 0);
}

// Asks for statistics until the mean luma of the frames examined since the
// previous request is near `luma`, or the deadline passes; returns the last mean.
double wait_for_luma(AgentProcess& agent, double luma, std::chrono::seconds deadline) {
    auto until = std::chrono::steady_clock::now() + deadline;
    double sum = 0, examined = 0, mean = -1;
    while (std::chrono::steady_clock::now() < until) {
        agent.send(R"({"cmd":"stats"})");
        json stats = agent.expect_event("stats");
        double now_examined = stats["examined"].get<double>();
        double now_sum = stats["brightness"].get<double>() * now_examined;
        if (now_examined > examined) {
            mean = (now_sum - sum) / (now_examined - examined);
            if (std::abs(mean - luma) < 10.0)
                return mean;
        }
        sum = now_sum;
        examined = now_examined;
        agent.next_event(500ms);
    }
    return mean;
}

TEST(RealEngine, WindowHiddenAndShownIsCapturedAsItIsNow) {
    // Two windows alike. The second, red, is the one the root's client list names, as a window
    // manager publishes it: the list's is taken. Red is luma 63, green 173, white 235.
    FILE* other = popen(KALTO_COLOUR_WINDOW " Teinte 00ff00 >/dev/null", "we");
    ASSERT_NE(other, nullptr);
    ASSERT_TRUE(wait_for_window("Teinte"));
    FILE* window = popen(KALTO_COLOUR_WINDOW " Teinte ff0000 >/dev/null", "we");
    ASSERT_NE(window, nullptr);
    std::fputs("list\n", window);
    std::fflush(window);
    auto listed = [] {
        return command_output("xprop -root _NET_CLIENT_LIST 2>/dev/null").find("window id") !=
               std::string::npos;
    };
    auto until = std::chrono::steady_clock::now() + 20s;
    while (!listed() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(listed());
    auto agent = real_agent();
    agent->send(start_line(small_window_start(output_dir(*agent) + "/teinte.mp4",
                                              "Teinte:colour_window:colour_window")));
    agent->expect_event("started", 20s);
    EXPECT_NEAR(wait_for_luma(*agent, 63.0, 15s), 63.0, 10.0);
    // Hidden, repainted while hidden, shown again: the capture must show the new picture.
    std::fputs("unmap\ncolour ffffff\nmap\n", window);
    std::fflush(window);
    EXPECT_NEAR(wait_for_luma(*agent, 235.0, 10s), 235.0, 10.0);
    // Made narrower only: the picture follows, half white, half the black around it.
    std::fputs("size 160 180\n", window);
    std::fflush(window);
    EXPECT_NEAR(wait_for_luma(*agent, 125.5, 10s), 125.5, 10.0);
    // Gone, its entry left in the list as a window manager that died leaves it: the walk
    // finds the other.
    pclose(window);
    EXPECT_NEAR(wait_for_luma(*agent, 173.0, 15s), 173.0, 10.0);
    agent->close_input();
    EXPECT_EQ(agent->expect_event("finished", 30s)["code"], 0);
    EXPECT_EQ(agent->wait_exit(), 0);
    pclose(other);
    command_output("xprop -root -remove _NET_CLIENT_LIST");
}

TEST(Desktop, TeardownEndsAChildThatIgnoresTerminationWithinItsGrace) {
    int ignoring[2];
    ASSERT_EQ(pipe(ignoring), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGTERM, SIG_IGN);
        // Tells the parent that SIGTERM can no longer end it.
        char ready = 1;
        if (write(ignoring[1], &ready, 1) != 1)
            _exit(1);
        for (;;)
            pause();
    }
    close(ignoring[1]);
    pollfd ready_fd{ignoring[0], POLLIN, 0};
    bool ignored = poll(&ready_fd, 1, 10000) == 1;
    close(ignoring[0]);
    ASSERT_TRUE(ignored) << "the child never reported ignoring SIGTERM";
    auto before = std::chrono::steady_clock::now();
    end_processes({child}, 300ms);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    // Reaped: nothing of it is left to wait for.
    EXPECT_EQ(waitpid(child, nullptr, WNOHANG), -1);
}

} // namespace
