#include "common/exit_codes.h"
#include "main/agent_version.h"
#include "main/bring_up.h"
#include "main/command_line.h"
#include "main/command_loop.h"
#include "main/line_reader.h"
#include "main/target_list.h"
#include "platform/platform.h"
#include "protocol/event_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// The engine is left as it is: no shutdown, no unload.
[[noreturn]] void end_process(int code) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(code);
}

} // namespace

int main(int argc, char** argv) {
    platform::limit_allocator_arenas();
    set_event_stream(platform::prepare_standard_streams());
    switch (command_line_mode(std::vector<std::string>(argv + std::min(argc, 1), argv + argc))) {
    case CommandLineMode::version:
        end_process(run_version_mode());
    case CommandLineMode::list:
        if (int failure = run_list_mode())
            end_process(failure);
        return exit_code::normal;
    case CommandLineMode::agent:
        break;
    }
    if (int failure = bring_up())
        end_process(failure);
    auto lines = std::make_shared<LineChannel>();
    if (!start_line_reader(lines)) {
        std::fputs("failed to spawn thread\n", stderr);
        end_process(exit_code::no_reader_thread);
    }
    return run_command_loop(*lines);
}
