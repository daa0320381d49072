#include "platform/platform.h"

#include <windows.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <io.h>
#include <vector>

namespace platform {

const char* const engine_library_file = "obs.dll";
const char* const module_file_suffix = ".dll";
const char* const graphics_module = "libobs-d3d11";
const char* const library_failure_prefix = "obs.dll introuvable ou incomplète : ";
const char* const graphics_failure_name = "Direct3D 11";
const char path_separator = '\\';

namespace {

// Unpaired surrogates become U+FFFD, as the conversion does by default.
std::string to_utf8(const std::wstring& text) {
    if (text.empty())
        return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::wstring to_utf16(const std::string& text) {
    if (text.empty())
        return {};
    int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

template <class Function> Function system_function(const wchar_t* library, const char* name) {
    HMODULE module = LoadLibraryW(library);
    return module
               ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)))
               : nullptr;
}

} // namespace

std::FILE* prepare_standard_streams() {
    // No "\r" may reach the controller, and "\r\n" input is handled by the reader.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    int events = _dup(_fileno(stdout));
    std::FILE* stream = events < 0 ? nullptr : _fdopen(events, "wb");
    if (!stream) {
        if (events >= 0)
            _close(events);
        return stdout;
    }
    // Not inherited: the engine's helper processes must not hold the controller's pipe open.
    SetHandleInformation(reinterpret_cast<HANDLE>(_get_osfhandle(events)), HANDLE_FLAG_INHERIT, 0);
    // The handle that C runtimes loaded later (the engine's) take as their standard output.
    SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
    // Then our own C runtime's. This closes the original handle, so that a C runtime
    // starting later cannot take it from the handles a controller may pass at start
    // (libuv does) and falls back to the one above. Where standard output and error
    // are one handle, closing it would close standard error as well: nothing to part.
    if (_get_osfhandle(_fileno(stdout)) != _get_osfhandle(_fileno(stderr)) &&
        _dup2(_fileno(stderr), _fileno(stdout)) != 0) {
        // Without a standard error, what others print goes nowhere rather than among the events.
        int nowhere = _open("NUL", _O_WRONLY | _O_BINARY);
        // With standard error closed, the null device takes its number: keep it there.
        if (nowhere >= 0 && _dup2(nowhere, _fileno(stdout)) == 0 && nowhere != _fileno(stderr))
            _close(nowhere);
    }
    return stream;
}

void end_process_now(int code) {
    // ExitProcess would still call every library's own end under the engine's threads.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    std::abort();
}

bool environment_has(const char* name) {
    std::wstring wide = to_utf16(name);
    SetLastError(ERROR_SUCCESS);
    DWORD size = GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
    return size != 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
}

void declare_dpi_awareness() {
    // Resolved at run time: older systems lack it, and its failure changes nothing.
    using SetContext = BOOL(WINAPI*)(HANDLE);
    if (auto set_context =
            system_function<SetContext>(L"user32.dll", "SetProcessDpiAwarenessContext"))
        set_context(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)));
}

std::string executable_path() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return {};
        if (n < buffer.size())
            return to_utf8(std::wstring(buffer.data(), n));
        buffer.resize(buffer.size() * 2);
    }
}

void change_directory(const std::string& directory) {
    SetCurrentDirectoryW(to_utf16(directory).c_str());
}

std::string temp_directory() {
    using GetTempPath2 = DWORD(WINAPI*)(DWORD, LPWSTR);
    auto get_temp_path2 = system_function<GetTempPath2>(L"kernel32.dll", "GetTempPath2W");
    wchar_t buffer[MAX_PATH + 2] = {};
    DWORD n = get_temp_path2 ? get_temp_path2(MAX_PATH + 1, buffer) : 0;
    if (n == 0)
        n = GetTempPathW(MAX_PATH + 1, buffer);
    std::string dir = to_utf8(std::wstring(buffer, n));
    while (dir.size() > 3 && (dir.back() == '\\' || dir.back() == '/'))
        dir.pop_back();
    return dir;
}

void create_directories(const std::string& path) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(to_utf16(path)), ignored);
}

bool file_metadata_readable(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExW(to_utf16(path).c_str(), GetFileExInfoStandard, &data) != 0;
}

void* open_library(const std::string& path, std::string& error) {
    std::wstring wide = to_utf16(path);
    DWORD previous = 0;
    BOOL mode_set = SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previous);
    HMODULE library = LoadLibraryExW(wide.c_str(), nullptr, 0);
    DWORD code = library ? 0 : GetLastError();
    if (mode_set && previous != SEM_FAILCRITICALERRORS)
        SetThreadErrorMode(previous, nullptr);
    if (!library)
        error = code ? "LoadLibraryExW failed"
                     : "LoadLibraryExW failed, but system did not report the error";
    return library;
}

void* library_symbol(void* library, const char* name, std::string& error) {
    SetLastError(ERROR_SUCCESS);
    FARPROC symbol = GetProcAddress(static_cast<HMODULE>(library), name);
    if (!symbol) {
        DWORD code = GetLastError();
        error = code ? "GetProcAddress failed"
                     : "GetProcAddress failed, but system did not report the error";
        return nullptr;
    }
    return reinterpret_cast<void*>(symbol);
}

void close_library(void* library) {
    FreeLibrary(static_cast<HMODULE>(library));
}

void release_free_memory() {}

long read_standard_input(char* buffer, std::size_t size) {
    DWORD read = 0;
    if (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, static_cast<DWORD>(size), &read, nullptr))
        return static_cast<long>(read);
    // A closed pipe is the end of the controller's input.
    return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
}

void limit_allocator_arenas() {}

// Windows has one windowing system: nothing to choose.
DisplayConnection select_engine_display() {
    return {};
}

} // namespace platform
