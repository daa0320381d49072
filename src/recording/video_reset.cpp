#include "recording/video_reset.h"

#include "api/engine_api.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

// The engine's video reset destroys and re-creates a lock that its audio thread
// takes at every tick (libobs 30 to 32); on Windows a tick that meets the lock
// destroyed crashes the process, about one reset in twenty under Wine. The
// audio thread is held in a raw-audio callback of ours, after its tick, for as
// long as the reset lasts.

namespace {

// An audio thread that does not come is not waited for longer than this.
constexpr auto longest_wait = std::chrono::milliseconds(500);

enum class HoldState { waiting, held, released };

struct AudioHold {
    std::mutex lock;
    std::condition_variable changed;
    HoldState state = HoldState::waiting;
};

void hold_audio_thread(void* param, size_t, audio_data*) {
    try {
        auto& hold = *static_cast<AudioHold*>(param);
        std::unique_lock<std::mutex> guard(hold.lock);
        if (hold.state != HoldState::waiting)
            return;
        hold.state = HoldState::held;
        hold.changed.notify_all();
        hold.changed.wait(guard, [&] { return hold.state == HoldState::released; });
    } catch (...) {
        // Nothing may escape into the engine.
    }
}

void set_state(AudioHold& hold, HoldState state) {
    {
        std::lock_guard<std::mutex> guard(hold.lock);
        hold.state = state;
    }
    hold.changed.notify_all();
}

} // namespace

int reset_engine_video(obs_video_info& video) {
    const EngineApi& api = engine();
    static auto add = reinterpret_cast<obs_add_raw_audio_callback_fn>(
        engine_optional_entry("obs_add_raw_audio_callback"));
    static auto remove = reinterpret_cast<obs_remove_raw_audio_callback_fn>(
        engine_optional_entry("obs_remove_raw_audio_callback"));
    if (!add || !remove)
        return api.obs_reset_video(&video);

    AudioHold hold;
    add(0, nullptr, hold_audio_thread, &hold);
    {
        std::unique_lock<std::mutex> guard(hold.lock);
        // Not come in time: a later call must not wait.
        if (!hold.changed.wait_for(guard, longest_wait,
                                   [&] { return hold.state == HoldState::held; }))
            hold.state = HoldState::released;
    }
    int result = api.obs_reset_video(&video);
    set_state(hold, HoldState::released);
    // Taken out under the engine's lock of its audio callbacks: none is running after this.
    remove(0, hold_audio_thread, &hold);
    return result;
}
