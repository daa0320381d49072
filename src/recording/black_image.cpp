#include "recording/black_image.h"

#include "api/engine_api.h"
#include "protocol/event_writer.h"
#include "recording/frame_probe.h"

#include <string>

void check_black_image(Recording& recording) {
    if (probe_snapshot().dark_run < probe_black_run)
        return;
    const EngineApi& api = engine();
    std::string black_label = recording.candidates[recording.candidate_index].label;
    for (std::size_t i = recording.candidate_index + 1; i < recording.candidates.size(); ++i) {
        recording.candidate_index = i;
        obs_source_t* source = create_capture_source(recording.candidates[i]);
        if (!source)
            continue;
        api.obs_set_output_source(0, source);
        api.obs_source_release(recording.sources[0]);
        recording.sources[0] = source;
        probe_reset();
        emit_event({{"event", "source"},
                    {"source", recording.candidates[i].label},
                    {"reason", "image noire avec " + black_label}});
        return;
    }
    if (!recording.black_reported) {
        recording.black_reported = true;
        emit_event(
            {{"event", "black"},
             {"message", "image noire avec toutes les sources (dernière : " + black_label + ")"}});
    }
}
