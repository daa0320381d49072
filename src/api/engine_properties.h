#pragma once

#include "api/engine_abi.h"

#include <optional>
#include <string>

// The engine's property lists: what a plug-in offers a user to choose from.
// Resolved apart from the table, which every mode needs and this one does not.
struct EnginePropertyApi {
#define KALTO_DECLARE_ENTRY(name, ret, params) ret(*name) params = nullptr;
    KALTO_PROPERTY_ENTRY_POINTS(KALTO_DECLARE_ENTRY)
#undef KALTO_DECLARE_ENTRY
};

// Resolves every entry from the loaded engine, in declaration order. Returns
// "<first missing entry> : <loader's reason>", or nothing once `api` is set.
std::optional<std::string> load_property_api(EnginePropertyApi& api);
