#include "viewer/pane_thumbnail.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "viewer/dib_display.h"
#include "viewer/image_file.h"
#include "viewer/pane_geometry.h"
#include "viewer/pixel_raster.h"

namespace {

// Needed rows further apart than this are decoded in strips of their own rather than with
// the rows between them.
constexpr int32_t kLargestGap = 64;

// The source position nearest-neighbour drawing samples for destination index i.
int32_t SourceIndex(int32_t i, double scale, int32_t limit) {
    const int32_t position = TruncateToInt32(double(i) * scale);
    return std::clamp(position, 0, limit - 1);
}

}  // namespace

std::unique_ptr<PixelRaster> ReadPaneThumbnail(const ImageFile& image,
                                               const PaneGeometry& geometry) {
    const int32_t level = image.GetLevelCount();
    const int32_t width = image.GetWidthAtScale(level);
    const int32_t height = image.GetHeightAtScale(level);
    const int32_t planes = image.GetPlaneCount();
    if ((planes != 1 && planes != 3) || width <= 0 || height <= 0) return nullptr;
    const int64_t rowBytes = (int64_t(width) + 1) * planes;
    if (rowBytes > kThumbnailStripBytes) return nullptr;

    const double scale = geometry.Scale();
    const int32_t rows = WorkingLength(height, scale);
    const int32_t cols = WorkingLength(width, scale);
    if (rows <= 0 || cols <= 0) return nullptr;
    auto reduced = std::make_unique<PixelRaster>(rows, cols, planes == 1);
    std::vector<int32_t> columns(static_cast<size_t>(cols));
    for (int32_t j = 0; j < cols; ++j) columns[size_t(j)] = SourceIndex(j, scale, width);

    const int32_t stripRows =
        static_cast<int32_t>(std::min<int64_t>(kThumbnailStripBytes / rowBytes - 1, height));
    int32_t i = 0;
    while (i < rows) {
        // One strip from the next needed row to the last needed row that is near enough.
        const int32_t first = SourceIndex(i, scale, height);
        int32_t last = first;
        int32_t end = i + 1;
        while (end < rows) {
            const int32_t next = SourceIndex(end, scale, height);
            if (next - last > kLargestGap || next - first >= std::max(stripRows, 1)) break;
            last = next;
            ++end;
        }
        std::unique_ptr<PixelRaster> strip = image.ReadRegion(0, first, width, last + 1, level);
        if (strip == nullptr) return nullptr;
        for (; i < end; ++i) {
            const uint8_t* source = strip->Row(SourceIndex(i, scale, height) - first);
            uint8_t* target = reduced->Row(i);
            for (int32_t j = 0; j < cols; ++j) {
                std::memcpy(target + size_t(j) * size_t(planes),
                            source + size_t(columns[size_t(j)]) * size_t(planes), size_t(planes));
            }
        }
    }
    return reduced;
}
