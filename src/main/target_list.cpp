#include "main/target_list.h"

#include "api/engine_api.h"
#include "api/engine_properties.h"
#include "api/engine_text.h"
#include "common/exit_codes.h"
#include "main/bring_up.h"
#include "platform/platform.h"
#include "protocol/event_writer.h"

namespace {

// The items of one list property of a source type; none when the type is not
// registered or has no such list. Items without a text value are not choices.
nlohmann::json list_items(const EnginePropertyApi& api, const char* type, const char* property) {
    nlohmann::json items = nlohmann::json::array();
    obs_properties_t* properties = api.obs_get_source_properties(type);
    if (!properties)
        return items;
    if (obs_property_t* list = api.obs_properties_get(properties, property)) {
        std::size_t count = api.obs_property_list_item_count(list);
        for (std::size_t i = 0; i < count; ++i) {
            const char* value = api.obs_property_list_item_string(list, i);
            if (!value)
                continue;
            items.push_back({{"name", from_engine_text(api.obs_property_list_item_name(list, i))},
                             {"value", from_engine_text(value)}});
        }
    }
    api.obs_properties_destroy(properties);
    return items;
}

nlohmann::json list_capture_targets(const EnginePropertyApi& api) {
    // Both lists keep these names in win-capture from 29 to 32, and in ours.
    return {{"monitors", list_items(api, "monitor_capture", "monitor_id")},
            {"windows", list_items(api, "window_capture", "window")}};
}

} // namespace

int run_list_mode() {
    EngineBringUp state;
    if (int failure = open_engine(state))
        return failure;
    // Before the engine starts: an engine without them fails as one without a table entry.
    EnginePropertyApi api;
    if (auto missing = load_property_api(api)) {
        emit_error(platform::library_failure_prefix + *missing);
        return exit_code::engine_library;
    }
    if (int failure = start_engine(state))
        return failure;
    // Not an event: the writer is still the one way to standard output.
    emit_event(list_capture_targets(api));
    // As the agent ends: plug-ins' threads and libraries are not left to the process's end.
    engine().obs_shutdown();
    return exit_code::normal;
}
