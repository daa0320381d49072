#pragma once

// The names a Windows library exports, read from its file: the engine is
// judged without loading it, since loading obs.dll runs its code.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The export table's names, or nothing when the file is not a readable PE
// image. A library without an export table exports no name.
std::optional<std::vector<std::string>> library_exports(const std::filesystem::path& library);
