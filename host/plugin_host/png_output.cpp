#include "host/plugin_host/png_output.h"

#include "host/plugin_host/host_session.h"
#include "common/atomic_output.h"
#include "tools/common/png_stream_writer.h"

bool WriteDocumentPng(const HostDocument& document, const std::string& path, std::string* error) {
    if (document.rows <= 0 || document.columns <= 0 ||
        document.pixels.size() !=
            size_t(document.rows) * size_t(document.columns) * size_t(document.planes)) {
        *error = "the document is empty";
        return false;
    }
    kavel_common::AtomicOutput file(path);
    kavel_output::PngOptions options;
    options.pixels_per_inch = document.resolution;
    std::string reason;
    if (!file.open(&reason) ||
        !kavel_output::write_png(file.stream(), document.pixels.data(),
                                 uint32_t(document.columns), uint32_t(document.rows),
                                 document.planes, size_t(document.columns) * size_t(document.planes),
                                 options, &reason) ||
        !file.commit(&reason)) {
        *error = path + ": " + reason;
        return false;
    }
    return true;
}
