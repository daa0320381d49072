// The source types' property lists, scripted by FAKE_OBS_LIST: lines of
// "type|property" (an empty list), "type|property|name" (an item with no text
// value) or "type|property|name|value". A type with no line has no properties.
#include "fake_state.h"

#include <list>

struct obs_property {
    std::vector<std::pair<std::string, const char*>> items; // name, value or null
};

struct obs_properties {
    std::string handle;
    std::map<std::string, obs_property> lists;
    std::list<std::string> values; // the item values, which never move
    bool destroyed = false;
};

namespace {

void check_live(const obs_properties* properties, const char* call) {
    if (properties->destroyed)
        journal(std::string("misuse ") + call + " " + properties->handle);
}

} // namespace

FAKE_EXPORT obs_properties_t* obs_get_source_properties(const char* id) {
    auto* properties = new obs_properties;
    keep_alive(properties);
    bool found = false;
    for (const std::string& line : split(script().list_items, '\n')) {
        std::vector<std::string> fields = split(line, '|');
        if (fields.size() < 2 || fields[0] != id)
            continue;
        found = true;
        obs_property& list = properties->lists[fields[1]];
        if (fields.size() == 3)
            list.items.emplace_back(fields[2], nullptr);
        if (fields.size() >= 4) {
            properties->values.push_back(fields[3]);
            list.items.emplace_back(fields[2], properties->values.back().c_str());
        }
    }
    if (!found) {
        journal(std::string("obs_get_source_properties ") + id + " -> null");
        return nullptr;
    }
    properties->handle = next_handle('P');
    journal(std::string("obs_get_source_properties ") + id + " -> " + properties->handle);
    return properties;
}

FAKE_EXPORT obs_property_t* obs_properties_get(obs_properties_t* properties, const char* name) {
    check_live(properties, "obs_properties_get");
    auto list = properties->lists.find(name);
    return list == properties->lists.end() ? nullptr : &list->second;
}

FAKE_EXPORT size_t obs_property_list_item_count(obs_property_t* list) {
    return list->items.size();
}

FAKE_EXPORT const char* obs_property_list_item_name(obs_property_t* list, size_t index) {
    return index < list->items.size() ? list->items[index].first.c_str() : nullptr;
}

#ifndef FAKE_OMIT_LIST_STRING
FAKE_EXPORT const char* obs_property_list_item_string(obs_property_t* list, size_t index) {
    return index < list->items.size() ? list->items[index].second : nullptr;
}
#endif

FAKE_EXPORT void obs_properties_destroy(obs_properties_t* properties) {
    journal("obs_properties_destroy " + properties->handle);
    check_live(properties, "obs_properties_destroy");
    properties->destroyed = true;
}
