// QImageIOHandler for Kavel images: reads the header for size() without decoding, and decodes
// only what QImageReader asks for: the clip rectangle, at the coarsest scale 1:2^s that still
// gives at least the scaled size (the rest of the way is resampled smoothly).
#pragma once

#include <QImageIOHandler>
#include <QRect>
#include <QSize>
#include <memory>

#include "device_source.h"

namespace kavel_qt {

class KavelImageHandler : public QImageIOHandler {
  public:
    KavelImageHandler();
    ~KavelImageHandler() override;

    bool canRead() const override;
    bool read(QImage* image) override;
    QVariant option(ImageOption option) const override;
    void setOption(ImageOption option, const QVariant& value) override;
    bool supportsOption(ImageOption option) const override;

    // True when the device's next bytes are "kvel" (the device's position is unchanged).
    static bool canRead(QIODevice* device);

  private:
    // Opens the image on the device once; false (with a warning naming the reason) on failure.
    bool open() const;

    mutable std::unique_ptr<DeviceSource> source_;
    mutable bool open_failed_ = false;
    QRect clip_;
    QSize scaled_;
};

}  // namespace kavel_qt
