// Start-up, resets, modules, the log, encoder types and settings objects.
#include "fake_state.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

struct obs_module {
    std::string name;
};

namespace {

log_handler_t log_handler = nullptr;
void* log_param = nullptr;
std::size_t video_resets = 0;

void fake_log(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (log_handler)
        log_handler(level, format, args, log_param);
    va_end(args);
}

// Each line "level|format|argument|..." is logged with string arguments.
void replay_script_log() {
    for (const std::string& entry : split(script().log_lines, '\n')) {
        std::vector<std::string> parts = split(entry, '|');
        if (parts.size() < 2)
            continue;
        int level = std::atoi(parts[0].c_str());
        const char* f = parts[1].c_str();
        switch (parts.size()) {
        case 2:
            fake_log(level, f);
            break;
        case 3:
            fake_log(level, f, parts[2].c_str());
            break;
        case 4:
            fake_log(level, f, parts[2].c_str(), parts[3].c_str());
            break;
        default:
            fake_log(level, f, parts[2].c_str(), parts[3].c_str(), parts[4].c_str());
            break;
        }
    }
}

std::string module_name(const std::string& path) {
    std::size_t slash = path.find_last_of("/\\");
    std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    return file.substr(0, file.find_last_of('.'));
}

} // namespace

FAKE_EXPORT void base_set_log_handler(log_handler_t handler, void* param) {
    log_handler = handler;
    log_param = param;
    journal(std::string("base_set_log_handler ") + (param ? "param" : "null"));
}

// The windowing system the agent hands over before start-up (Linux engines only).
FAKE_EXPORT void obs_set_nix_platform(int platform) {
    journal("obs_set_nix_platform " + std::to_string(platform));
}

FAKE_EXPORT void obs_set_nix_platform_display(void* display) {
    journal(std::string("obs_set_nix_platform_display ") + (display ? "display" : "null"));
}

FAKE_EXPORT bool obs_startup(const char* locale, const char* config, profiler_name_store_t* store) {
    journal(std::string("obs_startup ") + locale + " " + config + (store ? " store" : " null"));
    replay_script_log();
    // Plug-ins of the real engine print on standard output.
    if (const char* text = std::getenv("FAKE_OBS_STDOUT")) {
        std::printf("%s\n", text);
        std::fflush(stdout);
    }
    if (script().startup_fails)
        return false;
    start_video_thread();
    return true;
}

FAKE_EXPORT void obs_shutdown(void) {
    stop_video_thread();
    stop_engine_threads();
    journal("obs_shutdown");
    journal("live_allocations " + std::to_string(live_allocations()));
}

#ifndef FAKE_OMIT_VERSION
FAKE_EXPORT const char* obs_get_version_string(void) {
    return script().version_null ? nullptr : script().version.c_str();
}
#endif

FAKE_EXPORT bool obs_reset_audio(const obs_audio_info* info) {
    journal("obs_reset_audio " + std::to_string(info->samples_per_sec) + " " +
            std::to_string(info->speakers));
    return !script().audio_fails;
}

// One audio tick for each raw audio callback added, on a thread of its own; taking
// the callback out waits for its tick, as the engine's lock of its callbacks does.
std::thread audio_tick;

FAKE_EXPORT void obs_add_raw_audio_callback(size_t mix, const void*,
                                            void (*callback)(void*, size_t, void*), void* param) {
    journal("obs_add_raw_audio_callback " + std::to_string(mix));
    audio_tick = std::thread([=] {
        journal("audio tick");
        callback(param, mix, nullptr);
        journal("audio tick done");
    });
}

FAKE_EXPORT void obs_remove_raw_audio_callback(size_t mix, void (*)(void*, size_t, void*), void*) {
    if (audio_tick.joinable())
        audio_tick.join();
    journal("obs_remove_raw_audio_callback " + std::to_string(mix));
}

// Set by every accepted reset; read by the video thread.
std::uint32_t fake_output_width = 0, fake_output_height = 0, fake_fps = 0;

FAKE_EXPORT int obs_reset_video(obs_video_info* v) {
    char line[512];
    std::snprintf(line, sizeof line,
                  "obs_reset_video %s %u/%u base=%ux%u output=%ux%u format=%d adapter=%u gpu=%d "
                  "cs=%d range=%d scale=%d",
                  v->graphics_module, v->fps_num, v->fps_den, v->base_width, v->base_height,
                  v->output_width, v->output_height, v->output_format, v->adapter,
                  v->gpu_conversion ? 1 : 0, v->colorspace, v->range, v->scale_type);
    journal(line);
    const std::vector<int>& results = script().video_results;
    int result = video_resets < results.size() ? results[video_resets] : 0;
    ++video_resets;
    if (result == 0) {
        std::lock_guard<std::mutex> guard(state_lock());
        fake_output_width = v->output_width;
        fake_output_height = v->output_height;
        fake_fps = v->fps_num;
    }
    return result;
}

FAKE_EXPORT int obs_open_module(obs_module_t** module, const char* path, const char* data_path) {
    journal(std::string("obs_open_module ") + path + " " + data_path +
            (*module ? " slot-set" : ""));
    std::string name = module_name(path);
    auto scripted = script().module_open.find(name);
    int result = scripted == script().module_open.end() ? 0 : scripted->second;
    if (result == 0) {
        *module = new obs_module{name};
        keep_alive(*module);
    }
    return result;
}

FAKE_EXPORT bool obs_init_module(obs_module_t* module) {
    journal("obs_init_module " + module->name);
    const auto& fails = script().module_init_fails;
    return std::find(fails.begin(), fails.end(), module->name) == fails.end();
}

FAKE_EXPORT void obs_post_load_modules(void) {
    journal("obs_post_load_modules");
}

FAKE_EXPORT bool obs_enum_encoder_types(size_t index, const char** id) {
    if (index >= script().encoders.size())
        return false;
    *id = script().encoders[index].c_str();
    return true;
}

FAKE_EXPORT obs_data_t* obs_data_create(void) {
    auto* data = new obs_data;
    keep_alive(data);
    data->handle = next_handle('D');
    return data;
}

FAKE_EXPORT void obs_data_release(obs_data_t* data) {
    if (!data)
        return;
    if (--data->refs < 0)
        journal("misuse obs_data_release " + data->handle);
    journal("obs_data_release " + data->handle);
}

namespace {
void set_item(obs_data_t* data, const char* name, std::string value) {
    for (auto& item : data->items) {
        if (item.first == name) {
            item.second = std::move(value);
            return;
        }
    }
    data->items.emplace_back(name, std::move(value));
}
} // namespace

FAKE_EXPORT void obs_data_set_string(obs_data_t* data, const char* name, const char* value) {
    set_item(data, name, value);
}

FAKE_EXPORT void obs_data_set_int(obs_data_t* data, const char* name, long long value) {
    set_item(data, name, std::to_string(value));
}

FAKE_EXPORT void obs_data_set_bool(obs_data_t* data, const char* name, bool value) {
    set_item(data, name, value ? "true" : "false");
}
