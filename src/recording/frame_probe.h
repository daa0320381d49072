#pragma once

#include "api/engine_abi.h"

#include <atomic>
#include <cstdint>

// A consistent copy of the frame probe's counters.
struct ProbeSnapshot {
    std::uint64_t frames = 0;
    std::uint64_t dark_frames = 0;
    std::uint64_t dark_run = 0;
    double luma_sum = 0.0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

constexpr int probe_rows = 36;
constexpr int probe_columns = 64;
constexpr double probe_dark_mean = 22.0;
constexpr int probe_flat_spread = 7;
constexpr std::uint64_t probe_black_run = 6;

// Set while the picture is masked: the probe then ignores every frame.
extern std::atomic<bool> mask_flag;

void probe_arm(std::uint32_t width, std::uint32_t height);
void probe_reset();
ProbeSnapshot probe_snapshot();

// The raw-video callback, on the engine's video thread.
void probe_on_frame(void* param, video_data* frame);
