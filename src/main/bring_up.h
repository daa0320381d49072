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

// Prepares the process, starts the engine and emits "ready". Returns 0, or
// the exit code after the fatal "error" event.
int bring_up();
