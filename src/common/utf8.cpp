#include "common/utf8.h"

namespace {

const char replacement[] = "\xEF\xBF\xBD";
constexpr char32_t replacement_character = 0xFFFD;

// Length of the valid sequence starting at `i`, or of the maximal invalid
// prefix (negated) that one U+FFFD replaces.
long sequence_length(std::string_view s, std::size_t i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char lead = byte(i);
    if (lead < 0x80)
        return 1;
    int follow;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        follow = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        follow = 2;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        follow = 3;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else {
        return -1;
    }
    std::size_t j = i + 1;
    for (int k = 0; k < follow; ++k, ++j) {
        if (j >= s.size())
            return -static_cast<long>(j - i);
        unsigned char c = byte(j);
        unsigned char lo = k == 0 ? low : 0x80;
        unsigned char hi = k == 0 ? high : 0xBF;
        if (c < lo || c > hi)
            return -static_cast<long>(j - i);
    }
    return static_cast<long>(j - i);
}

} // namespace

char32_t decode_code_point(std::string_view text, std::size_t& i) {
    long n = sequence_length(text, i);
    if (n <= 0) {
        i += static_cast<std::size_t>(-n);
        return replacement_character;
    }
    auto lead = static_cast<unsigned char>(text[i]);
    char32_t c = n == 1 ? lead : lead & (0x7F >> n);
    for (long k = 1; k < n; ++k)
        c = (c << 6) | (static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]) & 0x3F);
    i += static_cast<std::size_t>(n);
    return c;
}

std::string sanitize_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        long n = sequence_length(text, i);
        if (n > 0) {
            out.append(text.substr(i, static_cast<std::size_t>(n)));
            i += static_cast<std::size_t>(n);
        } else {
            out.append(replacement);
            i += static_cast<std::size_t>(-n);
        }
    }
    return out;
}

bool is_valid_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        long n = sequence_length(text, i);
        if (n <= 0)
            return false;
        i += static_cast<std::size_t>(n);
    }
    return true;
}
