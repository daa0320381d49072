#include "obs_install.h"

#include <string>
#include <vector>
#include <windows.h>

std::optional<std::filesystem::path> registered_obs_folder() {
    for (DWORD view : {RRF_SUBKEY_WOW6464KEY, RRF_SUBKEY_WOW6432KEY}) {
        DWORD size = 0;
        const DWORD flags = RRF_RT_REG_SZ | view;
        if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\OBS Studio", nullptr, flags, nullptr,
                         nullptr, &size) != ERROR_SUCCESS ||
            size < sizeof(wchar_t))
            continue;
        std::wstring value(size / sizeof(wchar_t), L'\0');
        if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\OBS Studio", nullptr, flags, nullptr,
                         value.data(), &size) != ERROR_SUCCESS)
            continue;
        value.resize(wcsnlen(value.c_str(), value.size()));
        if (!value.empty())
            return std::filesystem::path(value);
    }
    return std::nullopt;
}

std::optional<EngineVersion> library_version(const std::filesystem::path& library) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(library.c_str(), &ignored);
    if (size == 0)
        return std::nullopt;
    std::vector<char> block(size);
    if (!GetFileVersionInfoW(library.c_str(), 0, size, block.data()))
        return std::nullopt;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) ||
        length < sizeof(VS_FIXEDFILEINFO))
        return std::nullopt;
    return EngineVersion{static_cast<int>(HIWORD(info->dwFileVersionMS)),
                         static_cast<int>(LOWORD(info->dwFileVersionMS)),
                         static_cast<int>(HIWORD(info->dwFileVersionLS))};
}

std::filesystem::path own_folder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return std::filesystem::path(path).parent_path();
        }
        path.resize(path.size() * 2);
    }
}

void use_utf8_console() {
    SetConsoleOutputCP(CP_UTF8);
}

std::string path_text(const std::filesystem::path& path) {
    // Unlike std::filesystem's conversions, a lone surrogate becomes U+FFFD instead of throwing.
    const std::wstring& wide = path.native();
    int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string text(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size,
                        nullptr, nullptr);
    return text;
}
