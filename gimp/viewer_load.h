// Opening a Kavel file the interactive way: GIMP plays the image editor that KAVEL.8bi is
// written for. The module is loaded through its only export and driven through the same read
// cycle as plugin-host; its viewer dialog opens over GIMP, and the region it delivers becomes
// the new image.
#pragma once

#include <glib.h>

#include <cstdint>

enum class ViewerLoadResult { loaded, cancelled, failed };

// Folders searched for the module, in order: $KAVEL_PLUGIN_DIR when set, the folder of the
// file-kavel program, then the folder the build or the installation put the module in.
// parentWindow: the native window the dialog stays above (0: none).
ViewerLoadResult LoadThroughViewer(const char* filename, uint32_t parentWindow, gint32* image,
                                   GError** error);
