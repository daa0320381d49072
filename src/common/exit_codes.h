#pragma once

// How the agent's process ends.
namespace exit_code {
constexpr int normal = 0;             // quit, or the end of the controller's input
constexpr int engine_library = 2;     // the engine library missing or incomplete
constexpr int engine_start = 3;       // the engine, its audio or its video refused at bring-up
constexpr int display_lost = 69;      // the X server went away: nothing more can be captured
constexpr int broken_invariant = 70;  // the engine table used before it was set
constexpr int no_reader_thread = 101; // the standard input reader could not start
} // namespace exit_code
