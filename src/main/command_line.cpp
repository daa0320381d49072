#include "main/command_line.h"

CommandLineMode command_line_mode(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (argument == "--list")
            return CommandLineMode::list;
        if (argument == "--version")
            return CommandLineMode::version;
    }
    return CommandLineMode::agent;
}
