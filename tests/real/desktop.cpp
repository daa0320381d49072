#include "desktop.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

std::vector<pid_t> children;
pid_t xvfb = -1;
std::string sound_runtime;
std::vector<pid_t> sound_processes; // the server's, PipeWire's three included
Desktop* current = nullptr;

pid_t spawn(std::vector<std::string> args, posix_spawn_file_actions_t* actions = nullptr) {
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], actions, nullptr, argv.data(), environ) != 0)
        return -1;
    children.push_back(pid);
    return pid;
}

// Xvfb picks a free display and writes its number on the descriptor we give it.
std::string start_xvfb() {
    int fds[2];
    if (pipe(fds) != 0)
        return "";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", 0, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", 0, 0);
    std::vector<std::string> args = {"Xvfb",        "-displayfd", "3",       "-screen",    "0",
                                     "1280x720x24", "-screen",    "1",       "640x360x24", "-br",
                                     "-nolisten",   "tcp",        "-noreset"};
    // Extra server options, such as "-extension MIT-SHM" to run without shared memory.
    std::istringstream extra(std::getenv("KALTO_XVFB_ARGS") ? std::getenv("KALTO_XVFB_ARGS") : "");
    for (std::string word; extra >> word;)
        args.push_back(word);
    pid_t pid = xvfb = spawn(args, &actions);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string number;
    char c;
    while (pid > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    return number.empty() ? "" : ":" + number;
}

bool wait_for_path(const std::string& path) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (access(path.c_str(), F_OK) != 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return access(path.c_str(), F_OK) == 0;
}

// The session manager's settings and state in the runtime folder, with no monitor of
// devices: it must neither take a real sound card nor change the user's saved output.
void write_session_manager_settings() {
    std::filesystem::create_directories(sound_runtime + "/config/wireplumber/main.lua.d");
    std::filesystem::create_directories(sound_runtime + "/config/wireplumber/bluetooth.lua.d");
    std::filesystem::create_directories(sound_runtime + "/config/wireplumber/wireplumber.conf.d");
    // Versions 0.4 read Lua, 0.5 and later their own format; each ignores the other's.
    std::ofstream(sound_runtime + "/config/wireplumber/main.lua.d/51-kalto.lua")
        << "alsa_monitor.enabled = false\nv4l2_monitor.enabled = false\n"
           "libcamera_monitor.enabled = false\n";
    std::ofstream(sound_runtime + "/config/wireplumber/bluetooth.lua.d/51-kalto.lua")
        << "bluez_monitor.enabled = false\n";
    std::ofstream(sound_runtime + "/config/wireplumber/wireplumber.conf.d/51-kalto.conf")
        << "wireplumber.profiles = { main = { monitor.alsa = disabled, monitor.bluez = disabled, "
           "monitor.v4l2 = disabled, monitor.libcamera = disabled } }\n";
}

// PipeWire, its session manager and its PulseAudio server, with one null output
// (no sine of its own); under a session bus (dbus-run-session) for the session manager.
// Makes `name` the server's default sink or source, retrying for up to 10 s while
// the device is not there yet.
bool make_default(const std::string& kind, const std::string& label, const std::string& name) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until) {
        if (command_output("timeout 5 pactl set-default-" + kind + " " + name +
                           " >/dev/null 2>&1; timeout 5 pactl info")
                .find("Default " + label + ": " + name) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

pid_t start_pipewire(posix_spawn_file_actions_t* quiet) {
    write_session_manager_settings();
    // For these three only: the agent and the players keep the user's folders.
    std::string config = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
    std::string state = std::getenv("XDG_STATE_HOME") ? std::getenv("XDG_STATE_HOME") : "";
    setenv("XDG_CONFIG_HOME", (sound_runtime + "/config").c_str(), 1);
    setenv("XDG_STATE_HOME", (sound_runtime + "/state").c_str(), 1);
    sound_processes.push_back(spawn({"pipewire"}, quiet));
    bool daemon = wait_for_path(sound_runtime + "/pipewire-0");
    pid_t pid = -1;
    if (daemon) {
        sound_processes.push_back(spawn({"wireplumber"}, quiet));
        pid = spawn({"pipewire-pulse"}, quiet);
        sound_processes.push_back(pid);
    }
    config.empty() ? unsetenv("XDG_CONFIG_HOME") : setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    state.empty() ? unsetenv("XDG_STATE_HOME") : setenv("XDG_STATE_HOME", state.c_str(), 1);
    if (pid < 0 || !wait_for_path(sound_runtime + "/pulse/native"))
        return -1;
    command_output("timeout 5 pw-cli create-node adapter '{ factory.name=support.null-audio-sink "
                   "node.name=kalto_null media.class=Audio/Sink object.linger=true "
                   "audio.position=[FL FR] }' >/dev/null 2>&1");
    // The output appears once the session manager has seen it.
    return make_default("sink", "Sink", "kalto_null") ? pid : -1;
}

// Whether the sound server answers; a killed one may have left its socket behind.
bool sound_server_answers() {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (command_output("timeout 5 pactl info 2>/dev/null").find("Server Name") ==
           std::string::npos) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

// A sound server whose only output plays a 1000 Hz sine, so the computer's
// sound is known; PipeWire's instead when KALTO_SOUND_SERVER is "pipewire". It
// runs in the runtime folder made for it.
pid_t run_sound_server() {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", 0, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", 0, 0);
    const char* server = std::getenv("KALTO_SOUND_SERVER");
    pid_t pid = -1;
    if (server && std::string(server) == "pipewire") {
        pid = start_pipewire(&actions);
    } else {
        pid = spawn({"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n",
                     "--load=module-null-sink sink_name=kalto_null",
                     "--load=module-native-protocol-unix",
                     "--load=module-sine sink=kalto_null frequency=1000"},
                    &actions);
        sound_processes.push_back(pid);
        if (!sound_server_answers())
            pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

pid_t start_sound_server() {
    char pattern[] = "/tmp/kalto-pulse-XXXXXX";
    const char* runtime = mkdtemp(pattern);
    if (!runtime)
        return -1;
    sound_runtime = runtime;
    setenv("XDG_RUNTIME_DIR", runtime, 1);
    unsetenv("PULSE_SERVER");
    return run_sound_server();
}

bool window_exists(const std::string& title) {
    return command_output("xwininfo -root -tree 2>/dev/null").find("\"" + title + "\"") !=
           std::string::npos;
}

} // namespace

std::string command_output(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

const Desktop& desktop() {
    if (current)
        return *current;
    current = new Desktop;
    current->display = start_xvfb();
    current->display_server = xvfb;
    if (current->display.empty())
        return *current;
    setenv("DISPLAY", current->display.c_str(), 1);
    current->sound_server = start_sound_server();
    spawn({"ffplay", "-loglevel", "quiet", "-f", "lavfi", "-i", "testsrc=size=640x360:rate=30",
           "-window_title", "Mire", "-noborder", "-left", "0", "-top", "0", "-an"});
    spawn({"ffplay", "-loglevel", "quiet", "-f", "lavfi", "-i",
           "color=c=white:size=320x180:rate=10", "-window_title", "Blanc", "-noborder", "-left",
           "800", "-top", "0", "-an"});
    // The windows appear asynchronously: wait for each, with a deadline.
    wait_for_window("Mire");
    wait_for_window("Blanc");
    // Mapped after "Blanc", so above it: "Blanc" is captured while covered.
    spawn({"ffplay", "-loglevel", "quiet", "-f", "lavfi", "-i", "color=c=red:size=400x220:rate=10",
           "-window_title", "Cache", "-noborder", "-left", "780", "-top", "0", "-an"});
    wait_for_window("Cache");
    return *current;
}

bool wait_for_window(const std::string& title) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!window_exists(title) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return window_exists(title);
}

pid_t start_player(const std::string& title, int frequency, const std::string& program) {
    // SDL would pick PipeWire first where its library is installed; the server here is PulseAudio.
    pid_t pid =
        spawn({"env", "SDL_AUDIODRIVER=pulseaudio", program, "-loglevel", "quiet", "-f", "lavfi",
               "-i", "sine=frequency=" + std::to_string(frequency), "-window_title", title, "-x",
               "160", "-y", "120", "-left", "1000", "-top", "500"});
    std::string stream = "application.process.id = \"" + std::to_string(pid) + "\"";
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (pid > 0 && std::chrono::steady_clock::now() < until) {
        if (window_exists(title) &&
            command_output("pactl list sink-inputs 2>/dev/null").find(stream) != std::string::npos)
            return pid;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (pid > 0)
        kill_desktop_process(pid);
    return -1;
}

pid_t restart_sound_server() {
    for (pid_t pid : sound_processes)
        if (std::find(children.begin(), children.end(), pid) != children.end())
            kill_desktop_process(pid);
    sound_processes.clear();
    current->sound_server = run_sound_server();
    return current->sound_server;
}

bool start_microphone(int frequency) {
    // A source reading what a tone generator writes, in real time, into its pipe.
    std::string pipe = sound_runtime + "/micro";
    command_output("timeout 5 pactl load-module module-pipe-source source_name=kalto_micro file=" +
                   pipe + " format=s16le rate=48000 channels=2 >/dev/null 2>&1");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, pipe.c_str(), O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    spawn({"ffmpeg", "-loglevel", "quiet", "-re", "-f", "lavfi", "-i",
           "sine=frequency=" + std::to_string(frequency), "-f", "s16le", "-ar", "48000", "-ac", "2",
           "-"},
          &actions);
    posix_spawn_file_actions_destroy(&actions);
    return make_default("source", "Source", "kalto_micro");
}

void end_processes(const std::vector<pid_t>& pids, std::chrono::milliseconds grace) {
    for (pid_t pid : pids)
        kill(pid, SIGTERM);
    // A child that hangs in its own exit gets SIGKILL once the grace period is over.
    auto until = std::chrono::steady_clock::now() + grace;
    std::vector<pid_t> left = pids;
    while (!left.empty()) {
        std::erase_if(left, [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) != 0; });
        if (left.empty())
            break;
        if (std::chrono::steady_clock::now() >= until) {
            for (pid_t pid : left) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void stop_desktop() {
    // The X clients before the X server: a client losing its server can hang in its own exit.
    std::vector<pid_t> clients;
    for (pid_t pid : children)
        if (pid != xvfb)
            clients.push_back(pid);
    end_processes(clients, std::chrono::seconds(5));
    if (xvfb > 0)
        end_processes({xvfb}, std::chrono::seconds(5));
    children.clear();
    sound_processes.clear();
    xvfb = -1;
    if (!sound_runtime.empty())
        std::filesystem::remove_all(sound_runtime);
    sound_runtime.clear();
    delete current;
    current = nullptr;
}

void kill_desktop_process(pid_t pid) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    // Reaped here, so that the teardown never signals a pid the system may have reused.
    std::erase(children, pid);
    if (pid == xvfb)
        xvfb = -1;
}
