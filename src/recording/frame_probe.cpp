#include "recording/frame_probe.h"

#include <algorithm>
#include <mutex>

std::atomic<bool> mask_flag{false};

namespace {

struct FrameProbe {
    std::mutex lock;
    ProbeSnapshot counters;
};

// Process-wide and never destroyed: the engine's video thread may outlive main.
FrameProbe& frame_probe() {
    static FrameProbe* probe = new FrameProbe;
    return *probe;
}

} // namespace

void probe_arm(std::uint32_t width, std::uint32_t height) {
    FrameProbe& probe = frame_probe();
    std::lock_guard<std::mutex> guard(probe.lock);
    probe.counters = ProbeSnapshot{};
    probe.counters.width = width;
    probe.counters.height = height;
}

void probe_reset() {
    FrameProbe& probe = frame_probe();
    std::lock_guard<std::mutex> guard(probe.lock);
    probe.counters.dark_run = 0;
}

ProbeSnapshot probe_snapshot() {
    FrameProbe& probe = frame_probe();
    std::lock_guard<std::mutex> guard(probe.lock);
    return probe.counters;
}

void probe_on_frame(void*, video_data* frame) {
    if (!frame || mask_flag.load(std::memory_order_relaxed))
        return;
    const std::uint8_t* plane = frame->data[0];
    const std::uint64_t line_size = frame->linesize[0];
    FrameProbe& probe = frame_probe();
    std::uint64_t width, height;
    {
        std::lock_guard<std::mutex> guard(probe.lock);
        width = probe.counters.width;
        height = probe.counters.height;
    }
    if (line_size < width || !plane || width == 0 || height == 0)
        return;

    // A sparse grid is enough to tell a black picture, and keeps the video thread cheap.
    std::uint64_t sum = 0;
    int lowest = 255, highest = 0;
    for (std::uint64_t r = 0; r < probe_rows; ++r) {
        std::uint64_t y = std::min(r * height / probe_rows, height - 1);
        const std::uint8_t* row = plane + y * line_size;
        for (std::uint64_t j = 0; j < probe_columns; ++j) {
            std::uint64_t x = std::min(j * width / probe_columns, width - 1);
            int sample = row[x];
            sum += static_cast<std::uint64_t>(sample);
            lowest = std::min(lowest, sample);
            highest = std::max(highest, sample);
        }
    }
    double mean = static_cast<double>(sum) / (probe_rows * probe_columns);
    bool black = mean < probe_dark_mean && highest - lowest <= probe_flat_spread;

    std::lock_guard<std::mutex> guard(probe.lock);
    probe.counters.frames += 1;
    probe.counters.luma_sum += mean;
    if (black) {
        probe.counters.dark_frames += 1;
        probe.counters.dark_run += 1;
    } else {
        probe.counters.dark_run = 0;
    }
}
