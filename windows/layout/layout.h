#pragma once

// Makes the agent's tree from a stock OBS Studio installation. The layout,
// relative to each root:
//   OBS Studio                         agent (R)
//   bin/64bit/*                        bin/64bit/* (beside them, the agent)
//   data/libobs/                       data/libobs/
//   obs-plugins/64bit/<name>.dll       core/<name>/<name>.dll
//   data/obs-plugins/<name>/           core/<name>/data/
// Each run builds the whole tree anew in a folder beside R, then swaps it in
// by renaming: R is never half old, half new.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// The modules the agent loads, and whether it can record without each.
struct LayoutModule {
    const char* name;
    bool required;
};
extern const std::vector<LayoutModule> layout_modules;

// Copies are R's own: an update of OBS Studio never changes them under a
// running agent. Hard links cost nothing, but follow the installation's files
// as its updater rewrites them, one by one.
enum class LayoutMode { copies, links };

// The folders and the lock a run keeps beside R, on the same volume.
std::filesystem::path beside(const std::filesystem::path& target, const char* suffix);
extern const char* const new_tree_suffix;
extern const char* const old_tree_suffix;
extern const char* const lock_suffix;

struct LayoutReport {
    std::vector<std::string> found;
    std::vector<std::string> missing;          // names of modules absent from the installation
    std::vector<std::string> missing_required; // the part of `missing` the agent needs
    std::vector<std::string> rejected_entries; // lines of R's list that name nothing inside R
    // A stopped run's previous tree was put back as R first.
    bool restored = false;
    // Refusals, R untouched: R holds files but no list; a folder beside R
    // under a name this program uses is not its own, or cannot be removed;
    // R holds junctions or other reparse points; files of R not on its list
    // stand where the tree needs its own.
    bool not_ours = false;
    std::filesystem::path foreign_beside, stuck_beside;
    std::vector<std::filesystem::path> links, in_the_way;
    // What could not be read or written: R untouched.
    std::vector<std::filesystem::path> failed;
    // Windows' refusal to rename R, which stays as it was, unless left under
    // the name beside it.
    uint32_t in_use = 0;
    bool left_aside = false;
    bool unchanged = false;     // R was up to date: nothing was written
    bool old_tree_left = false; // the previous tree, renamed beside R, could not be removed
    int copied = 0, linked = 0, reused = 0, kept_yours = 0, removed = 0;
};

// Brings `target` up to date with the installation at `obs`. Files on R's list
// are this program's; any other file in R is the user's and is kept, unless
// it stands where the tree needs one of its own: then nothing is written.
// `agent` is the agent's executable, put beside the engine. Reads `obs` only.
LayoutReport lay_out(const std::filesystem::path& obs, const std::filesystem::path& target,
                     const std::filesystem::path& agent, LayoutMode mode);
