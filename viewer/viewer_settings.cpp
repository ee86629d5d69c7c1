#include "viewer/viewer_settings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "viewer/image_file.h"
#include "viewer/pane_geometry.h"

int32_t RatioDenominator(int32_t scale) { return TruncateToInt32(std::pow(2.0, scale)); }

std::string RatioEntryText(int32_t scale, int32_t width, int32_t height) {
    char text[96];
    std::snprintf(text, sizeof text, "1:%d%s%d X %d", RatioDenominator(scale),
                  scale < 4 ? "        " : "      ", width, height);
    return text;
}

int32_t ChooseThumbnailScale(const ImageFile& image, int32_t paneWidth, int32_t paneHeight) {
    const int32_t levels = image.GetLevelCount();
    for (int32_t n = levels; n >= 0; --n) {
        if (paneWidth < image.GetWidthAtScale(n) || paneHeight < image.GetHeightAtScale(n)) {
            return n;
        }
    }
    return levels;
}

std::string MemoryEstimateSuffix(double bytes) {
    char text[64];
    const double kilobytes = bytes / 1024;
    if (kilobytes >= 0 && kilobytes < 1000) {
        std::snprintf(text, sizeof text, "(%dK)", TruncateToInt32(kilobytes));
    } else {
        const double megabytes = kilobytes / 1024;
        if (megabytes <= 25) {
            std::snprintf(text, sizeof text, "(%3.2fM)", megabytes);
        } else {
            std::snprintf(text, sizeof text, "(%7.2fM !!!)", megabytes);
        }
    }
    return text;
}

std::string CaptionWithoutEstimate(const std::string& caption) {
    const size_t bracket = caption.find('(');
    return bracket == std::string::npos ? caption : caption.substr(0, bracket);
}

std::string FullViewCaption(const std::string& path) {
    if (path.size() <= 20) return path;
    const size_t separator = path.find_last_of("\\/");
    if (separator == std::string::npos || separator + 1 >= path.size()) return path;
    return path.substr(separator + 1);
}

namespace {

// One side of the crop: start at centre - length / 2, moved into 0..size when it fits.
int32_t CropStart(int32_t centre, int32_t length, int32_t size) {
    int64_t start = int64_t(centre) - length / 2;
    if (length <= size) start = std::clamp<int64_t>(start, 0, int64_t(size) - length);
    return static_cast<int32_t>(std::clamp<int64_t>(start, INT32_MIN, INT32_MAX - int64_t(length)));
}

}  // namespace

platform::Rect CropAroundCentre(platform::Point centre, int32_t w, int32_t h, int32_t width,
                                int32_t height) {
    const int32_t left = CropStart(centre.x, w, width);
    const int32_t top = CropStart(centre.y, h, height);
    return platform::Rect{left, top, left + w, top + h};
}
