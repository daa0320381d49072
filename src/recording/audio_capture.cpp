#include "recording/audio_capture.h"

#include "api/engine_api.h"
#include "protocol/event_writer.h"
#include "recording/settings.h"

namespace {

const char* const process_sound_lost = "son du jeu seul indisponible : la vidéo sera muette";

obs_source_t* create_sound_source(const char* id, const char* name, const SettingsList& list) {
    const EngineApi& api = engine();
    obs_data_t* settings = build_settings(list);
    obs_source_t* source = api.obs_source_create(id, name, settings, nullptr);
    api.obs_data_release(settings);
    return source;
}

} // namespace

obs_source_t* create_audio_capture(const Audio& audio) {
    obs_source_t* source = nullptr;
    if (const auto* process = std::get_if<Audio::Process>(&audio.value)) {
        source = create_sound_source("wasapi_process_output_capture", "KALTO son du jeu",
                                     {{"window", process->window}, {"priority", std::int64_t{2}}});
        // No fallback to the desktop sound: the controller asked for the game alone.
        if (!source)
            emit_error(process_sound_lost);
    } else if (std::holds_alternative<Audio::Desktop>(audio.value)) {
        source = create_sound_source("wasapi_output_capture", "KALTO son du PC",
                                     {{"device_id", std::string("default")}});
    }
    if (source)
        engine().obs_set_output_source(1, source);
    return source;
}
