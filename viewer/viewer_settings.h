// The viewer dialog's rules that need no window: the ratio list's texts, the thumbnail
// scale, the memory estimate, the limits of typed values, the caption of the full view.
#pragma once

#include <cstdint>
#include <string>

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

// The first crop size the host cannot take.
constexpr int32_t kRefusedCropSize = 32767;
// Typed crop sizes below 1 become 1; resolutions are kept within 1..9999 pixels per inch.
constexpr int32_t kMinimumCrop = 1;
constexpr int32_t kMinimumResolution = 1;
constexpr int32_t kMaximumResolution = 9999;

// The full view's caption for a path: the path itself when it has at most 20 characters,
// else the part after the last separator ('\' or '/') if there is one with something after
// it.
std::string FullViewCaption(const std::string& path);
