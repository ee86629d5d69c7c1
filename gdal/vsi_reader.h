// A libkavel byte source over one of GDAL's virtual files (VSILFILE), so that local files,
// /vsimem/, /vsizip/, /vsicurl/ and /vsis3/ all decode through the same reader: the library asks
// for byte ranges, GDAL's virtual file layer fetches them (HTTP range requests for remote files,
// several ranges in one call through VSIFReadMultiRangeL).
#pragma once

#include <cpl_vsi.h>

#include "kavel/kavel.h"

namespace kavel_gdal {

// Makes a reader that owns file (closed by the reader's close callback, which kavel_close calls).
// The reader may be called from several threads at once: reads are serialised, as a VSILFILE
// has one position. Returns false (and closes file) when the file's size cannot be found; the
// reason is then reported with CPLError.
bool make_vsi_reader(VSILFILE* file, kavel_reader* reader);

}  // namespace kavel_gdal
