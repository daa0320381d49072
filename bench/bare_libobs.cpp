// The same session as the agent's benchmark, done by a bare program that
// links libobs itself and captures with the engine's own Linux plug-ins
// (xshm_input, pulse_output_capture): the reference for the agent's figures.
#include "bare_engine.h"
#include "timing.h"

#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <thread>

namespace {

using clock_type = std::chrono::steady_clock;

double cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](timeval t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bare_libobs <installed root> <output directory>\n");
        return 2;
    }
    std::string root = argv[1], out = argv[2];
    auto begin = clock_type::now();
    if (!start_bare_engine(root))
        return 3;
    auto ready = clock_type::now();

    auto start_begin = clock_type::now();
    reset_bare_video(1280, 720, 30);
    BareSession session;
    if (!open_bare_session(session, out + "/bare.mp4", out, 120))
        return 4;
    auto started = clock_type::now();

    double cpu_before = cpu_seconds();
    auto window = clock_type::now();
    std::this_thread::sleep_for(std::chrono::seconds(10)); // ten seconds of recording
    double cores = (cpu_seconds() - cpu_before) /
                   std::chrono::duration<double>(clock_type::now() - window).count();

    double rss = resident_mib("self");

    auto save_begin = clock_type::now();
    save_bare_replay(session);
    auto save_end = clock_type::now();

    auto stop_begin = clock_type::now();
    close_bare_session(session);
    auto stopped = clock_type::now();
    obs_shutdown();

    print_figures(elapsed_ms(begin, ready), elapsed_ms(start_begin, started),
                  elapsed_ms(save_begin, save_end), elapsed_ms(stop_begin, stopped), cores, rss);
    return 0;
}
