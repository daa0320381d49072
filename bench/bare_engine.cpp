#include "bare_engine.h"

#include <obs-nix-platform.h>

#include <X11/Xlib.h>
#include <chrono>

namespace {

obs_video_info bare_video() {
    obs_video_info video = {};
    video.graphics_module = "libobs-opengl";
    video.output_format = VIDEO_FORMAT_NV12;
    video.gpu_conversion = true;
    video.colorspace = VIDEO_CS_709;
    video.range = VIDEO_RANGE_PARTIAL;
    video.scale_type = OBS_SCALE_BICUBIC;
    video.fps_den = 1;
    return video;
}

obs_source_t* make_source(const char* id, const char* name, obs_data_t* settings) {
    obs_source_t* source = obs_source_create(id, name, settings, nullptr);
    obs_data_release(settings);
    return source;
}

void on_stop(void* data, calldata_t*) {
    auto* session = static_cast<BareSession*>(data);
    std::lock_guard<std::mutex> guard(session->lock);
    ++session->stops;
    session->signalled.notify_all();
}

void on_saved(void* data, calldata_t*) {
    auto* session = static_cast<BareSession*>(data);
    std::lock_guard<std::mutex> guard(session->lock);
    ++session->saves;
    session->signalled.notify_all();
}

} // namespace

bool start_bare_engine(const std::string& root) {
    base_set_log_handler([](int, const char*, va_list, void*) {}, nullptr);
    obs_set_nix_platform(OBS_NIX_PLATFORM_X11_EGL);
    obs_set_nix_platform_display(XOpenDisplay(nullptr));
    if (!obs_startup("fr-FR", "/tmp/kalto-bench", nullptr))
        return false;
    obs_audio_info audio = {48000, SPEAKERS_STEREO};
    obs_reset_audio(&audio);
    if (!reset_bare_video(1920, 1080, 60))
        return false;
    auto load = [](const std::string& library, const std::string& data) {
        obs_module_t* module = nullptr;
        if (obs_open_module(&module, library.c_str(), data.c_str()) == MODULE_SUCCESS)
            obs_init_module(module);
    };
    for (const char* name : {"linux-capture", "linux-pulseaudio"})
        load(std::string(KALTO_SYSTEM_PLUGINS) + "/" + name + ".so",
             std::string(KALTO_SYSTEM_PLUGIN_DATA) + "/" + name);
    for (const char* name : {"obs-ffmpeg", "obs-x264", "obs-outputs"}) {
        std::string dir = root + "/core/" + name;
        load(dir + "/" + name + ".so", dir + "/data");
    }
    obs_post_load_modules();
    return true;
}

bool reset_bare_video(std::uint32_t width, std::uint32_t height, std::uint32_t fps) {
    obs_video_info video = bare_video();
    video.fps_num = fps;
    video.base_width = video.output_width = width;
    video.base_height = video.output_height = height;
    return obs_reset_video(&video) == OBS_VIDEO_SUCCESS;
}

bool open_bare_session(BareSession& session, const std::string& path, const std::string& clips,
                       int replay_seconds) {
    obs_data_t* screen = obs_data_create();
    obs_data_set_int(screen, "screen", 0);
    session.picture = make_source("xshm_input", "image", screen);
    obs_set_output_source(0, session.picture);
    obs_data_t* device = obs_data_create();
    obs_data_set_string(device, "device_id", "default");
    session.sound = make_source("pulse_output_capture", "son", device);
    obs_set_output_source(1, session.sound);

    obs_data_t* h264_settings = obs_data_create();
    obs_data_set_string(h264_settings, "rate_control", "CBR");
    obs_data_set_int(h264_settings, "bitrate", 2500);
    obs_data_set_int(h264_settings, "keyint_sec", 1);
    obs_data_set_string(h264_settings, "preset", "veryfast");
    session.h264 = obs_video_encoder_create("obs_x264", "h264", h264_settings, nullptr);
    obs_data_release(h264_settings);
    obs_encoder_set_video(session.h264, obs_get_video());
    obs_data_t* aac_settings = obs_data_create();
    obs_data_set_int(aac_settings, "bitrate", 160);
    session.aac = obs_audio_encoder_create("ffmpeg_aac", "aac", aac_settings, 0, nullptr);
    obs_data_release(aac_settings);
    obs_encoder_set_audio(session.aac, obs_get_audio());

    if (!path.empty()) {
        obs_data_t* settings = obs_data_create();
        obs_data_set_string(settings, "path", path.c_str());
        session.file = obs_output_create("ffmpeg_muxer", "fichier", settings, nullptr);
        obs_data_release(settings);
    }
    if (!clips.empty()) {
        obs_data_t* settings = obs_data_create();
        obs_data_set_string(settings, "directory", clips.c_str());
        obs_data_set_string(settings, "format", "BARE_replay_%CCYY-%MM-%DD_%hh-%mm-%ss");
        obs_data_set_string(settings, "extension", "mp4");
        obs_data_set_int(settings, "max_time_sec", replay_seconds);
        obs_data_set_int(settings, "max_size_mb", 1024);
        session.replay = obs_output_create("replay_buffer", "replay", settings, nullptr);
        obs_data_release(settings);
        signal_handler_connect(obs_output_get_signal_handler(session.replay), "saved", on_saved,
                               &session);
    }
    for (obs_output_t* output : {session.file, session.replay}) {
        if (!output)
            continue;
        obs_output_set_video_encoder(output, session.h264);
        obs_output_set_audio_encoder(output, session.aac, 0);
        signal_handler_connect(obs_output_get_signal_handler(output), "stop", on_stop, &session);
        if (!obs_output_start(output))
            return false;
    }
    return true;
}

std::uint64_t bare_frames(const BareSession& session) {
    obs_output_t* first = session.file ? session.file : session.replay;
    return first ? static_cast<std::uint64_t>(obs_output_get_total_frames(first)) : 0;
}

bool save_bare_replay(BareSession& session) {
    int before = 0;
    {
        std::lock_guard<std::mutex> guard(session.lock);
        before = session.saves;
    }
    calldata_t call = {};
    proc_handler_call(obs_output_get_proc_handler(session.replay), "save", &call);
    calldata_free(&call);
    std::unique_lock<std::mutex> guard(session.lock);
    return session.signalled.wait_for(guard, std::chrono::seconds(30),
                                      [&] { return session.saves > before; });
}

void close_bare_session(BareSession& session) {
    int outputs = 0;
    for (obs_output_t* output : {session.file, session.replay})
        if (output) {
            obs_output_stop(output);
            ++outputs;
        }
    {
        std::unique_lock<std::mutex> guard(session.lock);
        session.signalled.wait_for(guard, std::chrono::seconds(40),
                                   [&] { return session.stops >= outputs; });
    }
    if (session.replay)
        signal_handler_disconnect(obs_output_get_signal_handler(session.replay), "saved", on_saved,
                                  &session);
    for (obs_output_t* output : {session.file, session.replay})
        if (output) {
            signal_handler_disconnect(obs_output_get_signal_handler(output), "stop", on_stop,
                                      &session);
            obs_output_release(output);
        }
    obs_set_output_source(0, nullptr);
    obs_set_output_source(1, nullptr);
    obs_source_release(session.picture);
    obs_source_release(session.sound);
    obs_encoder_release(session.h264);
    obs_encoder_release(session.aac);
    session.file = session.replay = nullptr;
    session.picture = session.sound = nullptr;
    session.h264 = session.aac = nullptr;
}
