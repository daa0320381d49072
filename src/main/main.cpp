#include "common/exit_codes.h"
#include "main/bring_up.h"
#include "main/command_loop.h"
#include "main/line_reader.h"
#include "platform/platform.h"
#include "protocol/event_writer.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

int main() {
    platform::limit_allocator_arenas();
    set_event_stream(platform::prepare_standard_streams());
    if (int failure = bring_up()) {
        std::fflush(stderr);
        // The engine is left as it is: no shutdown, no unload.
        std::_Exit(failure);
    }
    auto lines = std::make_shared<LineChannel>();
    if (!start_line_reader(lines)) {
        std::fputs("failed to spawn thread\n", stderr);
        std::fflush(stderr);
        std::_Exit(exit_code::no_reader_thread);
    }
    return run_command_loop(*lines);
}
