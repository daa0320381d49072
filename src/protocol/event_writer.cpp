#include "protocol/event_writer.h"

#include "protocol/json_number.h"

#include <cstdio>
#include <mutex>

namespace {

// Created with the process and never destroyed, so that engine threads may
// still emit while the process ends.
std::mutex& output_lock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}

std::FILE* event_stream = stdout;
bool events_closed = false; // under output_lock()

std::string scalar_text(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The library's compact form, except for numbers with a fraction, which it
// does not always print in their shortest form.
void append_value(std::string& line, const nlohmann::json& value) {
    if (value.is_object()) {
        line += '{';
        bool first = true;
        for (const auto& [name, member] : value.items()) {
            if (!first)
                line += ',';
            first = false;
            line += scalar_text(name);
            line += ':';
            append_value(line, member);
        }
        line += '}';
    } else if (value.is_array()) {
        line += '[';
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (i > 0)
                line += ',';
            append_value(line, value[i]);
        }
        line += ']';
    } else if (value.is_number_float()) {
        line += json_number_text(value.get<double>());
    } else {
        line += scalar_text(value);
    }
}

} // namespace

std::string format_event_line(const nlohmann::json& event) {
    std::string line;
    append_value(line, event);
    line += '\n';
    return line;
}

namespace {

void write_event(const nlohmann::json& event, bool last) {
    std::string line;
    try {
        line = format_event_line(event);
    } catch (...) {
        return;
    }
    std::lock_guard<std::mutex> guard(output_lock());
    if (events_closed)
        return;
    events_closed = last;
    // fwrite takes the stream's own lock inside ours.
    std::fwrite(line.data(), 1, line.size(), event_stream);
    std::fflush(event_stream);
}

} // namespace

void emit_event(nlohmann::json event) {
    write_event(event, false);
}

void emit_last_event(nlohmann::json event) {
    write_event(event, true);
}

void set_event_stream(std::FILE* stream) {
    event_stream = stream;
}

void emit_error(std::string_view message) {
    emit_event({{"event", "error"}, {"message", std::string(message)}});
}
