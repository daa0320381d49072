// A window of one solid colour, driven by lines on standard input:
// "colour RRGGBB", "unmap", "map", "size W H", and "list", which sets the
// root's client list (_NET_CLIENT_LIST) to this window alone, as a window
// manager would publish it. Prints "ready" once shown and "ok" after each line,
// once the server has done it. It names its machine, process and class
// ("colour_window"); a third argument is the process it names instead of its
// own, as a sandboxed client's number may name another process here.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    const char* title = argc > 1 ? argv[1] : "Teinte";
    unsigned long colour = argc > 2 ? std::strtoul(argv[2], nullptr, 16) : 0xff0000;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 1;
    Window window =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 320, 180, 0, 0, colour);
    XStoreName(display, window, title);
    // The machine (WM_CLIENT_MACHINE) and the process, as toolkits name them.
    XClassHint hint = {const_cast<char*>("colour_window"), const_cast<char*>("colour_window")};
    XSetWMProperties(display, window, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &hint);
    long pid = argc > 3 ? std::strtol(argv[3], nullptr, 10) : getpid();
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&pid), 1);
    XMapWindow(display, window);
    XSync(display, False);
    std::puts("ready");
    std::fflush(stdout);
    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
        if (std::strncmp(line, "colour ", 7) == 0) {
            // The server paints the background itself when the window is shown.
            XSetWindowBackground(display, window, std::strtoul(line + 7, nullptr, 16));
            XClearWindow(display, window);
        } else if (std::strncmp(line, "unmap", 5) == 0) {
            XUnmapWindow(display, window);
        } else if (std::strncmp(line, "map", 3) == 0) {
            XMapWindow(display, window);
        } else if (std::strncmp(line, "size ", 5) == 0) {
            char* height = nullptr;
            unsigned width = static_cast<unsigned>(std::strtoul(line + 5, &height, 10));
            XResizeWindow(display, window, width,
                          static_cast<unsigned>(std::strtoul(height, nullptr, 10)));
        } else if (std::strncmp(line, "list", 4) == 0) {
            XChangeProperty(display, DefaultRootWindow(display),
                            XInternAtom(display, "_NET_CLIENT_LIST", False), XA_WINDOW, 32,
                            PropModeReplace, reinterpret_cast<unsigned char*>(&window), 1);
        }
        XSync(display, False);
        std::puts("ok");
        std::fflush(stdout);
    }
    XCloseDisplay(display);
    return 0;
}
