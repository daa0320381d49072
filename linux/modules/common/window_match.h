#pragma once

// A window as the Windows capture plug-ins name it, "title:class:executable",
// and how well a window matches such a name, by their rules but two, both
// stricter: by executable the class must match as well (an application's sound
// follows no other program's window of that name), and a window whose program
// cannot be read is still rated, as the executable "unknown".

#include <optional>
#include <string>

struct WindowValue {
    std::string title;
    std::string window_class;
    std::string executable;
};

// The settings' "priority": which part of the value must match.
enum class WindowPriority { window_class = 0, title = 1, executable = 2 };

// A rating no window is taken with.
constexpr int no_match = 0x7fffffff;

// The three parts, "#3A" and "#22" decoded; nothing unless all three are there.
std::optional<WindowValue> parse_window_value(const char* value);
// The value a window is named by: '#' written "#22", then ':' written "#3A".
std::string encode_window_value(const WindowValue& window);

// Equal but for the case of ASCII letters, as the Windows plug-in compares.
bool same_text(const std::string& a, const std::string& b);

// Lower is better, 0 is the window itself, `no_match` never: by class, the
// class must match, then the title and the executable count; by title, the
// title must; by executable, the executable and the class must, then the title
// counts. A generic class (a browser's, SDL's on Windows) is matched by title.
int window_rating(const WindowValue& wanted, const WindowValue& seen, WindowPriority priority);
// Whether the class must match for any rating but `no_match`.
bool class_required(const WindowValue& wanted, WindowPriority priority);
