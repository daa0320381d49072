#include "api/engine_text.h"

std::string to_engine_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (c != '\0')
            out.push_back(c);
    return out;
}

std::string from_engine_text(const char* text) {
    return text ? sanitize_utf8(text) : std::string();
}
