#include "device_source.h"

#include <QIODevice>
#include <QMutexLocker>
#include <limits>

namespace kavel_qt {

namespace {

// A sequential device is read whole, in pieces, up to this many bytes.
constexpr qint64 kPiece = qint64{1} << 20;
constexpr qint64 kLargestStream = qint64{1} << 30;

}  // namespace

DeviceSource::~DeviceSource() { kavel_close(image_); }

int64_t DeviceSource::read_at(void* context, uint64_t offset, void* buffer, size_t length) {
    auto* source = static_cast<DeviceSource*>(context);
    const auto max = static_cast<uint64_t>(std::numeric_limits<qint64>::max());
    if (offset > max - static_cast<uint64_t>(source->start_) || length > max) return -1;
    QMutexLocker lock(&source->mutex_);
    if (!source->device_->seek(source->start_ + static_cast<qint64>(offset))) return -1;
    qint64 done = 0;
    while (done < static_cast<qint64>(length)) {
        const qint64 got = source->device_->read(static_cast<char*>(buffer) + done,
                                                 static_cast<qint64>(length) - done);
        if (got < 0) return -1;
        if (got == 0) break;
        done += got;
    }
    return done;
}

kavel_status DeviceSource::open(QIODevice* device, QString* error) {
    kavel_close(image_);
    image_ = nullptr;
    device_ = device;
    start_ = device->pos();
    kavel_status status;
    if (device->isSequential()) {
        // Read in pieces up to the limit, so that an endless stream cannot take all memory.
        bytes_.clear();
        for (;;) {
            const QByteArray piece = device->read(kPiece);
            if (piece.isEmpty()) break;
            if (bytes_.size() > kLargestStream - piece.size()) {
                *error = QStringLiteral("the stream is longer than %1 bytes").arg(kLargestStream);
                bytes_.clear();
                return KAVEL_ERROR_LIMIT;
            }
            bytes_.append(piece);
        }
        status = kavel_open_memory(bytes_.constData(), static_cast<size_t>(bytes_.size()), &image_);
    } else {
        const qint64 size = device->size() - start_;
        kavel_reader reader{};
        reader.context = this;
        reader.read_at = &DeviceSource::read_at;
        reader.size = size > 0 ? static_cast<uint64_t>(size) : 0;
        status = kavel_open_reader(&reader, &image_);
    }
    if (status != KAVEL_OK) *error = QString::fromUtf8(kavel_last_error());
    return status;
}

}  // namespace kavel_qt
