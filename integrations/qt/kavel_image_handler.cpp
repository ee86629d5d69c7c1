#include "kavel_image_handler.h"

#include <QIODevice>
#include <QImage>
#include <QLoggingCategory>
#include <QPainter>
#include <QThread>
#include <QVariant>
#include <algorithm>

#include "read_plan.h"

Q_LOGGING_CATEGORY(kavelImageFormat, "kavel.imageformat")

namespace kavel_qt {

namespace {

// Windows of at least this many pixels are decoded on several threads.
constexpr qint64 kThreadedPixels = qint64{1} << 20;
constexpr int kMaxThreads = 4;

QImage::Format format_of(int32_t planes) {
    return planes == 3 ? QImage::Format_RGB888 : QImage::Format_Grayscale8;
}

// The decoded window brought to the plan's output, into out (allocated at the output's size):
// the clip cut out (at fractional positions when it does not fall on whole pixels at the
// decoded scale) and smoothly resampled.
void resample(const QImage& decoded, const ReadPlan& plan, QImage* out) {
    const QRectF whole(QPointF(0, 0), QSizeF(decoded.size()));
    if (plan.source == whole) {
        *out = decoded.scaled(plan.output, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    } else if (plan.source == QRectF(plan.source.toRect()) && plan.source.size() == plan.output) {
        *out = decoded.copy(plan.source.toRect());
    } else {
        out->fill(0);
        QPainter painter(out);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(QPointF(0, 0), QSizeF(plan.output)), decoded, plan.source);
    }
}

}  // namespace

KavelImageHandler::KavelImageHandler() = default;
KavelImageHandler::~KavelImageHandler() = default;

bool KavelImageHandler::canRead(QIODevice* device) {
    return device != nullptr && device->peek(4) == "kvel";
}

bool KavelImageHandler::canRead() const {
    if (!canRead(device())) return false;
    setFormat("kvl");
    return true;
}

bool KavelImageHandler::open() const {
    if (source_ != nullptr) return true;
    if (open_failed_ || device() == nullptr) return false;
    auto source = std::make_unique<DeviceSource>();
    QString reason;
    if (source->open(device(), &reason) != KAVEL_OK) {
        qCWarning(kavelImageFormat, "Kavel image: %s", qUtf8Printable(reason));
        open_failed_ = true;
        return false;
    }
    source_ = std::move(source);
    return true;
}

bool KavelImageHandler::read(QImage* image) {
    if (!open()) return false;
    kavel_image* kavel = source_->image();
    kavel_info info{};
    kavel_get_info(kavel, &info);
    if (info.planes != 1 && info.planes != 3) {
        qCWarning(kavelImageFormat, "Kavel image: %d planes (only grey and colour are read)",
                  int(info.planes));
        return false;
    }
    const QRect whole(0, 0, info.width, info.height);
    const QRect clip = clip_.isNull() ? whole : clip_.intersected(whole);
    if (clip.isEmpty()) {
        qCWarning(kavelImageFormat, "Kavel image: the clip rectangle is outside the image");
        return false;
    }
    const bool scaled = scaled_.isValid() && !scaled_.isEmpty();
    const int whole_scale =
        scaled ? kavel_scale_for_size(kavel, scaled_.width(), scaled_.height()) : 0;
    const ReadPlan plan = plan_read(whole.size(), info.levels, clip, scaled_, whole_scale);

    // allocateImage keeps to QImageReader::allocationLimit (128 MB by default in Qt 6.4; the
    // application may change it): a header may claim up to 2^31 - 1 square in a few bytes.
    QImage decoded;
    QImage output;
    if (!allocateImage(plan.window.size(), format_of(info.planes), &decoded) ||
        (!plan.exact() && !allocateImage(plan.output, format_of(info.planes), &output))) {
        qCWarning(kavelImageFormat, "Kavel image: %d x %d pixels are over the allocation limit",
                  plan.window.width(), plan.window.height());
        return false;
    }
    kavel_decode_options options{};
    options.struct_size = sizeof options;
    options.threads = 1;
    if (qint64{plan.window.width()} * plan.window.height() >= kThreadedPixels) {
        options.threads = std::clamp(QThread::idealThreadCount(), 1, kMaxThreads);
    }
    const kavel_window window{plan.window.left(), plan.window.top(), plan.window.right(),
                              plan.window.bottom()};
    const kavel_status status = kavel_decode(kavel, plan.scale, window, decoded.bits(),
                                             static_cast<size_t>(decoded.bytesPerLine()), &options);
    if (status != KAVEL_OK) {
        qCWarning(kavelImageFormat, "Kavel image: %s", kavel_last_error());
        return false;
    }
    if (plan.exact()) {
        *image = decoded;
    } else {
        resample(decoded, plan, &output);
        *image = output;
    }
    return !image->isNull();
}

QVariant KavelImageHandler::option(ImageOption option) const {
    switch (option) {
        case Size:
        case ImageFormat: {
            if (!open()) return {};
            kavel_info info{};
            kavel_get_info(source_->image(), &info);
            if (option == Size) return QSize(info.width, info.height);
            return info.planes == 1 || info.planes == 3 ? QVariant(format_of(info.planes))
                                                        : QVariant();
        }
        case ClipRect:
            return clip_;
        case ScaledSize:
            return scaled_;
        default:
            return {};
    }
}

void KavelImageHandler::setOption(ImageOption option, const QVariant& value) {
    if (option == ClipRect) clip_ = value.toRect();
    if (option == ScaledSize) scaled_ = value.toSize();
}

bool KavelImageHandler::supportsOption(ImageOption option) const {
    return option == Size || option == ImageFormat || option == ClipRect || option == ScaledSize;
}

}  // namespace kavel_qt
