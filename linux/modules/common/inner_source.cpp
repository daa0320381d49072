#include "inner_source.h"

#include <string>

void load_system_module(const char* name) {
    std::string library = std::string(KALTO_SYSTEM_PLUGINS) + "/" + name + ".so";
    std::string data = std::string(KALTO_SYSTEM_PLUGIN_DATA) + "/" + name;
    obs_module_t* module = nullptr;
    int opened = obs_open_module(&module, library.c_str(), data.c_str());
    if (opened != MODULE_SUCCESS || !obs_init_module(module))
        blog(LOG_WARNING, "module %s non chargé (code %d)", name, opened);
}

obs_source_info input_source_info(const char* id, const char* name, uint32_t flags,
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

obs_source_t* create_inner_source(const char* id, obs_source_t* outer, obs_data_t* settings) {
    // The engine would make a source of an unknown type too, one that never draws.
    obs_source_t* inner = obs_source_get_display_name(id)
                              ? obs_source_create_private(id, obs_source_get_name(outer), settings)
                              : nullptr;
    obs_data_release(settings);
    return inner;
}
