#include "recording/stop.h"

#include "api/engine_api.h"
#include "platform/platform.h"
#include "protocol/event_writer.h"
#include "recording/frame_probe.h"
#include "recording/release.h"
#include "recording/stats.h"

#include <chrono>

namespace {

const char* const forced_stop = "arrêt forcé après 20 s";
const char* const no_output = "aucune sortie";
// A forced stop ends an output at its next packet, if one comes.
constexpr auto forced_end_wait = std::chrono::seconds(5);

} // namespace

void stop_recording(Recording recording) {
    const EngineApi& api = engine();
    nlohmann::json stats = collect_stats(recording);
    api.obs_remove_raw_video_callback(probe_on_frame, nullptr);

    // Every stop is requested before any wait, so the outputs flush together.
    for (RunningOutput& running : recording.outputs)
        api.obs_output_stop(running.output);

    // They were asked together, so they share one deadline: a stop takes at most
    // output_stop_wait + forced_end_wait whatever the mode.
    StopReport outcome{-1, no_output};
    auto until = std::chrono::steady_clock::now() + output_stop_wait;
    for (std::size_t i = 0; i < recording.outputs.size(); ++i) {
        RunningOutput& running = recording.outputs[i];
        auto received =
            running.stop_reports.receive_for(std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now()));
        StopReport result{-1, forced_stop};
        if (received.item)
            result = std::move(*received.item);
        else
            api.obs_output_force_stop(running.output);
        if (i == 0)
            outcome = std::move(result);
    }
    // The engine ends an output on its own thread after its "stop", and a forced one
    // at its next packet.
    auto ends_until = std::chrono::steady_clock::now() + forced_end_wait;
    for (RunningOutput& running : recording.outputs)
        release_output(running.output, ends_until);

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
