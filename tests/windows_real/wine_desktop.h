#pragma once

// A desktop for OBS Studio's Windows engine under Wine: an X display with GLX
// (Direct3D 11 runs as wined3d on Mesa's software renderer), a PulseAudio
// server whose default output is a null sink playing a 1000 Hz tone, and one
// persistent wineserver on a prefix of its own, set up as the engine needs.

#include <string>

struct WineDesktop {
    std::string display; // ":N"
    std::string failure; // what did not start; empty when all is up
};

// Starts it all once, the prefix in `work`/prefix; later calls return the same.
const WineDesktop& wine_desktop(const std::string& work);
// Ends the wineserver (every Windows program with it), the sound and the display.
void stop_wine_desktop();

// "Z:\a\b" for "/a/b": how a Windows program under Wine names a Unix path.
std::string windows_path(const std::string& unix_path);
// The Unix path of "Z:\a\b" or "Z:/a/b".
std::string unix_path(const std::string& windows_path);
