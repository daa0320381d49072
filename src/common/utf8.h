#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The one UTF-8 decoder of the agent: for the engine's text, the controller's
// lines and the log.

// Decodes the code point at `i` and moves `i` past it; a maximal invalid
// subpart decodes as U+FFFD.
char32_t decode_code_point(std::string_view text, std::size_t& i);

// Replaces every invalid UTF-8 sequence (maximal subpart) by U+FFFD.
std::string sanitize_utf8(std::string_view text);

bool is_valid_utf8(std::string_view text);
