#pragma once

// What the layout program asks of Windows about an OBS Studio installation.

#include <filesystem>
#include <optional>
#include <string>

// The folder the OBS Studio installer records: the default value of
// HKLM\SOFTWARE\OBS Studio (64-bit view first).
std::optional<std::filesystem::path> registered_obs_folder();

struct EngineVersion {
    int major = 0, minor = 0, patch = 0;
};
// The version in a library's version resource (obs.dll carries the engine's).
std::optional<EngineVersion> library_version(const std::filesystem::path& library);

// The folder of the running program.
std::filesystem::path own_folder();
// Console output as UTF-8, for the messages' accents.
void use_utf8_console();
// A path as UTF-8 for a message, whatever its name holds.
std::string path_text(const std::filesystem::path& path);
