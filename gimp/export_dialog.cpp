// The export's settings dialog: quality and wavelet levels.
#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include "encode/encoder.h"
#include "gimp/kavel_export.h"
#include "gimp/procedure_names.h"

bool RunExportDialog(int32_t width, int32_t height, ExportSettings* settings) {
    const int32_t automatic = kavel::default_level_count(width, height);
    const int32_t most = kavel::max_level_count(width, height);
    GtkWidget* dialog = gimp_export_dialog_new("Kavel", KAVEL_PLUG_IN_BINARY, KAVEL_SAVE_PROC);
    GtkWidget* table = gtk_table_new(2, 3, FALSE);
    gtk_table_set_col_spacings(GTK_TABLE(table), 6);
    gtk_table_set_row_spacings(GTK_TABLE(table), 6);
    gtk_container_set_border_width(GTK_CONTAINER(table), 12);
    gtk_box_pack_start(GTK_BOX(gimp_export_dialog_get_content_area(dialog)), table, TRUE, TRUE, 0);

    GtkObject* quality = gimp_scale_entry_new(
        GTK_TABLE(table), 0, 0, "_Quality:", 160, 0,
        settings->quality >= 1.0 ? settings->quality : 75.0, 1.0, 100.0, 1.0, 10.0, 0, TRUE, 0.0,
        0.0, "100 is nearly lossless; 75 about 1.5 bits per pixel on photographs", nullptr);
    const double shownLevels =
        settings->levels > 0 && settings->levels <= most ? settings->levels : automatic;
    GtkObject* levels = gimp_scale_entry_new(
        GTK_TABLE(table), 0, 1, "_Levels:", 160, 0, shownLevels, most >= 1 ? 1.0 : 0.0,
        double(most), 1.0, 1.0, 0, TRUE, 0.0, 0.0,
        "Wavelet levels: the file can be read at scales 1:1 to 1:2^levels", nullptr);
    gtk_widget_show(table);

    const bool confirmed = gimp_dialog_run(GIMP_DIALOG(dialog)) == GTK_RESPONSE_OK;
    if (confirmed) {
        settings->quality = gtk_adjustment_get_value(GTK_ADJUSTMENT(quality));
        const int32_t chosen =
            static_cast<int32_t>(gtk_adjustment_get_value(GTK_ADJUSTMENT(levels)) + 0.5);
        // Left at this picture's default: the next picture gets its own default.
        settings->levels = chosen == automatic ? 0 : chosen;
    }
    gtk_widget_destroy(dialog);
    return confirmed;
}
