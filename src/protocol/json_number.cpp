#include "protocol/json_number.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

std::string json_number_text(double value) {
    if (!std::isfinite(value))
        return "null";
    std::string text = std::signbit(value) ? "-" : "";
    value = std::fabs(value);
    if (value == 0.0)
        return text + "0.0";

    // Shortest round-trip digits, in the form "d.ddde±x".
    char buffer[32];
    auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    std::string scientific(buffer, error == std::errc() ? end : buffer);
    std::size_t e = scientific.find('e');
    std::string digits;
    for (std::size_t i = 0; i < e; ++i)
        if (scientific[i] != '.')
            digits += scientific[i];
    int k = static_cast<int>(digits.size());
    int n = std::atoi(scientific.c_str() + e + 1) + 1; // where the decimal point goes

    // Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) on "." + text.
    constexpr int min_exponent = -4, max_exponent = 15;
    auto count = [](int n) { return static_cast<std::size_t>(n); };
    if (k <= n && n <= max_exponent) {
        text += digits;
        text.append(count(n - k), '0');
        text += ".0";
    } else if (0 < n && n <= max_exponent) {
        text.append(digits, 0, count(n));
        text += '.';
        text.append(digits, count(n));
    } else if (min_exponent < n && n <= 0) {
        text += "0.";
        text.append(count(-n), '0');
        text += digits;
    } else {
        text += digits[0];
        if (k > 1) {
            text += '.';
            text.append(digits, 1);
        }
        int exponent = n - 1;
        text += exponent < 0 ? "e-" : "e+";
        if (std::abs(exponent) < 10)
            text += '0';
        text += std::to_string(std::abs(exponent));
    }
    return text;
}
