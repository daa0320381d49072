#pragma once

// What the layout program asks of Windows about the agent's tree: names as
// Windows compares them, and walking, renaming and removing folders without
// ever following a junction or another reparse point.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

// File names compare as Windows compares them: without regard to case.
struct NameLess {
    bool operator()(const std::filesystem::path& a, const std::filesystem::path& b) const;
};

struct TreeEntry {
    enum Kind { file, folder, reparse_point };
    std::filesystem::path relative;
    Kind kind;
};
// Everything under `root`, as paths relative to it, each folder before what
// it holds. A reparse point is listed, never entered. Nothing when a folder
// cannot be read.
std::optional<std::vector<TreeEntry>> list_tree(const std::filesystem::path& root);

bool is_reparse_point(const std::filesystem::path& path);

// Removes `root` and everything in it. Each entry is opened without following
// a reparse point, checked to lie inside `root` as found on disk, and removed
// through that handle: a junction is removed itself, never what it points
// to. Whether `root` is gone.
bool remove_tree(const std::filesystem::path& root);

// Renames a folder, never over an existing one. A brief refusal (a virus
// scanner reading a new file) is waited out for about a second. 0, or the
// Windows error code.
uint32_t rename_folder(const std::filesystem::path& from, const std::filesystem::path& to);

// Takes the lock file that keeps two runs from working on the same tree,
// held until the process ends.
enum class TreeLock { taken, held_elsewhere, impossible };
TreeLock lock_tree(const std::filesystem::path& lock);
