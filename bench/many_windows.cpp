// Opens N small mapped windows, prints "ready", and keeps them until standard
// input ends: a crowded desktop for the window capture's benchmark.

#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    int count = argc > 1 ? std::atoi(argv[1]) : 300;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 1;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Foule %d", i);
        Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), (i % 30) * 20,
                                            (i / 30) * 20, 16, 16, 0, 0, 0x808080);
        XStoreName(display, window, name);
        XMapWindow(display, window);
    }
    XSync(display, False);
    std::puts("ready");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    XCloseDisplay(display);
    return 0;
}
