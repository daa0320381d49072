// Sources, encoders, outputs, their signals and procedures, statistics.
#include "fake_state.h"

#include <cstdlib>

obs_source* fake_channels[2] = {nullptr, nullptr};
extern std::uint32_t fake_fps;

namespace {

int video_sentinel, audio_sentinel;

std::string render(const obs_data_t* data) {
    if (!data)
        return "null";
    std::string out;
    for (const auto& [key, value] : data->items) {
        if (!out.empty())
            out += ';';
        out += key + "=" + value;
    }
    return out;
}

std::string item(const obs_data_t* data, const std::string& key) {
    if (data)
        for (const auto& [k, v] : data->items)
            if (k == key)
                return v;
    return "";
}

std::string name_of(const void* object, const std::string& handle) {
    return object ? handle : "null";
}

void release_check(int& refs, const std::string& call, const std::string& handle) {
    journal(call + " " + handle);
    if (--refs < 0)
        journal("misuse " + call + " " + handle);
}

std::string output_rule(const obs_output* output, const std::map<std::string, std::string>& rules,
                        bool& found) {
    auto it = rules.find(output->id);
    found = it != rules.end();
    return found ? it->second : "";
}

// "code:-3:text" or "early:-3:text" -> code and text
void parse_stop_rule(const std::string& rule, long long& code, std::string& text) {
    std::vector<std::string> parts = split(rule, ':');
    code = parts.size() > 1 ? std::atoll(parts[1].c_str()) : 0;
    text = parts.size() > 2 ? parts[2] : "";
}

void stop_with(obs_output* output, long long code, const std::string& text) {
    bool ends_later = script().active_after_stop_ms > 0;
    {
        std::lock_guard<std::mutex> guard(state_lock());
        output->active = ends_later;
        output->last_error_text = text;
        output->last_error = text.empty() ? nullptr : output->last_error_text.c_str();
    }
    raise_signal(output, "stop", &code);
    // As the engine does: "stop" first, the output's end on a thread of its own afterwards.
    if (ends_later)
        schedule(std::chrono::milliseconds(script().active_after_stop_ms), [output] {
            std::lock_guard<std::mutex> guard(state_lock());
            output->active = false;
        });
}

} // namespace

FAKE_EXPORT obs_source_t* obs_source_create(const char* id, const char* name, obs_data_t* settings,
                                            obs_data_t* hotkeys) {
    std::string method_text = item(settings, "method");
    int method = method_text.empty() ? -1 : std::atoi(method_text.c_str());
    std::string call = std::string("obs_source_create ") + id + " \"" + name + "\" " +
                       render(settings) + (hotkeys ? " hotkeys" : "");
    if (is_refused("source", id, method)) {
        journal(call + " -> null");
        return nullptr;
    }
    auto* source = new obs_source;
    keep_alive(source);
    source->handle = next_handle('S');
    source->id = id;
    source->name = name;
    source->method = method;
    auto luma = script().luma.find(std::string(id) + "/" + std::to_string(method));
    if (luma == script().luma.end())
        luma = script().luma.find(id);
    if (luma != script().luma.end())
        source->luma = luma->second;
    journal(call + " -> " + source->handle);
    return source;
}

FAKE_EXPORT void obs_source_release(obs_source_t* source) {
    if (source)
        release_check(source->agent_refs, "obs_source_release", source->handle);
}

FAKE_EXPORT void obs_source_set_enabled(obs_source_t* source, bool enabled) {
    journal("obs_source_set_enabled " + source->handle + (enabled ? " true" : " false"));
    std::lock_guard<std::mutex> guard(state_lock());
    source->enabled = enabled;
}

FAKE_EXPORT void obs_set_output_source(uint32_t channel, obs_source_t* source) {
    journal("obs_set_output_source " + std::to_string(channel) + " " +
            name_of(source, source ? source->handle : ""));
    if (source && source->agent_refs <= 0)
        journal("misuse obs_set_output_source released " + source->handle);
    std::lock_guard<std::mutex> guard(state_lock());
    if (channel < 2)
        fake_channels[channel] = source;
}

namespace {
obs_encoder_t* create_encoder(const std::string& call, const char* id, const char* name,
                              obs_data_t* settings) {
    if (is_refused("encoder", id, -1)) {
        journal(call + " -> null");
        return nullptr;
    }
    auto* encoder = new obs_encoder;
    keep_alive(encoder);
    encoder->handle = next_handle('E');
    encoder->id = id;
    encoder->name = name;
    encoder->settings = render(settings);
    journal(call + " -> " + encoder->handle);
    return encoder;
}
} // namespace

FAKE_EXPORT obs_encoder_t* obs_video_encoder_create(const char* id, const char* name,
                                                    obs_data_t* settings, obs_data_t*) {
    return create_encoder(std::string("obs_video_encoder_create ") + id + " \"" + name + "\" " +
                              render(settings),
                          id, name, settings);
}

FAKE_EXPORT obs_encoder_t* obs_audio_encoder_create(const char* id, const char* name,
                                                    obs_data_t* settings, size_t mixer,
                                                    obs_data_t*) {
    return create_encoder(std::string("obs_audio_encoder_create ") + id + " \"" + name + "\" " +
                              render(settings) + " mixer=" + std::to_string(mixer),
                          id, name, settings);
}

FAKE_EXPORT video_t* obs_get_video(void) {
    return reinterpret_cast<video_t*>(&video_sentinel);
}
FAKE_EXPORT audio_t* obs_get_audio(void) {
    return reinterpret_cast<audio_t*>(&audio_sentinel);
}

FAKE_EXPORT void obs_encoder_set_video(obs_encoder_t* encoder, video_t* video) {
    journal("obs_encoder_set_video " + encoder->handle +
            (video == obs_get_video() ? " engine-video" : " other"));
}

FAKE_EXPORT void obs_encoder_set_audio(obs_encoder_t* encoder, audio_t* audio) {
    journal("obs_encoder_set_audio " + encoder->handle +
            (audio == obs_get_audio() ? " engine-audio" : " other"));
}

FAKE_EXPORT void obs_encoder_release(obs_encoder_t* encoder) {
    if (encoder)
        release_check(encoder->agent_refs, "obs_encoder_release", encoder->handle);
}

FAKE_EXPORT obs_output_t* obs_output_create(const char* id, const char* name, obs_data_t* settings,
                                            obs_data_t* hotkeys) {
    std::string call = std::string("obs_output_create ") + id + " \"" + name + "\" " +
                       render(settings) + (hotkeys ? " hotkeys" : "");
    if (is_refused("output", id, -1)) {
        journal(call + " -> null");
        return nullptr;
    }
    auto* output = new obs_output;
    keep_alive(output);
    output->handle = next_handle('O');
    output->id = id;
    output->name = name;
    output->settings = render(settings);
    output->directory = item(settings, "directory");
    journal(call + " -> " + output->handle);
    return output;
}

FAKE_EXPORT void obs_output_set_video_encoder(obs_output_t* output, obs_encoder_t* encoder) {
    journal("obs_output_set_video_encoder " + output->handle + " " + encoder->handle);
    output->video_encoder = encoder;
}

// Outside the agent's table: the headers an encoder has once it set itself up.
FAKE_EXPORT bool obs_encoder_get_extra_data(const obs_encoder_t* encoder, std::uint8_t** data,
                                            std::size_t* size) {
    static std::uint8_t headers[] = {0, 0, 0, 1};
    bool unusable = script().unusable_encoders.count(encoder->id) > 0;
    journal("obs_encoder_get_extra_data " + encoder->handle +
            (unusable ? " -> false" : " -> true"));
    if (unusable)
        return false;
    *data = headers;
    *size = sizeof headers;
    return true;
}

FAKE_EXPORT void obs_output_set_audio_encoder(obs_output_t* output, obs_encoder_t* encoder,
                                              size_t track) {
    journal("obs_output_set_audio_encoder " + output->handle + " " + encoder->handle + " " +
            std::to_string(track));
}

FAKE_EXPORT signal_handler_t* obs_output_get_signal_handler(const obs_output_t* output) {
    return reinterpret_cast<signal_handler_t*>(const_cast<obs_output_t*>(output));
}

FAKE_EXPORT proc_handler_t* obs_output_get_proc_handler(const obs_output_t* output) {
    return reinterpret_cast<proc_handler_t*>(const_cast<obs_output_t*>(output));
}

FAKE_EXPORT void signal_handler_connect(signal_handler_t* handler, const char* signal,
                                        signal_callback_t callback, void* data) {
    auto* output = reinterpret_cast<obs_output*>(handler);
    journal("signal_handler_connect " + output->handle + " " + signal);
    std::lock_guard<std::mutex> guard(state_lock());
    output->connections.push_back({signal, callback, data});
}

FAKE_EXPORT bool obs_output_start(obs_output_t* output) {
    bool fails = false;
    std::string error = output_rule(output, script().start_fails, fails);
    if (!fails && output->video_encoder) {
        auto unusable = script().unusable_encoders.find(output->video_encoder->id);
        fails = unusable != script().unusable_encoders.end();
        error = fails ? unusable->second : "";
    }
    journal("obs_output_start " + output->handle + (fails ? " -> false" : " -> true"));
    if (fails) {
        // "-" scripts a refusal without any error text.
        output->last_error_text = error;
        output->last_error = error == "-" ? nullptr : output->last_error_text.c_str();
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(state_lock());
        output->active = true;
        output->frames_at_start = total_frames();
    }
    bool scripted = false;
    std::string rule = output_rule(output, script().stops, scripted);
    if (scripted && rule.rfind("early", 0) == 0) {
        long long code;
        std::string text;
        parse_stop_rule(rule, code, text);
        schedule(std::chrono::milliseconds(10), [=] { stop_with(output, code, text); });
    }
    return true;
}

FAKE_EXPORT void obs_output_stop(obs_output_t* output) {
    journal("obs_output_stop " + output->handle);
    {
        std::lock_guard<std::mutex> guard(state_lock());
        if (!output->active)
            return;
    }
    bool scripted = false;
    std::string rule = output_rule(output, script().stops, scripted);
    if (scripted && (rule == "never" || rule == "stuck"))
        return;
    long long code = 0;
    std::string text;
    if (scripted && rule.rfind("code", 0) == 0)
        parse_stop_rule(rule, code, text);
    schedule(std::chrono::milliseconds(script().stop_delay_ms),
             [=] { stop_with(output, code, text); });
}

FAKE_EXPORT void obs_output_force_stop(obs_output_t* output) {
    journal("obs_output_force_stop " + output->handle);
    // A file output forced to stop ends at its next packet: a stuck one never does.
    bool scripted = false;
    if (output_rule(output, script().stops, scripted) == "stuck" && scripted)
        return;
    bool active;
    {
        std::lock_guard<std::mutex> guard(state_lock());
        active = output->active;
    }
    if (active)
        stop_with(output, 0, "");
}

FAKE_EXPORT void obs_output_release(obs_output_t* output) {
    if (!output)
        return;
    {
        // The engine's own release of an output still ending can wait for ever.
        std::lock_guard<std::mutex> guard(state_lock());
        if (output->active && script().active_after_stop_ms > 0)
            journal("misuse obs_output_release while ending " + output->handle);
    }
    release_check(output->agent_refs, "obs_output_release", output->handle);
}

// Outside the agent's table.
FAKE_EXPORT bool obs_output_active(const obs_output_t* output) {
    std::lock_guard<std::mutex> guard(state_lock());
    return output->active;
}

FAKE_EXPORT const char* obs_output_get_last_error(obs_output_t* output) {
    std::lock_guard<std::mutex> guard(state_lock());
    return output->last_error;
}

FAKE_EXPORT bool proc_handler_call(proc_handler_t* handler, const char* name, calldata_t* data) {
    auto* output = reinterpret_cast<obs_output*>(handler);
    std::string procedure = name;
    bool ok = false;
    if (procedure == "save") {
        ok = script().save != "fail";
        // A buffer in the call data, as the engine may leave one for the caller to free.
        calldata_set_text(data, "note", "fake");
        if (ok)
            schedule(std::chrono::milliseconds(script().save_delay_ms),
                     [=] { raise_signal(output, "saved", nullptr); });
    } else if (procedure == "get_last_replay") {
        ok = script().save != "nopath";
        if (ok) {
            int number;
            {
                std::lock_guard<std::mutex> guard(state_lock());
                number = ++output->saves;
            }
            calldata_set_text(data, "path",
                              output->directory + "/KALTO_replay_" + std::to_string(number) +
                                  ".mp4");
        }
    }
    journal("proc_handler_call " + output->handle + " " + procedure +
            (ok ? " -> true" : " -> false"));
    return ok;
}

FAKE_EXPORT int obs_output_get_total_frames(const obs_output_t* output) {
    journal("obs_output_get_total_frames " + name_of(output, output ? output->handle : ""));
    if (!output)
        return 0;
    std::lock_guard<std::mutex> guard(state_lock());
    return static_cast<int>(total_frames() - output->frames_at_start);
}

FAKE_EXPORT int obs_output_get_frames_dropped(const obs_output_t* output) {
    journal("obs_output_get_frames_dropped " + name_of(output, output ? output->handle : ""));
    return output ? script().dropped : 0;
}

FAKE_EXPORT uint32_t obs_get_lagged_frames(void) {
    return script().lagged;
}
FAKE_EXPORT uint32_t obs_get_total_frames(void) {
    return total_frames();
}

FAKE_EXPORT double obs_get_active_fps(void) {
    if (script().fps >= 0)
        return script().fps;
    std::lock_guard<std::mutex> guard(state_lock());
    return static_cast<double>(fake_fps);
}
