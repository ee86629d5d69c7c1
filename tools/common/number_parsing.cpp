#include "tools/common/number_parsing.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kavel_tools {

namespace {

bool set(std::string* why, std::string reason) {
    if (why) *why = std::move(reason);
    return false;
}

std::string shortest(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

// Text that strtoll / strtod would read past: leading blanks are not ours to skip.
bool starts_like_number(const std::string& text) {
    return !text.empty() && !std::isspace(static_cast<unsigned char>(text[0]));
}

}  // namespace

bool parse_integer(const std::string& text, int64_t low, int64_t high, int64_t* value,
                   std::string* why) {
    if (!starts_like_number(text)) return set(why, "'" + text + "' is not an integer");
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(begin, &end, 10);
    if (end == begin || *end != '\0') return set(why, "'" + text + "' is not an integer");
    if (errno == ERANGE || parsed < low || parsed > high) {
        return set(why, text + " is out of range (" + std::to_string(low) + " to " +
                            std::to_string(high) + ")");
    }
    *value = parsed;
    return true;
}

bool parse_real(const std::string& text, double low, double high, double* value,
                std::string* why) {
    if (!starts_like_number(text)) return set(why, "'" + text + "' is not a number");
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(begin, &end);
    if (end == begin || *end != '\0' || std::isnan(parsed)) {
        return set(why, "'" + text + "' is not a number");
    }
    if (errno == ERANGE || !std::isfinite(parsed) || parsed < low || parsed > high) {
        return set(why, text + " is out of range (" + shortest(low) + " to " + shortest(high) +
                            ")");
    }
    *value = parsed;
    return true;
}

bool parse_integer_list(const std::string& text, std::size_t count, int64_t low, int64_t high,
                        std::vector<int64_t>* values, std::string* why) {
    values->clear();
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const std::string item =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        int64_t value = 0;
        if (!parse_integer(item, low, high, &value, why)) return false;
        values->push_back(value);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (values->size() != count) {
        return set(why, "'" + text + "' has " + std::to_string(values->size()) +
                            " numbers, not " + std::to_string(count));
    }
    return true;
}

}  // namespace kavel_tools
