// The engine's video thread: counts frames and feeds the raw-video callbacks
// with flat NV12 frames as bright as the source on channel 0.
#include "fake_state.h"

#include <atomic>
#include <condition_variable>
#include <thread>

extern obs_source* fake_channels[2];
extern std::uint32_t fake_output_width, fake_output_height, fake_fps;

namespace {

struct RawCallback {
    raw_video_callback_t callback;
    void* param;
    std::uint32_t divisor;
    long delivered = 0;
};

constexpr std::uint8_t black_luma = 16;

std::atomic<std::uint32_t> frames{0};
std::mutex callbacks_lock; // held while callbacks run, as the engine does
std::vector<RawCallback> callbacks;

std::mutex thread_lock;
std::condition_variable thread_wake;
bool thread_stopping = false;
std::thread video_thread;

void render_tick(std::vector<std::uint8_t>& frame) {
    std::uint32_t width, height, fps;
    std::uint8_t luma = black_luma;
    {
        std::lock_guard<std::mutex> guard(state_lock());
        width = fake_output_width;
        height = fake_output_height;
        fps = fake_fps;
        obs_source* source = fake_channels[0];
        if (source && source->enabled)
            luma = static_cast<std::uint8_t>(source->luma);
    }
    (void)fps;
    std::uint32_t tick = ++frames;
    std::lock_guard<std::mutex> guard(callbacks_lock);
    if (callbacks.empty() || width == 0 || height == 0)
        return;
    std::size_t luma_size = std::size_t{width} * height;
    frame.assign(luma_size + luma_size / 2, 128);
    std::fill(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(luma_size), luma);
    video_data data{};
    data.data[0] = frame.data();
    data.linesize[0] = width;
    data.data[1] = frame.data() + luma_size;
    data.linesize[1] = width;
    data.timestamp = tick;
    long limit = script().delivered_frames;
    for (RawCallback& entry : callbacks) {
        if (tick % entry.divisor != 0 || (limit >= 0 && entry.delivered >= limit))
            continue;
        ++entry.delivered;
        entry.callback(entry.param, &data);
    }
}

void run_video() {
    std::vector<std::uint8_t> frame;
    std::unique_lock<std::mutex> lock(thread_lock);
    while (!thread_stopping) {
        int period_ms = script().tick_ms;
        if (period_ms <= 0) {
            std::lock_guard<std::mutex> guard(state_lock());
            period_ms = fake_fps ? static_cast<int>(1000 / fake_fps) : 100;
        }
        thread_wake.wait_for(lock, std::chrono::milliseconds(period_ms));
        if (thread_stopping)
            break;
        lock.unlock();
        render_tick(frame);
        lock.lock();
    }
}

} // namespace

std::uint32_t total_frames() {
    return frames.load();
}

void start_video_thread() {
    std::lock_guard<std::mutex> guard(thread_lock);
    if (!video_thread.joinable())
        video_thread = std::thread(run_video);
}

void stop_video_thread() {
    {
        std::lock_guard<std::mutex> guard(thread_lock);
        thread_stopping = true;
    }
    thread_wake.notify_all();
    if (video_thread.joinable())
        video_thread.join();
}

#ifndef FAKE_OMIT_RAW_VIDEO2
FAKE_EXPORT void obs_add_raw_video_callback2(const video_scale_info* conversion, uint32_t divisor,
                                             raw_video_callback_t callback, void* param) {
    journal(std::string("obs_add_raw_video_callback2 ") + (conversion ? "conversion" : "null") +
            " divisor=" + std::to_string(divisor) + (param ? " param" : " null"));
    std::lock_guard<std::mutex> guard(callbacks_lock);
    callbacks.push_back({callback, param, divisor ? divisor : 1});
}
#endif

#ifdef FAKE_RAW_VIDEO_THROUGH_V2
// As libobs 30 does it: the older entry point is the newer one with divisor 1,
// called through the dynamic linker so that a library in front may take it.
FAKE_EXPORT void obs_add_raw_video_callback(const video_scale_info* conversion,
                                            raw_video_callback_t callback, void* param) {
    obs_add_raw_video_callback2(conversion, 1, callback, param);
}
#endif

FAKE_EXPORT void obs_remove_raw_video_callback(raw_video_callback_t callback, void* param) {
    journal(std::string("obs_remove_raw_video_callback") + (param ? " param" : " null"));
    std::lock_guard<std::mutex> guard(callbacks_lock);
    for (auto it = callbacks.begin(); it != callbacks.end(); ++it) {
        if (it->callback == callback && it->param == param) {
            callbacks.erase(it);
            return;
        }
    }
    journal("misuse obs_remove_raw_video_callback unmatched");
}
