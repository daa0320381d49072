#pragma once

// Whether the agent runs on an installation's engine, judged from obs.dll's
// file: the version its resource states, and what it exports.

#include <filesystem>
#include <string>

// An entry point the agent calls that libobs exports from 30.0 on.
extern const char* const engine_30_export;

struct EngineCheck {
    std::string version; // "31.1.1", or empty when the resource cannot be read
    bool accepted = false;
    std::string warning; // for an accepted engine worth a second look
    std::string refusal;
};

EngineCheck check_engine(const std::filesystem::path& engine);
