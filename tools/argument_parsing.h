// Complete, range-checked parsing of numeric command-line arguments.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Parses all of text as a decimal integer within [low, high].
bool parse_int(const std::string& text, int64_t low, int64_t high, int64_t* value);
// Parses "A,B,C,D" as four integers within [low, high].
bool parse_int_list(const std::string& text, std::size_t count, int64_t low, int64_t high,
                    std::vector<int64_t>* values);
