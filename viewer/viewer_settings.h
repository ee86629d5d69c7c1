// The viewer dialog's rules that need no window: the ratio list's texts, the thumbnail
// scale, the memory estimate, the limits of typed values, the caption of the full view.
#pragma once

#include <cstdint>
#include <string>

#include "platform/geometry.h"

class ImageFile;

// 2^i as the ratio list and menu show it.
int32_t RatioDenominator(int32_t scale);

// "1:%d%s%d X %d": the ratio, eight blanks (six from 1:16 on), width and height at the scale.
std::string RatioEntryText(int32_t scale, int32_t width, int32_t height);

// The coarsest scale n <= L at which the image is wider or higher than the pane; L when the
// whole image fits the pane even at full resolution.
int32_t ChooseThumbnailScale(const ImageFile& image, int32_t paneWidth, int32_t paneHeight);

// The estimate appended to the output group's caption: "(%dK)" below 1000 K, else
// "(%3.2lfM)" up to 25 M and "(%7.2lfM !!!)" beyond.
std::string MemoryEstimateSuffix(double bytes);
// The caption without an earlier estimate: cut at its first "(".
std::string CaptionWithoutEstimate(const std::string& caption);

// The first crop size the host cannot take, and what the output group's caption adds while
// such a crop disables OK.
constexpr int32_t kRefusedCropSize = 32767;
constexpr const char* kCropTooLargeNote = " too large (max 32766)";
// Typed crop sizes below 1 become 1; resolutions are kept within 1..9999 pixels per inch.
constexpr int32_t kMinimumCrop = 1;
constexpr int32_t kMinimumResolution = 1;
constexpr int32_t kMaximumResolution = 9999;

// The crop of w x h around centre, in an image of width x height: left = x - w / 2 and
// top = y - h / 2, then shifted (never shrunk) into the image in each direction where it fits.
platform::Rect CropAroundCentre(platform::Point centre, int32_t w, int32_t h, int32_t width,
                                int32_t height);

// The full view's caption for a path: the path itself when it has at most 20 characters,
// else the part after the last separator ('\' or '/') if there is one with something after
// it.
std::string FullViewCaption(const std::string& path);
