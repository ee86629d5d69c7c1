// The application object of one read: created by the prepare selector, deleted after the
// finish selector. It owns the opened file and carries the region, scale and resolution the
// viewer dialog chose from prepare to continue.
#pragma once

#include <cstdint>
#include <memory>

#include "viewer/image_file.h"
#include "platform/application.h"
#include "platform/host_interface.h"

class PluginApp : public platform::Application {
  public:
    PluginApp();
    ~PluginApp() override;

    // Opens the file the host names, refuses images that are neither grey nor colour, runs
    // the viewer dialog. 0 to go on; 1 when the user cancelled or has been told why not.
    int16_t DoReadPrepare(FormatRecord* format);
    // Describes the region to the host: mode, size, depth, resolution. Always 0.
    int16_t DoReadStart(FormatRecord* format);
    // Delivers the region in tiles of 256 x 256; 0, or the first error.
    int16_t DoReadContinue(FormatRecord* format);
    // The result of the last continue.
    int16_t DoReadFinish(FormatRecord* format);
    // Runs the viewer dialog modally: 0 when it ended with OK, else 1.
    int16_t RunViewerDialog();

    void SetResolution(int32_t value) { resolution = value; }
    int32_t GetResolution() const { return resolution; }

    std::unique_ptr<ImageFile> image;
    // The region to deliver, in pixels of the chosen scale; right and bottom one past it.
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    int32_t scale = 2;
    // Result of the selector being served; while tiles are delivered, also the stop flag.
    int32_t result = 0;
    int32_t tileHeight = 0;
    int32_t tileWidth = 0;
    int32_t resolution = 72;
};

// The live application object; null while no read is in progress.
extern PluginApp* gPluginApp;

// Shows the about box; needs no application object.
int16_t DoAbout(const AboutRecord* about);
