#include "manifest.h"

#include "common/utf8.h"

#include <fstream>

namespace fs = std::filesystem;

const char* const layout_manifest = "kalto-obs-layout.list";

bool names_a_file_inside(const fs::path& entry) {
    if (entry.empty() || entry.has_root_name() || entry.has_root_directory())
        return false;
    for (const fs::path& part : entry) {
        const std::wstring name = part.wstring();
        if (name.empty() || name == L"." || name == L".." || name.find(L':') != std::wstring::npos)
            return false;
    }
    return true;
}

Manifest read_manifest(const fs::path& file) {
    Manifest manifest;
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (line.empty())
            continue;
        if (!is_valid_utf8(line) || line.find('\0') != std::string::npos) {
            manifest.rejected.push_back(sanitize_utf8(line));
            continue;
        }
        fs::path entry(std::u8string(line.begin(), line.end()));
        if (names_a_file_inside(entry))
            manifest.entries.push_back(entry);
        else
            manifest.rejected.push_back(line);
    }
    return manifest;
}

bool write_manifest(const fs::path& file, const std::vector<fs::path>& entries) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    for (const fs::path& entry : entries) {
        std::u8string text = entry.generic_u8string();
        out << std::string(text.begin(), text.end()) << '\n';
    }
    out.close();
    return !out.fail();
}
