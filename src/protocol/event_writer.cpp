#include "protocol/event_writer.h"

#include <cstdio>
#include <mutex>

namespace {

// Created with the process and never destroyed, so that engine threads may
// still emit while the process ends.
std::mutex& output_lock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}

} // namespace

std::string format_event_line(const nlohmann::json& event) {
    std::string line = event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    line += '\n';
    return line;
}

void emit_event(nlohmann::json event) {
    std::string line;
    try {
        line = format_event_line(event);
    } catch (...) {
        return;
    }
    std::lock_guard<std::mutex> guard(output_lock());
    // fwrite takes the stream's own lock inside ours.
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

void emit_error(std::string_view message) {
    emit_event({{"event", "error"}, {"message", std::string(message)}});
}
