#pragma once

// The list, kept in the agent's tree, of the files the last run placed there:
// what a later run may take as its own. The user can write it, so an entry
// counts only as a name inside the tree, never as a path to act on.

#include <filesystem>
#include <string>
#include <vector>

extern const char* const layout_manifest;

struct Manifest {
    std::vector<std::filesystem::path> entries;
    std::vector<std::string> rejected; // lines that name no file inside the tree
};

// Relative, with neither drive, root, "." nor "..", and no stream (":").
bool names_a_file_inside(const std::filesystem::path& entry);

Manifest read_manifest(const std::filesystem::path& file);
bool write_manifest(const std::filesystem::path& file,
                    const std::vector<std::filesystem::path>& entries);
