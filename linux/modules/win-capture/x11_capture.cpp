// "monitor_capture" and "window_capture" for Linux desktops: the same type
// ids and settings keys as the Windows plug-in, captured from X11.
#include "../common/source_info.h"

#include <obs-module.h>
#include <util/platform.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

OBS_DECLARE_MODULE()

namespace {

constexpr auto frame_period = std::chrono::milliseconds(66); // about 15 frames a second

struct X11Capture {
    obs_source_t* source = nullptr;
    bool window = false;
    std::string target; // screen number, or window title
    std::atomic<bool> stopping{false};
    std::thread thread;
};

// "Title:Class:exe" with ':' and '#' written as "#3A" and "#22".
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

Window find_window(Display* display, Window parent, const std::string& title) {
    if (name_of(display, parent) == title)
        return parent;
    Window root, up, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, parent, &root, &up, &children, &count))
        return None;
    Window found = None;
    for (unsigned int i = 0; i < count && found == None; ++i)
        found = find_window(display, children[i], title);
    if (children)
        XFree(children);
    return found;
}

Window target_drawable(Display* display, const X11Capture& capture) {
    if (!capture.window) {
        int screen =
            capture.target.empty() ? DefaultScreen(display) : std::atoi(capture.target.c_str());
        if (screen < 0 || screen >= ScreenCount(display))
            screen = DefaultScreen(display);
        return RootWindow(display, screen);
    }
    for (int screen = 0; screen < ScreenCount(display); ++screen) {
        Window found = find_window(display, RootWindow(display, screen), capture.target);
        if (found != None)
            return found;
    }
    return None;
}

int ignore_x_errors(Display*, XErrorEvent*) {
    return 0;
}

void grab_frames(X11Capture* capture) {
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return;
    auto next = std::chrono::steady_clock::now();
    while (!capture->stopping) {
        next += frame_period;
        Window drawable = target_drawable(display, *capture);
        XWindowAttributes attributes;
        if (drawable != None && XGetWindowAttributes(display, drawable, &attributes) &&
            attributes.map_state == IsViewable) {
            XImage* image =
                XGetImage(display, drawable, 0, 0, static_cast<unsigned>(attributes.width),
                          static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
            if (image && image->bits_per_pixel == 32) {
                obs_source_frame frame = {};
                frame.data[0] = reinterpret_cast<uint8_t*>(image->data);
                frame.linesize[0] = static_cast<uint32_t>(image->bytes_per_line);
                frame.width = static_cast<uint32_t>(image->width);
                frame.height = static_cast<uint32_t>(image->height);
                frame.format = VIDEO_FORMAT_BGRX;
                frame.timestamp = os_gettime_ns();
                obs_source_output_video(capture->source, &frame);
            }
            if (image)
                XDestroyImage(image);
        }
        std::this_thread::sleep_until(next);
    }
    XCloseDisplay(display);
}

void* create(obs_data_t* settings, obs_source_t* source, bool window) {
    auto* capture = new X11Capture;
    capture->source = source;
    capture->window = window;
    capture->target = window ? window_title(obs_data_get_string(settings, "window"))
                             : obs_data_get_string(settings, "monitor_id");
    capture->thread = std::thread(grab_frames, capture);
    return capture;
}

void destroy(void* data) {
    auto* capture = static_cast<X11Capture*>(data);
    capture->stopping = true;
    capture->thread.join();
    delete capture;
}

} // namespace

bool obs_module_load(void) {
    XInitThreads();
    XSetErrorHandler(ignore_x_errors);
    obs_source_info monitor = input_source_info(
        "monitor_capture", "Capture d'écran (X11)", OBS_SOURCE_ASYNC_VIDEO,
        [](obs_data_t* settings, obs_source_t* source) { return create(settings, source, false); },
        destroy);
    obs_source_info window = input_source_info(
        "window_capture", "Capture de fenêtre (X11)", OBS_SOURCE_ASYNC_VIDEO,
        [](obs_data_t* settings, obs_source_t* source) { return create(settings, source, true); },
        destroy);
    obs_register_source(&monitor);
    obs_register_source(&window);
    return true;
}
