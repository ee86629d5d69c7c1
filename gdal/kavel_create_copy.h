// Writing Kavel files from any GDAL dataset (gdal_translate -of KAVEL in.tif out.kvl).
#pragma once

#include <gdal_priv.h>

namespace kavel_gdal {

// The driver's creation options, as GDAL lists them.
extern const char kCreationOptionList[];

// GDAL's CreateCopy: encodes the first 1 or 3 Byte bands of source (a fourth or second band,
// taken for alpha, is dropped with a warning; other types are converted to Byte, or refused in
// strict mode) with the options QUALITY=1..100, BPP=B or LEVELS=L, writes the file through
// the virtual file layer and opens it. On failure reports the reason with CPLError, returns
// null and leaves no file.
GDALDataset* create_copy(const char* filename, GDALDataset* source, int strict, char** options,
                         GDALProgressFunc progress, void* progress_data);

}  // namespace kavel_gdal
