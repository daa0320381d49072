#include "tree.h"

#include <string>
#include <windows.h>

namespace fs = std::filesystem;

namespace {

// The entry itself, were it a junction or a link: never what it points to.
// DELETE is granted by the folder's right to delete what it holds, so a file
// that is a hard link into a folder we cannot write is still removable.
HANDLE open_entry(const fs::path& path) {
    return CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                       nullptr);
}

// Where an open entry is on disk, every link on the way resolved.
std::wstring final_path(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length =
            GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(length);
    }
}

bool lies_inside(const std::wstring& path, const std::wstring& folder) {
    const int length = static_cast<int>(folder.size());
    return !folder.empty() && path.size() > folder.size() && path[folder.size()] == L'\\' &&
           CompareStringOrdinal(path.c_str(), length, folder.c_str(), length, TRUE) == CSTR_EQUAL;
}

// Windows 10 1809 and later delete a read-only file as it is, without
// changing an attribute that a hard link shares with the installation's file;
// older systems and Wine refuse this request, and delete as before. MinGW
// declares it for newer targets only: FileDispositionInfoEx and its flags
// DELETE and IGNORE_READONLY_ATTRIBUTE, as Windows defines them.
struct DispositionEx {
    DWORD flags;
};
constexpr auto disposition_ex = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD delete_even_read_only = 0x1 | 0x10;

// Deleted when the handle closes.
bool delete_open_entry(HANDLE handle) {
    DispositionEx ex{delete_even_read_only};
    if (SetFileInformationByHandle(handle, disposition_ex, &ex, sizeof ex))
        return true;
    FILE_DISPOSITION_INFO dispose{TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &dispose, sizeof dispose);
}

} // namespace

bool NameLess::operator()(const fs::path& a, const fs::path& b) const {
    const std::wstring left = a.generic_wstring(), right = b.generic_wstring();
    return CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                                static_cast<int>(right.size()), TRUE) == CSTR_LESS_THAN;
}

std::optional<std::vector<TreeEntry>> list_tree(const fs::path& root) {
    std::vector<TreeEntry> entries;
    std::vector<fs::path> folders{fs::path()};
    while (!folders.empty()) {
        const fs::path folder = folders.back();
        folders.pop_back();
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileExW((root / folder / L"*").c_str(), FindExInfoBasic, &found,
                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
        if (find == INVALID_HANDLE_VALUE)
            return std::nullopt;
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const fs::path relative = folder / name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                entries.push_back({relative, TreeEntry::reparse_point});
            } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                entries.push_back({relative, TreeEntry::folder});
                folders.push_back(relative);
            } else {
                entries.push_back({relative, TreeEntry::file});
            }
        } while (FindNextFileW(find, &found));
        const DWORD error = GetLastError();
        FindClose(find);
        if (error != ERROR_NO_MORE_FILES)
            return std::nullopt;
    }
    return entries;
}

bool is_reparse_point(const fs::path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::optional<FileFacts> file_facts(const fs::path& path) {
    HANDLE handle = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info;
    const bool read = GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    if (!read)
        return std::nullopt;
    auto wide = [](DWORD high, DWORD low) { return uint64_t{high} << 32 | low; };
    return FileFacts{info.dwVolumeSerialNumber, wide(info.nFileIndexHigh, info.nFileIndexLow),
                     wide(info.nFileSizeHigh, info.nFileSizeLow),
                     wide(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime)};
}

bool copy_file_as_is(const fs::path& source, const fs::path& copy) {
    return CopyFileW(source.c_str(), copy.c_str(), TRUE);
}

bool remove_tree(const fs::path& root) {
    // Where `root` is on disk, through a handle without the right to delete:
    // Windows lists a folder only if every handle on it shares that right.
    HANDLE look = CreateFileW(
        root.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (look == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    BY_HANDLE_FILE_INFORMATION info;
    const bool is_folder = GetFileInformationByHandle(look, &info) &&
                           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                           !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    const std::wstring inside = final_path(look);
    CloseHandle(look);
    auto entries = is_folder && !inside.empty() ? list_tree(root) : std::nullopt;
    if (entries) {
        // What a folder holds goes before it: the list has each folder first.
        for (auto it = entries->rbegin(); it != entries->rend(); ++it) {
            HANDLE entry = open_entry(root / it->relative);
            if (entry == INVALID_HANDLE_VALUE)
                continue;
            if (lies_inside(final_path(entry), inside))
                delete_open_entry(entry);
            CloseHandle(entry);
        }
    }
    if (HANDLE handle = open_entry(root); handle != INVALID_HANDLE_VALUE) {
        delete_open_entry(handle);
        CloseHandle(handle);
    }
    return GetFileAttributesW(root.c_str()) == INVALID_FILE_ATTRIBUTES;
}

uint32_t rename_folder(const fs::path& from, const fs::path& to) {
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(), 0))
            return 0;
        const DWORD error = GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || attempt == 10)
            return error;
        Sleep(100);
    }
}

TreeLock lock_tree(const fs::path& lock) {
    // Shared with no one, and deleted by Windows when the process ends, however it ends.
    // A link planted in its place is opened as the link, never followed, and refused.
    HANDLE handle = CreateFileW(
        lock.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        FILE_ATTRIBUTE_TAG_INFO tag = {};
        if (GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) &&
            !(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return TreeLock::taken;
        // Closing deletes the link itself, never what it points to.
        CloseHandle(handle);
        return TreeLock::impossible;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION ? TreeLock::held_elsewhere
                                                     : TreeLock::impossible;
}
