// The GDAL dataset of a Kavel file: one Byte band per plane, the scales 1..L as overviews, and
// reads that map a requested window onto one decode of the library.
//
//   dataset (scale 0)  --  bands 1..P (grey, or red, green, blue)
//     overview k (k = 1..L)  =  a dataset of the same image at scale k, sharing the handle
//
// A dataset-level read of a window at its own size is one kavel_decode (in strips of about
// 16 MB for large windows), pixel-interleaved, straight into the caller's buffer when its layout
// is the decoder's; a smaller buffer (resampled read) is served from the overview at the
// coarsest sufficient scale, which is how GDAL reads GeoTIFF overviews. Block reads (256 x 256)
// decode all planes once and fill the other bands' blocks too.
#pragma once

#include <gdal_pam.h>

#include <memory>
#include <vector>

#include "kavel/kavel.h"

namespace kavel_gdal {

using ImageHandle = std::shared_ptr<kavel_image>;

class KavelDataset final : public GDALPamDataset {
  public:
    // The dataset of image at scale (0 for the one GDAL opens).
    KavelDataset(ImageHandle image, const kavel_info& info, int scale);

    static int Identify(GDALOpenInfo* open_info);
    static GDALDataset* Open(GDALOpenInfo* open_info);

    int scale() const { return scale_; }
    int overview_count() const { return static_cast<int>(overviews_.size()); }
    KavelDataset* overview(int index) const;

    // Decodes window (inclusive, pixels at this dataset's scale) into buffer: rows of planes x
    // columns bytes, stride bytes apart. On failure reports the library's reason with CPLError.
    CPLErr decode(const kavel_window& window, uint8_t* buffer, size_t stride) const;

  protected:
    CPLErr IRasterIO(GDALRWFlag flag, int x_offset, int y_offset, int x_size, int y_size,
                     void* data, int buffer_x_size, int buffer_y_size, GDALDataType buffer_type,
                     int band_count, int* band_map, GSpacing pixel_space, GSpacing line_space,
                     GSpacing band_space, GDALRasterIOExtraArg* extra) override;

  private:
    CPLErr read_window(int x_offset, int y_offset, int x_size, int y_size, void* data,
                       GDALDataType buffer_type, int band_count, const int* band_map,
                       GSpacing pixel_space, GSpacing line_space, GSpacing band_space,
                       GDALRasterIOExtraArg* extra) const;

    ImageHandle image_;
    kavel_info info_;
    int scale_ = 0;
    std::vector<std::unique_ptr<KavelDataset>> overviews_;
};

class KavelRasterBand final : public GDALPamRasterBand {
  public:
    KavelRasterBand(KavelDataset* dataset, int band, int planes);

    GDALColorInterp GetColorInterpretation() override;
    int GetOverviewCount() override;
    GDALRasterBand* GetOverview(int index) override;

  protected:
    CPLErr IReadBlock(int block_x, int block_y, void* data) override;

  private:
    int planes_;
};

// Registers the driver "KAVEL" with GDAL (once).
void register_kavel_driver();

}  // namespace kavel_gdal
