#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

// Every operating-system call of the agent goes through this interface; one
// implementation file per operating system.
namespace platform {

// The constants that differ between the operating systems.
extern const char* const engine_library_file;    // "obs.dll" / "obs.so"
extern const char* const module_file_suffix;     // ".dll" / ".so"
extern const char* const graphics_module;        // "libobs-d3d11" / "libobs-opengl"
extern const char* const library_failure_prefix; // "<engine library> introuvable ou incomplète : "
extern const char* const graphics_failure_name;  // "Direct3D 11" / "OpenGL"
extern const char path_separator;

// Binary standard streams, and a closed standard output that never kills us.
// Standard output is the events' alone: the stream returned writes to it, and
// what anything else in the process prints there (plug-ins of the engine do)
// goes to standard error instead.
std::FILE* prepare_standard_streams();

bool environment_has(const char* name);
void declare_dpi_awareness();

// Full path of the running executable as UTF-8; empty when unknown.
std::string executable_path();
void change_directory(const std::string& directory);
// The per-user temporary-files directory, without a trailing separator.
std::string temp_directory();
void create_directories(const std::string& path);
bool file_metadata_readable(const std::string& path);

// Dynamic loading. A failure leaves the reason in `error`.
void* open_library(const std::string& path, std::string& error);
void* library_symbol(void* library, const char* name, std::string& error);
void close_library(void* library);

// Ends the process at once with `code`, running neither static destructors nor
// any library's own end: the engine's threads may still be running.
[[noreturn]] void end_process_now(int code);

// Gives the memory freed by an ended recording back to the system where the
// allocator keeps it otherwise.
void release_free_memory();

// Blocks until some bytes arrive: the count, 0 at the end of input, -1 on failure.
long read_standard_input(char* buffer, std::size_t size);

// Bounds the allocator's per-thread arenas, before any thread exists, so that
// what the engine's threads free can be given back.
void limit_allocator_arenas();

// The windowing system this process reaches, and its connection (null when
// none could be made).
enum class DisplayKind { none, x11, wayland };
struct DisplayConnection {
    DisplayKind kind = DisplayKind::none;
    void* display = nullptr;
};
// Connects to the windowing system the environment names: X11 when DISPLAY is
// set, else Wayland when WAYLAND_DISPLAY is set and a connection succeeds.
DisplayConnection select_engine_display();

} // namespace platform
