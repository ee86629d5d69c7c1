// Kavel files made from the photographs in data/, enlarged so that the viewer shows them at
// a readable preview scale: for the screenshots of the viewer and for its tests.
#pragma once

#include <cstdint>
#include <string>

struct SampleFile {
    std::string photograph;  // a PNG file Qt can read
    int32_t width = 0;       // the size the photograph is scaled to (smoothly)
    int32_t height = 0;
    bool grey = false;      // stored as grey even if the photograph has colour
    double quality = 80.0;  // the encoder's quality setting, 1..100
};

// Writes the sample as a Kavel file at path; false with *error set when the photograph
// cannot be read or the file cannot be written.
bool MakeSampleFile(const SampleFile& sample, const std::string& path, std::string* error);
