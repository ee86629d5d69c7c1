#include "gimp/viewer_load.h"

#include <string>
#include <vector>

#include "gimp/dialog_parent.h"
#include "gimp/new_gimp_image.h"
#include "gimp/plugin_error.h"
#include "host/plugin_host/host_session.h"
#include "host/plugin_host/module_catalogue.h"
#include "host/plugin_host/module_loader.h"

#ifndef KAVEL_DEFAULT_PLUGIN_DIR
#define KAVEL_DEFAULT_PLUGIN_DIR ""
#endif

namespace {

std::vector<std::string> ModuleFolders() {
    std::vector<std::string> folders;
    if (const char* folder = g_getenv("KAVEL_PLUGIN_DIR"); folder != nullptr && *folder != '\0')
        folders.emplace_back(folder);
    if (gchar* program = g_file_read_link("/proc/self/exe", nullptr); program != nullptr) {
        gchar* folder = g_path_get_dirname(program);
        folders.emplace_back(folder);
        g_free(folder);
        g_free(program);
    }
    if (*KAVEL_DEFAULT_PLUGIN_DIR != '\0') folders.emplace_back(KAVEL_DEFAULT_PLUGIN_DIR);
    return folders;
}

// Loads the first module that reads .kvl files and loads, looking through the folders in
// order; otherwise says what was searched and what failed.
bool LoadKavelModule(LoadedModule* loaded, std::string* problem) {
    std::string searched;
    for (const std::string& folder : ModuleFolders()) {
        if (!g_file_test(folder.c_str(), G_FILE_TEST_IS_DIR)) continue;
        const std::vector<CatalogueEntry> catalogue = ReadCatalogue(folder);
        for (const CatalogueEntry* module : FindReaders(catalogue, "kvl")) {
            std::string reason;
            if (LoadModule(*module, loaded, &reason)) return true;
            *problem += reason + "; ";
        }
        searched += (searched.empty() ? "" : ", ") + folder;
    }
    *problem += "no module that reads Kavel files (KAVEL.8bi) loads from " +
                (searched.empty() ? std::string("any folder") : searched) +
                "; it belongs next to file-kavel in GIMP's plug-in folder";
    return false;
}

}  // namespace

ViewerLoadResult LoadThroughViewer(const char* filename, uint32_t parentWindow, gint32* image,
                                   GError** error) {
    *image = -1;
    // Made before the module is loaded and gone after it is unloaded.
    DialogParent dialogParent(parentWindow);
    LoadedModule loaded;
    std::string reason;
    if (!LoadKavelModule(&loaded, &reason)) {
        g_set_error(error, PluginErrorQuark(), 0, "%s", reason.c_str());
        return ViewerLoadResult::failed;
    }
    HostDocument document;
    const ReadOutcome outcome = RunRead(loaded.entry, filename, HostFaults{}, false, &document);
    // A positive result: the user cancelled, or the module has already said why it stopped.
    if (outcome.result > 0) return ViewerLoadResult::cancelled;
    if (outcome.result != 0) {
        reason = std::string(outcome.stage) + ": " + DescribeResult(outcome.result);
        SetFileError(error, "open", filename, reason.c_str());
        return ViewerLoadResult::failed;
    }
    NewGimpImage target(document.columns, document.rows, document.planes, filename);
    if (!target.valid()) {
        g_set_error(error, PluginErrorQuark(), 0, "GIMP could not make a %d x %d image",
                    document.columns, document.rows);
        return ViewerLoadResult::failed;
    }
    target.WriteRows(0, document.rows, document.pixels.data());
    *image = target.Release();
    gimp_image_set_resolution(*image, document.resolution, document.resolution);
    return ViewerLoadResult::loaded;
}
