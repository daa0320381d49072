// The soak's cycles done by a bare program that links libobs itself: each
// start makes the sources, encoders and outputs, as the agent does, and each
// stop releases them. Its growth is the engine's own, the reference for the
// agent's. Prints resident memory before and after, in KiB.
#include "bare_engine.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <malloc.h>
#include <string>
#include <thread>

namespace {

long resident_kib() {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

// One start and stop in `mode`, once a few frames are written, so that every
// cycle goes through the encoders and the muxer.
bool cycle(const std::string& mode, const std::string& path, const std::string& clips) {
    if (!reset_bare_video(640, 360, 30))
        return false;
    BareSession session;
    bool ok =
        open_bare_session(session, mode == "replay" ? "" : path, mode == "file" ? "" : clips, 30);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ok && bare_frames(session) < 10 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    close_bare_session(session);
    // As the agent does after each stop: the pages the engine's threads freed go back.
    malloc_trim(0);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bare_soak <installed root> <output directory> [cycles per "
                             "mode] [saves]\n");
        return 2;
    }
    std::string root = argv[1], out = argv[2];
    int cycles = argc > 3 ? std::stoi(argv[3]) : 200;
    int saves = argc > 4 ? std::stoi(argv[4]) : 50;
    if (!start_bare_engine(root))
        return 3;
    std::string clips = out + "/clips";
    // One cycle first, so that what the engine sets up once is in the baseline.
    cycle("file", out + "/warmup.mp4", clips);
    long before = resident_kib();
    int failed = 0;
    for (const char* mode : {"file", "replay", "both"}) {
        for (int i = 1; i <= cycles; ++i)
            if (!cycle(mode, out + "/" + mode + "-" + std::to_string(i) + ".mp4", clips))
                ++failed;
        std::printf("%s: %d cycles, resident %ld KiB\n", mode, cycles, resident_kib());
        std::fflush(stdout);
    }
    reset_bare_video(640, 360, 30);
    BareSession session;
    if (!open_bare_session(session, "", clips, 30))
        ++failed;
    for (int i = 0; i < saves && session.replay; ++i)
        if (!save_bare_replay(session))
            ++failed;
    close_bare_session(session);
    malloc_trim(0);
    long after = resident_kib();
    obs_shutdown();
    std::printf("bare: resident memory %ld KiB before, %ld KiB after (%ld KiB); %d failures\n",
                before, after, after - before, failed);
    return failed == 0 ? 0 : 1;
}
