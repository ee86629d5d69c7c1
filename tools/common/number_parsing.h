// The one parser of numbers given on command lines: whole text, range-checked, and a reason
// that names what is wrong ("'two' is not an integer", "1e30 is above 1e+09").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kavel_tools {

// Parses all of text as a decimal integer within [low, high]. On failure *why (if given)
// tells whether it is not a number or out of range.
bool parse_integer(const std::string& text, int64_t low, int64_t high, int64_t* value,
                   std::string* why = nullptr);
// Parses all of text as a finite decimal number within [low, high].
bool parse_real(const std::string& text, double low, double high, double* value,
                std::string* why = nullptr);
// Parses "A,B,C,..." as exactly count integers within [low, high].
bool parse_integer_list(const std::string& text, std::size_t count, int64_t low, int64_t high,
                        std::vector<int64_t>* values, std::string* why = nullptr);

}  // namespace kavel_tools
