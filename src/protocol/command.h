#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

// What to capture.
struct Source {
    struct Window {
        std::string window;
    };
    struct Monitor {
        std::string monitor;
        std::optional<std::int64_t> method;
        std::optional<std::string> window;
    };
    std::variant<Window, Monitor> value;
};

// Which sound to record.
struct Audio {
    struct Process {
        std::string window;
    };
    struct Desktop {};
    struct None {};
    std::variant<Process, Desktop, None> value;
};

// The payload of a start command, members in declaration order.
struct Start {
    std::string mode;
    std::string path;
    std::optional<std::string> replay_dir;
    Source source;
    std::uint32_t base_width = 0;
    std::uint32_t base_height = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t fps = 0;
    std::uint32_t bitrate = 0;
    Audio audio;
    std::uint32_t replay_seconds = 120;
    std::uint32_t replay_max_mb = 1024;
    std::optional<std::string> encoder;
};

struct Command {
    struct Mask {
        bool hidden = false;
    };
    struct Save {};
    struct Stop {};
    struct Stats {};
    struct Quit {};
    std::variant<Start, Mask, Save, Stop, Stats, Quit> value;
};

// A decoded command, or the description of the first fault in the line.
struct ParsedCommand {
    std::optional<Command> command;
    std::string fault;
};

ParsedCommand parse_command(std::string_view line);

// The shortest text that reads back as `value`, with ".0" on whole values.
std::string format_shortest(double value);
