#pragma once

// What the harness's reading threads share with the test, on every platform.

#include "agent_process.h"
#include "protocol_log.h"

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

struct AgentProcess::Shared {
    std::mutex lock;
    std::condition_variable changed;
    std::string out, err;
    ProtocolLog protocol;            // written by the test's thread only
    std::string log_kind = "events"; // what standard output carries, for the schema check
    std::size_t taken = 0;           // bytes of `out` already handed out as events
    bool out_closed = false;
    std::atomic<bool> stop_reading_out{false};
    std::thread out_thread, err_thread;
    // The platform's handles: descriptors on POSIX, HANDLEs on Windows.
    int out_fd = -1, err_fd = -1;
    void* process = nullptr;
    void* stdin_write = nullptr;
};

// Lays out the tree the agent runs in below `root` (or uses the installed
// one) and returns the folder of the agent's executable.
std::filesystem::path prepare_tree(const std::string& root, const AgentOptions& options);
