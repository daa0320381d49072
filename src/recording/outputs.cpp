#include "recording/outputs.h"

#include "api/engine_api.h"
#include "api/engine_text.h"
#include "protocol/event_writer.h"
#include "recording/encoders.h"
#include "recording/release.h"

#include <memory>

namespace {

// An output that had just started ends within its next few packets.
constexpr auto unwind_end_wait = std::chrono::seconds(5);

// Contexts are handed to the engine as signal user data and must outlive any
// late signal; this registry keeps them for the life of the process.
OutputSignalContext* new_signal_context(obs_output_t* output,
                                        const ChannelPtr<StopReport>& channel) {
    static auto* contexts = new std::vector<std::unique_ptr<OutputSignalContext>>;
    static auto* contexts_lock = new std::mutex;
    auto context = std::make_unique<OutputSignalContext>();
    context->output = output;
    context->stop_reports = channel;
    std::lock_guard<std::mutex> guard(*contexts_lock);
    contexts->push_back(std::move(context));
    return contexts->back().get();
}

// Stops and releases what this start had started.
void unwind_outputs(std::vector<RunningOutput>& started) {
    const EngineApi& api = engine();
    for (RunningOutput& running : started) {
        api.obs_output_stop(running.output);
        release_output(running.output, std::chrono::steady_clock::now() + unwind_end_wait);
    }
    started.clear();
}

} // namespace

// The engine's replay buffer dereferences a null folder when it saves into the
// empty text, which kills the process: clips without a folder of their own go
// beside the recording file, and a bare file name means the current directory.
std::string replay_folder(const std::optional<std::string>& replay_dir, const std::string& path) {
    if (replay_dir && !replay_dir->empty())
        return *replay_dir;
    std::size_t separator = path.find_last_of("/\\");
    if (separator == std::string::npos)
        return ".";
    return path.substr(0, separator + 1);
}

std::vector<OutputSpec> plan_outputs(const Start& start) {
    OutputSpec file{"ffmpeg_muxer", "KALTO fichier", false, {{"path", start.path}}};
    auto replay = [&start](const std::string& directory) {
        return OutputSpec{"replay_buffer",
                          "KALTO replay",
                          true,
                          {{"directory", directory},
                           {"format", std::string("KALTO_replay_%CCYY-%MM-%DD_%hh-%mm-%ss")},
                           {"extension", std::string("mp4")},
                           {"allow_spaces", false},
                           {"max_time_sec", std::int64_t{start.replay_seconds}},
                           {"max_size_mb", std::int64_t{start.replay_max_mb}}}};
    };
    if (start.mode == "file")
        return {file};
    if (start.mode == "replay")
        return {replay(start.path.empty() ? std::string(".") : start.path)};
    if (start.mode == "both")
        return {file, replay(replay_folder(start.replay_dir, start.path))};
    return {};
}

OutputsResult start_outputs(const Start& start, const std::vector<obs_encoder_t*>& encoders) {
    const EngineApi& api = engine();
    std::vector<RunningOutput> started;
    for (const OutputSpec& spec : plan_outputs(start)) {
        obs_data_t* settings = build_settings(spec.settings);
        obs_output_t* output = api.obs_output_create(spec.id, spec.name, settings, nullptr);
        api.obs_data_release(settings);
        if (!output) {
            unwind_outputs(started);
            return {std::nullopt, std::string("sortie ") + spec.id + " indisponible", false, {}};
        }
        api.obs_output_set_video_encoder(output, encoders[0]);
        if (encoders.size() > 1)
            api.obs_output_set_audio_encoder(output, encoders[1], 0);

        auto channel = std::make_shared<Channel<StopReport>>();
        OutputSignalContext* context = new_signal_context(output, channel);
        signal_handler_t* signals = api.obs_output_get_signal_handler(output);
        api.signal_handler_connect(signals, "stop", on_output_stop, context);
        if (spec.replay)
            api.signal_handler_connect(signals, "saved", on_replay_saved, context);

        if (!api.obs_output_start(output)) {
            std::string reason = from_engine_text(api.obs_output_get_last_error(output));
            // Asked before the release: the encoder may be set up for this output only.
            // Without an audio encoder the output refuses before it sets any encoder up:
            // the H.264 one is not to blame then.
            bool encoder_unusable = encoders.size() > 1 && !video_encoder_set_up(encoders[0]);
            api.obs_output_release(output);
            unwind_outputs(started);
            return {std::nullopt, "démarrage refusé : " + reason, encoder_unusable, reason};
        }
        started.push_back(RunningOutput{output, Receiver<StopReport>(channel), spec.replay});
    }

    StartedOutputs result;
    for (const RunningOutput& running : started) {
        if (running.replay && !result.replay_output)
            result.replay_output = running.output;
        if (!running.replay && !result.file_output)
            result.file_output = running.output;
    }
    result.outputs = std::move(started);
    return {std::move(result), std::string(), false, {}};
}

void on_output_stop(void* data, calldata_t* params) {
    try {
        auto* context = static_cast<OutputSignalContext*>(data);
        const EngineApi& api = engine();
        long long code = 0;
        if (params)
            api.calldata_get_data(params, "code", &code, sizeof code);
        StopReport report{code, from_engine_text(api.obs_output_get_last_error(context->output))};
        std::lock_guard<std::mutex> guard(context->lock);
        if (auto channel = context->stop_reports.lock())
            channel->send(std::move(report));
    } catch (...) {
        // Nothing may escape into the engine.
    }
}

void on_replay_saved(void* data, calldata_t*) {
    try {
        auto* context = static_cast<OutputSignalContext*>(data);
        const EngineApi& api = engine();
        proc_handler_t* procedures = api.obs_output_get_proc_handler(context->output);
        calldata_t call{};
        const char* path = nullptr;
        if (api.proc_handler_call(procedures, "get_last_replay", &call))
            api.calldata_get_string(&call, "path", &path);
        std::string saved_path = from_engine_text(path);
        free_calldata(call);
        emit_event({{"event", "saved"}, {"path", saved_path}});
    } catch (...) {
        // Nothing may escape into the engine.
    }
}
