// The engine library the agent loads on Linux: the system's libobs, plus the
// divisor-taking raw-video entry point that libobs 29 does not have yet.
// Every other entry point is found in libobs itself, which this library needs.
#include <obs.h>

#include <dlfcn.h>
#include <mutex>
#include <vector>

namespace {

using RawCallback = void (*)(void*, video_data*);

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

using RemoveFunction = void (*)(RawCallback, void*);

RemoveFunction engine_remove() {
    static auto remove =
        reinterpret_cast<RemoveFunction>(dlsym(RTLD_NEXT, "obs_remove_raw_video_callback"));
    return remove;
}

} // namespace

extern "C" __attribute__((visibility("default"))) void
obs_add_raw_video_callback2(const video_scale_info* conversion, uint32_t divisor,
                            RawCallback callback, void* param) {
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
    {
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
