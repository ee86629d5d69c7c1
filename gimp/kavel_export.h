// Writing GIMP images as Kavel files with the encoder.
#pragma once

#include <libgimp/gimp.h>

#include <cstdint>

// What the export asks for; kept between exports as the procedure's last values. Zero stands
// for the default in both fields: GIMP's own file-save call fills the parameters it does not
// know with zeros.
struct ExportSettings {
    double quality = 75.0;  // 1..100, 100 finest; 0: 75
    int32_t levels = 0;     // wavelet levels 1..; 0 or less: the default for the image's size
};

// The settings dialog of an interactive export; false when the user cancelled. Levels 0 shows
// the default for a picture of width x height.
bool RunExportDialog(int32_t width, int32_t height, ExportSettings* settings);

// Writes the drawable (grey, or RGB for every other kind; alpha is dropped) to filename.
bool ExportDrawable(gint32 drawable, const char* filename, const ExportSettings& settings,
                    GError** error);
