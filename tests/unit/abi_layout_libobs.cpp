// Compiled against the engine's own headers, apart from our declarations.
#include <callback/calldata.h>
#include <obs.h>

#include <cstddef>
#include <vector>

std::vector<std::size_t> libobs_layout() {
    return {sizeof(obs_video_info),
            offsetof(obs_video_info, fps_num),
            offsetof(obs_video_info, output_format),
            offsetof(obs_video_info, adapter),
            offsetof(obs_video_info, gpu_conversion),
            offsetof(obs_video_info, colorspace),
            offsetof(obs_video_info, range),
            offsetof(obs_video_info, scale_type),
            sizeof(obs_audio_info),
            offsetof(obs_audio_info, speakers),
            sizeof(calldata_t),
            offsetof(calldata_t, size),
            offsetof(calldata_t, capacity),
            offsetof(calldata_t, fixed),
            sizeof(video_data),
            offsetof(video_data, linesize),
            offsetof(video_data, timestamp),
            sizeof(video_scale_info),
            offsetof(video_scale_info, colorspace),
            static_cast<std::size_t>(VIDEO_FORMAT_NV12),
            static_cast<std::size_t>(VIDEO_CS_709),
            static_cast<std::size_t>(VIDEO_RANGE_PARTIAL),
            static_cast<std::size_t>(OBS_SCALE_BICUBIC),
            static_cast<std::size_t>(SPEAKERS_STEREO)};
}
