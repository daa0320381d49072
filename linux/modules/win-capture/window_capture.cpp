#include "window_capture.h"

#include "../common/inner_source.h"
#include "../common/x_windows.h"
#include "capture_sources.h"

#include <util/platform.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xcomposite.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace {

constexpr auto lookup_period = std::chrono::seconds(1); // between searches for a missing window

// Searches for the window on a connection and thread of its own, so that a
// desktop of many windows never slows the video thread.
struct WindowLookup {
    std::optional<WindowValue> value; // none: the setting names no window
    WindowPriority priority = WindowPriority::window_class;
    std::atomic<bool> wanted{true}; // set by the video thread when it has no window
    std::atomic<unsigned long> found{0};
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::thread thread;
};

void run_lookup(WindowLookup& lookup) {
    Display* display = XOpenDisplay(nullptr);
    std::unique_lock lock(lookup.mutex);
    while (display && !lookup.stopping) {
        if (lookup.wanted.load() && !lookup.found.load()) {
            lock.unlock();
            unsigned long window = 0;
            try {
                if (lookup.value)
                    window = find_window(display, *lookup.value, lookup.priority);
            } catch (...) { // out of memory: tried again later
            }
            lock.lock();
            if (window) {
                lookup.found = window;
                lookup.wanted = false;
            }
        }
        lookup.wake.wait_for(lock, lookup_period, [&] { return lookup.stopping; });
    }
    lock.unlock();
    if (display)
        XCloseDisplay(display);
}

void stop_lookup(WindowLookup& lookup) {
    {
        std::lock_guard lock(lookup.mutex);
        lookup.stopping = true;
    }
    lookup.wake.notify_one();
    if (lookup.thread.joinable())
        lookup.thread.join();
}

struct WindowCapture {
    obs_source_t* source = nullptr;
    Display* display = nullptr; // ours, used on the video thread only
    Window window = 0;
    Pixmap pixmap = 0;
    XShmSegmentInfo shm = {};
    XImage* image = nullptr;
    int width = 0, height = 0; // the window's size, as its events last told
    Visual* visual = nullptr;
    int depth = 0;
    bool mapped = false;  // viewable, as its map and unmap events last told
    bool use_shm = false; // decided once: the server may lack shared memory or refuse ours
    WindowLookup lookup;
};

void release_picture(WindowCapture& c) {
    if (c.image && c.use_shm) {
        XShmDetach(c.display, &c.shm);
        XDestroyImage(c.image);
        shmdt(c.shm.shmaddr);
    } else if (c.image) {
        XDestroyImage(c.image);
    }
    c.image = nullptr;
    if (c.pixmap) {
        XFreePixmap(c.display, c.pixmap);
        c.pixmap = 0;
    }
}

// The window's current picture and a shared image of its size.
bool acquire_picture(WindowCapture& c) {
    c.pixmap = XCompositeNameWindowPixmap(c.display, c.window);
    if (!c.use_shm)
        return true;
    c.image =
        XShmCreateImage(c.display, c.visual, static_cast<unsigned>(c.depth), ZPixmap, nullptr,
                        &c.shm, static_cast<unsigned>(c.width), static_cast<unsigned>(c.height));
    if (!c.image)
        return false;
    c.shm.shmid =
        shmget(IPC_PRIVATE, static_cast<size_t>(c.image->bytes_per_line) * c.image->height,
               IPC_CREAT | 0600);
    c.shm.shmaddr = c.image->data = c.shm.shmid < 0
                                        ? reinterpret_cast<char*>(-1)
                                        : static_cast<char*>(shmat(c.shm.shmid, nullptr, 0));
    c.shm.readOnly = False;
    // Marked for removal now: it goes once both sides have detached.
    if (c.shm.shmid >= 0)
        shmctl(c.shm.shmid, IPC_RMID, nullptr);
    bool attached = c.shm.shmaddr != reinterpret_cast<char*>(-1) && XShmAttach(c.display, &c.shm);
    if (!attached) {
        // No segment for us (the system's limits, a large window): read without one.
        if (c.shm.shmaddr != reinterpret_cast<char*>(-1))
            shmdt(c.shm.shmaddr);
        XDestroyImage(c.image);
        c.image = nullptr;
        c.use_shm = false;
        return true;
    }
    // A remote server cannot see our segment: its refusal comes back as an error.
    unsigned long failures = x_shm_attach_failures();
    XSync(c.display, False);
    if (x_shm_attach_failures() != failures) {
        XDestroyImage(c.image);
        shmdt(c.shm.shmaddr);
        c.image = nullptr;
        c.use_shm = false;
        return true;
    }
    return true;
}

// The pixmap's picture, through shared memory when the server allows it.
bool read_picture(WindowCapture& c) {
    if (c.use_shm)
        return XShmGetImage(c.display, c.pixmap, c.image, 0, 0, AllPlanes);
    if (c.image)
        XDestroyImage(c.image);
    c.image = XGetImage(c.display, c.pixmap, 0, 0, static_cast<unsigned>(c.width),
                        static_cast<unsigned>(c.height), AllPlanes, ZPixmap);
    return c.image != nullptr;
}

void forget_window(WindowCapture& c) {
    release_picture(c);
    c.window = 0;
    c.mapped = false;
    c.lookup.wanted = true;
}

// Takes a window found by the lookup: its events from now on, its state once.
bool adopt_window(WindowCapture& c, Window window) {
    c.window = window;
    XSelectInput(c.display, window, StructureNotifyMask);
    XCompositeRedirectWindow(c.display, window, CompositeRedirectAutomatic);
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(c.display, window, &attributes)) {
        forget_window(c);
        return false;
    }
    c.visual = attributes.visual;
    c.depth = attributes.depth;
    c.width = attributes.width;
    c.height = attributes.height;
    c.mapped = attributes.map_state == IsViewable;
    return true;
}

// Applies the window's map, unmap, resize and destroy events queued on our
// connection. XPending reads what has arrived without a round-trip.
void apply_window_events(WindowCapture& c) {
    while (c.window && XPending(c.display) > 0) {
        XEvent event;
        XNextEvent(c.display, &event);
        switch (event.type) {
        case MapNotify:
            // A window mapped again has a new pixmap: the old one shows a stale picture.
            if (event.xmap.window == c.window) {
                release_picture(c);
                c.mapped = true;
            }
            break;
        case UnmapNotify:
            if (event.xunmap.window == c.window) {
                release_picture(c);
                c.mapped = false;
            }
            break;
        case ConfigureNotify:
            if (event.xconfigure.window == c.window &&
                (event.xconfigure.width != c.width || event.xconfigure.height != c.height)) {
                release_picture(c);
                c.width = event.xconfigure.width;
                c.height = event.xconfigure.height;
            }
            break;
        case DestroyNotify:
            if (event.xdestroywindow.window == c.window)
                forget_window(c);
            break;
        default:
            break;
        }
    }
}

} // namespace

void* create_window_capture(obs_data_t* settings, obs_source_t* source) {
    // Nothing may escape into the engine: a capture that cannot be made (no
    // thread to look with, no memory) leaves the source without data, which
    // the engine then never calls with.
    std::unique_ptr<WindowCapture> capture;
    try {
        capture = std::make_unique<WindowCapture>();
        capture->source = source;
        capture->lookup.value = parse_window_value(obs_data_get_string(settings, "window"));
        capture->lookup.priority =
            static_cast<WindowPriority>(obs_data_get_int(settings, "priority"));
        capture->display = XOpenDisplay(nullptr);
        if (capture->display) {
            capture->use_shm = XShmQueryExtension(capture->display);
            capture->lookup.thread = std::thread(run_lookup, std::ref(capture->lookup));
        }
    } catch (...) {
        if (capture && capture->display)
            XCloseDisplay(capture->display);
        return nullptr;
    }
    return capture.release();
}

void destroy_window_capture(void* data) {
    auto* capture = static_cast<WindowCapture*>(data);
    if (capture->display) {
        stop_lookup(capture->lookup);
        forget_window(*capture);
        XCloseDisplay(capture->display);
    }
    delete capture;
}

void tick_window_capture(void* data, float) {
    auto& c = *static_cast<WindowCapture*>(data);
    if (!c.display || !obs_source_showing(c.source))
        return;
    if (!c.window) {
        Window found = c.lookup.found.exchange(0);
        if (!found || !adopt_window(c, found))
            return;
    }
    apply_window_events(c);
    if (!c.window || !c.mapped || c.depth < 24)
        return;
    if (!c.pixmap && !acquire_picture(c)) {
        release_picture(c);
        return;
    }
    if (!read_picture(c) || c.image->bits_per_pixel != 32)
        return;
    obs_source_frame frame = {};
    frame.data[0] = reinterpret_cast<uint8_t*>(c.image->data);
    frame.linesize[0] = static_cast<uint32_t>(c.image->bytes_per_line);
    frame.width = static_cast<uint32_t>(c.image->width);
    frame.height = static_cast<uint32_t>(c.image->height);
    frame.format = VIDEO_FORMAT_BGRX;
    frame.timestamp = os_gettime_ns();
    obs_source_output_video(c.source, &frame);
}

namespace {

// The windows a user would pick, as the Windows plug-in lists them: "[exe]:
// title", valued "title:class:exe".
obs_properties_t* window_capture_properties(void*) {
    obs_properties_t* properties = obs_properties_create();
    obs_property_t* list = obs_properties_add_list(properties, "window", "Fenêtre",
                                                   OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_STRING);
    if (Display* display = XOpenDisplay(nullptr)) {
        try {
            for (const ListedWindow& window : list_windows(display))
                obs_property_list_add_string(list, window.name.c_str(), window.value.c_str());
        } catch (...) { // out of memory: the list ends there
        }
        XCloseDisplay(display);
    }
    return properties;
}

} // namespace

obs_source_info window_capture_info() {
    obs_source_info info =
        input_source_info("window_capture", "Capture de fenêtre (X11)", OBS_SOURCE_ASYNC_VIDEO,
                          create_window_capture, destroy_window_capture);
    info.video_tick = tick_window_capture;
    info.get_properties = window_capture_properties;
    return info;
}
