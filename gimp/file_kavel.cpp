// file-kavel: the GIMP 2.10 plug-in for Kavel files. It registers
//   file-kavel-load         *.kvl and the magic "kvel" at offset 0; interactively the viewer
//                           dialog of KAVEL.8bi picks scale, crop and resolution, otherwise
//                           the whole image at full size
//   file-kavel-load-region  any window at any scale, for scripts
//   file-kavel-load-thumb   previews in the Open dialog from the coarsest scale large enough
//   file-kavel-save         export with the encoder (quality, levels)
#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include "gimp/kavel_export.h"
#include "gimp/library_load.h"
#include "gimp/procedure_names.h"
#include "gimp/viewer_load.h"

namespace {

GimpParamDef Param(GimpPDBArgType type, const char* name, const char* description) {
    return GimpParamDef{type, const_cast<gchar*>(name), const_cast<gchar*>(description)};
}

void Install(const char* name, const char* blurb, const char* help, const char* menuLabel,
             const char* imageTypes, const GimpParamDef* args, int nargs,
             const GimpParamDef* results, int nresults) {
    gimp_install_procedure(name, blurb, help, "Kavel developers", "Kavel developers", "2026",
                           menuLabel, imageTypes, GIMP_PLUGIN, nargs, nresults, args, results);
}

void Query() {
    const GimpParamDef runMode = Param(GIMP_PDB_INT32, "run-mode",
                                       "The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE "
                                       "(1), RUN-WITH-LAST-VALS (2) }");
    const GimpParamDef filename = Param(GIMP_PDB_STRING, "filename", "The name of the file");
    const GimpParamDef rawFilename =
        Param(GIMP_PDB_STRING, "raw-filename", "The name of the file as entered");
    const GimpParamDef imageResult = Param(GIMP_PDB_IMAGE, "image", "The new image");

    const GimpParamDef loadArgs[] = {runMode, filename, rawFilename};
    Install(KAVEL_LOAD_PROC, "Opens Kavel images",
            "Interactively the viewer dialog of the Kavel module (KAVEL.8bi) chooses the scale, "
            "the crop and the resolution; otherwise the whole image is opened at full size.",
            "Kavel image", nullptr, loadArgs, G_N_ELEMENTS(loadArgs), &imageResult, 1);
    gimp_register_file_handler_mime(KAVEL_LOAD_PROC, KAVEL_MIME_TYPE);
    gimp_register_magic_load_handler(KAVEL_LOAD_PROC, "kvl", "", "0,string,kvel");

    const GimpParamDef regionArgs[] = {
        runMode,
        filename,
        Param(GIMP_PDB_INT32, "scale", "The scale s: the image at 1:2^s (0 is full size)"),
        Param(GIMP_PDB_INT32, "x0", "Left column of the window, in pixels at the scale"),
        Param(GIMP_PDB_INT32, "y0", "Top row of the window"),
        Param(GIMP_PDB_INT32, "x1", "Right column of the window (included)"),
        Param(GIMP_PDB_INT32, "y1", "Bottom row of the window (included)"),
    };
    Install(KAVEL_LOAD_REGION_PROC, "Opens a window of a Kavel image at a scale",
            "Decodes only the pixels x0..x1, y0..y1 (bounds included) of the image at 1:2^scale; "
            "parts of the window beyond the image are black.",
            nullptr, nullptr, regionArgs, G_N_ELEMENTS(regionArgs), &imageResult, 1);

    const GimpParamDef thumbArgs[] = {
        filename, Param(GIMP_PDB_INT32, "thumb-size", "Preferred thumbnail size")};
    const GimpParamDef thumbResults[] = {
        Param(GIMP_PDB_IMAGE, "image", "Thumbnail image"),
        Param(GIMP_PDB_INT32, "image-width", "Width of the full-sized image"),
        Param(GIMP_PDB_INT32, "image-height", "Height of the full-sized image"),
        Param(GIMP_PDB_INT32, "image-type", "Type of the image"),
        Param(GIMP_PDB_INT32, "num-layers", "Number of layers"),
    };
    Install(KAVEL_LOAD_THUMB_PROC, "Loads a preview of a Kavel image",
            "Decodes the coarsest scale whose longer side is at least thumb-size pixels.", nullptr,
            nullptr, thumbArgs, G_N_ELEMENTS(thumbArgs), thumbResults, G_N_ELEMENTS(thumbResults));
    gimp_register_thumbnail_loader(KAVEL_LOAD_PROC, KAVEL_LOAD_THUMB_PROC);

    const GimpParamDef saveArgs[] = {
        runMode,
        Param(GIMP_PDB_IMAGE, "image", "Input image"),
        Param(GIMP_PDB_DRAWABLE, "drawable", "Drawable to export"),
        filename,
        rawFilename,
        Param(GIMP_PDB_FLOAT, "quality", "Quality 1..100 (100 finest); 0 for the default, 75"),
        Param(GIMP_PDB_INT32, "levels",
              "Wavelet levels (the file holds scales 0..levels); 0 for the default of the image's "
              "size"),
    };
    Install(KAVEL_SAVE_PROC, "Exports images as Kavel files",
            "Grey images are written grey, all others as RGB; alpha is dropped.", "Kavel image",
            "RGB*, GRAY*, INDEXED*", saveArgs, G_N_ELEMENTS(saveArgs), nullptr, 0);
    gimp_register_file_handler_mime(KAVEL_SAVE_PROC, KAVEL_MIME_TYPE);
    gimp_register_save_handler(KAVEL_SAVE_PROC, "kvl", "");
}

// What a procedure gives back: its status, an error for GIMP to show on failure, and its
// results after the status.
GimpParam gResults[6];

struct Outcome {
    GimpPDBStatusType status = GIMP_PDB_SUCCESS;
    GError* error = nullptr;
    int results = 0;  // in gResults[1...]
};

Outcome Failure(GError* error) { return Outcome{GIMP_PDB_EXECUTION_ERROR, error, 0}; }

Outcome ImageResult(gint32 image) {
    gResults[1].type = GIMP_PDB_IMAGE;
    gResults[1].data.d_image = image;
    return Outcome{GIMP_PDB_SUCCESS, nullptr, 1};
}

Outcome RunLoad(const GimpParam* params, int count) {
    if (count != 3) return Outcome{GIMP_PDB_CALLING_ERROR, nullptr, 0};
    const auto mode = static_cast<GimpRunMode>(params[0].data.d_int32);
    const char* filename = params[1].data.d_string;
    GError* error = nullptr;
    gint32 image = -1;
    if (mode == GIMP_RUN_INTERACTIVE) {
        switch (LoadThroughViewer(filename, gimp_progress_get_window_handle(), &image, &error)) {
            case ViewerLoadResult::loaded:
                return ImageResult(image);
            case ViewerLoadResult::cancelled:
                return Outcome{GIMP_PDB_CANCEL, nullptr, 0};
            case ViewerLoadResult::failed:
                return Failure(error);
        }
    }
    // Scripts and batch runs: no dialog, the whole image at full size.
    image = LoadWholeImage(filename, &error);
    return image == -1 ? Failure(error) : ImageResult(image);
}

Outcome RunLoadRegion(const GimpParam* params, int count) {
    if (count != 7) return Outcome{GIMP_PDB_CALLING_ERROR, nullptr, 0};
    const ScaledWindow window{params[2].data.d_int32, params[3].data.d_int32,
                              params[4].data.d_int32, params[5].data.d_int32,
                              params[6].data.d_int32};
    GError* error = nullptr;
    const gint32 image = LoadWindow(params[1].data.d_string, window, &error);
    return image == -1 ? Failure(error) : ImageResult(image);
}

Outcome RunLoadThumbnail(const GimpParam* params, int count) {
    if (count != 2) return Outcome{GIMP_PDB_CALLING_ERROR, nullptr, 0};
    GError* error = nullptr;
    const Thumbnail thumbnail =
        LoadThumbnail(params[0].data.d_string, params[1].data.d_int32, &error);
    if (thumbnail.image == -1) return Failure(error);
    ImageResult(thumbnail.image);
    gResults[2].type = GIMP_PDB_INT32;
    gResults[2].data.d_int32 = thumbnail.width;
    gResults[3].type = GIMP_PDB_INT32;
    gResults[3].data.d_int32 = thumbnail.height;
    gResults[4].type = GIMP_PDB_INT32;
    gResults[4].data.d_int32 = thumbnail.planes == 3 ? GIMP_RGB_IMAGE : GIMP_GRAY_IMAGE;
    gResults[5].type = GIMP_PDB_INT32;
    gResults[5].data.d_int32 = 1;
    return Outcome{GIMP_PDB_SUCCESS, nullptr, 5};
}

Outcome RunSave(const GimpParam* params, int count) {
    const auto mode = static_cast<GimpRunMode>(params[0].data.d_int32);
    gint32 image = params[1].data.d_image;
    gint32 drawable = params[2].data.d_drawable;
    const char* filename = params[3].data.d_string;
    ExportSettings settings;
    if (mode == GIMP_RUN_NONINTERACTIVE) {
        if (count != 7) return Outcome{GIMP_PDB_CALLING_ERROR, nullptr, 0};
        settings.quality = params[5].data.d_float;
        settings.levels = params[6].data.d_int32;
    } else {
        gimp_get_data(KAVEL_SAVE_PROC, &settings);
    }
    GimpExportReturn exported = GIMP_EXPORT_IGNORE;
    if (mode == GIMP_RUN_INTERACTIVE) {
        gimp_ui_init(KAVEL_PLUG_IN_BINARY, FALSE);
        exported = gimp_export_image(&image, &drawable, "Kavel",
                                     static_cast<GimpExportCapabilities>(
                                         GIMP_EXPORT_CAN_HANDLE_RGB | GIMP_EXPORT_CAN_HANDLE_GRAY));
        if (exported == GIMP_EXPORT_CANCEL) return Outcome{GIMP_PDB_CANCEL, nullptr, 0};
        if (!RunExportDialog(gimp_drawable_width(drawable), gimp_drawable_height(drawable),
                             &settings)) {
            if (exported == GIMP_EXPORT_EXPORT) gimp_image_delete(image);
            return Outcome{GIMP_PDB_CANCEL, nullptr, 0};
        }
    }
    GError* error = nullptr;
    const bool written = ExportDrawable(drawable, filename, settings, &error);
    if (exported == GIMP_EXPORT_EXPORT) gimp_image_delete(image);
    if (!written) return Failure(error);
    if (mode != GIMP_RUN_NONINTERACTIVE) gimp_set_data(KAVEL_SAVE_PROC, &settings, sizeof settings);
    return Outcome{};
}

void Run(const gchar* name, gint count, const GimpParam* params, gint* resultCount,
         GimpParam** results) {
    Outcome outcome{GIMP_PDB_CALLING_ERROR, nullptr, 0};
    if (g_strcmp0(name, KAVEL_LOAD_PROC) == 0) {
        outcome = RunLoad(params, count);
    } else if (g_strcmp0(name, KAVEL_LOAD_REGION_PROC) == 0) {
        outcome = RunLoadRegion(params, count);
    } else if (g_strcmp0(name, KAVEL_LOAD_THUMB_PROC) == 0) {
        outcome = RunLoadThumbnail(params, count);
    } else if (g_strcmp0(name, KAVEL_SAVE_PROC) == 0 && count >= 5) {
        outcome = RunSave(params, count);
    }
    gResults[0].type = GIMP_PDB_STATUS;
    gResults[0].data.d_status = outcome.status;
    *resultCount = 1 + outcome.results;
    if (outcome.error != nullptr) {
        gResults[1].type = GIMP_PDB_STRING;
        gResults[1].data.d_string = g_strdup(outcome.error->message);
        *resultCount = 2;
        g_error_free(outcome.error);
    }
    *results = gResults;
}

}  // namespace

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, Query, Run};

MAIN()
