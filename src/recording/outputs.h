#pragma once

#include "api/engine_abi.h"
#include "common/channel.h"
#include "protocol/command.h"
#include "recording/settings.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// What an output's "stop" signal reports.
struct StopReport {
    std::int64_t code = 0;
    std::string message;
};

// One planned output.
struct OutputSpec {
    const char* id;   // "ffmpeg_muxer" or "replay_buffer"
    const char* name; // display name given to the engine
    bool replay;
    SettingsList settings;
};

// User data of an output's signal connections; lives until the process ends.
// Only the receiving end owns the channel, so a context left behind by an
// ended recording keeps no queue alive.
struct OutputSignalContext {
    std::mutex lock;
    std::weak_ptr<Channel<StopReport>> stop_reports;
    obs_output_t* output = nullptr;
};

// A started output and the receiving end of its stop channel.
struct RunningOutput {
    obs_output_t* output = nullptr;
    Receiver<StopReport> stop_reports;
    bool replay = false;
};

struct StartedOutputs {
    std::vector<RunningOutput> outputs;
    obs_output_t* file_output = nullptr;
    obs_output_t* replay_output = nullptr;
};

// Started outputs, or the failure message once every output of this start is
// released; the sources and encoders are the caller's to release.
struct OutputsResult {
    std::optional<StartedOutputs> started;
    std::string failure;
    // An output refused to start because its H.264 encoder could not set itself
    // up; the engine's text about it.
    bool encoder_unusable = false;
    std::string engine_text;
};

// The replay buffer's folder in mode "both": `replayDir`, else the recording file's folder.
std::string replay_folder(const std::optional<std::string>& replay_dir, const std::string& path);
std::vector<OutputSpec> plan_outputs(const Start& start);

OutputsResult start_outputs(const Start& start, const std::vector<obs_encoder_t*>& encoders);

void on_output_stop(void* context, calldata_t* data);
void on_replay_saved(void* context, calldata_t* data);
