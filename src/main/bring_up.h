#pragma once

#include <string>
#include <vector>

// Paths are joined with the platform separator, never normalised.
std::string join_path(const std::string& base, const std::string& component);

// The executable's directory: its path less the last component, or ".".
std::string executable_directory(const std::string& executable_path);

// Two levels above the executable's directory, written as "..".
std::string install_root(const std::string& executable_dir);

std::string module_library_path(const std::string& root, const std::string& name);
std::string module_data_path(const std::string& root, const std::string& name);

// The plug-in modules, in load order.
extern const std::vector<std::string> engine_modules;

// How far bring-up went: the executable's directory once the engine library
// is open, the modules that loaded once the engine has started.
struct EngineBringUp {
    std::string directory;
    std::vector<std::string> modules;
};

// Each step returns 0, or the exit code after the fatal "error" event.
// Prepares the process and opens the engine library; its log reaches standard error.
int open_engine(EngineBringUp& state);
// Starts the engine with its audio and video, then loads the modules.
int start_engine(EngineBringUp& state);

// Both steps, then "ready".
int bring_up();
