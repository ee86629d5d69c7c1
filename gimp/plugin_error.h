// The errors file-kavel hands back to GIMP, which shows their message.
#pragma once

#include <glib.h>

GQuark PluginErrorQuark();

// Sets *error to "Could not <action> 'FILE': REASON", the file name as the user reads it.
void SetFileError(GError** error, const char* action, const char* filename, const char* reason);
