// A window of one solid colour, driven by lines on standard input:
// "colour RRGGBB", "unmap", "map". Prints "ready" once shown and "ok" after each
// line, once the server has done it. It names its machine and process.

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
    XSetWMProperties(display, window, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr);
    long pid = getpid();
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
        }
        XSync(display, False);
        std::puts("ok");
        std::fflush(stdout);
    }
    XCloseDisplay(display);
    return 0;
}
