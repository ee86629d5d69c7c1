#include "gimp/plugin_error.h"

GQuark PluginErrorQuark() { return g_quark_from_static_string("file-kavel-error-quark"); }

void SetFileError(GError** error, const char* action, const char* filename, const char* reason) {
    gchar* name = g_filename_display_name(filename);
    g_set_error(error, PluginErrorQuark(), 0, "Could not %s '%s': %s", action, name, reason);
    g_free(name);
}
