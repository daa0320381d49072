// "wasapi_output_capture" for Linux: the computer's sound, over the engine's
// own PulseAudio capture of the default output's monitor ("pulse_output_capture").
// Without a sound server the source stays silent and the recording goes on.
#include "../common/inner_source.h"
#include "sound_sources.h"

namespace {

struct Sound {
    obs_source_t* source = nullptr;
    obs_source_t* inner = nullptr;
};

// The inner source's sound, already in the engine's format, becomes ours: the
// inner source is on no output channel, so it is heard once.
void forward(void* param, obs_source_t*, const audio_data* audio, bool muted) {
    if (muted)
        return;
    auto* sound = static_cast<Sound*>(param);
    obs_audio_info info;
    if (!obs_get_audio_info(&info))
        return;
    obs_source_audio out = {};
    for (int i = 0; i < MAX_AV_PLANES; ++i)
        out.data[i] = audio->data[i];
    out.frames = audio->frames;
    out.speakers = info.speakers;
    out.format = AUDIO_FORMAT_FLOAT_PLANAR;
    out.samples_per_sec = info.samples_per_sec;
    out.timestamp = audio->timestamp;
    obs_source_output_audio(sound->source, &out);
}

void* create(obs_data_t*, obs_source_t* source) {
    auto* sound = new Sound;
    sound->source = source;
    obs_data_t* settings = obs_data_create();
    obs_data_set_string(settings, "device_id", "default");
    sound->inner = create_inner_source("pulse_output_capture", source, settings);
    if (sound->inner)
        obs_source_add_audio_capture_callback(sound->inner, forward, sound);
    return sound;
}

void destroy(void* data) {
    auto* sound = static_cast<Sound*>(data);
    if (sound->inner) {
        // Waits for a callback under way: none comes after this.
        obs_source_remove_audio_capture_callback(sound->inner, forward, sound);
        obs_source_release(sound->inner);
    }
    delete sound;
}

} // namespace

obs_source_info desktop_sound_info() {
    return input_source_info("wasapi_output_capture", "Son du PC", OBS_SOURCE_AUDIO, create,
                             destroy);
}
