// A libkavel byte source over one of GDAL's virtual files (VSILFILE), so that local files,
// /vsimem/, /vsizip/, /vsicurl/ and /vsis3/ all decode through the same reader: the library asks
// for byte ranges, GDAL's virtual file layer fetches them (HTTP range requests for remote files,
// several ranges in one call through VSIFReadMultiRangeL).
#pragma once

#include <cpl_vsi.h>

#include "kavel/kavel.h"

namespace kavel_gdal {

// Opens the Kavel image in file (opened from path), read through a kavel_reader that owns file
// (kavel_close closes it). Network files (not VSIIsLocal) are read through a BlockCache. The
// reader may be called from several threads at once: reads are serialised, as a VSILFILE has
// one position. On failure returns the library's status (KAVEL_ERROR_IO with no message when
// the file's size cannot be found), sets *image to null and has closed file.
kavel_status open_vsi_image(VSILFILE* file, const char* path, kavel_image** image);

}  // namespace kavel_gdal
