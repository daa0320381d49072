#pragma once

// The registration our Linux plug-ins share: an input source with a fixed
// display name, created and destroyed by the plug-in's own functions.

#include <obs-module.h>

inline obs_source_info input_source_info(const char* id, const char* name, uint32_t flags,
                                         void* (*create)(obs_data_t*, obs_source_t*),
                                         void (*destroy)(void*)) {
    obs_source_info info = {};
    info.id = id;
    info.type = OBS_SOURCE_TYPE_INPUT;
    info.output_flags = flags | OBS_SOURCE_DO_NOT_DUPLICATE;
    info.get_name = [](void* type_data) { return static_cast<const char*>(type_data); };
    info.type_data = const_cast<char*>(name);
    info.create = create;
    info.destroy = destroy;
    return info;
}
