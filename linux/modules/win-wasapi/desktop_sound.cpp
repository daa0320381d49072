// "wasapi_output_capture" and "wasapi_process_output_capture" for Linux: the
// same type ids and settings keys as the Windows plug-in. Where a sound
// server runs, both record what the computer plays (the default output's
// monitor: Linux has no per-application capture here). Without one they play
// a test tone, 440 Hz for the computer's sound and 660 Hz for an
// application's, so that recordings still carry a known track.
#include "../common/source_info.h"

#include <obs-module.h>
#include <util/platform.h>

#include <pulse/error.h>
#include <pulse/simple.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

OBS_DECLARE_MODULE()

namespace {

constexpr uint32_t sample_rate = 48000;
constexpr uint32_t chunk_frames = 480; // 10 ms
constexpr uint64_t chunk_ns = 10'000'000;

struct Sound {
    obs_source_t* source = nullptr;
    double tone_frequency = 440.0;
    std::atomic<bool> stopping{false};
    std::thread thread;
};

void output(Sound* sound, const float* samples, enum audio_format format, uint64_t timestamp) {
    obs_source_audio audio = {};
    audio.data[0] = reinterpret_cast<const uint8_t*>(samples);
    audio.data[1] = reinterpret_cast<const uint8_t*>(samples); // planar tone: same channel twice
    audio.frames = chunk_frames;
    audio.speakers = SPEAKERS_STEREO;
    audio.format = format;
    audio.samples_per_sec = sample_rate;
    audio.timestamp = timestamp;
    obs_source_output_audio(sound->source, &audio);
}

// Only an existing server is used: no client may spawn one for us.
bool sound_server_runs() {
    if (const char* server = std::getenv("PULSE_SERVER"))
        return *server != '\0';
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat info;
    return runtime && stat((std::string(runtime) + "/pulse/native").c_str(), &info) == 0;
}

pa_simple* connect_monitor() {
    if (!sound_server_runs())
        return nullptr;
    pa_sample_spec spec = {PA_SAMPLE_FLOAT32LE, sample_rate, 2};
    pa_buffer_attr attributes = {};
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.fragsize = chunk_frames * 2 * sizeof(float);
    int error = 0;
    pa_simple* stream = pa_simple_new(nullptr, "kalto-obs", PA_STREAM_RECORD, "@DEFAULT_MONITOR@",
                                      "son de l'ordinateur", &spec, nullptr, &attributes, &error);
    if (!stream)
        blog(LOG_WARNING, "son : serveur de son injoignable (%s), tonalité d'essai",
             pa_strerror(error));
    return stream;
}

void record_monitor(Sound* sound, pa_simple* stream) {
    std::vector<float> samples(chunk_frames * 2);
    while (!sound->stopping) {
        int error = 0;
        if (pa_simple_read(stream, samples.data(), samples.size() * sizeof(float), &error) < 0) {
            blog(LOG_WARNING, "son : lecture interrompue (%s)", pa_strerror(error));
            break;
        }
        output(sound, samples.data(), AUDIO_FORMAT_FLOAT, os_gettime_ns() - chunk_ns);
    }
    pa_simple_free(stream);
}

void play_tone(Sound* sound) {
    std::vector<float> samples(chunk_frames);
    uint64_t position = 0;
    uint64_t timestamp = os_gettime_ns();
    auto next = std::chrono::steady_clock::now();
    while (!sound->stopping) {
        for (uint32_t i = 0; i < chunk_frames; ++i, ++position)
            samples[i] =
                0.2f * static_cast<float>(std::sin(2.0 * M_PI * sound->tone_frequency *
                                                   static_cast<double>(position) / sample_rate));
        output(sound, samples.data(), AUDIO_FORMAT_FLOAT_PLANAR, timestamp);
        timestamp += chunk_ns;
        next += std::chrono::milliseconds(10);
        std::this_thread::sleep_until(next);
    }
}

void run(Sound* sound) {
    if (pa_simple* stream = connect_monitor())
        record_monitor(sound, stream);
    else
        play_tone(sound);
}

void* create(obs_source_t* source, double tone_frequency) {
    auto* sound = new Sound;
    sound->source = source;
    sound->tone_frequency = tone_frequency;
    sound->thread = std::thread(run, sound);
    return sound;
}

void destroy(void* data) {
    auto* sound = static_cast<Sound*>(data);
    sound->stopping = true;
    sound->thread.join();
    delete sound;
}

} // namespace

bool obs_module_load(void) {
    obs_source_info desktop = input_source_info(
        "wasapi_output_capture", "Son du PC", OBS_SOURCE_AUDIO,
        [](obs_data_t*, obs_source_t* s) { return create(s, 440.0); }, destroy);
    obs_source_info process = input_source_info(
        "wasapi_process_output_capture", "Son du jeu", OBS_SOURCE_AUDIO,
        [](obs_data_t*, obs_source_t* s) { return create(s, 660.0); }, destroy);
    obs_register_source(&desktop);
    obs_register_source(&process);
    return true;
}
