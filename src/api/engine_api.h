#pragma once

#include "api/engine_abi.h"

#include <optional>
#include <string>

// The process-wide table of the engine's entry points, set once at bring-up
// and read-only afterwards.
struct EngineApi {
#define KALTO_DECLARE_ENTRY(name, ret, params) ret(*name) params;
    KALTO_ENGINE_ENTRY_POINTS(KALTO_DECLARE_ENTRY)
#undef KALTO_DECLARE_ENTRY
    void* library;
};

constexpr std::size_t engine_entry_point_count = 48;
static_assert(sizeof(EngineApi) == (engine_entry_point_count + 1) * sizeof(void*));

// Opens the engine library and resolves every entry point in table order.
// Returns the failure text, or nothing once the table is set. A second
// successful load keeps the first table and closes its own library.
std::optional<std::string> load_engine(const std::string& path);

// The table; stops the process when it was never set (a broken invariant).
const EngineApi& engine();

// An entry point outside the table, or null when the library lacks it.
void* engine_optional_entry(const char* name);
