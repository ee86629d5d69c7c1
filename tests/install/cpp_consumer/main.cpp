// A C++ program built against an installed libkavel with find_package(kavel): decodes one
// window from a path, from memory and from a reader through kavel.hpp, and writes each as raw
// bytes (PREFIX-path.raw, PREFIX-memory.raw, PREFIX-reader.raw).
// Usage: cpp_consumer FILE SCALE X0 Y0 X1 Y1 PREFIX
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include <kavel/kavel.hpp>

namespace {

void write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream out(name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + name);
}

}  // namespace

int main(int argc, char** argv) try {
    if (argc != 8) {
        std::cerr << "usage: cpp_consumer FILE SCALE X0 Y0 X1 Y1 PREFIX\n";
        return 2;
    }
    const int32_t scale = std::stoi(argv[2]);
    const kavel::Window window{std::stoi(argv[3]), std::stoi(argv[4]), std::stoi(argv[5]),
                               std::stoi(argv[6])};
    const std::string prefix = argv[7];

    write(prefix + "-path.raw", kavel::Image::open(argv[1]).decode(scale, window));

    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    write(prefix + "-memory.raw", kavel::Image::open_memory(bytes).decode(scale, window, 2));

    kavel::Reader reader{};
    reader.context = const_cast<std::vector<uint8_t>*>(&bytes);
    reader.size = bytes.size();
    reader.read_at = [](void* context, uint64_t offset, void* buffer, size_t length) -> int64_t {
        const auto& source = *static_cast<const std::vector<uint8_t>*>(context);
        if (offset >= source.size()) return 0;
        const size_t n = std::min<size_t>(length, source.size() - offset);
        std::memcpy(buffer, source.data() + offset, n);
        return static_cast<int64_t>(n);
    };
    write(prefix + "-reader.raw", kavel::Image::open_reader(reader).decode(scale, window));

    try {
        kavel::Image::open("/nonexistent/file.kvl");
        return 1;
    } catch (const kavel::Error& error) {
        if (error.status() != KAVEL_ERROR_IO) return 1;
    }
    return 0;
} catch (const std::exception& error) {
    std::cerr << error.what() << '\n';
    return 1;
}
