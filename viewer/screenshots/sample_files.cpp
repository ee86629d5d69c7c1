#include "viewer/screenshots/sample_files.h"

#include <QImage>

#include "encode/encoder.h"

bool MakeSampleFile(const SampleFile& sample, const std::string& path, std::string* error) {
    QImage image(QString::fromStdString(sample.photograph));
    if (image.isNull()) {
        *error = "cannot read " + sample.photograph;
        return false;
    }
    if (sample.width <= 0 || sample.height <= 0) {
        *error = "no size for " + sample.photograph;
        return false;
    }
    image =
        image.scaled(sample.width, sample.height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    image = image.convertToFormat(sample.grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);

    kavel::Picture picture;
    picture.width = image.width();
    picture.height = image.height();
    picture.channels = sample.grey ? 1 : 3;
    const size_t rowBytes = size_t(picture.width) * size_t(picture.channels);
    picture.samples.resize(rowBytes * size_t(picture.height));
    for (int y = 0; y < image.height(); ++y) {
        const uchar* row = image.constScanLine(y);
        std::copy(row, row + rowBytes, picture.samples.begin() + ptrdiff_t(rowBytes) * y);
    }

    kavel::EncoderOptions options;
    options.quality = sample.quality;
    options.threads = 1;  // the machine is shared
    kavel::EncodeResult result;
    if (!kavel::encode_picture(std::move(picture), options, &result, error)) return false;
    return kavel::write_kavel_file(result.file, path, error);
}
