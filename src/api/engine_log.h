#pragma once

#include <cstdarg>
#include <optional>
#include <string>

// "ERREUR", "ATTENTION", "info", or null for levels that print nothing.
const char* log_level_name(int level);

// The standard-error line for one engine message, or nothing when the level
// is dropped or the format cannot be rendered.
std::optional<std::string> render_log_line(int level, const char* format, va_list args);

// The handler installed with base_set_log_handler.
extern "C" void engine_log_handler(int level, const char* format, va_list args, void* param);

// Writes one whole line on standard error, unmixed with other threads' lines.
void write_diagnostic_line(const std::string& line);
