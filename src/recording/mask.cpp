#include "recording/mask.h"

#include "api/engine_api.h"
#include "recording/frame_probe.h"

void set_mask(Recording& recording, bool hidden) {
    if (recording.masked == hidden)
        return;
    recording.masked = hidden;
    mask_flag.store(hidden);
    // Black frames on either side of the change must not add up to a fallback.
    probe_reset();
    engine().obs_source_set_enabled(recording.sources[0], !hidden);
}
