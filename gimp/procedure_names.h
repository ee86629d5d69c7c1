// The procedures file-kavel gives GIMP, and the names it goes by.
#pragma once

#define KAVEL_LOAD_PROC "file-kavel-load"
#define KAVEL_LOAD_REGION_PROC "file-kavel-load-region"
#define KAVEL_LOAD_THUMB_PROC "file-kavel-load-thumb"
#define KAVEL_SAVE_PROC "file-kavel-save"
#define KAVEL_PLUG_IN_BINARY "file-kavel"
#define KAVEL_MIME_TYPE "image/x-kavel"
