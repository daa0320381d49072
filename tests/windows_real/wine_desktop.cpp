#include "wine_desktop.h"

#include "real/desktop.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

WineDesktop* current = nullptr;
std::vector<pid_t> servers; // the display and the sound server
std::string sound_runtime;

pid_t spawn(std::vector<std::string> args, int display_fd = -1) {
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (display_fd >= 0)
        posix_spawn_file_actions_adddup2(&actions, display_fd, 3);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", 0, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", 0, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (pid > 0)
        servers.push_back(pid);
    return pid;
}

// Xvfb picks a free display and writes its number on the descriptor it is given.
std::string start_display() {
    int fds[2];
    if (pipe(fds) != 0)
        return "";
    pid_t pid = spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "1280x720x24", "+extension",
                       "GLX", "-nolisten", "tcp", "-noreset"},
                      fds[1]);
    close(fds[1]);
    std::string number;
    char c;
    while (pid > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    return number.empty() ? "" : ":" + number;
}

bool start_sound() {
    char pattern[] = "/tmp/kalto-wine-pulse-XXXXXX";
    if (!mkdtemp(pattern))
        return false;
    sound_runtime = pattern;
    setenv("XDG_RUNTIME_DIR", pattern, 1);
    unsetenv("PULSE_SERVER");
    spawn({"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n",
           "--load=module-null-sink sink_name=kalto_null", "--load=module-native-protocol-unix",
           "--load=module-sine sink=kalto_null frequency=1000"});
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::filesystem::exists(sound_runtime + "/pulse/native")) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// The engine's needs under Wine: an Intel adapter id, since libobs-d3d11 sets
// a GPU scheduling priority on any other and Wine aborts there; and a crash
// printing its backtrace on standard error rather than waiting on a dialog.
const char* const registry = "Windows Registry Editor Version 5.00\r\n\r\n"
                             "[HKEY_CURRENT_USER\\Software\\Wine\\Direct3D]\r\n"
                             "\"VideoPciVendorID\"=dword:00008086\r\n"
                             "\"VideoPciDeviceID\"=dword:00000412\r\n\r\n"
                             "[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"
                             "\"ShowCrashDialog\"=dword:00000000\r\n";

std::string start_wine(const std::string& work) {
    std::filesystem::create_directories(work + "/prefix");
    setenv("WINEPREFIX", (work + "/prefix").c_str(), 1);
    // No .NET nor HTML engine to offer to install in a new prefix.
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    if (!std::getenv("WINEDEBUG"))
        setenv("WINEDEBUG", "-all", 1);
    if (std::system("wineserver -p") != 0)
        return "wineserver -p a échoué";
    std::ofstream(work + "/engine.reg", std::ios::binary) << registry;
    std::string import =
        "wine reg import '" + windows_path(work + "/engine.reg") + "' >/dev/null 2>&1";
    if (std::system(import.c_str()) != 0)
        return "le registre de Wine refuse " + work + "/engine.reg";
    return "";
}

} // namespace

std::string windows_path(const std::string& path) {
    std::string out = "Z:" + path;
    for (char& c : out)
        if (c == '/')
            c = '\\';
    return out;
}

std::string unix_path(const std::string& path) {
    std::string out = path.rfind("Z:", 0) == 0 || path.rfind("z:", 0) == 0 ? path.substr(2) : path;
    for (char& c : out)
        if (c == '\\')
            c = '/';
    return out;
}

const WineDesktop& wine_desktop(const std::string& work) {
    if (current)
        return *current;
    current = new WineDesktop;
    current->display = start_display();
    if (current->display.empty()) {
        current->failure = "Xvfb ne démarre pas";
        return *current;
    }
    setenv("DISPLAY", current->display.c_str(), 1);
    if (!start_sound())
        current->failure = "pulseaudio ne démarre pas";
    else
        current->failure = start_wine(work);
    return *current;
}

void stop_wine_desktop() {
    if (std::system("wineserver -k >/dev/null 2>&1") != 0) {
        // No server left to end.
    }
    end_processes(servers, std::chrono::seconds(5));
    servers.clear();
    if (!sound_runtime.empty())
        std::filesystem::remove_all(sound_runtime);
    delete current;
    current = nullptr;
}
