#include "main/bring_up.h"

#include "api/engine_api.h"
#include "api/engine_log.h"
#include "api/engine_text.h"
#include "common/exit_codes.h"
#include "platform/platform.h"
#include "protocol/event_writer.h"
#include "recording/encoders.h"
#include "recording/recording.h"
#include "recording/video_reset.h"

#include <nlohmann/json.hpp>

const std::vector<std::string> engine_modules = {
    "win-capture", "win-wasapi", "obs-ffmpeg", "obs-x264", "obs-nvenc", "obs-qsv11", "obs-outputs"};

namespace {

obs_video_info bring_up_video() {
    return engine_video_info(60, 1920, 1080, 1920, 1080);
}

// Before the engine starts: it draws through X11 (EGL) or Wayland, with our connection.
void hand_display_to_engine(const platform::DisplayConnection& connection) {
    if (connection.kind == platform::DisplayKind::none)
        return;
    auto set_platform =
        reinterpret_cast<obs_set_nix_platform_fn>(engine_optional_entry("obs_set_nix_platform"));
    auto set_display = reinterpret_cast<obs_set_nix_platform_display_fn>(
        engine_optional_entry("obs_set_nix_platform_display"));
    if (set_platform)
        set_platform(connection.kind == platform::DisplayKind::x11
                         ? engine_const::nix_platform_x11_egl
                         : engine_const::nix_platform_wayland);
    if (set_display && connection.display)
        set_display(connection.display);
}

std::vector<std::string> load_modules(const std::string& root) {
    const EngineApi& api = engine();
    std::vector<std::string> loaded;
    for (const std::string& name : engine_modules) {
        std::string library = module_library_path(root, name);
        if (!platform::file_metadata_readable(library))
            continue;
        obs_module_t* module = nullptr;
        std::string library_text = to_engine_text(sanitize_utf8(library));
        std::string data_text = to_engine_text(sanitize_utf8(module_data_path(root, name)));
        int opened = api.obs_open_module(&module, library_text.c_str(), data_text.c_str());
        if (opened == engine_const::module_success && api.obs_init_module(module)) {
            loaded.push_back(name);
            continue;
        }
        write_diagnostic_line("module " + name + " non chargé (code " + std::to_string(opened) +
                              ")\n");
    }
    return loaded;
}

} // namespace

std::string join_path(const std::string& base, const std::string& component) {
    return base + platform::path_separator + component;
}

std::string executable_directory(const std::string& executable_path) {
    std::size_t last = executable_path.find_last_of(platform::path_separator);
    if (last == std::string::npos)
        return ".";
    if (last == 0)
        return executable_path.substr(0, 1);
    return executable_path.substr(0, last);
}

std::string install_root(const std::string& executable_dir) {
    return join_path(join_path(executable_dir, ".."), "..");
}

std::string module_library_path(const std::string& root, const std::string& name) {
    return join_path(join_path(join_path(root, "core"), name), name + platform::module_file_suffix);
}

std::string module_data_path(const std::string& root, const std::string& name) {
    return join_path(join_path(join_path(root, "core"), name), "data");
}

int open_engine(EngineBringUp& state) {
    if (!platform::environment_has("KALTO_OBS_ESSAI_SANS_ECHELLE"))
        platform::declare_dpi_awareness();
    state.directory = executable_directory(platform::executable_path());
    platform::change_directory(state.directory);

    if (auto failure = load_engine(join_path(state.directory, platform::engine_library_file))) {
        emit_error(platform::library_failure_prefix + *failure);
        return exit_code::engine_library;
    }
    engine().base_set_log_handler(engine_log_handler, nullptr);
    return exit_code::normal;
}

int start_engine(EngineBringUp& state) {
    const EngineApi& api = engine();
    std::string root = install_root(state.directory);
    std::string config = join_path(platform::temp_directory(), "kalto-obs");
    platform::create_directories(config);
    hand_display_to_engine(platform::select_engine_display());

    std::string config_text = to_engine_text(sanitize_utf8(config));
    if (!api.obs_startup("fr-FR", config_text.c_str(), nullptr)) {
        emit_error("libobs ne démarre pas");
        return exit_code::engine_start;
    }
    obs_audio_info audio = engine_audio_info();
    if (!api.obs_reset_audio(&audio)) {
        emit_error("son : initialisation refusée");
        return exit_code::engine_start;
    }
    obs_video_info video = bring_up_video();
    int reset = reset_engine_video(video);
    if (reset != engine_const::video_success) {
        emit_error(std::string(platform::graphics_failure_name) +
                   " : initialisation refusée (code " + std::to_string(reset) + ")");
        return exit_code::engine_start;
    }

    state.modules = load_modules(root);
    api.obs_post_load_modules();
    return exit_code::normal;
}

int bring_up() {
    EngineBringUp state;
    if (int failure = open_engine(state))
        return failure;
    if (int failure = start_engine(state))
        return failure;
    emit_event({{"event", "ready"},
                {"version", from_engine_text(engine().obs_get_version_string())},
                {"modules", state.modules},
                {"encoders", list_encoder_types()}});
    return exit_code::normal;
}
