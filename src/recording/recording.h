#pragma once

#include "api/engine_abi.h"
#include "protocol/command.h"
#include "recording/capture.h"
#include "recording/outputs.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The one active recording, owned by the command loop. It holds exactly one
// engine reference to every source, encoder and output it lists.
struct Recording {
    obs_output_t* file_output = nullptr;   // a copy of a handle in `outputs`
    obs_output_t* replay_output = nullptr; // a copy of a handle in `outputs`
    std::string mode;
    std::string path;
    std::vector<RunningOutput> outputs;
    std::vector<obs_source_t*> sources; // video source first, then the sound capture
    std::vector<CaptureCandidate> candidates;
    std::vector<obs_encoder_t*> encoders; // H.264 first, then AAC
    std::string encoder;
    std::chrono::steady_clock::time_point started_at;
    std::size_t candidate_index = 0;
    bool black_reported = false;
    bool masked = false;
};

// The engine's video settings: NV12, BT.709 partial range, bicubic scaling.
obs_video_info engine_video_info(std::uint32_t fps, std::uint32_t base_width,
                                 std::uint32_t base_height, std::uint32_t output_width,
                                 std::uint32_t output_height);

// The engine's audio settings: 48 kHz stereo.
obs_audio_info engine_audio_info();

// The engine's video settings for a start, with the rate and sizes limited.
obs_video_info start_video_info(const Start& start);

// One frame analysed out of `divisor`: about two per second.
std::uint32_t probe_divisor(std::uint32_t frame_rate);

// "file", "replay" or "both": the modes a start accepts, compared byte for byte.
bool is_recording_mode(std::string_view mode);

// Creates and starts everything; emits "started", or one error and nothing left behind.
std::optional<Recording> start_recording(Start start);
