#include "api/engine_abi.h"

#include <gtest/gtest.h>
#include <vector>

std::vector<std::size_t> libobs_layout();

namespace {

TEST(EngineAbi, MatchesTheEnginesHeaders) {
    std::vector<std::size_t> ours = {sizeof(obs_video_info),
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
                                     engine_const::video_format_nv12,
                                     engine_const::video_cs_709,
                                     engine_const::video_range_partial,
                                     engine_const::scale_bicubic,
                                     engine_const::speakers_stereo};
    EXPECT_EQ(ours, libobs_layout());
}

} // namespace
