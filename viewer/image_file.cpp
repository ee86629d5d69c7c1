#include "viewer/image_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "format/image_header.h"
#include "format/region_decode.h"
#include "format/region_request.h"
#include "platform/message_box.h"
#include "viewer/pane_geometry.h"
#include "viewer/pixel_raster.h"

namespace {

// Halvings converge on 1 long before this; doublings have left the int range.
constexpr int32_t kMaxSteps = 64;

// Region rasters beyond this many bytes are refused rather than allocated.
constexpr int64_t kMaxRasterBytes = int64_t(1) << 30;

}  // namespace

ImageFile::ImageFile(const char* path) {
    const size_t length = path != nullptr ? std::strlen(path) : 0;
    bool readable = path != nullptr && length < sizeof path_;
    if (readable) {
        std::memcpy(path_, path, length);
        ImageHeader header{};
        source_ = open_image_source(path_, &header);
        readable = source_ != nullptr && header_is_usable(header);
        if (readable) {
            planes_ = header.planes;
            levels_ = header.levels;
            width_ = header.width;
            height_ = header.height;
        }
    }
    if (!readable) {
        source_.reset();
        planes_ = levels_ = width_ = height_ = 0;
        platform::MessageBeep(0);
    }
}

// Halving (v + 1) x 0.5 in double and truncating gives ceil(v / 2) for every v >= 0: the
// library's size at a scale.
int32_t ImageFile::GetWidthAtScale(int32_t scale) const { return size_at_scale(width_, scale); }

int32_t ImageFile::GetHeightAtScale(int32_t scale) const { return size_at_scale(height_, scale); }

platform::Rect ImageFile::GetBoundsAtScale(int32_t scale) const {
    return {0, 0, GetWidthAtScale(scale), GetHeightAtScale(scale)};
}

platform::Point ImageFile::ConvertPoint(int32_t x, int32_t y, int32_t from, int32_t to) {
    if (from == to) return {x, y};
    const int64_t difference = int64_t(from) - to;
    const double factor = difference < 0 ? 0.5 : 2.0;
    const int64_t steps = std::min<int64_t>(difference < 0 ? -difference : difference, kMaxSteps);
    double fx = x;
    double fy = y;
    for (int64_t step = 0; step < steps; ++step) fx = (fx + 1) * factor;
    for (int64_t step = 0; step < steps; ++step) fy = (fy + 1) * factor;
    return {TruncateToInt32(fx), TruncateToInt32(fy)};
}

platform::Rect ImageFile::ConvertRect(int32_t left, int32_t top, int32_t right, int32_t bottom,
                                      int32_t from, int32_t to) {
    const platform::Point topLeft = ConvertPoint(left, top, from, to);
    const platform::Point bottomRight = ConvertPoint(right, bottom, from, to);
    return {topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
}

bool ImageFile::Decode(int32_t scale, int32_t x0, int32_t x1, int32_t y0, int32_t y1,
                       int32_t stride, uint8_t* destination) const {
    if (source_ == nullptr) return false;
    RegionRequest* request = nullptr;
    if (make_region_request(*source_, &request, scale, x0, x1, y0, y1, stride) != 0) {
        if (request != nullptr) free_region_request(request);
        return false;
    }
    // The buffers were sized for the header read at the start: a file rewritten since with
    // other values is not decoded.
    if (request->planes != planes_ || request->levels < levels_ || request->width != width_ ||
        request->height != height_) {
        free_region_request(request);
        return false;
    }
    // A failed decode has already handed every block of the pool back, the request
    // included.
    if (decode_region(*source_, request, destination) != 0) return false;
    free_region_request(request);
    return true;
}

std::unique_ptr<PixelRaster> ImageFile::ReadThumbnail() const {
    const int32_t scale = levels_;
    const int32_t w = GetWidthAtScale(scale);
    const int32_t h = GetHeightAtScale(scale);
    if (!HasPixelLayout() || w <= 0 || h <= 0) return nullptr;
    if ((int64_t(h) + 1) * (int64_t(w) + 1) * planes_ > kMaxRasterBytes) return nullptr;
    auto raster = std::make_unique<PixelRaster>(h, w, planes_ == 1);
    Decode(scale, 0, w - 1, 0, h - 1, w * planes_, raster->Pixels());
    return raster;
}

std::unique_ptr<PixelRaster> ImageFile::ReadRegion(int32_t left, int32_t top, int32_t right,
                                                   int32_t bottom, int32_t scale) const {
    if (scale < 0 || scale > levels_ || !HasPixelLayout()) return nullptr;
    const int64_t cols = int64_t(right) - left;
    const int64_t rows = int64_t(bottom) - top;
    if (cols <= 0 || rows <= 0) return nullptr;
    if ((rows + 1) * (cols + 1) * planes_ > kMaxRasterBytes) return nullptr;
    auto raster = std::make_unique<PixelRaster>(static_cast<int32_t>(rows),
                                                static_cast<int32_t>(cols), planes_ == 1);
    // The window is inclusive and the stride one pixel short of a decoded row: each row's
    // extra pixel lands on the next row's first and is overwritten by it, and the extra row
    // lands in the raster's spare row.
    Decode(scale, left, right, top, bottom, static_cast<int32_t>(cols * planes_), raster->Pixels());
    return raster;
}

bool ImageFile::ReadRegionInto(int32_t rowWidth, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                               int32_t scale, uint8_t* buffer) const {
    if (scale < 0) return true;
    // A scale beyond the coarsest one read is read at that one: a tile is never left as it
    // was for a valid image.
    scale = std::min(scale, levels_);
    if (buffer == nullptr || !HasPixelLayout()) return false;
    return Decode(scale, x0, x1, y0, y1, static_cast<int32_t>(int64_t(rowWidth) * planes_), buffer);
}
