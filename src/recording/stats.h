#pragma once

#include "recording/recording.h"

#include <nlohmann/json.hpp>

// Mean luma to one decimal, halves away from zero; 0.0 before any frame.
double probe_brightness(double luma_sum, std::uint64_t frames);

// The statistics object of the active recording, "event" member included.
nlohmann::json collect_stats(const Recording& recording);
