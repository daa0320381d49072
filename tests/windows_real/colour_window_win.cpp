// A window of one solid colour, driven by lines on standard input:
// "colour RRGGBB". Prints "ready" once shown and "ok" after each line, once the
// window has repainted. Its window is "<title>:KaltoTeinte:teinte.exe" to
// win-capture.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

COLORREF colour = RGB(255, 0, 0);

COLORREF from_hex(const char* text) {
    unsigned long rgb = std::strtoul(text, nullptr, 16);
    return RGB((rgb >> 16) & 0xff, (rgb >> 8) & 0xff, rgb & 0xff);
}

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_APP:
        colour = static_cast<COLORREF>(wparam);
        InvalidateRect(window, nullptr, FALSE);
        UpdateWindow(window);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        HBRUSH brush = CreateSolidBrush(colour);
        RECT client;
        GetClientRect(window, &client);
        FillRect(dc, &client, brush);
        DeleteObject(brush);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

// Standard input, read on a thread of its own; the window's thread paints.
DWORD WINAPI read_commands(void* window) {
    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
        if (std::strncmp(line, "colour ", 7) == 0)
            SendMessageW(static_cast<HWND>(window), WM_APP, from_hex(line + 7), 0);
        std::puts("ok");
        std::fflush(stdout);
    }
    PostMessageW(static_cast<HWND>(window), WM_CLOSE, 0, 0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const char* title = argc > 1 ? argv[1] : "Teinte";
    if (argc > 2)
        colour = from_hex(argv[2]);
    WNDCLASSW kind{};
    kind.lpfnWndProc = window_proc;
    kind.hInstance = GetModuleHandleW(nullptr);
    kind.lpszClassName = L"KaltoTeinte";
    RegisterClassW(&kind);
    wchar_t wide_title[64];
    MultiByteToWideChar(CP_UTF8, 0, title, -1, wide_title, 64);
    // A client area of 320x180 at the top left of the screen.
    RECT frame{0, 0, 320, 180};
    AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
    HWND window = CreateWindowW(L"KaltoTeinte", wide_title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                frame.right - frame.left, frame.bottom - frame.top, nullptr,
                                nullptr, kind.hInstance, nullptr);
    if (!window)
        return 1;
    UpdateWindow(window);
    std::puts("ready");
    std::fflush(stdout);
    CreateThread(nullptr, 0, read_commands, window, 0, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
