// Writes the module's Windows resource script and the files it names into a directory.
// Usage: resource_script_writer OUT_DIR CODE_KEY   (CODE_KEY "wx86" or "8664")
#include <cstdio>
#include <cstring>
#include <string>

#include "host/module_resources.h"
#include "host/property_list.h"
#include "host/resource_ids.h"
#include "platform/win32/resource_script.h"

namespace {

bool WriteFile(const std::string& path, const void* data, size_t size) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    const bool written = std::fwrite(data, 1, size, out) == size;
    return std::fclose(out) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || std::strlen(argv[2]) != 4) {
        std::fprintf(stderr, "usage: %s OUT_DIR CODE_KEY\n", argv[0]);
        return 2;
    }
    const std::string directory = argv[1];
    const platform::ResourceTable& table = ModuleResources();
    const std::vector<uint8_t> list = platform::PropertyListForCode(PropertyListBytes(), argv[2]);
    if (list.size() != kPropertyListSize) {
        std::fprintf(stderr, "%s: the property list has no code property\n", argv[0]);
        return 1;
    }
    bool ok = WriteFile(directory + "/KAVEL.pipl", list.data(), list.size());
    for (const platform::CursorResource& cursor : table.cursors) {
        const std::vector<uint8_t> file = platform::CursorFile(cursor);
        ok = ok && !file.empty() &&
             WriteFile(directory + "/cursor" + std::to_string(cursor.id) + ".cur", file.data(),
                       file.size());
    }
    const std::string script = platform::ResourceScript(table, IDR_PROPERTY_LIST, "KAVEL.pipl");
    ok = ok && WriteFile(directory + "/KAVEL.rc", script.data(), script.size());
    if (!ok) {
        std::fprintf(stderr, "%s: cannot write the resources into %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
