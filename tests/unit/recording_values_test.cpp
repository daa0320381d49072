#include "recording/capture.h"
#include "recording/encoders.h"
#include "recording/outputs.h"
#include "recording/recording.h"

#include <gtest/gtest.h>

namespace {

Start start_of(std::uint32_t fps, std::uint32_t base_width, std::uint32_t width,
               std::uint32_t height) {
    Start s;
    s.fps = fps;
    s.base_width = base_width;
    s.base_height = 1080;
    s.width = width;
    s.height = height;
    return s;
}

TEST(VideoSettings, LimitsOfAStart) {
    struct Case {
        std::uint32_t fps, base_width, width, height;
        std::uint32_t rate, divisor, out_base_width, out_width, out_height;
    };
    const Case cases[] = {
        {0, 1920, 1280, 720, 10, 5, 1920, 1280, 720},
        {10, 1, 1, 1, 10, 5, 2, 2, 2},
        {25, 1281, 1281, 721, 25, 12, 1281, 1280, 720},
        {120, 3840, 3, 0, 120, 60, 3840, 2, 2},
        {240, 0, 4294967295u, 2, 120, 60, 2, 4294967294u, 2},
        {11, 2, 2, 3, 11, 5, 2, 2, 2},
    };
    for (const Case& c : cases) {
        obs_video_info v = start_video_info(start_of(c.fps, c.base_width, c.width, c.height));
        EXPECT_EQ(v.fps_num, c.rate) << c.fps;
        EXPECT_EQ(v.fps_den, 1u);
        EXPECT_EQ(probe_divisor(v.fps_num), c.divisor) << c.fps;
        EXPECT_EQ(v.base_width, c.out_base_width);
        EXPECT_EQ(v.output_width, c.out_width) << c.width;
        EXPECT_EQ(v.output_height, c.out_height) << c.height;
        EXPECT_EQ(v.output_format, 2);
        EXPECT_TRUE(v.gpu_conversion);
        EXPECT_EQ(v.colorspace, 2);
        EXPECT_EQ(v.range, 1);
        EXPECT_EQ(v.scale_type, 2);
    }
    EXPECT_EQ(probe_divisor(1), 1u);
}

TEST(CaptureCandidates, LabelsAndIds) {
    Source window{Source::Window{"w"}};
    auto w = capture_candidates(window);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_STREQ(w[0].label, "fenêtre WGC");
    EXPECT_STREQ(w[1].label, "fenêtre BitBlt");
    EXPECT_STREQ(w[1].id, "window_capture");
    EXPECT_EQ(std::get<std::int64_t>(w[1].settings[1].value), 1);

    Source monitor{Source::Monitor{"m", std::int64_t{2}, std::string("w")}};
    auto m = capture_candidates(monitor);
    ASSERT_EQ(m.size(), 3u);
    EXPECT_STREQ(m[0].label, "écran WGC");
    EXPECT_STREQ(m[1].label, "écran DXGI");
    EXPECT_STREQ(m[2].label, "fenêtre WGC");
    EXPECT_STREQ(m[2].id, "window_capture");
    EXPECT_EQ(std::get<std::string>(m[2].settings[0].value), "w");
}

TEST(EncoderCandidates, PreferenceListOrExplicitId) {
    std::vector<std::string> offered = {"obs_x264", "ffmpeg_aac", "jim_nvenc", "obs_qsv11"};
    EXPECT_EQ(video_encoder_candidates(offered, std::nullopt),
              (std::vector<std::string>{"jim_nvenc", "obs_qsv11", "obs_x264"}));
    EXPECT_EQ(video_encoder_candidates(offered, std::string("auto")),
              (std::vector<std::string>{"jim_nvenc", "obs_qsv11", "obs_x264"}));
    EXPECT_EQ(video_encoder_candidates(offered, std::string("AUTO")),
              (std::vector<std::string>{"AUTO"}));
    EXPECT_EQ(video_encoder_candidates({}, std::string("ffmpeg_aac")),
              (std::vector<std::string>{"ffmpeg_aac"}));
    EXPECT_TRUE(video_encoder_candidates({"ffmpeg_aac"}, std::nullopt).empty());
}

TEST(OutputPlan, ModesAndReplayDirectories) {
    Start s;
    s.path = "/p";
    s.replay_dir = "/r";
    s.replay_seconds = 60;
    s.mode = "replay";
    auto replay = plan_outputs(s);
    ASSERT_EQ(replay.size(), 1u);
    EXPECT_STREQ(replay[0].id, "replay_buffer");
    EXPECT_EQ(std::get<std::string>(replay[0].settings[0].value), "/p");
    EXPECT_EQ(std::get<std::int64_t>(replay[0].settings[4].value), 60);
    EXPECT_EQ(std::get<std::int64_t>(replay[0].settings[5].value), 1024);
    s.mode = "both";
    auto both = plan_outputs(s);
    ASSERT_EQ(both.size(), 2u);
    EXPECT_STREQ(both[0].id, "ffmpeg_muxer");
    EXPECT_EQ(std::get<std::string>(both[1].settings[0].value), "/r");
    s.replay_dir.reset();
    EXPECT_EQ(std::get<std::string>(plan_outputs(s)[1].settings[0].value), "/");
    // An empty folder would crash the engine's save: never hand it one.
    EXPECT_EQ(replay_folder(std::nullopt, "/videos/match.mkv"), "/videos/");
    EXPECT_EQ(replay_folder(std::string(), "C:\\videos\\match.mp4"), "C:\\videos\\");
    EXPECT_EQ(replay_folder(std::nullopt, "match.mp4"), ".");
    s.mode = "replay";
    s.path.clear();
    EXPECT_EQ(std::get<std::string>(plan_outputs(s)[0].settings[0].value), ".");
    for (const char* mode : {"File", "", "replays", "file "}) {
        s.mode = mode;
        EXPECT_TRUE(plan_outputs(s).empty()) << mode;
    }
}

} // namespace
