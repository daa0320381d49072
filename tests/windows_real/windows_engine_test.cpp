// OBS Studio's own Windows engine (31.1.1 + 4) under Wine 10: the shipped
// agent and layout program on the engine's real plug-ins. What Wine cannot do
// (Windows Graphics Capture, DXGI desktop duplication, one application's sound)
// is pinned as what a user under Wine sees.
#include "agent_process.h"
#include "real/desktop.h"
#include "wine_desktop.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

const std::string work = KALTO_WINE_WORK;
const std::string window = "Teinte:KaltoTeinte:teinte.exe";

class WineEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        fs::remove_all(work + "/out");
        fs::create_directories(work + "/out");
        const WineDesktop& desktop = wine_desktop(work);
        ASSERT_EQ(desktop.failure, "");
        // A red 320x180 window, recoloured through its standard input.
        colour_window = popen(("wine " KALTO_WINE_PROGRAMS "/teinte.exe Teinte ff0000 "
                               ">/dev/null 2>&1"),
                              "w");
        ASSERT_NE(colour_window, nullptr);
        auto until = std::chrono::steady_clock::now() + 60s;
        auto shown = [] {
            return command_output("xwininfo -root -tree").find("\"Teinte\"") != std::string::npos;
        };
        while (!shown() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(100ms);
        ASSERT_TRUE(shown()) << "the test window did not appear";
    }
    void TearDown() override {
        if (colour_window)
            pclose(colour_window);
        stop_wine_desktop();
    }
    static inline FILE* colour_window = nullptr;
};

const auto* environment = ::testing::AddGlobalTestEnvironment(new WineEnvironment);

// A stock OBS Studio folder from the engine's files, with the stand-in
// libobs-winrt.dll that Wine needs (the real one aborts there).
std::string stock_installation() {
    std::string obs = work + "/obs-studio";
    fs::remove_all(obs);
    const fs::path engine = KALTO_WINE_ENGINE;
    auto copy = [](const fs::path& from, const fs::path& to) {
        fs::create_directories(to);
        fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    };
    copy(engine / "bin", obs + "/bin/64bit");
    copy(engine / "obs-plugins", obs + "/obs-plugins/64bit");
    copy(engine / "data" / "effects", obs + "/data/libobs");
    copy(engine / "data" / "obs-plugins", obs + "/data/obs-plugins");
    fs::copy_file(KALTO_WINE_PROGRAMS "/libobs-winrt.dll", obs + "/bin/64bit/libobs-winrt.dll",
                  fs::copy_options::overwrite_existing);
    return obs;
}

// Runs a command and returns its exit code and what it printed on both streams.
std::pair<int, std::string> run(const std::string& command) {
    std::string out;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return {-1, ""};
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

struct Layout {
    int code = -1;
    std::string output;
    std::string root;
};

// The agent's tree, made once by the shipped layout program from the stock folder.
const Layout& laid_out() {
    static Layout layout = [] {
        Layout made;
        std::string obs = stock_installation();
        made.root = work + "/agent";
        fs::remove_all(made.root);
        std::tie(made.code, made.output) =
            run("wine " KALTO_WINE_PROGRAMS "/kalto-obs-layout.exe '" + windows_path(made.root) +
                "' '" + windows_path(obs) + "'");
        return made;
    }();
    return layout;
}

std::unique_ptr<AgentProcess> wine_agent() {
    // Wine 10 may abort at start ("free(): invalid pointer", "double free") when
    // TMPDIR is set beside WINEDEBUG=-all; the harness sets TMPDIR.
    auto agent =
        std::make_unique<AgentProcess>(AgentOptions{.installed_root = laid_out().root,
                                                    .launcher = {"env", "-u", "TMPDIR", "wine"},
                                                    .executable = "kalto-obs.exe"});
    json ready = agent->expect_event("ready", 60s);
    // obs-nvenc refuses to initialise without NVIDIA's driver; obs-outputs is not in this engine.
    EXPECT_EQ(ready["modules"],
              json({"win-capture", "win-wasapi", "obs-ffmpeg", "obs-x264", "obs-qsv11"}));
    return agent;
}

json start_of(const std::string& mode, const std::string& path, json extra = json::object()) {
    json start = {{"mode", mode},
                  {"path", windows_path(path)},
                  {"source", {{"kind", "window"}, {"window", window}}},
                  {"baseWidth", 320},
                  {"baseHeight", 180},
                  {"width", 320},
                  {"height", 180},
                  {"fps", 30},
                  {"bitrate", 1500},
                  {"audio", {{"kind", "desktop"}}}};
    start.update(extra);
    return start;
}

json probe(const std::string& path) {
    return json::parse(command_output("ffprobe -v error -print_format json -count_frames "
                                      "-show_streams '" +
                                      path + "'"),
                       nullptr, false);
}

json stream_of(const json& probed, const std::string& type) {
    for (const json& stream : probed.value("streams", json::array()))
        if (stream.value("codec_type", "") == type)
            return stream;
    return json::object();
}

// Video frames a decoder reads from the file.
int decoded_frames(const json& probed) {
    return std::atoi(stream_of(probed, "video").value("nb_read_frames", "0").c_str());
}

// Mean volume in dB around `frequency`, or of the whole track when 0.
double volume(const std::string& path, int frequency) {
    std::string filter =
        frequency ? "bandpass=f=" + std::to_string(frequency) + ":width_type=h:w=60," : "";
    std::string out = command_output("ffmpeg -hide_banner -nostats -i '" + path + "' -vn -af " +
                                     filter + "volumedetect -f null - 2>&1");
    std::size_t at = out.find("mean_volume: ");
    return at == std::string::npos ? -1000.0 : std::stod(out.substr(at + 13));
}

// Asks for statistics until the mean luma of the frames examined since the
// previous answer is near `luma`; returns the last mean.
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

void paint(const char* colour) {
    std::fprintf(WineEnvironment::colour_window, "colour %s\n", colour);
    std::fflush(WineEnvironment::colour_window);
}

// Every line the agent wrote is an event: nothing of the engine's reaches the controller.
void expect_only_events(const AgentProcess& agent) {
    for (const std::string& line : agent.stdout_lines())
        EXPECT_FALSE(json::parse(line, nullptr, false).is_discarded()) << line;
}

TEST(WindowsEngine, LayoutProgramMakesTheAgentsTree) {
    const Layout& layout = laid_out();
    EXPECT_NE(layout.output.find("modules trouvés : win-capture, win-wasapi, obs-ffmpeg, "
                                 "obs-x264, obs-nvenc, obs-qsv11"),
              std::string::npos)
        << layout.output;
    // This engine has no obs-outputs: the tree is incomplete, and the agent records all the same.
    EXPECT_EQ(layout.code, 5) << layout.output;
    EXPECT_NE(layout.output.find("il manque obs-outputs"), std::string::npos) << layout.output;
    for (const char* file : {"bin/64bit/kalto-obs.exe", "bin/64bit/obs.dll",
                             "bin/64bit/obs-ffmpeg-mux.exe", "data/libobs/default.effect",
                             "core/win-capture/win-capture.dll", "core/obs-qsv11/obs-qsv11.dll"})
        EXPECT_TRUE(fs::exists(layout.root + "/" + file)) << file;
}

// The value `--list` gives the item named `name`, among `items`; empty when none is.
std::string listed_value(const json& items, const std::string& name) {
    for (const json& item : items)
        if (item.value("name", "") == name)
            return item.value("value", "");
    return "";
}

// A new user's session: the window picked from the agent's own list, no encoder named,
// both modes, the computer's sound.
TEST(WindowsEngine, RecordsAWindowAndTheComputersSound) {
    paint("ff0000");
    AgentProcess listing({.installed_root = laid_out().root,
                          .launcher = {"env", "-u", "TMPDIR", "wine"},
                          .executable = "kalto-obs.exe",
                          .arguments = {"--list"}});
    EXPECT_EQ(listing.wait_exit(120s), 0) << listing.stderr_text();
    json targets = json::parse(listing.stdout_text(), nullptr, false);
    EXPECT_EQ(listed_value(targets.value("windows", json::array()), "[teinte.exe]: Teinte"), window)
        << targets;
    // Wine names its one screen by its device interface, as Windows 10 does.
    std::string monitors = targets.value("monitors", json::array()).dump();
    EXPECT_NE(monitors.find("DISPLAY"), std::string::npos) << monitors;

    auto agent = wine_agent();
    std::string out = work + "/out", file = out + "/fenetre.mp4";
    agent->send(start_line(start_of("both", file, {{"replayDir", windows_path(out)}})));
    // Wine's adapter says Intel: QSV is listed, cannot set itself up, and gives way.
    EXPECT_EQ(*agent->next_event(30s),
              json({{"event", "error"}, {"message", "encodeur obs_qsv11_v2 inutilisable : "}}));
    EXPECT_EQ(*agent->next_event(30s),
              json({{"event", "error"}, {"message", "encodeur obs_qsv11 inutilisable : "}}));
    json started = agent->expect_event("started", 30s);
    EXPECT_EQ(started["encoder"], "obs_x264");
    EXPECT_EQ(started["source"], "fenêtre WGC");
    // No Windows Graphics Capture under Wine: black, then BitBlt shows the window.
    EXPECT_EQ(*agent->next_event(30s), json({{"event", "source"},
                                             {"source", "fenêtre BitBlt"},
                                             {"reason", "image noire avec fenêtre WGC"}}));
    // Red is luma 63 and green 173 in partial range.
    EXPECT_NEAR(wait_for_luma(*agent, 63.0, 20s), 63.0, 10.0);
    paint("00ff00");
    EXPECT_NEAR(wait_for_luma(*agent, 173.0, 20s), 173.0, 10.0);
    agent->send(R"({"cmd":"save"})");
    std::string clip = unix_path(agent->expect_event("saved", 30s)["path"]);
    agent->send(R"({"cmd":"stop"})");
    json finished = agent->expect_event("finished", 40s);
    EXPECT_EQ(finished["code"], 0) << finished;
    EXPECT_EQ(finished["encoder"], "obs_x264");
    agent->send(R"({"cmd":"quit"})");
    agent->expect_event("bye", 30s);
    EXPECT_EQ(agent->wait_exit(60s), 0);
    expect_only_events(*agent);

    EXPECT_EQ(clip.rfind(out + "/KALTO_replay_", 0), 0u) << clip;
    json probed_clip = probe(clip);
    EXPECT_GT(decoded_frames(probed_clip), 30) << probed_clip;
    json probed = probe(file);
    EXPECT_EQ(stream_of(probed, "video").value("codec_name", ""), "h264") << probed;
    EXPECT_EQ(stream_of(probed, "video").value("width", 0), 320);
    EXPECT_EQ(stream_of(probed, "audio").value("codec_name", ""), "aac") << probed;
    EXPECT_GT(decoded_frames(probed), decoded_frames(probed_clip));
    // WASAPI's default output is PulseAudio's, whose null output plays 1000 Hz.
    EXPECT_GT(volume(file, 1000), volume(file, 440) + 15.0);
}

TEST(WindowsEngine, WhatWineCannotShow) {
    auto agent = wine_agent();
    // A named encoder is tried alone, and QSV cannot set itself up here.
    agent->send(start_line(start_of("file", work + "/out/qsv.mp4", {{"encoder", "obs_qsv11_v2"}})));
    EXPECT_EQ(*agent->next_event(30s),
              json({{"event", "error"}, {"message", "démarrage refusé : "}}));
    // No DXGI desktop duplication, no Windows Graphics Capture: the screen stays black.
    agent->send(
        start_line(start_of("file", work + "/out/ecran.mp4",
                            {{"source", {{"kind", "monitor"}, {"monitor", "\\\\.\\DISPLAY1"}}},
                             {"encoder", "obs_x264"}})));
    EXPECT_EQ(agent->expect_event("started", 30s)["source"], "écran DXGI");
    EXPECT_EQ(*agent->next_event(30s), json({{"event", "source"},
                                             {"source", "écran WGC"},
                                             {"reason", "image noire avec écran DXGI"}}));
    EXPECT_EQ(*agent->next_event(30s),
              json({{"event", "black"},
                    {"message", "image noire avec toutes les sources (dernière : écran WGC)"}}));
    agent->close_input();
    EXPECT_EQ(agent->expect_event("finished", 40s)["code"], 0);
    EXPECT_EQ(agent->wait_exit(60s), 0);
    expect_only_events(*agent);
    EXPECT_GT(decoded_frames(probe(work + "/out/ecran.mp4")), 30);
}

// Killed mid-recording, the agent leaves the muxer (obs-ffmpeg-mux.exe) with
// its input ended: it finishes the file.
TEST(WindowsEngine, KilledAgentLeavesAPlayableFile) {
    auto agent = wine_agent();
    std::string file = work + "/out/tue.mp4";
    agent->send(start_line(start_of("file", file, {{"encoder", "obs_x264"}})));
    agent->expect_event("started", 30s);
    auto until = std::chrono::steady_clock::now() + 20s;
    int encoded = 0;
    while (encoded < 60 && std::chrono::steady_clock::now() < until) {
        agent->next_event(500ms);
        agent->send(R"({"cmd":"stats"})");
        encoded = agent->expect_event("stats")["encoded"].get<int>();
    }
    ASSERT_GE(encoded, 60);
    kill(agent->pid(), SIGKILL);
    agent->wait_exit(10s);
    auto muxer_running = [] {
        return command_output("ps -eo args").find("obs-ffmpeg-mux.exe") != std::string::npos;
    };
    until = std::chrono::steady_clock::now() + 30s;
    while (muxer_running() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(muxer_running());
    EXPECT_GT(decoded_frames(probe(file)), 30);
}

} // namespace
