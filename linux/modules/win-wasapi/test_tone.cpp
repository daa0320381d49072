// "wasapi_output_capture" and "wasapi_process_output_capture" for Linux: the
// same type ids and settings keys as the Windows plug-in. They play a test
// tone (440 Hz for the computer's sound, 660 Hz for an application's), so that
// recordings carry a known, audible track on machines without a sound server.
#include "../common/source_info.h"

#include <obs-module.h>
#include <util/platform.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

OBS_DECLARE_MODULE()

namespace {

constexpr uint32_t sample_rate = 48000;
constexpr uint32_t chunk_frames = 480; // 10 ms

struct Tone {
    obs_source_t* source = nullptr;
    double frequency = 440.0;
    std::atomic<bool> stopping{false};
    std::thread thread;
};

void play(Tone* tone) {
    std::vector<float> samples(chunk_frames);
    uint64_t position = 0;
    uint64_t timestamp = os_gettime_ns();
    auto next = std::chrono::steady_clock::now();
    while (!tone->stopping) {
        for (uint32_t i = 0; i < chunk_frames; ++i, ++position)
            samples[i] =
                0.2f * static_cast<float>(std::sin(2.0 * M_PI * tone->frequency *
                                                   static_cast<double>(position) / sample_rate));
        obs_source_audio audio = {};
        audio.data[0] = reinterpret_cast<const uint8_t*>(samples.data());
        audio.data[1] = reinterpret_cast<const uint8_t*>(samples.data());
        audio.frames = chunk_frames;
        audio.speakers = SPEAKERS_STEREO;
        audio.format = AUDIO_FORMAT_FLOAT_PLANAR;
        audio.samples_per_sec = sample_rate;
        audio.timestamp = timestamp;
        obs_source_output_audio(tone->source, &audio);
        timestamp += 10'000'000;
        next += std::chrono::milliseconds(10);
        std::this_thread::sleep_until(next);
    }
}

void* create(obs_source_t* source, double frequency) {
    auto* tone = new Tone;
    tone->source = source;
    tone->frequency = frequency;
    tone->thread = std::thread(play, tone);
    return tone;
}

void destroy(void* data) {
    auto* tone = static_cast<Tone*>(data);
    tone->stopping = true;
    tone->thread.join();
    delete tone;
}

} // namespace

bool obs_module_load(void) {
    obs_source_info desktop = input_source_info(
        "wasapi_output_capture", "Son du PC (tonalité d'essai)", OBS_SOURCE_AUDIO,
        [](obs_data_t*, obs_source_t* s) { return create(s, 440.0); }, destroy);
    obs_source_info process = input_source_info(
        "wasapi_process_output_capture", "Son du jeu (tonalité d'essai)", OBS_SOURCE_AUDIO,
        [](obs_data_t*, obs_source_t* s) { return create(s, 660.0); }, destroy);
    obs_register_source(&desktop);
    obs_register_source(&process);
    return true;
}
