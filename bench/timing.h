#pragma once

#include <chrono>
#include <cstdio>

// Milliseconds between two instants, as the benchmarks print them.
inline double elapsed_ms(std::chrono::steady_clock::time_point from,
                         std::chrono::steady_clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

inline void print_figures(double ready, double start, double save, double stop, double cores) {
    std::printf("{\"ready_ms\":%.1f,\"start_ms\":%.1f,\"save_ms\":%.1f,\"stop_ms\":%.1f,\"cpu_"
                "cores\":%.3f}\n",
                ready, start, save, stop, cores);
}
