#include "recording/encoders.h"

#include "api/engine_api.h"
#include "api/engine_text.h"
#include "protocol/event_writer.h"
#include "recording/settings.h"

#include <algorithm>

namespace {

// Hardware encoders first; x264 works everywhere.
const char* const h264_preference[] = {"obs_nvenc_h264_tex", "jim_nvenc", "h264_texture_amf",
                                       "obs_qsv11_v2",       "obs_qsv11", "obs_x264"};

const char* const aac_lost = "encodeur AAC indisponible : la vidéo sera muette";

SettingsList h264_settings(const std::string& id, std::uint32_t bitrate) {
    SettingsList settings{{"rate_control", std::string("CBR")},
                          {"bitrate", std::int64_t{bitrate}},
                          {"keyint_sec", std::int64_t{1}}};
    if (id == "obs_x264")
        settings.push_back({"preset", std::string("veryfast")});
    return settings;
}

} // namespace

std::vector<std::string> list_encoder_types() {
    const EngineApi& api = engine();
    std::vector<std::string> types;
    const char* id = nullptr;
    for (std::size_t index = 0; api.obs_enum_encoder_types(index, &id); ++index) {
        types.push_back(from_engine_text(id));
        id = nullptr;
    }
    return types;
}

std::vector<std::string> video_encoder_candidates(const std::vector<std::string>& offered,
                                                  const std::optional<std::string>& requested) {
    if (requested && *requested != "auto")
        return {*requested};
    std::vector<std::string> candidates;
    for (const char* id : h264_preference)
        if (std::find(offered.begin(), offered.end(), id) != offered.end())
            candidates.emplace_back(id);
    return candidates;
}

std::optional<VideoEncoder> create_video_encoder(const std::vector<std::string>& candidates,
                                                 std::size_t& next, std::uint32_t bitrate) {
    const EngineApi& api = engine();
    while (next < candidates.size()) {
        const std::string& id = candidates[next++];
        obs_data_t* settings = build_settings(h264_settings(id, bitrate));
        std::string engine_id = to_engine_text(id);
        obs_encoder_t* encoder =
            api.obs_video_encoder_create(engine_id.c_str(), "KALTO H.264", settings, nullptr);
        api.obs_data_release(settings);
        if (encoder) {
            api.obs_encoder_set_video(encoder, api.obs_get_video());
            return VideoEncoder{encoder, id};
        }
    }
    return std::nullopt;
}

bool video_encoder_set_up(obs_encoder_t* encoder) {
    // Outside the table: looked up once, on the main thread.
    static auto get_extra_data = reinterpret_cast<obs_encoder_get_extra_data_fn>(
        engine_optional_entry("obs_encoder_get_extra_data"));
    std::uint8_t* headers = nullptr;
    std::size_t size = 0;
    return !get_extra_data || get_extra_data(encoder, &headers, &size);
}

std::string unusable_encoder_message(const std::string& id, const std::string& engine_text) {
    return "encodeur " + id + " inutilisable : " + engine_text;
}

obs_encoder_t* create_aac_encoder() {
    const EngineApi& api = engine();
    obs_data_t* settings = build_settings({{"bitrate", std::int64_t{160}}});
    obs_encoder_t* encoder =
        api.obs_audio_encoder_create("ffmpeg_aac", "KALTO AAC", settings, 0, nullptr);
    api.obs_data_release(settings);
    if (!encoder) {
        emit_error(aac_lost);
        return nullptr;
    }
    api.obs_encoder_set_audio(encoder, api.obs_get_audio());
    return encoder;
}
