#include "recording/recording.h"

#include "api/engine_api.h"
#include "platform/platform.h"
#include "protocol/event_writer.h"
#include "recording/audio_capture.h"
#include "recording/encoders.h"
#include "recording/frame_probe.h"
#include "recording/release.h"
#include "recording/video_reset.h"

#include <algorithm>

namespace {

std::uint32_t even_size(std::uint32_t value) {
    return std::max<std::uint32_t>(value, 2) & ~1u;
}

} // namespace

obs_video_info engine_video_info(std::uint32_t fps, std::uint32_t base_width,
                                 std::uint32_t base_height, std::uint32_t output_width,
                                 std::uint32_t output_height) {
    obs_video_info info{};
    info.graphics_module = platform::graphics_module;
    info.fps_num = fps;
    info.fps_den = 1;
    info.base_width = base_width;
    info.base_height = base_height;
    info.output_width = output_width;
    info.output_height = output_height;
    info.output_format = engine_const::video_format_nv12;
    info.adapter = 0;
    info.gpu_conversion = true;
    info.colorspace = engine_const::video_cs_709;
    info.range = engine_const::video_range_partial;
    info.scale_type = engine_const::scale_bicubic;
    return info;
}

obs_audio_info engine_audio_info() {
    return {48000, engine_const::speakers_stereo};
}

obs_video_info start_video_info(const Start& start) {
    std::uint32_t fps = start.fps <= 10 ? 10 : std::min<std::uint32_t>(start.fps, 120);
    return engine_video_info(fps, std::max<std::uint32_t>(start.base_width, 2),
                             std::max<std::uint32_t>(start.base_height, 2), even_size(start.width),
                             even_size(start.height));
}

bool is_recording_mode(std::string_view mode) {
    return mode == "file" || mode == "replay" || mode == "both";
}

std::uint32_t probe_divisor(std::uint32_t frame_rate) {
    return std::max<std::uint32_t>(frame_rate / 2, 1);
}

std::optional<Recording> start_recording(Start start) {
    // A mistyped mode would record nothing for the whole session: refused before anything exists.
    if (!is_recording_mode(start.mode)) {
        emit_error("mode inconnu : " + start.mode + " (attendu : file, replay ou both)");
        return std::nullopt;
    }
    const EngineApi& api = engine();
    obs_video_info video = start_video_info(start);
    int reset = reset_engine_video(video);
    if (reset != engine_const::video_success) {
        emit_error("vidéo : réinitialisation refusée (code " + std::to_string(reset) + ")");
        return std::nullopt;
    }

    Recording recording;
    recording.candidates = capture_candidates(start.source);
    obs_source_t* video_source = nullptr;
    for (std::size_t i = 0; i < recording.candidates.size() && !video_source; ++i) {
        video_source = create_capture_source(recording.candidates[i]);
        recording.candidate_index = i;
    }
    if (!video_source) {
        emit_error("aucune source d'image disponible");
        return std::nullopt;
    }
    api.obs_set_output_source(0, video_source);
    recording.sources.push_back(video_source);
    if (obs_source_t* sound = create_audio_capture(start.audio))
        recording.sources.push_back(sound);

    std::vector<std::string> h264_ids =
        video_encoder_candidates(list_encoder_types(), start.encoder);
    std::size_t next_h264 = 0;
    auto h264 = create_video_encoder(h264_ids, next_h264, start.bitrate);
    if (!h264) {
        release_sources_and_encoders(recording.sources, {});
        emit_error("aucun encodeur H.264 disponible");
        return std::nullopt;
    }
    recording.encoders.push_back(h264->encoder);
    recording.encoder = h264->id;
    if (obs_encoder_t* aac = create_aac_encoder())
        recording.encoders.push_back(aac);

    OutputsResult outputs = start_outputs(start, recording.encoders);
    // An encoder that cannot encode gives way to the next candidate: the agent's
    // own choice only, since a named encoder is the one candidate.
    while (!outputs.started && outputs.encoder_unusable) {
        auto next = create_video_encoder(h264_ids, next_h264, start.bitrate);
        if (!next)
            break;
        emit_error(unusable_encoder_message(recording.encoder, outputs.engine_text));
        api.obs_encoder_release(recording.encoders[0]);
        recording.encoders[0] = next->encoder;
        recording.encoder = next->id;
        outputs = start_outputs(start, recording.encoders);
    }
    if (!outputs.started) {
        release_sources_and_encoders(recording.sources, recording.encoders);
        emit_error(outputs.failure);
        return std::nullopt;
    }
    recording.outputs = std::move(outputs.started->outputs);
    recording.file_output = outputs.started->file_output;
    recording.replay_output = outputs.started->replay_output;

    probe_arm(video.output_width, video.output_height);
    mask_flag.store(false);
    probe_reset();
    api.obs_add_raw_video_callback2(nullptr, probe_divisor(video.fps_num), probe_on_frame, nullptr);
    recording.started_at = std::chrono::steady_clock::now();

    recording.mode = std::move(start.mode);
    recording.path = std::move(start.path);
    emit_event({{"event", "started"},
                {"mode", recording.mode},
                {"encoder", recording.encoder},
                {"source", recording.candidates[recording.candidate_index].label},
                {"path", recording.path}});
    return recording;
}
