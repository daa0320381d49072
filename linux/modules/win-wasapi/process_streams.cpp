#include "process_streams.h"

#include "../common/program_file.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int channels = process_sound_channels;
// Asked of the server at a time, as the engine's own PulseAudio capture asks: less would
// make the application's own output wake more often.
constexpr std::size_t block_frames = process_sound_rate / 40;
// A stream that sent nothing for this long (four deliveries) is paused: it no longer
// holds the others back. One its application paused (corked) holds none back at all.
constexpr auto paused_after = std::chrono::milliseconds(100);
// Never more in hand than this for one stream: the oldest sound goes.
constexpr std::size_t most_frames = process_sound_rate / 4;

struct Input {
    ProcessStreams* owner = nullptr;
    pa_stream* stream = nullptr;
    bool ended = false;  // the server ended our stream (its input moved): made again
    bool corked = false; // as the input's last information said
    std::vector<float> pending;
    std::chrono::steady_clock::time_point last_sound;
};

void release(pa_operation* operation) {
    if (operation)
        pa_operation_unref(operation);
}

} // namespace

// Everything here is used on the connection's thread, or under its lock.
struct ProcessStreams {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pid_t target = 0;
    std::map<uint32_t, std::unique_ptr<Input>> inputs; // by the application's sink input
    std::vector<pa_stream*> closing;                   // ended while the server made them
    std::vector<float> mixed;
    DeliverSound deliver = nullptr;
    void* deliver_data = nullptr;
};

namespace {

// A stream ended while the server was making it, once made or failed.
void on_closing_state(pa_stream* stream, void* data) {
    auto& s = *static_cast<ProcessStreams*>(data);
    pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY) {
        pa_stream_disconnect(stream); // its end comes back as TERMINATED
    } else if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        std::erase(s.closing, stream);
        pa_stream_unref(stream);
    }
}

// The server refuses to end a stream it is still making, and would keep it,
// recording, until the connection closes: such a stream waits on the closing
// list until it is made.
void end_stream(ProcessStreams& s, pa_stream* stream) {
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    if (pa_stream_get_state(stream) == PA_STREAM_CREATING) {
        pa_stream_set_state_callback(stream, on_closing_state, &s);
        s.closing.push_back(stream);
        return;
    }
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    if (pa_stream_get_state(stream) == PA_STREAM_READY)
        pa_stream_disconnect(stream);
    pa_stream_unref(stream);
}

void drop_input(ProcessStreams& s, uint32_t index) {
    auto found = s.inputs.find(index);
    if (found == s.inputs.end())
        return;
    end_stream(s, found->second->stream);
    s.inputs.erase(found);
}

void drop_all_inputs(ProcessStreams& s) {
    for (auto& [index, input] : s.inputs)
        end_stream(s, input->stream);
    s.inputs.clear();
}

bool paused(const Input& input, std::chrono::steady_clock::time_point now) {
    return input.corked || now - input.last_sound > paused_after;
}

// Mixes what every playing stream has in hand, as far as all of them have it
// (the one that just sent sound plays), and delivers it. A paused stream's last
// sound goes along as it fits.
void deliver_mixed(ProcessStreams& s) {
    auto now = std::chrono::steady_clock::now();
    std::size_t frames = SIZE_MAX;
    for (auto& [index, input] : s.inputs)
        if (!paused(*input, now))
            frames = std::min(frames, input->pending.size() / channels);
    if (frames == SIZE_MAX || frames == 0)
        return;
    std::size_t samples = frames * channels;
    s.mixed.assign(samples, 0.0f);
    for (auto& [index, input] : s.inputs) {
        std::vector<float>& pending = input->pending;
        std::size_t taken = std::min(samples, pending.size());
        for (std::size_t i = 0; i < taken; ++i)
            s.mixed[i] += pending[i];
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(taken));
    }
    s.deliver(s.deliver_data, s.mixed.data(), frames);
}

void read_sound(pa_stream* stream, Input& input) {
    std::vector<float>& pending = input.pending;
    // Sound left from before a pause would come late: it goes.
    if (paused(input, std::chrono::steady_clock::now()))
        pending.clear();
    input.corked = false;
    const void* bytes = nullptr;
    size_t size = 0;
    while (pa_stream_peek(stream, &bytes, &size) == 0 && size > 0) {
        std::size_t count = size / sizeof(float) / channels * channels;
        if (auto* samples = static_cast<const float*>(bytes))
            pending.insert(pending.end(), samples, samples + count);
        else // a hole in the stream
            pending.insert(pending.end(), std::min(count, most_frames * channels), 0.0f);
        pa_stream_drop(stream);
    }
    if (pending.size() > most_frames * channels)
        pending.erase(pending.begin(), pending.end() - static_cast<long>(most_frames * channels));
    input.last_sound = std::chrono::steady_clock::now();
}

void on_read(pa_stream* stream, size_t, void* data) {
    auto* input = static_cast<Input*>(data);
    try {
        read_sound(stream, *input);
        deliver_mixed(*input->owner);
    } catch (...) { // out of memory: this sound is lost, not the process
        input->pending.clear();
    }
}

void on_stream_state(pa_stream* stream, void* data) {
    pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
        static_cast<Input*>(data)->ended = true;
}

// A monitor stream of one sink input: that input's sound alone, before the
// output mixes it with the others.
void add_input(ProcessStreams& s, uint32_t index) {
    // Allocated before the stream: a failure leaves nothing to undo.
    auto input = std::make_unique<Input>();
    std::unique_ptr<Input>& slot = s.inputs[index];
    pa_sample_spec spec = {PA_SAMPLE_FLOAT32NE, process_sound_rate, channels};
    // Never moved, nor made from another source: for a stream whose input is gone,
    // PipeWire's session manager would take the default source, a microphone, instead
    // (WirePlumber 0.5 unless told not to fall back; 0.4 unless told not to move).
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, "node.dont-fallback", "true");
    pa_stream* stream =
        pa_stream_new_with_proplist(s.context, "kalto-obs", &spec, nullptr, properties);
    pa_proplist_free(properties);
    if (!stream) {
        s.inputs.erase(index);
        return;
    }
    input->owner = &s;
    input->stream = stream;
    pa_stream_set_monitor_stream(stream, index);
    pa_stream_set_read_callback(stream, on_read, input.get());
    pa_stream_set_state_callback(stream, on_stream_state, input.get());
    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr); // the server's choice for all but the fragment
    attr.fragsize = static_cast<uint32_t>(block_frames * channels * sizeof(float));
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_record(stream, nullptr, &attr, flags) < 0) {
        end_stream(s, stream);
        s.inputs.erase(index);
        return;
    }
    slot = std::move(input);
}

// The name the system gives the process (the file it was started as, 15 bytes at most).
std::string name_of(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/comm", static_cast<int>(pid));
    std::string name;
    if (FILE* file = std::fopen(path, "re")) {
        char line[64] = {};
        if (std::fgets(line, sizeof line, file))
            name = line;
        std::fclose(file);
    }
    if (!name.empty() && name.back() == '\n')
        name.pop_back();
    return name;
}

// Clients name their program by its file (libpulse) or by the name it was started as.
bool runs_program(pid_t pid, const std::string& named) {
    std::string binary = without_deleted(named);
    return program_file(pid) == binary || (!binary.empty() && name_of(pid) == binary.substr(0, 15));
}

// The number a client gives is its word, in its own process namespace (a
// sandboxed application has one). PipeWire's server adds the number it read
// from the connection itself.
pid_t process_of(const pa_sink_input_info& info) {
    const char* seen = pa_proplist_gets(info.proplist, "pipewire.sec.pid");
    const char* said = pa_proplist_gets(info.proplist, PA_PROP_APPLICATION_PROCESS_ID);
    const char* binary = pa_proplist_gets(info.proplist, PA_PROP_APPLICATION_PROCESS_BINARY);
    pid_t pid = stream_process(seen, binary);
    return pid ? pid : stream_process(said, binary);
}

void follow_input(ProcessStreams& s, const pa_sink_input_info* info) {
    bool wanted = s.target > 0 && process_descends_from(process_of(*info), s.target);
    auto found = s.inputs.find(info->index);
    bool recorded = found != s.inputs.end();
    if (recorded && (!wanted || found->second->ended)) {
        drop_input(s, info->index);
        recorded = false;
    }
    if (wanted && !recorded)
        add_input(s, info->index);
    found = s.inputs.find(info->index);
    if (found != s.inputs.end())
        found->second->corked = info->corked != 0;
}

void on_input_info(pa_context*, const pa_sink_input_info* info, int eol, void* data) {
    if (eol != 0 || !info)
        return;
    try {
        follow_input(*static_cast<ProcessStreams*>(data), info);
    } catch (...) {
        // Nothing may escape into the sound server's library.
    }
}

void list_inputs(ProcessStreams& s) {
    if (s.target > 0 && s.context && pa_context_get_state(s.context) == PA_CONTEXT_READY)
        release(pa_context_get_sink_input_info_list(s.context, on_input_info, &s));
}

// New inputs are looked at, changed ones again (a moved input ended our stream).
void on_event(pa_context* context, pa_subscription_event_type_t event, uint32_t index, void* data) {
    auto& s = *static_cast<ProcessStreams*>(data);
    if ((event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SINK_INPUT)
        return;
    try {
        if ((event & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE)
            drop_input(s, index);
        else if (s.target > 0)
            release(pa_context_get_sink_input_info(context, index, on_input_info, &s));
    } catch (...) {
        // Nothing may escape into the sound server's library.
    }
}

void on_context_state(pa_context* context, void* data) {
    if (pa_context_get_state(context) != PA_CONTEXT_READY)
        return;
    auto& s = *static_cast<ProcessStreams*>(data);
    pa_context_set_subscribe_callback(context, on_event, &s);
    release(pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SINK_INPUT, nullptr, nullptr));
    list_inputs(s);
}

void disconnect(ProcessStreams& s) {
    drop_all_inputs(s);
    // The server ends what the connection made with it.
    for (pa_stream* stream : s.closing) {
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_unref(stream);
    }
    s.closing.clear();
    if (!s.context)
        return;
    // Operations under way are cancelled with the connection: their callbacks never run.
    pa_context_set_state_callback(s.context, nullptr, nullptr);
    pa_context_set_subscribe_callback(s.context, nullptr, nullptr);
    pa_context_disconnect(s.context);
    pa_context_unref(s.context);
    s.context = nullptr;
}

void connect(ProcessStreams& s) {
    s.context = pa_context_new(pa_threaded_mainloop_get_api(s.loop), "kalto-obs");
    if (!s.context)
        return;
    pa_context_set_state_callback(s.context, on_context_state, &s);
    // Never a sound server of our own: without one the track is silent.
    if (pa_context_connect(s.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        disconnect(s);
}

// The parent in /proc/<pid>/stat, after the name (which may hold spaces and
// parentheses); 0 for a kernel thread or a process that is not there.
pid_t parent_of(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    FILE* file = std::fopen(path, "re");
    if (!file)
        return 0;
    char line[512];
    std::size_t size = std::fread(line, 1, sizeof line - 1, file);
    std::fclose(file);
    line[size] = '\0';
    const char* name_end = std::strrchr(line, ')');
    int parent = 0;
    unsigned flags = 0;
    if (!name_end || std::sscanf(name_end + 1, " %*c %d %*d %*d %*d %*d %u", &parent, &flags) != 2)
        return 0;
    constexpr unsigned kernel_thread = 0x00200000; // PF_KTHREAD
    return flags & kernel_thread ? 0 : parent;
}

} // namespace

pid_t stream_process(const char* pid_text, const char* binary) {
    if (!pid_text || !binary)
        return 0;
    auto pid = static_cast<pid_t>(std::strtol(pid_text, nullptr, 10));
    return pid > 1 && runs_program(pid, binary) ? pid : 0;
}

bool process_descends_from(pid_t pid, pid_t ancestor) {
    // Bounded, against a loop of reused process ids read at the wrong moment.
    for (int depth = 0; pid > 0 && ancestor > 1 && depth < 64; ++depth) {
        if (pid == ancestor)
            return true;
        if (pid == 1)
            return false;
        pid = parent_of(pid);
    }
    return false;
}

ProcessStreams* start_process_streams(DeliverSound deliver, void* data) {
    auto* s = new ProcessStreams;
    s->deliver = deliver;
    s->deliver_data = data;
    s->loop = pa_threaded_mainloop_new();
    if (!s->loop)
        return s;
    pa_threaded_mainloop_lock(s->loop);
    connect(*s);
    pa_threaded_mainloop_unlock(s->loop);
    if (pa_threaded_mainloop_start(s->loop) < 0) {
        disconnect(*s);
        pa_threaded_mainloop_free(s->loop);
        s->loop = nullptr;
    }
    return s;
}

void stop_process_streams(ProcessStreams* s) {
    if (s->loop) {
        pa_threaded_mainloop_lock(s->loop);
        disconnect(*s);
        pa_threaded_mainloop_unlock(s->loop);
        pa_threaded_mainloop_stop(s->loop);
        pa_threaded_mainloop_free(s->loop);
    }
    delete s;
}

void follow_process(ProcessStreams& s, pid_t pid) {
    if (!s.loop)
        return;
    // Every process descends from the first: a window naming it names no application;
    // nor does one naming a kernel thread (a sandbox's own number, read here).
    if (pid <= 1 || parent_of(pid) <= 0)
        pid = 0;
    pa_threaded_mainloop_lock(s.loop);
    if (pid != s.target) {
        s.target = pid;
        drop_all_inputs(s);
        list_inputs(s);
    }
    pa_threaded_mainloop_unlock(s.loop);
}

void keep_connected(ProcessStreams& s) {
    if (!s.loop)
        return;
    pa_threaded_mainloop_lock(s.loop);
    pa_context_state_t state = s.context ? pa_context_get_state(s.context) : PA_CONTEXT_FAILED;
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
        disconnect(s);
        connect(s);
    } else {
        // A stream the server ended without its input changing is asked for again.
        std::vector<uint32_t> ended;
        for (auto& [index, input] : s.inputs)
            if (input->ended)
                ended.push_back(index);
        for (uint32_t index : ended)
            drop_input(s, index);
        if (!ended.empty())
            list_inputs(s);
    }
    pa_threaded_mainloop_unlock(s.loop);
}
