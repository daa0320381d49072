#include "recording/frame_probe.h"
#include "recording/stats.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

struct Plane {
    std::uint32_t width, height, line_size;
    std::vector<std::uint8_t> bytes;
    Plane(std::uint32_t w, std::uint32_t h, std::uint8_t luma, std::uint32_t line = 0)
        : width(w), height(h), line_size(line ? line : w), bytes(std::size_t{line_size} * h, luma) {
    }
    void feed() {
        video_data frame{};
        frame.data[0] = bytes.data();
        frame.linesize[0] = line_size;
        probe_on_frame(nullptr, &frame);
    }
};

class FrameProbeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        mask_flag = false;
        probe_arm(64, 36);
    }
};

TEST_F(FrameProbeTest, TellsBlackFromDarkOrFlat) {
    struct Case {
        const char* name;
        std::uint8_t luma;
        int odd_value; // one sampled byte changed, -1 for none
        bool black;
    };
    const Case cases[] = {
        {"black", 16, -1, true},
        {"dark but not flat", 16, 24, false},
        {"dark and flat within 7", 16, 23, true},
        {"flat but not dark", 128, -1, false},
        {"just below the dark threshold", 21, -1, true},
        {"at the dark threshold", 22, -1, false},
    };
    for (const Case& c : cases) {
        probe_arm(64, 36);
        Plane plane(64, 36, c.luma);
        if (c.odd_value >= 0)
            plane.bytes[0] = static_cast<std::uint8_t>(c.odd_value);
        plane.feed();
        ProbeSnapshot s = probe_snapshot();
        EXPECT_EQ(s.frames, 1u) << c.name;
        EXPECT_EQ(s.dark_frames, c.black ? 1u : 0u) << c.name;
        EXPECT_EQ(s.dark_run, c.black ? 1u : 0u) << c.name;
    }
}

TEST_F(FrameProbeTest, SamplesASparseGridOnly) {
    probe_arm(1280, 720);
    Plane plane(1280, 720, 16);
    plane.bytes[1] = 255;                      // column 1 is never sampled (x = j * 1280 / 64)
    plane.bytes[std::size_t{1280} * 19] = 255; // row 19 is never sampled (y = r * 720 / 36)
    plane.feed();
    EXPECT_EQ(probe_snapshot().dark_run, 1u);
    EXPECT_DOUBLE_EQ(probe_snapshot().luma_sum, 16.0);
}

TEST_F(FrameProbeTest, IgnoresFramesItCannotRead) {
    Plane short_lines(64, 36, 16, 63);
    short_lines.width = 64;
    short_lines.feed(); // line size below the armed width
    probe_on_frame(nullptr, nullptr);
    video_data no_plane{};
    no_plane.linesize[0] = 64;
    probe_on_frame(nullptr, &no_plane);
    probe_arm(0, 36);
    Plane zero(64, 36, 16);
    zero.feed();
    EXPECT_EQ(probe_snapshot().frames, 0u);
}

TEST_F(FrameProbeTest, WiderLinesThanTheWidthAreRead) {
    Plane padded(64, 36, 16, 128);
    padded.feed();
    EXPECT_EQ(probe_snapshot().dark_run, 1u);
}

TEST_F(FrameProbeTest, RunsBreakOnABrightFrameAndOnReset) {
    Plane black(64, 36, 16), bright(64, 36, 200);
    for (int i = 0; i < 5; ++i)
        black.feed();
    bright.feed();
    for (int i = 0; i < 5; ++i)
        black.feed();
    ProbeSnapshot s = probe_snapshot();
    EXPECT_EQ(s.dark_run, 5u);
    EXPECT_EQ(s.dark_frames, 10u);
    EXPECT_EQ(s.frames, 11u);
    probe_reset();
    s = probe_snapshot();
    EXPECT_EQ(s.dark_run, 0u);
    EXPECT_EQ(s.dark_frames, 10u);
}

TEST_F(FrameProbeTest, MaskedFramesAreNotCounted) {
    mask_flag = true;
    Plane black(64, 36, 16);
    black.feed();
    mask_flag = false;
    EXPECT_EQ(probe_snapshot().frames, 0u);
}

TEST(Brightness, RoundsHalvesAwayFromZero) {
    EXPECT_EQ(probe_brightness(45.25, 2), 22.6);
    EXPECT_EQ(probe_brightness(44.5, 2), 22.3);
    EXPECT_EQ(probe_brightness(0.0, 0), 0.0);
    EXPECT_EQ(probe_brightness(235.0, 1), 235.0);
}

} // namespace
