#pragma once

// What the tests expect to differ between the Linux and the Windows agent.

#include <string>

namespace test_platform {
#ifdef _WIN32
inline const std::string agent_file = "kalto-obs.exe";
inline const std::string library_suffix = ".dll";
inline const std::string engine_file = "obs.dll";
inline const std::string graphics_module = "libobs-d3d11";
inline const std::string graphics_name = "Direct3D 11";
inline const std::string separator = "\\";
#else
inline const std::string agent_file = "kalto-obs";
inline const std::string library_suffix = ".so";
inline const std::string engine_file = "obs.so";
inline const std::string graphics_module = "libobs-opengl";
inline const std::string graphics_name = "OpenGL";
inline const std::string separator = "/";
#endif

// "a", "b", "c" joined with the platform's separator.
inline std::string join(std::initializer_list<std::string> parts) {
    std::string out;
    bool first = true;
    for (const std::string& part : parts) {
        out += (first ? "" : separator) + part;
        first = false;
    }
    return out;
}
} // namespace test_platform
