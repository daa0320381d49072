#pragma once

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

// Milliseconds between two instants, as the benchmarks print them.
inline double elapsed_ms(std::chrono::steady_clock::time_point from,
                         std::chrono::steady_clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Resident memory of a process ("self" or a pid), in MiB.
inline double resident_mib(const std::string& process) {
    std::ifstream in("/proc/" + process + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0.0;
}

inline void print_figures(double ready, double start, double save, double stop, double cores,
                          double rss) {
    std::printf("{\"ready_ms\":%.1f,\"start_ms\":%.1f,\"save_ms\":%.1f,\"stop_ms\":%.1f,\"cpu_"
                "cores\":%.3f,\"rss_mib\":%.1f}\n",
                ready, start, save, stop, cores, rss);
}
