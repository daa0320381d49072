// Fuzzes the command decoder with arbitrary lines.
#include "protocol/command.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ParsedCommand parsed =
        parse_command(std::string_view(reinterpret_cast<const char*>(data), size));
    // Exactly one of the two outcomes, and a fault always says something.
    if (parsed.command.has_value() == !parsed.fault.empty())
        std::abort();
    return 0;
}
