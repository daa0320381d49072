#include "recording/stop.h"

#include "api/engine_api.h"
#include "platform/platform.h"
#include "protocol/event_writer.h"
#include "recording/frame_probe.h"
#include "recording/release.h"
#include "recording/stats.h"

#include <chrono>
#include <thread>

namespace {

const char* const forced_stop = "arrêt forcé après 20 s";
const char* const no_output = "aucune sortie";

// The engine raises "stop" before its own thread has finished ending the
// output, and releasing the output in between can wait for ever (the end is
// reset as it is signalled). Waits, up to `until`, for the output to be
// inactive; an engine without the entry point to tell is not waited for.
void wait_until_ended(obs_output_t* output, std::chrono::steady_clock::time_point until) {
    using Active = bool (*)(const obs_output_t*);
    static auto active = reinterpret_cast<Active>(engine_optional_entry("obs_output_active"));
    while (active && active(output) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

} // namespace

void stop_recording(Recording recording) {
    const EngineApi& api = engine();
    nlohmann::json stats = collect_stats(recording);
    api.obs_remove_raw_video_callback(probe_on_frame, nullptr);

    // Every stop is requested before any wait, so the outputs flush together.
    for (RunningOutput& running : recording.outputs)
        api.obs_output_stop(running.output);

    StopReport outcome{-1, no_output};
    for (std::size_t i = 0; i < recording.outputs.size(); ++i) {
        RunningOutput& running = recording.outputs[i];
        auto until = std::chrono::steady_clock::now() + output_stop_wait;
        auto received = running.stop_reports.receive_for(output_stop_wait);
        StopReport result{-1, forced_stop};
        if (received.item) {
            result = std::move(*received.item);
            wait_until_ended(running.output, until);
        } else {
            api.obs_output_force_stop(running.output);
        }
        api.obs_output_release(running.output);
        if (i == 0)
            outcome = std::move(result);
    }

    release_sources_and_encoders(recording.sources, recording.encoders);
    platform::release_free_memory();

    nlohmann::json error = nullptr;
    if (outcome.code != 0)
        error = outcome.message;
    nlohmann::json path = nullptr;
    if (recording.file_output)
        path = recording.path;
    emit_event({{"event", "finished"},
                {"mode", recording.mode},
                {"path", path},
                {"code", outcome.code},
                {"error", error},
                {"stats", stats},
                {"encoder", recording.encoder}});
}
