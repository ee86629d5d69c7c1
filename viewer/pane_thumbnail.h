// The full view's picture of the whole image, read in bounded memory: the image at the
// thumbnail scale is decoded a strip of rows at a time and reduced at once to the pane's
// scale, so that neither the whole thumbnail nor more than one strip is ever held.
#pragma once

#include <cstdint>
#include <memory>

class ImageFile;
class PaneGeometry;
class PixelRaster;

// At most this many bytes of decoded pixels are held at once (one strip; a strip holds at
// least one row). An image whose one row at the thumbnail scale is larger is too large to
// show.
constexpr int64_t kThumbnailStripBytes = int64_t(16) << 20;

// The whole image at the thumbnail scale (the image's level count) as the pane shows it with
// geometry (set up on the pane and the image's bounds at that scale): the same pixels that
// drawing the whole thumbnail would put there, already reduced. Null when the image is too
// large to show or nothing of it would be drawn.
std::unique_ptr<PixelRaster> ReadPaneThumbnail(const ImageFile& image,
                                               const PaneGeometry& geometry);
