#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

// The compact one-line form of an event, line feed included.
std::string format_event_line(const nlohmann::json& event);

// Writes one event line on standard output and flushes it. Callable from any
// thread; lines never interleave. Failures to write are dropped.
void emit_event(nlohmann::json event);

// {"event":"error","message":<message>}
void emit_error(std::string_view message);
