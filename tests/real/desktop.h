#pragma once

// A virtual X display for the real engine: screen 0 shows a moving test
// pattern in the window "Mire" and a white window "Blanc" entirely covered by a
// red window "Cache"; screen 1 stays black.

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

struct Desktop {
    std::string display; // ":N"
    pid_t display_server = -1;
    pid_t sound_server = -1;
};

// Starts the display and its windows once; empty display on failure.
const Desktop& desktop();
// Waits, with a deadline, for a window of that title to exist.
bool wait_for_window(const std::string& title);
// Starts a player of a `frequency` Hz tone in a window titled `title` and waits
// until the sound server has its stream; -1 when it did not come. `program`
// is the player (ffplay) or a link to it under another name.
pid_t start_player(const std::string& title, int frequency, const std::string& program = "ffplay");
// Ends the sound server and starts it again in the same folder, where the
// agent finds it; its new process, or -1.
pid_t restart_sound_server();
// A source playing a `frequency` Hz tone, made the default source: the
// microphone that no application's sound may record.
bool start_microphone(int frequency);
// Ends the desktop's processes; the next desktop() starts a new one.
void stop_desktop();
// Kills one of the desktop's processes (a fault for a test to make) and reaps it.
void kill_desktop_process(pid_t pid);

// Sends SIGTERM to each process, then SIGKILL to those not ended within `grace`;
// returns once every one is reaped.
void end_processes(const std::vector<pid_t>& pids, std::chrono::milliseconds grace);

// Runs a command and returns what it printed on standard output.
std::string command_output(const std::string& command);
