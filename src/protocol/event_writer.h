#pragma once

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

// The compact one-line form of an event, line feed included.
std::string format_event_line(const nlohmann::json& event);

// Where events go, standard output until it is set; set once, before any thread.
void set_event_stream(std::FILE* stream);

// Writes one event line on the event stream and flushes it. Callable from any
// thread; lines never interleave. Failures to write are dropped.
void emit_event(nlohmann::json event);

// Writes one event line, then drops every later one: for an end that other
// threads may outlive.
void emit_last_event(nlohmann::json event);

// {"event":"error","message":<message>}
void emit_error(std::string_view message);
