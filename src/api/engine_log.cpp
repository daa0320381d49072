#include "api/engine_log.h"

#include "api/engine_text.h"

#include <cstdio>
#include <cstring>

const char* log_level_name(int level) {
    if (level <= 100)
        return "ERREUR";
    if (level <= 200)
        return "ATTENTION";
    if (level <= 300)
        return "info";
    return nullptr;
}

std::optional<std::string> render_log_line(int level, const char* format, va_list args) {
    char buffer[4096];
    std::memset(buffer, 0, sizeof buffer);
    // Rendered before the level test, as every message is.
    int rendered = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (rendered < 0)
        return std::nullopt;
    buffer[sizeof buffer - 1] = '\0';
    const char* name = log_level_name(level);
    if (!name)
        return std::nullopt;
    std::string line = "[obs ";
    line += name;
    line += "] ";
    line += sanitize_utf8(std::string_view(buffer, std::strlen(buffer)));
    line += '\n';
    return line;
}

void write_diagnostic_line(const std::string& line) {
    // One fwrite holds the stream's own lock for the whole line.
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

extern "C" void engine_log_handler(int level, const char* format, va_list args, void*) {
    try {
        if (!format)
            return;
        if (auto line = render_log_line(level, format, args))
            write_diagnostic_line(*line);
    } catch (...) {
        // Nothing may escape into the engine.
    }
}
