#pragma once

// The engine's binary interface as its public headers declare it (64-bit).
// The agent never includes those headers; the layouts are pinned below.

#include <cstdarg>
#include <cstddef>
#include <cstdint>

extern "C" {

struct obs_source;
struct obs_encoder;
struct obs_output;
struct obs_data;
struct obs_module;
struct signal_handler;
struct proc_handler;
struct profiler_name_store;
struct video_output;
struct audio_output;
struct obs_properties;
struct obs_property;

typedef struct obs_source obs_source_t;
typedef struct obs_encoder obs_encoder_t;
typedef struct obs_output obs_output_t;
typedef struct obs_data obs_data_t;
typedef struct obs_module obs_module_t;
typedef struct signal_handler signal_handler_t;
typedef struct proc_handler proc_handler_t;
typedef struct profiler_name_store profiler_name_store_t;
typedef struct video_output video_t;
typedef struct audio_output audio_t;
typedef struct obs_properties obs_properties_t;
typedef struct obs_property obs_property_t;

struct obs_video_info {
    const char* graphics_module;
    uint32_t fps_num;
    uint32_t fps_den;
    uint32_t base_width;
    uint32_t base_height;
    uint32_t output_width;
    uint32_t output_height;
    int output_format; // enum video_format
    uint32_t adapter;
    bool gpu_conversion;
    int colorspace; // enum video_colorspace
    int range;      // enum video_range_type
    int scale_type; // enum obs_scale_type
};

struct obs_audio_info {
    uint32_t samples_per_sec;
    int speakers; // enum speaker_layout
};

struct calldata {
    uint8_t* stack;
    size_t size;
    size_t capacity;
    bool fixed;
};
typedef struct calldata calldata_t;

#define KALTO_MAX_AV_PLANES 8

struct video_data {
    uint8_t* data[KALTO_MAX_AV_PLANES];
    uint32_t linesize[KALTO_MAX_AV_PLANES];
    uint64_t timestamp;
};

struct video_scale_info {
    int format; // enum video_format
    uint32_t width;
    uint32_t height;
    int range;      // enum video_range_type
    int colorspace; // enum video_colorspace
};

typedef void (*log_handler_t)(int level, const char* message, va_list args, void* param);
typedef void (*signal_callback_t)(void* data, calldata_t* params);
typedef void (*raw_video_callback_t)(void* param, struct video_data* frame);

} // extern "C"

static_assert(sizeof(void*) == 8, "the engine binding assumes a 64-bit build");
static_assert(sizeof(obs_video_info) == 56);
static_assert(offsetof(obs_video_info, fps_num) == 8);
static_assert(offsetof(obs_video_info, output_format) == 32);
static_assert(offsetof(obs_video_info, adapter) == 36);
static_assert(offsetof(obs_video_info, gpu_conversion) == 40);
static_assert(offsetof(obs_video_info, colorspace) == 44);
static_assert(offsetof(obs_video_info, scale_type) == 52);
static_assert(sizeof(obs_audio_info) == 8);
static_assert(sizeof(calldata_t) == 32);
static_assert(offsetof(calldata_t, fixed) == 24);
static_assert(sizeof(video_data) == 104);
static_assert(offsetof(video_data, linesize) == 64);
static_assert(offsetof(video_data, timestamp) == 96);
static_assert(sizeof(video_scale_info) == 20);

// Engine constants the agent hands over.
namespace engine_const {
constexpr int video_format_nv12 = 2;
constexpr int video_cs_709 = 2;
constexpr int video_range_partial = 1;
constexpr int scale_bicubic = 2;
constexpr int speakers_stereo = 2;
constexpr int video_success = 0;
constexpr int module_success = 0;
constexpr int nix_platform_x11_egl = 1;
constexpr int nix_platform_wayland = 2;
} // namespace engine_const

// The 48 entry points, in resolution order: X(name, return type, parameters).
#define KALTO_ENGINE_ENTRY_POINTS(X)                                                               \
    X(obs_startup, bool, (const char*, const char*, profiler_name_store_t*))                       \
    X(obs_shutdown, void, (void))                                                                  \
    X(obs_get_version_string, const char*, (void))                                                 \
    X(obs_reset_video, int, (obs_video_info*))                                                     \
    X(obs_reset_audio, bool, (const obs_audio_info*))                                              \
    X(obs_open_module, int, (obs_module_t**, const char*, const char*))                            \
    X(obs_init_module, bool, (obs_module_t*))                                                      \
    X(obs_post_load_modules, void, (void))                                                         \
    X(obs_enum_encoder_types, bool, (size_t, const char**))                                        \
    X(obs_data_create, obs_data_t*, (void))                                                        \
    X(obs_data_release, void, (obs_data_t*))                                                       \
    X(obs_data_set_string, void, (obs_data_t*, const char*, const char*))                          \
    X(obs_data_set_int, void, (obs_data_t*, const char*, long long))                               \
    X(obs_data_set_bool, void, (obs_data_t*, const char*, bool))                                   \
    X(obs_source_create, obs_source_t*, (const char*, const char*, obs_data_t*, obs_data_t*))      \
    X(obs_source_release, void, (obs_source_t*))                                                   \
    X(obs_source_set_enabled, void, (obs_source_t*, bool))                                         \
    X(obs_set_output_source, void, (uint32_t, obs_source_t*))                                      \
    X(obs_video_encoder_create, obs_encoder_t*,                                                    \
      (const char*, const char*, obs_data_t*, obs_data_t*))                                        \
    X(obs_audio_encoder_create, obs_encoder_t*,                                                    \
      (const char*, const char*, obs_data_t*, size_t, obs_data_t*))                                \
    X(obs_encoder_set_video, void, (obs_encoder_t*, video_t*))                                     \
    X(obs_encoder_set_audio, void, (obs_encoder_t*, audio_t*))                                     \
    X(obs_encoder_release, void, (obs_encoder_t*))                                                 \
    X(obs_get_video, video_t*, (void))                                                             \
    X(obs_get_audio, audio_t*, (void))                                                             \
    X(obs_output_create, obs_output_t*, (const char*, const char*, obs_data_t*, obs_data_t*))      \
    X(obs_output_set_video_encoder, void, (obs_output_t*, obs_encoder_t*))                         \
    X(obs_output_set_audio_encoder, void, (obs_output_t*, obs_encoder_t*, size_t))                 \
    X(obs_output_start, bool, (obs_output_t*))                                                     \
    X(obs_output_stop, void, (obs_output_t*))                                                      \
    X(obs_output_force_stop, void, (obs_output_t*))                                                \
    X(obs_output_release, void, (obs_output_t*))                                                   \
    X(obs_output_get_last_error, const char*, (obs_output_t*))                                     \
    X(obs_output_get_signal_handler, signal_handler_t*, (const obs_output_t*))                     \
    X(obs_output_get_proc_handler, proc_handler_t*, (const obs_output_t*))                         \
    X(obs_output_get_total_frames, int, (const obs_output_t*))                                     \
    X(obs_output_get_frames_dropped, int, (const obs_output_t*))                                   \
    X(obs_get_lagged_frames, uint32_t, (void))                                                     \
    X(obs_get_total_frames, uint32_t, (void))                                                      \
    X(obs_get_active_fps, double, (void))                                                          \
    X(signal_handler_connect, void, (signal_handler_t*, const char*, signal_callback_t, void*))    \
    X(proc_handler_call, bool, (proc_handler_t*, const char*, calldata_t*))                        \
    X(calldata_get_string, bool, (const calldata_t*, const char*, const char**))                   \
    X(calldata_get_data, bool, (const calldata_t*, const char*, void*, size_t))                    \
    X(base_set_log_handler, void, (log_handler_t, void*))                                          \
    X(obs_add_raw_video_callback2, void,                                                           \
      (const video_scale_info*, uint32_t, raw_video_callback_t, void*))                            \
    X(obs_remove_raw_video_callback, void, (raw_video_callback_t, void*))                          \
    X(bfree, void, (void*))

// Optional entry points: used when present, never required.
typedef void (*obs_set_nix_platform_fn)(int);
typedef void (*obs_set_nix_platform_display_fn)(void*);
// Whether an output is still running (its own end included), and whether an
// encoder has set itself up (it has its stream headers then).
typedef bool (*obs_output_active_fn)(const obs_output_t*);
typedef bool (*obs_encoder_get_extra_data_fn)(const obs_encoder_t*, uint8_t** data, size_t* size);
// The engine's raw audio of one mix, called on its audio thread at every tick.
struct audio_data;
struct audio_convert_info;
typedef void (*audio_output_callback_t)(void* param, size_t mix_index, struct audio_data* data);
typedef void (*obs_add_raw_audio_callback_fn)(size_t mix_index, const audio_convert_info*,
                                              audio_output_callback_t, void* param);
typedef void (*obs_remove_raw_audio_callback_fn)(size_t mix_index, audio_output_callback_t,
                                                 void* param);

// The property lists, outside the table: only the listing mode needs them.
// Same declarations at libobs 29 to 32: X(name, return type, parameters).
#define KALTO_PROPERTY_ENTRY_POINTS(X)                                                             \
    X(obs_get_source_properties, obs_properties_t*, (const char*))                                 \
    X(obs_properties_get, obs_property_t*, (obs_properties_t*, const char*))                       \
    X(obs_property_list_item_count, size_t, (obs_property_t*))                                     \
    X(obs_property_list_item_name, const char*, (obs_property_t*, size_t))                         \
    X(obs_property_list_item_string, const char*, (obs_property_t*, size_t))                       \
    X(obs_properties_destroy, void, (obs_properties_t*))
