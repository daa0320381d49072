#pragma once

// Makes the agent's tree from a stock OBS Studio installation. The layout,
// relative to each root:
//   OBS Studio                         agent (R)
//   bin/64bit/*                        bin/64bit/* (beside them, the agent)
//   data/libobs/                       data/libobs/
//   obs-plugins/64bit/<name>.dll       core/<name>/<name>.dll
//   data/obs-plugins/<name>/           core/<name>/data/

#include <filesystem>
#include <string>
#include <vector>

// The modules the agent loads, and whether it can record without each.
struct LayoutModule {
    const char* name;
    bool required;
};
extern const std::vector<LayoutModule> layout_modules;
// The list of what the last run placed, in R: what a later run may remove.
extern const char* const layout_manifest;

struct LayoutReport {
    std::vector<std::string> found;
    std::vector<std::string> missing;          // names of modules absent from the installation
    std::vector<std::string> missing_required; // the part of `missing` the agent needs
    std::vector<std::filesystem::path> failed; // target files that could not be written
    int linked = 0, copied = 0, kept = 0, removed = 0;
};

// Brings `target` up to date with the installation at `obs`: links (or copies)
// what is new or changed, removes what the last run placed and the
// installation no longer has. `agent` is the agent's executable, put beside
// the engine. Reads `obs` only.
LayoutReport lay_out(const std::filesystem::path& obs, const std::filesystem::path& target,
                     const std::filesystem::path& agent);
