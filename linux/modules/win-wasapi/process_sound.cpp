// "wasapi_process_output_capture" for Linux: the sound of the application
// whose window the settings name, and only its sound. The window, matched as
// the Windows plug-in matches it (x_windows.h), gives its process as the X
// server knows it, and the sound server that process's streams (see
// process_streams.h); without the window, a process the server vouches for or
// any stream of it, the track is silent.
#include "../common/inner_source.h"
#include "../common/x_windows.h"
#include "process_streams.h"
#include "sound_sources.h"

#include <util/platform.h>

#include <X11/Xlib.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr auto lookup_period = std::chrono::seconds(1); // between searches for the window
// Further than this from where the last run ended, sound starts a new run.
constexpr uint64_t resync_after = 70'000'000;
// Runs waiting for the engine beyond this many: the oldest go (the engine is stalled).
constexpr std::size_t most_waiting = 100;

struct Run {
    std::vector<float> sound; // interleaved stereo
    uint64_t timestamp = 0;
};

struct ProcessSound {
    obs_source_t* source = nullptr;
    std::optional<WindowValue> value; // none: the setting names no window
    WindowPriority priority = WindowPriority::executable;
    ProcessStreams* streams = nullptr;
    std::mutex mutex; // guards `stopping` and `waiting`
    std::condition_variable wake, sound_ready;
    bool stopping = false;
    std::deque<Run> waiting;
    std::thread lookup, delivery;
    uint64_t next_timestamp = 0; // where the last run ended; the connection's thread only
};

// The window now, and its process: 0 when there is none to trust.
pid_t look_up(ProcessSound& sound, Display* display, unsigned long& window) {
    try {
        window =
            display && sound.value ? find_window(display, *sound.value, sound.priority, window) : 0;
    } catch (...) { // out of memory: tried again later
        window = 0;
    }
    return window ? window_process(display, window) : 0;
}

// Once a second: the window's process now (it may have closed, or a better
// matching one opened), and the sound server again if it went away.
void run_lookup(ProcessSound& sound) {
    Display* display = XOpenDisplay(nullptr);
    unsigned long window = 0;
    std::unique_lock lock(sound.mutex);
    while (!sound.stopping) {
        lock.unlock();
        pid_t pid = look_up(sound, display, window);
        keep_connected(*sound.streams);
        follow_process(*sound.streams, pid);
        lock.lock();
        sound.wake.wait_for(lock, lookup_period, [&] { return sound.stopping; });
    }
    lock.unlock();
    if (display)
        XCloseDisplay(display);
}

// On the sound server connection's thread, which holds its lock: the sound is
// handed to the delivery thread. Runs of sound follow each other exactly,
// unless the clock says a pause came between them.
void take_sound(void* data, const float* samples, std::size_t frames) {
    auto& sound = *static_cast<ProcessSound*>(data);
    uint64_t duration = frames * 1'000'000'000ull / process_sound_rate;
    uint64_t began = os_gettime_ns() - duration;
    uint64_t expected = sound.next_timestamp;
    if (expected == 0 || (began > expected ? began - expected : expected - began) > resync_after)
        sound.next_timestamp = began;
    Run run{{samples, samples + frames * process_sound_channels}, sound.next_timestamp};
    sound.next_timestamp += duration;
    {
        std::lock_guard lock(sound.mutex);
        sound.waiting.push_back(std::move(run));
        if (sound.waiting.size() > most_waiting)
            sound.waiting.pop_front();
    }
    sound.sound_ready.notify_one();
}

void run_delivery(ProcessSound& sound) {
    std::unique_lock lock(sound.mutex);
    while (true) {
        sound.sound_ready.wait(lock, [&] { return sound.stopping || !sound.waiting.empty(); });
        if (sound.stopping)
            return;
        Run run = std::move(sound.waiting.front());
        sound.waiting.pop_front();
        lock.unlock();
        obs_source_audio out = {};
        out.data[0] = reinterpret_cast<const uint8_t*>(run.sound.data());
        out.frames = static_cast<uint32_t>(run.sound.size() / process_sound_channels);
        out.speakers = SPEAKERS_STEREO;
        out.format = AUDIO_FORMAT_FLOAT;
        out.samples_per_sec = process_sound_rate;
        out.timestamp = run.timestamp;
        obs_source_output_audio(sound.source, &out);
        lock.lock();
    }
}

// Ends the threads that started and the sound server connection.
void stop(ProcessSound& sound) {
    {
        std::lock_guard lock(sound.mutex);
        sound.stopping = true;
    }
    sound.wake.notify_all();
    sound.sound_ready.notify_all();
    if (sound.lookup.joinable())
        sound.lookup.join();
    if (sound.streams)
        stop_process_streams(sound.streams);
    // No sound reaches the source once this returns.
    if (sound.delivery.joinable())
        sound.delivery.join();
}

void* create(obs_data_t* settings, obs_source_t* source) {
    // Nothing may escape into the engine: a capture that cannot be made (no
    // thread, no memory) leaves the source without data, silent, which the
    // engine then never calls with.
    std::unique_ptr<ProcessSound> sound;
    try {
        sound = std::make_unique<ProcessSound>();
        sound->source = source;
        sound->value = parse_window_value(obs_data_get_string(settings, "window"));
        sound->priority = static_cast<WindowPriority>(obs_data_get_int(settings, "priority"));
        sound->streams = start_process_streams(take_sound, sound.get());
        sound->delivery = std::thread(run_delivery, std::ref(*sound));
        sound->lookup = std::thread(run_lookup, std::ref(*sound));
    } catch (...) {
        if (sound)
            stop(*sound);
        return nullptr;
    }
    return sound.release();
}

void destroy(void* data) {
    auto* sound = static_cast<ProcessSound*>(data);
    stop(*sound);
    delete sound;
}

} // namespace

obs_source_info process_sound_info() {
    return input_source_info("wasapi_process_output_capture", "Son du jeu", OBS_SOURCE_AUDIO,
                             create, destroy);
}
