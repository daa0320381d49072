#include "x_windows.h"

#include "program_file.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>
#include <unistd.h>

namespace {

// The atoms read here, looked up once for a search. Only existing ones: an
// atom the server never heard of is on no window.
struct Atoms {
    Atom net_name, utf8, window_type, wm_state, client_list;
    explicit Atoms(Display* display)
        : net_name(XInternAtom(display, "_NET_WM_NAME", True)),
          utf8(XInternAtom(display, "UTF8_STRING", True)),
          window_type(XInternAtom(display, "_NET_WM_WINDOW_TYPE", True)),
          wm_state(XInternAtom(display, "WM_STATE", True)),
          client_list(XInternAtom(display, "_NET_CLIENT_LIST", True)) {}
};

// One property of a window, freed with it.
struct Property {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned char* data = nullptr;
    Property() = default;
    Property(const Property&) = delete;
    Property& operator=(const Property&) = delete;
    ~Property() {
        if (data)
            XFree(data);
    }
};

bool read_property(Display* display, Window window, Atom name, Atom type, long longest,
                   Property& property) {
    unsigned long remaining = 0;
    return name != None &&
           XGetWindowProperty(display, window, name, 0, longest, False, type, &property.type,
                              &property.format, &property.count, &remaining,
                              &property.data) == Success &&
           property.data && property.type != None;
}

std::string title_of(Display* display, const Atoms& atoms, Window window) {
    Property net_name;
    if (atoms.utf8 != None &&
        read_property(display, window, atoms.net_name, atoms.utf8, 1024, net_name) &&
        net_name.format == 8 && net_name.count > 0)
        return std::string(reinterpret_cast<char*>(net_name.data), net_name.count);
    // The older name may be Latin-1 or compound text: read as UTF-8.
    XTextProperty name = {};
    std::string title;
    if (XGetWMName(display, window, &name) && name.value) {
        char** list = nullptr;
        int count = 0;
        if (Xutf8TextPropertyToTextList(display, &name, &list, &count) >= Success && list) {
            if (count > 0 && list[0])
                title = list[0];
            XFreeStringList(list);
        }
        XFree(name.value);
    }
    return title;
}

// WM_CLASS's class, the second of its two names.
std::string class_of(Display* display, Window window) {
    XClassHint hint = {};
    std::string window_class;
    if (XGetClassHint(display, window, &hint)) {
        if (hint.res_class)
            window_class = hint.res_class;
        XFree(hint.res_name);
        XFree(hint.res_class);
    }
    return window_class;
}

// The process that opened the window's connection, as the X server read it
// from the connection itself: a sandboxed client cannot name another.
pid_t client_process(Display* display, Window window) {
    XResClientIdSpec spec = {window, XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* ids = nullptr;
    pid_t pid = 0;
    if (XResQueryClientIds(display, 1, &spec, &count, &ids) == Success && ids) {
        for (long i = 0; i < count && pid <= 0; ++i)
            if (ids[i].spec.mask & XRES_CLIENT_ID_PID_MASK)
                pid = XResGetClientPid(&ids[i]);
        XResClientIdsDestroy(count, ids);
    }
    return pid > 0 ? pid : 0;
}

// As the Windows plug-in names a process it cannot open.
std::string executable_of(pid_t pid) {
    std::string program = pid > 0 ? program_file(pid) : "";
    return program.empty() ? "unknown" : program;
}

// Panels, menus, tooltips and the like, which the Windows plug-ins leave out
// as tool windows.
bool tool_window(Display* display, const Atoms& atoms, Window window) {
    Property types;
    if (!read_property(display, window, atoms.window_type, XA_ATOM, 1, types) ||
        types.format != 32 || types.count == 0)
        return false;
    char* name = XGetAtomName(display, reinterpret_cast<Atom*>(types.data)[0]);
    if (!name)
        return false;
    std::string type = name;
    XFree(name);
    for (const char* tool :
         {"DESKTOP", "DOCK", "TOOLBAR", "MENU", "UTILITY", "SPLASH", "DROPDOWN_MENU", "POPUP_MENU",
          "TOOLTIP", "NOTIFICATION", "COMBO", "DND"})
        if (type == std::string("_NET_WM_WINDOW_TYPE_") + tool)
            return true;
    return false;
}

bool managed(Display* display, const Atoms& atoms, Window window) {
    Property state;
    return read_property(display, window, atoms.wm_state, AnyPropertyType, 2, state);
}

std::vector<Window> children_of(Display* display, Window parent) {
    Window root = None, up = None, *children = nullptr;
    unsigned int count = 0;
    std::vector<Window> found;
    if (XQueryTree(display, parent, &root, &up, &children, &count) && children)
        found.assign(children, children + count);
    if (children)
        XFree(children);
    return found;
}

// The client window a window manager keeps inside its frame (the one with
// WM_STATE); None when there is none within a few levels.
Window managed_inside(Display* display, const Atoms& atoms, Window frame, int depth) {
    if (depth > 3 || atoms.wm_state == None)
        return None;
    for (Window child : children_of(display, frame)) {
        if (managed(display, atoms, child))
            return child;
        if (Window found = managed_inside(display, atoms, child, depth + 1))
            return found;
    }
    return None;
}

// The top-level windows by walking from the root: each child of the root, or
// the client window inside it when a window manager framed it.
std::vector<Window> walk_top_level(Display* display, const Atoms& atoms, Window root) {
    std::vector<Window> windows;
    for (Window child : children_of(display, root)) {
        Window inside =
            managed(display, atoms, child) ? None : managed_inside(display, atoms, child, 1);
        windows.push_back(inside ? inside : child);
    }
    return windows;
}

// The window manager's list of its clients, when one publishes it: far fewer
// requests than a walk; false when the root has none.
bool client_list(Display* display, const Atoms& atoms, Window root, std::vector<Window>& windows) {
    Property list;
    if (!read_property(display, root, atoms.client_list, XA_WINDOW, 1 << 16, list) ||
        list.type != XA_WINDOW || list.format != 32)
        return false;
    auto* listed = reinterpret_cast<Window*>(list.data);
    windows.assign(listed, listed + list.count);
    return true;
}

// The facts are read as the priority needs them: the class first, which most
// windows fail on.
int rate(Display* display, const Atoms& atoms, Window window, const WindowValue& wanted,
         WindowPriority priority) {
    WindowValue seen;
    seen.window_class = class_of(display, window);
    if (class_required(wanted, priority) && !same_text(seen.window_class, wanted.window_class))
        return no_match;
    pid_t pid = client_process(display, window);
    if (pid == getpid() || tool_window(display, atoms, window))
        return no_match;
    seen.title = title_of(display, atoms, window);
    seen.executable = executable_of(pid);
    return window_rating(wanted, seen, priority);
}

struct Best {
    Window window = None;
    int rating = no_match;
};

// Rates each window; a window replaces the best only when it rates better.
// True when one of them matched at all.
bool rate_all(Display* display, const Atoms& atoms, const std::vector<Window>& windows,
              const WindowValue& wanted, WindowPriority priority, Best& best) {
    bool matched = false;
    for (Window window : windows) {
        if (best.rating == 0)
            break;
        int rating = rate(display, atoms, window, wanted, priority);
        matched = matched || rating != no_match;
        if (rating < best.rating)
            best = {window, rating};
    }
    return matched;
}

} // namespace

unsigned long find_window(Display* display, const WindowValue& wanted, WindowPriority priority,
                          unsigned long current) {
    Atoms atoms(display);
    Best best;
    XWindowAttributes attributes;
    if (current && XGetWindowAttributes(display, current, &attributes))
        best = {current, rate(display, atoms, current, wanted, priority)};
    for (int screen = 0; screen < ScreenCount(display) && best.rating != 0; ++screen) {
        Window root = RootWindow(display, screen);
        std::vector<Window> listed;
        // A stale list (its window manager gone) or a window it does not
        // manage: the walk still finds it.
        if (!client_list(display, atoms, root, listed) ||
            !rate_all(display, atoms, listed, wanted, priority, best))
            rate_all(display, atoms, walk_top_level(display, atoms, root), wanted, priority, best);
    }
    return best.rating == no_match ? 0 : best.window;
}

std::vector<ListedWindow> list_windows(Display* display) {
    Atoms atoms(display);
    std::vector<ListedWindow> found;
    for (int screen = 0; screen < ScreenCount(display); ++screen) {
        Window root = RootWindow(display, screen);
        std::vector<Window> windows;
        if (!client_list(display, atoms, root, windows))
            windows = walk_top_level(display, atoms, root);
        for (Window window : windows) {
            XWindowAttributes attributes;
            if (!XGetWindowAttributes(display, window, &attributes) ||
                attributes.map_state != IsViewable)
                continue;
            WindowValue seen{title_of(display, atoms, window), class_of(display, window), ""};
            pid_t pid = client_process(display, window);
            if (seen.title.empty() || pid == getpid() || tool_window(display, atoms, window))
                continue;
            seen.executable = executable_of(pid);
            found.push_back(
                {"[" + seen.executable + "]: " + seen.title, encode_window_value(seen)});
        }
    }
    return found;
}

pid_t window_process(Display* display, unsigned long window) {
    // A window of another machine reaches this server through a proxy (ssh's,
    // for one): the connection's process here is the proxy.
    XTextProperty machine = {};
    if (!XGetWMClientMachine(display, window, &machine) || !machine.value)
        return 0;
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    bool here = machine.format == 8 &&
                std::string(reinterpret_cast<char*>(machine.value), machine.nitems) == host;
    XFree(machine.value);
    pid_t pid = here ? client_process(display, window) : 0;
    return pid > 0 && !program_file(pid).empty() ? pid : 0;
}
