#pragma once

#include "common/utf8.h"

#include <string>
#include <string_view>

// Text handed to the engine: NUL characters removed; c_str() terminates it.
std::string to_engine_text(std::string_view text);

// Text from the engine: invalid UTF-8 replaced by U+FFFD, null read as empty.
std::string from_engine_text(const char* text);
