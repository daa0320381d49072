#include "platform/platform.h"

#include "common/exit_codes.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <malloc.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

const char* const engine_library_file = "obs.so";
const char* const module_file_suffix = ".so";
const char* const graphics_module = "libobs-opengl";
const char* const library_failure_prefix = "obs.so introuvable ou incomplète : ";
const char* const graphics_failure_name = "OpenGL";
const char path_separator = '/';

std::FILE* prepare_standard_streams() {
    // A controller that stops reading must not kill the agent with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    // Not inherited: the engine's helper processes must not hold the controller's pipe open.
    int events = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    std::FILE* stream = events < 0 ? nullptr : fdopen(events, "w");
    if (!stream) {
        if (events >= 0)
            close(events);
        return stdout;
    }
    // Without a standard error, what others print goes nowhere rather than among the
    // events, or into the next file opened, which would take its number.
    if (fcntl(STDERR_FILENO, F_GETFD) < 0) {
        int nowhere = open("/dev/null", O_WRONLY);
        if (nowhere >= 0 && nowhere != STDERR_FILENO) {
            dup2(nowhere, STDERR_FILENO);
            close(nowhere);
        }
    }
    dup2(STDERR_FILENO, STDOUT_FILENO);
    return stream;
}

bool environment_has(const char* name) {
    return std::getenv(name) != nullptr;
}

void declare_dpi_awareness() {}

std::string executable_path() {
    std::vector<char> buffer(4096);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            return {};
        if (static_cast<std::size_t>(n) < buffer.size())
            return std::string(buffer.data(), static_cast<std::size_t>(n));
        buffer.resize(buffer.size() * 2);
    }
}

void change_directory(const std::string& directory) {
    if (chdir(directory.c_str()) != 0) {
        // Ignored: the agent only needs its own paths, which are absolute.
    }
}

std::string temp_directory() {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = (tmp && *tmp) ? tmp : "/tmp";
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

void create_directories(const std::string& path) {
    std::error_code ignored;
    std::filesystem::create_directories(path, ignored);
}

bool file_metadata_readable(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

void* open_library(const std::string& path, std::string& error) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* reason = dlerror();
        error = reason ? reason : "dlopen failed";
    }
    return library;
}

void* library_symbol(void* library, const char* name, std::string& error) {
    dlerror();
    void* symbol = dlsym(library, name);
    if (!symbol) {
        const char* reason = dlerror();
        error = reason ? reason : "dlsym failed";
    }
    return symbol;
}

void close_library(void* library) {
    dlclose(library);
}

void limit_allocator_arenas() {
    // A bound set by whoever started us stands.
    if (std::getenv("MALLOC_ARENA_MAX"))
        return;
    // Each arena keeps pages the engine's short-lived threads freed: 600 recordings
    // grew by 37 MB with glibc's eight per core, by 6 MB with two. One per four
    // hardware threads, two to eight: the engine's threads seldom allocate at once.
    long threads = sysconf(_SC_NPROCESSORS_ONLN);
    mallopt(M_ARENA_MAX, static_cast<int>(std::clamp(threads / 4, 2L, 8L)));
}

void end_process_now(int code) {
    _exit(code);
}

void release_free_memory() {
    // glibc keeps freed pages in per-thread arenas; the engine's encoder threads
    // leave many behind after each recording.
    malloc_trim(0);
}

long read_standard_input(char* buffer, std::size_t size) {
    for (;;) {
        ssize_t n = read(STDIN_FILENO, buffer, size);
        if (n >= 0)
            return static_cast<long>(n);
        if (errno != EINTR)
            return -1;
    }
}

namespace {

// The windowing client libraries are loaded at run time so that the agent
// itself links against neither.
void* call_connect(const char* library_name, const char* function_name) {
    void* library = dlopen(library_name, RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return nullptr;
    auto connect = reinterpret_cast<void* (*)(const char*)>(dlsym(library, function_name));
    return connect ? connect(nullptr) : nullptr;
}

// The engine's X connection, watched from the fault handler below.
int x11_socket = -1;
struct sigaction previous_segv_action, previous_bus_action;

[[noreturn]] void end_for_lost_display() {
    static const char line[] = "serveur X perdu : fin de l'agent\n";
    ssize_t written = write(STDERR_FILENO, line, sizeof line - 1);
    (void)written;
    _exit(exit_code::display_lost);
}

// The server closes its clients' connections one after the other as it dies:
// ours may hang up a moment after the one that faulted.
bool x11_server_gone() {
    if (x11_socket < 0)
        return false;
    pollfd watched = {x11_socket, POLLRDHUP, 0};
    return poll(&watched, 1, 500) == 1 && (watched.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

// Called for a broken connection, any in the process (the handler is the
// library's). Only the server's loss ends the agent quietly; Xlib's own handler
// would call exit(), whose static destructors then run under the engine's
// threads. Any other break is a fault and ends as one, with its core dump.
int on_lost_x11_connection(void*) {
    if (x11_server_gone())
        end_for_lost_display();
    static const char line[] = "connexion X rompue, le serveur X répond encore : abandon\n";
    ssize_t written = write(STDERR_FILENO, line, sizeof line - 1);
    (void)written;
    std::abort();
}

// The engine's hotkey thread reads X through xcb, on a connection of its own,
// every 25 ms, and dereferences the null reply it gets once the server is gone
// (libobs 29 to 32): that fault is the server's loss. Any other fault goes to
// the handler that was there before.
void on_fault(int signal, siginfo_t* info, void*) {
    if (x11_server_gone())
        end_for_lost_display();
    struct sigaction previous = signal == SIGSEGV ? previous_segv_action : previous_bus_action;
    // An ignored fault would come back for ever: the default ends the process.
    if (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler == SIG_IGN)
        previous.sa_handler = SIG_DFL;
    sigaction(signal, &previous, nullptr);
    // A fault raised by an instruction comes again on return; a sent one is sent again.
    if (info->si_code <= 0)
        raise(signal);
}

void* connect_x11() {
    void* library = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return nullptr;
    using Handler = int (*)(void*);
    auto set_io_handler =
        reinterpret_cast<Handler (*)(Handler)>(dlsym(library, "XSetIOErrorHandler"));
    auto connection_number = reinterpret_cast<int (*)(void*)>(dlsym(library, "XConnectionNumber"));
    // The handler is the library's, shared by every connection in the process.
    if (set_io_handler)
        set_io_handler(on_lost_x11_connection);
    void* display = call_connect("libX11.so.6", "XOpenDisplay");
    if (display && connection_number) {
        x11_socket = connection_number(display);
        struct sigaction action = {};
        action.sa_sigaction = on_fault;
        // On the alternate stack when a thread has one (sanitizers do): a stack overflow still
        // reports.
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        sigaction(SIGSEGV, &action, &previous_segv_action);
        sigaction(SIGBUS, &action, &previous_bus_action);
    }
    return display;
}

bool environment_set(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

} // namespace

DisplayConnection select_engine_display() {
    if (environment_set("DISPLAY"))
        return {DisplayKind::x11, connect_x11()};
    if (environment_set("WAYLAND_DISPLAY")) {
        // A Wayland session counts only once connected.
        if (void* display = call_connect("libwayland-client.so.0", "wl_display_connect"))
            return {DisplayKind::wayland, display};
    }
    return {};
}

} // namespace platform
