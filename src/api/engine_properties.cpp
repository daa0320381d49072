#include "api/engine_properties.h"

#include "api/engine_api.h"
#include "platform/platform.h"

std::optional<std::string> load_property_api(EnginePropertyApi& api) {
    void* library = engine().library;
    std::string error;
#define KALTO_RESOLVE_ENTRY(name, ret, params)                                                     \
    api.name = reinterpret_cast<ret(*) params>(platform::library_symbol(library, #name, error));   \
    if (!api.name)                                                                                 \
        return std::string(#name) + " : " + error;
    KALTO_PROPERTY_ENTRY_POINTS(KALTO_RESOLVE_ENTRY)
#undef KALTO_RESOLVE_ENTRY
    return std::nullopt;
}
