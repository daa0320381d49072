// Fuzzes the whole path from raw input bytes to event lines without a
// recording: line splitting, UTF-8 checks, blank lines, decoding, and the
// answers to every command that needs no engine.
#include "main/command_loop.h"
#include "main/line_reader.h"
#include "protocol/command.h"
#include "recording/recording.h"

#include <cstdio>
#include <cstring>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The events are the output under test, but nobody reads them here.
    if (!std::freopen("/dev/null", "w", stdout))
        return 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    LineChannel lines;
    std::size_t at = 0;
    read_lines(
        [&](char* buffer, std::size_t capacity) -> long {
            // Odd chunk sizes exercise lines split across reads.
            std::size_t n = std::min({capacity, size - at, std::size_t{7}});
            std::memcpy(buffer, data + at, n);
            at += n;
            return static_cast<long>(n);
        },
        lines);
    std::optional<Recording> idle;
    for (;;) {
        auto received = lines.receive_for(std::chrono::milliseconds(0));
        if (received.status != LineChannel::Status::Item)
            break;
        // A start would need the engine: decoding it is all that is fuzzed here.
        ParsedCommand parsed = parse_command(*received.item);
        if (parsed.command && std::holds_alternative<Start>(parsed.command->value))
            continue;
        if (handle_line(*received.item, idle) == LoopStep::Quit)
            break;
    }
    return 0;
}
