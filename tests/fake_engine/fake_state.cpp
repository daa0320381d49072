#include "fake_state.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// "a=1,b=2" -> {a:1, b:2}
std::map<std::string, std::string> pairs(const std::string& text) {
    std::map<std::string, std::string> out;
    for (const std::string& item : split(text, ',')) {
        std::size_t eq = item.find('=');
        if (eq != std::string::npos)
            out[item.substr(0, eq)] = item.substr(eq + 1);
    }
    return out;
}

FakeScript read_script() {
    FakeScript s;
    s.journal_path = env("FAKE_OBS_JOURNAL");
    s.startup_fails = env("FAKE_OBS_STARTUP") == "fail";
    s.audio_fails = env("FAKE_OBS_AUDIO") == "fail";
    for (const std::string& v : split(env("FAKE_OBS_RESET_VIDEO"), ','))
        s.video_results.push_back(std::atoi(v.c_str()));
    if (std::getenv("FAKE_OBS_VERSION"))
        s.version = env("FAKE_OBS_VERSION");
    s.version_null = env("FAKE_OBS_VERSION_NULL") == "1";
    s.encoders = split(
        std::getenv("FAKE_OBS_ENCODERS") ? env("FAKE_OBS_ENCODERS") : "obs_x264,ffmpeg_aac", ',');
    for (auto& [name, code] : pairs(env("FAKE_OBS_MODULE_OPEN")))
        s.module_open[name] = std::atoi(code.c_str());
    s.module_init_fails = split(env("FAKE_OBS_MODULE_INIT_FAIL"), ',');
    s.log_lines = env("FAKE_OBS_LOG");
    s.refused = split(env("FAKE_OBS_REFUSE"), ',');
    for (auto& [key, value] : pairs(env("FAKE_OBS_LUMA")))
        s.luma[key] = std::atoi(value.c_str());
    s.start_fails = pairs(env("FAKE_OBS_OUTPUT_START_FAIL"));
    s.unusable_encoders = pairs(env("FAKE_OBS_ENCODER_UNUSABLE"));
    s.stops = pairs(env("FAKE_OBS_OUTPUT_STOP"));
    s.save = env("FAKE_OBS_SAVE");
    if (!env("FAKE_OBS_STOP_DELAY_MS").empty())
        s.stop_delay_ms = std::atoi(env("FAKE_OBS_STOP_DELAY_MS").c_str());
    if (!env("FAKE_OBS_ACTIVE_AFTER_STOP_MS").empty())
        s.active_after_stop_ms = std::atoi(env("FAKE_OBS_ACTIVE_AFTER_STOP_MS").c_str());
    if (!env("FAKE_OBS_TICK_MS").empty())
        s.tick_ms = std::atoi(env("FAKE_OBS_TICK_MS").c_str());
    if (!env("FAKE_OBS_DELIVERED_FRAMES").empty())
        s.delivered_frames = std::atol(env("FAKE_OBS_DELIVERED_FRAMES").c_str());
    s.list_items = env("FAKE_OBS_LIST");
    auto stats = pairs(env("FAKE_OBS_STATS"));
    if (stats.count("fps"))
        s.fps = std::atof(stats["fps"].c_str());
    if (stats.count("lagged"))
        s.lagged = static_cast<std::uint32_t>(std::atoi(stats["lagged"].c_str()));
    if (stats.count("dropped"))
        s.dropped = std::atoi(stats["dropped"].c_str());
    return s;
}

std::mutex& journal_lock() {
    static auto* lock = new std::mutex;
    return *lock;
}

struct Timer {
    std::mutex lock;
    std::condition_variable wake;
    std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> tasks;
    std::thread thread;
    bool stopping = false;
};

Timer& timer() {
    static auto* t = new Timer;
    return *t;
}

void run_timer() {
    Timer& t = timer();
    std::unique_lock<std::mutex> lock(t.lock);
    while (!t.stopping) {
        if (t.tasks.empty()) {
            t.wake.wait(lock);
            continue;
        }
        auto due = t.tasks.begin()->first;
        if (std::chrono::steady_clock::now() < due) {
            t.wake.wait_until(lock, due);
            continue;
        }
        auto task = std::move(t.tasks.begin()->second);
        t.tasks.erase(t.tasks.begin());
        lock.unlock();
        task();
        lock.lock();
    }
}

std::atomic<int> allocations{0};

} // namespace

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> out;
    if (text.empty())
        return out;
    std::size_t start = 0;
    for (;;) {
        std::size_t at = text.find(separator, start);
        out.push_back(text.substr(start, at - start));
        if (at == std::string::npos)
            return out;
        start = at + 1;
    }
}

const FakeScript& script() {
    static const FakeScript* s = new FakeScript(read_script());
    return *s;
}

void journal(const std::string& line) {
    if (script().journal_path.empty())
        return;
    std::lock_guard<std::mutex> guard(journal_lock());
    if (FILE* f = std::fopen(script().journal_path.c_str(), "a")) {
        std::fputs(line.c_str(), f);
        std::fputc('\n', f);
        std::fclose(f);
    }
}

std::mutex& state_lock() {
    static auto* lock = new std::mutex;
    return *lock;
}

void schedule(std::chrono::milliseconds delay, std::function<void()> task) {
    Timer& t = timer();
    std::lock_guard<std::mutex> guard(t.lock);
    if (!t.thread.joinable() && !t.stopping)
        t.thread = std::thread(run_timer);
    t.tasks.emplace(std::chrono::steady_clock::now() + delay, std::move(task));
    t.wake.notify_all();
}

void stop_engine_threads() {
    Timer& t = timer();
    {
        std::lock_guard<std::mutex> guard(t.lock);
        t.stopping = true;
        t.wake.notify_all();
    }
    if (t.thread.joinable())
        t.thread.join();
}

std::string next_handle(char kind) {
    static std::map<char, int> counters;
    // Appended rather than concatenated: GCC 12 at -O3 warns falsely (-Wrestrict) on the latter.
    std::string handle(1, kind);
    handle += std::to_string(++counters[kind]);
    return handle;
}

void keep_alive(void* object) {
    static auto* kept = new std::vector<void*>;
    kept->push_back(object);
}

bool is_refused(const std::string& kind, const std::string& id, int method) {
    for (const std::string& rule : script().refused) {
        if (rule == kind + ":" + id || rule == kind + ":" + id + "/" + std::to_string(method))
            return true;
    }
    return false;
}

void* fake_bmalloc(std::size_t size) {
    ++allocations;
    return std::calloc(1, size ? size : 1);
}

int live_allocations() {
    return allocations.load();
}

void fake_bfree(void* pointer) {
    if (!pointer)
        return;
    --allocations;
    std::free(pointer);
}

#ifndef FAKE_OMIT_BFREE
FAKE_EXPORT void bfree(void* pointer) {
    fake_bfree(pointer);
}
#endif

// Call data: [name length][name][data length][data], repeated.
namespace {

void calldata_put(calldata_t* data, const char* name, const void* value, std::size_t size) {
    std::size_t name_size = std::strlen(name) + 1;
    std::size_t need = data->size + 2 * sizeof(std::size_t) + name_size + size;
    if (need > data->capacity) {
        auto* grown = static_cast<std::uint8_t*>(fake_bmalloc(need));
        if (data->stack) {
            std::memcpy(grown, data->stack, data->size);
            fake_bfree(data->stack);
        }
        data->stack = grown;
        data->capacity = need;
    }
    std::uint8_t* at = data->stack + data->size;
    std::memcpy(at, &name_size, sizeof name_size);
    std::memcpy(at + sizeof name_size, name, name_size);
    std::memcpy(at + sizeof name_size + name_size, &size, sizeof size);
    std::memcpy(at + 2 * sizeof size + name_size, value, size);
    data->size = need;
}

const std::uint8_t* calldata_find(const calldata_t* data, const char* name, std::size_t& size) {
    std::size_t at = 0;
    while (data && data->stack && at < data->size) {
        std::size_t name_size, value_size;
        std::memcpy(&name_size, data->stack + at, sizeof name_size);
        const char* key = reinterpret_cast<const char*>(data->stack + at + sizeof name_size);
        std::memcpy(&value_size, data->stack + at + sizeof name_size + name_size,
                    sizeof value_size);
        const std::uint8_t* value = data->stack + at + 2 * sizeof value_size + name_size;
        if (std::strcmp(key, name) == 0) {
            size = value_size;
            return value;
        }
        at += 2 * sizeof value_size + name_size + value_size;
    }
    return nullptr;
}

} // namespace

void calldata_set_text(calldata_t* data, const char* name, const std::string& text) {
    calldata_put(data, name, text.c_str(), text.size() + 1);
}

FAKE_EXPORT bool calldata_get_data(const calldata_t* data, const char* name, void* out,
                                   size_t size) {
    std::size_t found_size = 0;
    const std::uint8_t* value = calldata_find(data, name, found_size);
    if (!value || found_size != size)
        return false;
    std::memcpy(out, value, size);
    return true;
}

FAKE_EXPORT bool calldata_get_string(const calldata_t* data, const char* name, const char** out) {
    std::size_t found_size = 0;
    const std::uint8_t* value = calldata_find(data, name, found_size);
    if (!value)
        return false;
    *out = reinterpret_cast<const char*>(value);
    return true;
}

void raise_signal(obs_output* output, const char* signal, const long long* code) {
    std::vector<SignalConnection> connections;
    {
        std::lock_guard<std::mutex> guard(state_lock());
        connections = output->connections;
    }
    calldata_t data{};
    if (code)
        calldata_put(&data, "code", code, sizeof *code);
    for (const SignalConnection& connection : connections)
        if (connection.signal == signal)
            connection.callback(connection.data, &data);
    fake_bfree(data.stack);
}
