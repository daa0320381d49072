#pragma once

#include "api/engine_abi.h"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

// One value of an engine settings object.
using SettingValue = std::variant<bool, std::int64_t, std::string>;

struct Setting {
    std::string key;
    SettingValue value;
};

// Keys and values in the order they are set on the engine object.
using SettingsList = std::vector<Setting>;

// A new engine settings object holding every entry; the caller releases it
// with obs_data_release right after the call that takes it.
obs_data_t* build_settings(const SettingsList& settings);
