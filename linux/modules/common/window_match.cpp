#include "window_match.h"

#include <cctype>
#include <vector>

namespace {

void replace_all(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

std::string decoded(std::string part) {
    replace_all(part, "#3A", ":");
    replace_all(part, "#22", "#");
    return part;
}

std::string encoded(std::string part) {
    replace_all(part, "#", "#22");
    replace_all(part, ":", "#3A");
    return part;
}

bool contains_text(const std::string& text, const std::string& part) {
    for (std::size_t at = 0; at + part.size() <= text.size(); ++at)
        if (same_text(text.substr(at, part.size()), part))
            return true;
    return false;
}

// Classes many applications share: only the title tells their windows apart.
bool generic_class(const std::string& window_class) {
    return contains_text(window_class, "Chrome") || contains_text(window_class, "SDL_app");
}

} // namespace

std::optional<WindowValue> parse_window_value(const char* value) {
    if (!value)
        return std::nullopt;
    std::vector<std::string> parts;
    std::string text = value;
    for (std::size_t start = 0;;) {
        std::size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon - start));
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    if (parts.size() < 3)
        return std::nullopt;
    return WindowValue{decoded(parts[0]), decoded(parts[1]), decoded(parts[2])};
}

std::string encode_window_value(const WindowValue& window) {
    return encoded(window.title) + ":" + encoded(window.window_class) + ":" +
           encoded(window.executable);
}

bool same_text(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool class_required(const WindowValue& wanted, WindowPriority priority) {
    return priority == WindowPriority::executable ||
           (priority == WindowPriority::window_class && !generic_class(wanted.window_class));
}

int window_rating(const WindowValue& wanted, const WindowValue& seen, WindowPriority priority) {
    bool class_matches = same_text(seen.window_class, wanted.window_class);
    bool executable_matches = same_text(seen.executable, wanted.executable);
    int title_rating = same_text(seen.title, wanted.title) ? 0 : 1;
    if (priority == WindowPriority::window_class && generic_class(wanted.window_class))
        priority = WindowPriority::title;
    switch (priority) {
    case WindowPriority::window_class:
        if (!class_matches)
            return no_match;
        return title_rating + (executable_matches ? 0 : 0x1000);
    case WindowPriority::title:
        return title_rating == 0 ? 0 : no_match;
    case WindowPriority::executable:
        return executable_matches && class_matches ? title_rating : no_match;
    }
    return no_match;
}
