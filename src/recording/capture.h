#pragma once

#include "protocol/command.h"
#include "recording/settings.h"

#include <string>
#include <vector>

// One way of capturing the target.
struct CaptureCandidate {
    SettingsList settings;
    const char* label; // shown to the controller, e.g. "fenêtre WGC"
    const char* id;    // engine source type
};

constexpr std::int64_t capture_method_wgc = 2;
constexpr std::int64_t capture_method_legacy = 1; // BitBlt for windows, DXGI for monitors

CaptureCandidate window_candidate(const std::string& window, std::int64_t method,
                                  const char* label);
CaptureCandidate monitor_candidate(const std::string& monitor, std::int64_t method);

// The methods worth trying for the target, in trial order; never empty.
std::vector<CaptureCandidate> capture_candidates(const Source& source);

// A new engine source for the candidate, or null when the engine refuses it.
obs_source_t* create_capture_source(const CaptureCandidate& candidate);
