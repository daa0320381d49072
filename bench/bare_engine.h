#pragma once

// What the bare reference programs share: an engine brought up with the
// engine's own Linux capture plug-ins and the agent's encoder and output
// plug-ins, and one recording session of a file, a replay buffer, or both.
#include <obs.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

// Starts the engine at 1920x1080, 60 fps, and loads the plug-ins from the
// system and from the agent's installed tree at `root`.
bool start_bare_engine(const std::string& root);
bool reset_bare_video(std::uint32_t width, std::uint32_t height, std::uint32_t fps);

struct BareSession {
    obs_source_t* picture = nullptr;
    obs_source_t* sound = nullptr;
    obs_encoder_t* h264 = nullptr;
    obs_encoder_t* aac = nullptr;
    obs_output_t* file = nullptr;
    obs_output_t* replay = nullptr;
    // Filled by the outputs' signal handlers, on the engine's threads.
    std::mutex lock;
    std::condition_variable signalled;
    int stops = 0;
    int saves = 0;
};

// Creates the sources, encoders and outputs and starts the outputs: a file at
// `path` when it is not empty, a replay buffer into `clips` when that is not empty.
bool open_bare_session(BareSession& session, const std::string& path, const std::string& clips,
                       int replay_seconds);
// Frames the session's first output has written so far.
std::uint64_t bare_frames(const BareSession& session);
bool save_bare_replay(BareSession& session);
// Stops the outputs, waits for them, and releases everything the session made.
void close_bare_session(BareSession& session);
