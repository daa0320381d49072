#pragma once

// The scripted stand-in for the engine library: shared state, the script read
// from the environment, the call journal and a timer thread for signals.

#include "api/engine_abi.h"

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#if defined(_WIN32)
#define FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

struct obs_data {
    std::string handle;
    std::vector<std::pair<std::string, std::string>> items; // key, rendered value
    int refs = 1;
};

struct SignalConnection {
    std::string signal;
    signal_callback_t callback;
    void* data;
};

struct obs_source {
    std::string handle, id, name, settings;
    int method = -1;
    int luma = 120;
    bool enabled = true;
    int agent_refs = 1;
};

struct obs_encoder {
    std::string handle, id, name, settings;
    int agent_refs = 1;
};

struct obs_output {
    std::string handle, id, name, settings, directory;
    obs_encoder* video_encoder = nullptr;
    std::vector<SignalConnection> connections;
    bool active = false;
    const char* last_error = nullptr;
    std::string last_error_text;
    std::uint32_t frames_at_start = 0;
    int saves = 0;
    int agent_refs = 1;
};

// The script, read once from FAKE_OBS_* environment variables.
struct FakeScript {
    std::string journal_path;
    bool startup_fails = false;
    bool audio_fails = false;
    std::vector<int> video_results;
    std::string version = "29.0.2-fake";
    bool version_null = false;
    std::vector<std::string> encoders;
    std::map<std::string, int> module_open;
    std::vector<std::string> module_init_fails;
    std::string log_lines;
    std::vector<std::string> refused; // "source:window_capture/2", "output:replay_buffer"
    std::map<std::string, int> luma;  // "window_capture/2" or "window_capture" -> luma
    std::map<std::string, std::string> start_fails; // output id -> last error ("\x01" for none)
    // H.264 encoder id -> last error ("-" for none) of an encoder that cannot set itself up:
    // every output it is given refuses to start.
    std::map<std::string, std::string> unusable_encoders;
    // output id -> "never", "stuck" (not even a forced stop ends it), "code:N:text", "early:N:text"
    std::map<std::string, std::string> stops;
    std::string save; // "", "fail", "nopath"
    int stop_delay_ms = 30;
    int active_after_stop_ms = 0; // the output ends that long after its "stop" signal
    int save_delay_ms = 20;
    int tick_ms = 0;
    long delivered_frames = -1; // frames each raw-video callback receives; -1 for all
    double fps = -1;
    std::uint32_t lagged = 0;
    int dropped = 0;
    std::string list_items; // see fake_properties.cpp
};

const FakeScript& script();

// One line of the call journal, written at once.
void journal(const std::string& line);

// Serialises every call into the fake's state.
std::mutex& state_lock();

// Runs `task` on the fake's engine thread after `delay`.
void schedule(std::chrono::milliseconds delay, std::function<void()> task);
void stop_engine_threads();

// Calls every connection of `signal` with call data holding `code` when set.
void raise_signal(obs_output* output, const char* signal, const long long* code);

std::string next_handle(char kind);
// Fake objects live until the process ends, reachable for leak checkers.
void keep_alive(void* object);
bool is_refused(const std::string& kind, const std::string& id, int method);
std::vector<std::string> split(const std::string& text, char separator);

// The engine's own allocator, counted so that leaks show in the journal.
void* fake_bmalloc(std::size_t size);
void fake_bfree(void* pointer);
void calldata_set_text(calldata_t* data, const char* name, const std::string& text);
int live_allocations();

// Video thread and raw-video callbacks.
void start_video_thread();
void stop_video_thread();
std::uint32_t total_frames();
