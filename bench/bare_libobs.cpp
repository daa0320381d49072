// The same session as the agent's benchmark, done by a bare program that
// links libobs itself and captures with the engine's own Linux plug-ins
// (xshm_input, pulse_output_capture): the reference for the agent's figures.
#include "timing.h"

#include <obs-nix-platform.h>
#include <obs.h>

#include <X11/Xlib.h>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <thread>

namespace {

using clock_type = std::chrono::steady_clock;

std::mutex lock;
std::condition_variable signalled;
int stops = 0;
bool saved = false;

void on_stop(void*, calldata_t*) {
    std::lock_guard<std::mutex> guard(lock);
    ++stops;
    signalled.notify_all();
}

void on_saved(void*, calldata_t*) {
    std::lock_guard<std::mutex> guard(lock);
    saved = true;
    signalled.notify_all();
}

double cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](timeval t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

obs_source_t* make_source(const char* id, const char* name, obs_data_t* settings) {
    obs_source_t* source = obs_source_create(id, name, settings, nullptr);
    obs_data_release(settings);
    return source;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bare_libobs <installed root> <output directory>\n");
        return 2;
    }
    std::string root = argv[1], out = argv[2];
    base_set_log_handler([](int, const char*, va_list, void*) {}, nullptr);
    auto begin = clock_type::now();
    obs_set_nix_platform(OBS_NIX_PLATFORM_X11_EGL);
    obs_set_nix_platform_display(XOpenDisplay(nullptr));
    if (!obs_startup("fr-FR", "/tmp/kalto-bench", nullptr))
        return 3;
    obs_audio_info audio = {48000, SPEAKERS_STEREO};
    obs_reset_audio(&audio);
    obs_video_info video = {};
    video.graphics_module = "libobs-opengl";
    video.fps_num = 60;
    video.fps_den = 1;
    video.base_width = video.output_width = 1920;
    video.base_height = video.output_height = 1080;
    video.output_format = VIDEO_FORMAT_NV12;
    video.gpu_conversion = true;
    video.colorspace = VIDEO_CS_709;
    video.range = VIDEO_RANGE_PARTIAL;
    video.scale_type = OBS_SCALE_BICUBIC;
    if (obs_reset_video(&video) != OBS_VIDEO_SUCCESS)
        return 3;
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
    auto ready = clock_type::now();

    auto start_begin = clock_type::now();
    video.fps_num = 30;
    video.base_width = video.output_width = 1280;
    video.base_height = video.output_height = 720;
    obs_reset_video(&video);
    obs_data_t* screen = obs_data_create();
    obs_data_set_int(screen, "screen", 0);
    obs_source_t* picture = make_source("xshm_input", "image", screen);
    obs_set_output_source(0, picture);
    obs_data_t* device = obs_data_create();
    obs_data_set_string(device, "device_id", "default");
    obs_source_t* sound = make_source("pulse_output_capture", "son", device);
    obs_set_output_source(1, sound);
    obs_data_t* h264_settings = obs_data_create();
    obs_data_set_string(h264_settings, "rate_control", "CBR");
    obs_data_set_int(h264_settings, "bitrate", 2500);
    obs_data_set_int(h264_settings, "keyint_sec", 1);
    obs_data_set_string(h264_settings, "preset", "veryfast");
    obs_encoder_t* h264 = obs_video_encoder_create("obs_x264", "h264", h264_settings, nullptr);
    obs_data_release(h264_settings);
    obs_encoder_set_video(h264, obs_get_video());
    obs_data_t* aac_settings = obs_data_create();
    obs_data_set_int(aac_settings, "bitrate", 160);
    obs_encoder_t* aac = obs_audio_encoder_create("ffmpeg_aac", "aac", aac_settings, 0, nullptr);
    obs_data_release(aac_settings);
    obs_encoder_set_audio(aac, obs_get_audio());

    obs_data_t* file_settings = obs_data_create();
    obs_data_set_string(file_settings, "path", (out + "/bare.mp4").c_str());
    obs_output_t* file = obs_output_create("ffmpeg_muxer", "fichier", file_settings, nullptr);
    obs_data_release(file_settings);
    obs_data_t* replay_settings = obs_data_create();
    obs_data_set_string(replay_settings, "directory", out.c_str());
    obs_data_set_string(replay_settings, "format", "BARE_replay_%CCYY-%MM-%DD_%hh-%mm-%ss");
    obs_data_set_string(replay_settings, "extension", "mp4");
    obs_data_set_int(replay_settings, "max_time_sec", 120);
    obs_data_set_int(replay_settings, "max_size_mb", 1024);
    obs_output_t* replay = obs_output_create("replay_buffer", "replay", replay_settings, nullptr);
    obs_data_release(replay_settings);
    for (obs_output_t* output : {file, replay}) {
        obs_output_set_video_encoder(output, h264);
        obs_output_set_audio_encoder(output, aac, 0);
        signal_handler_connect(obs_output_get_signal_handler(output), "stop", on_stop, nullptr);
        if (!obs_output_start(output))
            return 4;
    }
    signal_handler_connect(obs_output_get_signal_handler(replay), "saved", on_saved, nullptr);
    auto started = clock_type::now();

    double cpu_before = cpu_seconds();
    auto window = clock_type::now();
    std::this_thread::sleep_for(std::chrono::seconds(10)); // ten seconds of recording
    double cores = (cpu_seconds() - cpu_before) /
                   std::chrono::duration<double>(clock_type::now() - window).count();

    double rss = resident_mib("self");

    auto save_begin = clock_type::now();
    calldata_t call = {};
    proc_handler_call(obs_output_get_proc_handler(replay), "save", &call);
    calldata_free(&call);
    {
        std::unique_lock<std::mutex> guard(lock);
        signalled.wait_for(guard, std::chrono::seconds(30), [] { return saved; });
    }
    auto save_end = clock_type::now();

    auto stop_begin = clock_type::now();
    obs_output_stop(file);
    obs_output_stop(replay);
    {
        std::unique_lock<std::mutex> guard(lock);
        signalled.wait_for(guard, std::chrono::seconds(40), [] { return stops == 2; });
    }
    obs_output_release(file);
    obs_output_release(replay);
    obs_set_output_source(0, nullptr);
    obs_set_output_source(1, nullptr);
    obs_source_release(picture);
    obs_source_release(sound);
    obs_encoder_release(h264);
    obs_encoder_release(aac);
    auto stopped = clock_type::now();
    obs_shutdown();

    print_figures(elapsed_ms(begin, ready), elapsed_ms(start_begin, started),
                  elapsed_ms(save_begin, save_end), elapsed_ms(stop_begin, stopped), cores, rss);
    return 0;
}
