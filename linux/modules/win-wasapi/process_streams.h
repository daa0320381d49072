#pragma once

// One application's sound from the sound server: every stream its process (or
// a process it started) plays, each recorded through a monitor stream of its
// own, so that nothing else the output plays is heard.

#include <sys/types.h>

#include <cstddef>

constexpr int process_sound_rate = 48000;
constexpr int process_sound_channels = 2;

struct ProcessStreams;

// Receives the streams' sound mixed: `frames` interleaved stereo frames, on
// the sound server connection's thread, as they come.
using DeliverSound = void (*)(void* data, const float* sound, std::size_t frames);

// Starts the sound server connection's thread and connects.
ProcessStreams* start_process_streams(DeliverSound deliver, void* data);
// Ends every stream and the connection; nothing is delivered afterwards.
void stop_process_streams(ProcessStreams* streams);

// Records the streams of `pid` and of its descendants from now on; 0 records none.
void follow_process(ProcessStreams& streams, pid_t pid);
// Connects again when the server went away or was not there yet.
void keep_connected(ProcessStreams& streams);

// The process a stream's client says plays it (its number and program name), as
// this system numbers it; 0 when that process here does not run that program.
pid_t stream_process(const char* pid_text, const char* binary);

// Whether `pid` is `ancestor` or one of its descendants.
bool process_descends_from(pid_t pid, pid_t ancestor);
