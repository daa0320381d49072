#include "recording/settings.h"

#include "api/engine_api.h"
#include "api/engine_text.h"

obs_data_t* build_settings(const SettingsList& settings) {
    const EngineApi& api = engine();
    obs_data_t* data = api.obs_data_create();
    for (const Setting& setting : settings) {
        std::string key = to_engine_text(setting.key);
        if (const bool* flag = std::get_if<bool>(&setting.value)) {
            api.obs_data_set_bool(data, key.c_str(), *flag);
        } else if (const std::int64_t* number = std::get_if<std::int64_t>(&setting.value)) {
            api.obs_data_set_int(data, key.c_str(), *number);
        } else {
            std::string text = to_engine_text(std::get<std::string>(setting.value));
            api.obs_data_set_string(data, key.c_str(), text.c_str());
        }
    }
    return data;
}
