#include "window_title.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <unistd.h>

namespace {

std::string name_of(Display* display, Window window) {
    std::string name;
    Atom net_name = XInternAtom(display, "_NET_WM_NAME", True);
    Atom utf8 = XInternAtom(display, "UTF8_STRING", True);
    if (net_name != None && utf8 != None) {
        Atom type;
        int format;
        unsigned long items, after;
        unsigned char* value = nullptr;
        if (XGetWindowProperty(display, window, net_name, 0, 1024, False, utf8, &type, &format,
                               &items, &after, &value) == Success &&
            value) {
            name.assign(reinterpret_cast<char*>(value), items);
            XFree(value);
        }
    }
    if (name.empty()) {
        char* fetched = nullptr;
        if (XFetchName(display, window, &fetched) && fetched) {
            name = fetched;
            XFree(fetched);
        }
    }
    return name;
}

Window find_below(Display* display, Window parent, const std::string& title) {
    if (name_of(display, parent) == title)
        return parent;
    Window root, up, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, parent, &root, &up, &children, &count))
        return None;
    Window found = None;
    for (unsigned int i = 0; i < count && found == None; ++i)
        found = find_below(display, children[i], title);
    if (children)
        XFree(children);
    return found;
}

// The window manager's list of top-level windows, when one publishes it: far
// fewer requests than walking every window; false when the root has no list.
bool find_in_client_list(Display* display, Window root, const std::string& title, Window& found) {
    Atom list = XInternAtom(display, "_NET_CLIENT_LIST", True);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    if (list == None ||
        XGetWindowProperty(display, root, list, 0, 1 << 16, False, XA_WINDOW, &type, &format,
                           &count, &remaining, &data) != Success ||
        type != XA_WINDOW || format != 32) {
        if (data)
            XFree(data);
        return false;
    }
    auto* windows = reinterpret_cast<Window*>(data);
    found = None;
    for (unsigned long i = 0; i < count && found == None; ++i)
        if (name_of(display, windows[i]) == title)
            found = windows[i];
    XFree(data);
    return true;
}

} // namespace

std::string window_title(const char* designation) {
    std::string text = designation ? designation : "";
    std::string title = text.substr(0, text.find(':'));
    std::string out;
    for (std::size_t i = 0; i < title.size(); ++i) {
        if (title.compare(i, 3, "#3A") == 0) {
            out += ':';
            i += 2;
        } else if (title.compare(i, 3, "#22") == 0) {
            out += '#';
            i += 2;
        } else {
            out += title[i];
        }
    }
    return out;
}

unsigned long find_window(Display* display, const std::string& title) {
    if (title.empty())
        return 0;
    for (int screen = 0; screen < ScreenCount(display); ++screen) {
        Window root = RootWindow(display, screen);
        Window found = None;
        // A stale list (its window manager gone) or a window it does not manage
        // yet: the walk still finds it, on the lookup's own thread.
        if (!find_in_client_list(display, root, title, found) || found == None)
            found = find_below(display, root, title);
        if (found != None)
            return found;
    }
    return 0;
}

pid_t window_process_id(Display* display, unsigned long window) {
    // The number means something only on the machine the window says it runs on.
    XTextProperty machine = {};
    if (!XGetWMClientMachine(display, window, &machine) || !machine.value)
        return 0;
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    bool here = machine.format == 8 &&
                std::string(reinterpret_cast<char*>(machine.value), machine.nitems) == host;
    XFree(machine.value);
    if (!here)
        return 0;
    Atom property = XInternAtom(display, "_NET_WM_PID", True);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    pid_t pid = 0;
    if (property != None &&
        XGetWindowProperty(display, window, property, 0, 1, False, XA_CARDINAL, &type, &format,
                           &count, &remaining, &data) == Success &&
        type == XA_CARDINAL && format == 32 && count == 1)
        pid = static_cast<pid_t>(*reinterpret_cast<unsigned long*>(data));
    if (data)
        XFree(data);
    return pid;
}
