#include "recording/capture.h"

#include "api/engine_api.h"
#include "api/engine_text.h"

CaptureCandidate window_candidate(const std::string& window, std::int64_t method,
                                  const char* label) {
    return {{{"window", window},
             {"method", method},
             {"priority", std::int64_t{0}},
             {"cursor", false},
             {"client_area", true},
             {"capture_audio", false}},
            label,
            "window_capture"};
}

CaptureCandidate monitor_candidate(const std::string& monitor, std::int64_t method) {
    return {{{"monitor_id", monitor}, {"method", method}, {"capture_cursor", false}},
            method == capture_method_wgc ? "écran WGC" : "écran DXGI",
            "monitor_capture"};
}

std::vector<CaptureCandidate> capture_candidates(const Source& source) {
    std::vector<CaptureCandidate> candidates;
    if (const auto* window = std::get_if<Source::Window>(&source.value)) {
        candidates.push_back(window_candidate(window->window, capture_method_wgc, "fenêtre WGC"));
        candidates.push_back(
            window_candidate(window->window, capture_method_legacy, "fenêtre BitBlt"));
        return candidates;
    }
    const auto& monitor = std::get<Source::Monitor>(source.value);
    bool wgc_first = monitor.method == capture_method_wgc;
    std::int64_t first = wgc_first ? capture_method_wgc : capture_method_legacy;
    std::int64_t second = wgc_first ? capture_method_legacy : capture_method_wgc;
    candidates.push_back(monitor_candidate(monitor.monitor, first));
    candidates.push_back(monitor_candidate(monitor.monitor, second));
    if (monitor.window)
        candidates.push_back(window_candidate(*monitor.window, capture_method_wgc, "fenêtre WGC"));
    return candidates;
}

obs_source_t* create_capture_source(const CaptureCandidate& candidate) {
    const EngineApi& api = engine();
    obs_data_t* settings = build_settings(candidate.settings);
    std::string name = to_engine_text(std::string("KALTO image (") + candidate.label + ")");
    obs_source_t* source = api.obs_source_create(candidate.id, name.c_str(), settings, nullptr);
    api.obs_data_release(settings);
    return source;
}
