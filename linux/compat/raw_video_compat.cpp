// The engine library the agent loads on Linux when the system's libobs lacks
// the divisor-taking raw-video entry point (libobs 29): libobs itself, which
// this library needs, plus that entry point. Every other entry point is found
// in libobs. On an engine that has its own, both functions here only forward
// to it: libobs 30 implements obs_add_raw_video_callback through
// obs_add_raw_video_callback2, so wrapping it there would call back into us.
#include <obs.h>

#include <dlfcn.h>
#include <mutex>
#include <vector>

namespace {

using RawCallback = void (*)(void*, video_data*);
using AddFunction = void (*)(const video_scale_info*, uint32_t, RawCallback, void*);
using RemoveFunction = void (*)(RawCallback, void*);

struct Divided {
    RawCallback callback;
    void* param;
    uint32_t divisor;
    uint64_t count;
};

std::mutex registry_lock;
std::vector<Divided*>& registry() {
    static auto* entries = new std::vector<Divided*>;
    return *entries;
}

void divided_frame(void* data, video_data* frame) {
    auto* entry = static_cast<Divided*>(data);
    if (entry->count++ % entry->divisor == 0)
        entry->callback(entry->param, frame);
}

// The engine's own entry points, found past this library.
AddFunction engine_add2() {
    static auto add =
        reinterpret_cast<AddFunction>(dlsym(RTLD_NEXT, "obs_add_raw_video_callback2"));
    return add;
}

RemoveFunction engine_remove() {
    static auto remove =
        reinterpret_cast<RemoveFunction>(dlsym(RTLD_NEXT, "obs_remove_raw_video_callback"));
    return remove;
}

} // namespace

extern "C" __attribute__((visibility("default"))) void
obs_add_raw_video_callback2(const video_scale_info* conversion, uint32_t divisor,
                            RawCallback callback, void* param) {
    if (AddFunction native = engine_add2()) {
        native(conversion, divisor, callback, param);
        return;
    }
    auto* entry = new Divided{callback, param, divisor ? divisor : 1, 0};
    {
        std::lock_guard<std::mutex> guard(registry_lock);
        registry().push_back(entry);
    }
    obs_add_raw_video_callback(conversion, divided_frame, entry);
}

// Removes a callback added either way. Only what was added is removed: libobs
// 29 lowers its raw-video user count even when nothing matches.
extern "C" __attribute__((visibility("default"))) void
obs_remove_raw_video_callback(RawCallback callback, void* param) {
    Divided* found = nullptr;
    if (!engine_add2()) {
        std::lock_guard<std::mutex> guard(registry_lock);
        auto& entries = registry();
        for (auto it = entries.begin(); it != entries.end(); ++it) {
            if ((*it)->callback == callback && (*it)->param == param) {
                found = *it;
                entries.erase(it);
                break;
            }
        }
    }
    if (found) {
        // The engine holds its callback lock while calling, so after this no frame arrives.
        engine_remove()(divided_frame, found);
        delete found;
        return;
    }
    engine_remove()(callback, param);
}
