#include "api/engine_api.h"

#include "common/exit_codes.h"
#include "platform/platform.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

// Set once; never released, so readers on any thread can hold on to it.
std::atomic<const EngineApi*> engine_cell{nullptr};

struct EntryPoint {
    const char* name;
    std::size_t offset;
};

constexpr EntryPoint entry_points[] = {
#define KALTO_ENTRY_OFFSET(name, ret, params) {#name, offsetof(EngineApi, name)},
    KALTO_ENGINE_ENTRY_POINTS(KALTO_ENTRY_OFFSET)
#undef KALTO_ENTRY_OFFSET
};
static_assert(std::size(entry_points) == engine_entry_point_count);

} // namespace

std::optional<std::string> load_engine(const std::string& path) {
    std::string error;
    void* library = platform::open_library(path, error);
    if (!library)
        return error;

    auto* table = new EngineApi{};
    for (const EntryPoint& entry : entry_points) {
        void* symbol = platform::library_symbol(library, entry.name, error);
        if (!symbol) {
            delete table;
            platform::close_library(library);
            return std::string(entry.name) + " : " + error;
        }
        // Function and object pointers share one representation on every target we build.
        *reinterpret_cast<void**>(reinterpret_cast<char*>(table) + entry.offset) = symbol;
    }
    table->library = library;

    const EngineApi* expected = nullptr;
    if (!engine_cell.compare_exchange_strong(expected, table, std::memory_order_acq_rel)) {
        delete table;
        platform::close_library(library);
    }
    return std::nullopt;
}

const EngineApi& engine() {
    const EngineApi* table = engine_cell.load(std::memory_order_acquire);
    if (!table) {
        std::fputs("libobs non chargée\n", stderr);
        std::fflush(stderr);
        std::_Exit(exit_code::broken_invariant);
    }
    return *table;
}

void* engine_optional_entry(const char* name) {
    std::string ignored;
    return platform::library_symbol(engine().library, name, ignored);
}
