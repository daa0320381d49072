#pragma once

#include <string>

// The shortest decimal text that reads back as `value`, laid out as event lines
// have always shown numbers: "1.0" for whole values, plain digits for decimal
// exponents from -4 to 15, otherwise "d.ddde+XX"; non-finite values are "null".
std::string json_number_text(double value);
