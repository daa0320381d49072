// "monitor_capture" for Linux desktops: the same type id and settings keys as
// the Windows plug-in, over the engine's own "xshm_input".
#include "../common/inner_source.h"
#include "capture_sources.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cstdio>
#include <cstdlib>

namespace {

struct Capture {
    obs_source_t* source = nullptr;
    obs_source_t* inner = nullptr;
};

obs_data_t* screen_settings(obs_data_t* settings) {
    obs_data_t* inner = obs_data_create();
    obs_data_set_int(inner, "screen", std::atoi(obs_data_get_string(settings, "monitor_id")));
    obs_data_set_bool(inner, "show_cursor", obs_data_get_bool(settings, "capture_cursor"));
    return inner;
}

void* create(obs_source_t* source, const char* inner_id, obs_data_t* inner_settings) {
    auto* capture = new Capture;
    capture->source = source;
    capture->inner = create_inner_source(inner_id, source, inner_settings);
    return capture;
}

void destroy(void* data) {
    auto* capture = static_cast<Capture*>(data);
    obs_source_release(capture->inner);
    delete capture;
}

uint32_t width(void* data) {
    auto* capture = static_cast<Capture*>(data);
    return capture->inner ? obs_source_get_width(capture->inner) : 0;
}

uint32_t height(void* data) {
    auto* capture = static_cast<Capture*>(data);
    return capture->inner ? obs_source_get_height(capture->inner) : 0;
}

void render(void* data, gs_effect_t*) {
    auto* capture = static_cast<Capture*>(data);
    if (capture->inner)
        obs_source_video_render(capture->inner);
}

// The engine shows and activates the inner source with this one.
void enum_inner(void* data, obs_source_enum_proc_t callback, void* param) {
    auto* capture = static_cast<Capture*>(data);
    if (capture->inner)
        callback(capture->source, capture->inner, param);
}

void add_monitor(obs_property_t* list, int number, int width, int height) {
    char name[64], value[16];
    std::snprintf(name, sizeof name, "Écran %d : %dx%d", number, width, height);
    std::snprintf(value, sizeof value, "%d", number);
    obs_property_list_add_string(list, name, value);
}

// The monitors as "xshm_input" numbers them: RandR's monitors of the first
// screen (RandR 1.5, X servers since 2015), else the X screens.
obs_properties_t* properties(void*) {
    obs_properties_t* properties = obs_properties_create();
    obs_property_t* list = obs_properties_add_list(properties, "monitor_id", "Écran",
                                                   OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_STRING);
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return properties;
    int event = 0, error = 0, major = 0, minor = 0;
    int count = 0;
    XRRMonitorInfo* monitors = nullptr;
    if (XRRQueryExtension(display, &event, &error) && XRRQueryVersion(display, &major, &minor) &&
        (major > 1 || minor >= 5))
        monitors = XRRGetMonitors(display, RootWindow(display, 0), True, &count);
    if (monitors) {
        for (int i = 0; i < count; ++i)
            if (monitors[i].width > 0 && monitors[i].height > 0)
                add_monitor(list, i, monitors[i].width, monitors[i].height);
        XRRFreeMonitors(monitors);
    } else {
        for (int i = 0; i < ScreenCount(display); ++i)
            add_monitor(list, i, DisplayWidth(display, i), DisplayHeight(display, i));
    }
    XCloseDisplay(display);
    return properties;
}

} // namespace

obs_source_info screen_capture_info() {
    obs_source_info info = input_source_info(
        "monitor_capture", "Capture d'écran (X11)", OBS_SOURCE_VIDEO | OBS_SOURCE_CUSTOM_DRAW,
        [](obs_data_t* settings, obs_source_t* source) {
            return create(source, "xshm_input", screen_settings(settings));
        },
        destroy);
    info.get_width = width;
    info.get_height = height;
    info.video_render = render;
    info.enum_active_sources = enum_inner;
    info.enum_all_sources = enum_inner;
    info.get_properties = properties;
    return info;
}
