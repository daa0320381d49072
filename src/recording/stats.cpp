#include "recording/stats.h"

#include "api/engine_api.h"
#include "recording/frame_probe.h"

#include <cmath>

double probe_brightness(double luma_sum, std::uint64_t frames) {
    if (frames == 0)
        return 0.0;
    return std::round(luma_sum / static_cast<double>(frames) * 10.0) / 10.0;
}

nlohmann::json collect_stats(const Recording& recording) {
    const EngineApi& api = engine();
    ProbeSnapshot probe = probe_snapshot();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - recording.started_at)
            .count();
    double fps = api.obs_get_active_fps();
    std::uint32_t rendered = api.obs_get_total_frames();
    std::uint32_t lagged = api.obs_get_lagged_frames();
    obs_output_t* primary = recording.file_output ? recording.file_output : recording.replay_output;
    int encoded = api.obs_output_get_total_frames(primary);
    int dropped = api.obs_output_get_frames_dropped(primary);
    return {{"event", "stats"},
            {"seconds", seconds},
            {"fps", fps},
            {"rendered", rendered},
            {"lagged", lagged},
            {"encoded", encoded},
            {"dropped", dropped},
            {"source", recording.candidates[recording.candidate_index].label},
            {"examined", probe.frames},
            {"darkSeconds", static_cast<double>(probe.dark_frames) * 0.5},
            {"brightness", probe_brightness(probe.luma_sum, probe.frames)}};
}
