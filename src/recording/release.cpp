#include "recording/release.h"

#include "api/engine_api.h"

#include <atomic>
#include <cstdio>
#include <thread>

namespace {

// Set once, by the main thread; read at the end of the process.
std::atomic<bool> left_running{false};

} // namespace

bool release_output(obs_output_t* output, std::chrono::steady_clock::time_point until) {
    // The engine raises "stop" before its own thread has finished ending the
    // output: a release in between waits for ever too. An engine without the
    // entry point to tell is not waited for.
    static auto active =
        reinterpret_cast<obs_output_active_fn>(engine_optional_entry("obs_output_active"));
    while (active && active(output) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (active && active(output)) {
        left_running = true;
        std::fputs("sortie toujours active : laissée au moteur, qui ne sera pas arrêté\n", stderr);
        return false;
    }
    engine().obs_output_release(output);
    return true;
}

bool outputs_left_running() {
    return left_running;
}

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
