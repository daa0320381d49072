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

// What tells a file from another, and a copy's state from its source's: one
// open, where std::filesystem takes several.
struct FileFacts {
    uint64_t volume = 0, index = 0; // the same for every hard link to the file
    uint64_t size = 0, written = 0;
};
std::optional<FileFacts> file_facts(const std::filesystem::path& path);

// Copies a file, never over another. The copy keeps the source's time to the
// last digit, for a later run to tell it unchanged.
bool copy_file_as_is(const std::filesystem::path& source, const std::filesystem::path& copy);

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
