#include "host/plugin_host/pnm_output.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "host/plugin_host/host_session.h"

bool WriteDocumentPnm(const HostDocument& document, const std::string& path, std::string* error) {
    if ((document.planes != 1 && document.planes != 3) || document.rows <= 0 ||
        document.columns <= 0 ||
        document.pixels.size() !=
            size_t(document.rows) * size_t(document.columns) * size_t(document.planes)) {
        *error = "no picture to write";
        return false;
    }
    const std::string temporary = path + ".part";
    FILE* out = std::fopen(temporary.c_str(), "wb");
    if (out == nullptr) {
        *error = "cannot create " + temporary;
        return false;
    }
    bool ok = std::fprintf(out, "P%c\n# %d pixels/inch\n%d %d\n255\n",
                           document.planes == 3 ? '6' : '5', document.resolution,
                           document.columns, document.rows) > 0;
    ok = ok && std::fwrite(document.pixels.data(), 1, document.pixels.size(), out) ==
                   document.pixels.size();
    ok = std::fclose(out) == 0 && ok;
    std::error_code renamed;
    if (ok) std::filesystem::rename(temporary, path, renamed);
    if (!ok || renamed) {
        std::remove(temporary.c_str());
        *error = "cannot write " + path;
        return false;
    }
    return true;
}
