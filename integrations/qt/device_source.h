// A Kavel image opened on a QIODevice: random-access devices (files, buffers) are read where
// the library asks through a reader (nothing else is read, so a thumbnail of a huge file reads
// a few hundred kilobytes); sequential ones (sockets, pipes) are read whole into memory first.
#pragma once

#include <QByteArray>
#include <QMutex>
#include <QString>

#include "kavel/kavel.h"

class QIODevice;

namespace kavel_qt {

class DeviceSource {
  public:
    DeviceSource() = default;
    ~DeviceSource();
    DeviceSource(const DeviceSource&) = delete;
    DeviceSource& operator=(const DeviceSource&) = delete;

    // Opens the image that starts at the device's current position. On failure returns the
    // library's status, with the reason in *error. The device must outlive this source.
    kavel_status open(QIODevice* device, QString* error);
    kavel_image* image() const { return image_; }

  private:
    static int64_t read_at(void* context, uint64_t offset, void* buffer, size_t length);

    QIODevice* device_ = nullptr;
    qint64 start_ = 0;  // the image's first byte on the device
    QMutex mutex_;      // one seek-and-read at a time when several threads decode
    QByteArray bytes_;  // a sequential device's bytes
    kavel_image* image_ = nullptr;
};

}  // namespace kavel_qt
