// libobs-winrt.dll for Wine, which has no Windows Graphics Capture: the engine
// and win-capture import these 17 functions by name and call them unchecked.
// Every capture fails to start, as on a Windows without it, so a "WGC" source
// stays black and the agent's fallback is what gets exercised.

#include <windows.h>

#include <cstdint>

extern "C" {

__declspec(dllexport) void winrt_initialize() {}
__declspec(dllexport) void winrt_uninitialize() {}
// The engine only hands this pointer back to winrt_dispatcher_free.
__declspec(dllexport) void* winrt_dispatcher_init() {
    return nullptr;
}
__declspec(dllexport) void winrt_dispatcher_free(void*) {}
__declspec(dllexport) void winrt_capture_thread_start() {}
__declspec(dllexport) void winrt_capture_thread_stop() {}

// Supported, as win-capture already decides from the Windows version: the
// capture is attempted and never starts.
__declspec(dllexport) BOOL winrt_capture_supported() {
    return TRUE;
}
__declspec(dllexport) BOOL winrt_capture_cursor_toggle_supported() {
    return FALSE;
}
__declspec(dllexport) void* winrt_capture_init_window(BOOL, HWND, BOOL, BOOL) {
    return nullptr;
}
__declspec(dllexport) void* winrt_capture_init_monitor(BOOL, HMONITOR, BOOL) {
    return nullptr;
}
__declspec(dllexport) void winrt_capture_free(void*) {}
__declspec(dllexport) BOOL winrt_capture_active(const void*) {
    return FALSE;
}
__declspec(dllexport) BOOL winrt_capture_show_cursor(void*, BOOL) {
    return FALSE;
}
// GS_CS_SRGB.
__declspec(dllexport) int winrt_capture_get_color_space(const void*) {
    return 0;
}
__declspec(dllexport) void winrt_capture_render(void*) {}
__declspec(dllexport) std::uint32_t winrt_capture_width(const void*) {
    return 0;
}
__declspec(dllexport) std::uint32_t winrt_capture_height(const void*) {
    return 0;
}
}
