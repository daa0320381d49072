#include "recording/release.h"

#include "api/engine_api.h"

void release_sources_and_encoders(const std::vector<obs_source_t*>& sources,
                                  const std::vector<obs_encoder_t*>& encoders) {
    const EngineApi& api = engine();
    api.obs_set_output_source(0, nullptr);
    api.obs_set_output_source(1, nullptr);
    for (obs_source_t* source : sources)
        api.obs_source_release(source);
    for (obs_encoder_t* encoder : encoders)
        api.obs_encoder_release(encoder);
}

void free_calldata(calldata_t& data) {
    if (data.stack && !data.fixed)
        engine().bfree(data.stack);
    data.stack = nullptr;
}
