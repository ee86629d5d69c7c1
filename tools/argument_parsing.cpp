#include "tools/argument_parsing.h"

#include <cerrno>
#include <cstdlib>

bool parse_int(const std::string& text, int64_t low, int64_t high, int64_t* value) {
    if (text.empty()) return false;
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(begin, &end, 10);
    if (errno != 0 || end == begin || *end != '\0') return false;
    if (parsed < low || parsed > high) return false;
    *value = parsed;
    return true;
}

bool parse_int_list(const std::string& text, std::size_t count, int64_t low, int64_t high,
                    std::vector<int64_t>* values) {
    values->clear();
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const std::string item =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        int64_t value = 0;
        if (!parse_int(item, low, high, &value)) return false;
        values->push_back(value);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return values->size() == count;
}
