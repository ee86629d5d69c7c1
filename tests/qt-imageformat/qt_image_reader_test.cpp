// The Qt image-format plug-in as applications use it: QImageReader with QT_PLUGIN_PATH at the
// build, on Kavel files made by `kavel encode` from the bundled photographs; pixels are compared
// with `kavel decode`.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "read_plan.h"

namespace {

QTemporaryDir* work = nullptr;

QString path(const QString& name) { return work->filePath(name); }

void run_kavel(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(KAVEL_TOOL), arguments);
    ASSERT_TRUE(process.waitForFinished(60000));
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
}

// `kavel decode` of a window (x0, y0, x1, y1 inclusive) at scale, as an image.
QImage reference(const QString& kvl, int planes, int scale, QRect window) {
    const QString raw = path(QStringLiteral("reference.raw"));
    run_kavel({"decode", kvl, "-o", raw, "--scale", QString::number(scale), "--window",
               QStringLiteral("%1,%2,%3,%4")
                   .arg(window.left())
                   .arg(window.top())
                   .arg(window.right())
                   .arg(window.bottom())});
    QFile file(raw);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    const int row = window.width() * planes;
    if (bytes.size() != qsizetype(row) * window.height()) return {};
    QImage image(window.size(), planes == 3 ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
    for (int y = 0; y < window.height(); ++y) {
        std::memcpy(image.scanLine(y), bytes.constData() + qsizetype(row) * y, size_t(row));
    }
    return image;
}

// The largest difference between two images' samples; -1 when sizes or formats differ.
int largest_difference(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.format() != b.format() || a.isNull()) return -1;
    const int row = a.width() * (a.format() == QImage::Format_RGB888 ? 3 : 1);
    int largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < row; ++x) {
            largest = std::max(largest, std::abs(a.constScanLine(y)[x] - b.constScanLine(y)[x]));
        }
    }
    return largest;
}

double mean_difference(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.format() != b.format() || a.isNull()) return 1e9;
    const int row = a.width() * (a.format() == QImage::Format_RGB888 ? 3 : 1);
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < row; ++x)
            sum += std::abs(a.constScanLine(y)[x] - b.constScanLine(y)[x]);
    }
    return sum / (double(row) * a.height());
}

// A device that hands out its bytes once, in order, and cannot seek.
class Stream : public QIODevice {
  public:
    explicit Stream(QByteArray bytes) : bytes_(std::move(bytes)) { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override {
        return bytes_.size() - at_ + QIODevice::bytesAvailable();
    }

  protected:
    qint64 readData(char* data, qint64 max) override {
        const qint64 count = std::min(max, qint64(bytes_.size()) - at_);
        std::memcpy(data, bytes_.constData() + at_, size_t(count));
        at_ += count;
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

  private:
    QByteArray bytes_;
    qint64 at_ = 0;
};

struct Photo {
    QString kvl;
    int planes;
    QSize size;
};

class QtImageReaderTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        work = new QTemporaryDir;
        run_kavel({"encode", QStringLiteral(KAVEL_DATA "/chelsea.png"), path("chelsea.kvl")});
        run_kavel({"encode", QStringLiteral(KAVEL_DATA "/camera.png"), path("camera.kvl")});
        QFile whole(path("chelsea.kvl"));
        ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
        const QByteArray bytes = whole.readAll();
        const auto write = [](const QString& name, const QByteArray& content) {
            QFile file(path(name));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(content);
        };
        write("cut-10.kvl", bytes.left(10));
        write("cut-23.kvl", bytes.left(23));
        write("cut-half.kvl", bytes.left(bytes.size() / 2));
        write("magic-then-noise.kvl", QByteArray("kvel") + QByteArray(4000, '\x5a'));
    }
    static void TearDownTestSuite() {
        delete work;
        work = nullptr;
    }

    const Photo colour{path("chelsea.kvl"), 3, QSize(451, 300)};
    const Photo grey{path("camera.kvl"), 1, QSize(512, 512)};
};

TEST_F(QtImageReaderTest, PluginIsFoundAndSizeComesFromTheHeaderAlone) {
    EXPECT_TRUE(QImageReader::supportedImageFormats().contains("kvl"));
    EXPECT_TRUE(QImageReader::supportedMimeTypes().contains("image/x-kavel"));
    QImageReader reader(colour.kvl);
    EXPECT_TRUE(reader.canRead());
    EXPECT_EQ(reader.format(), "kvl");
    EXPECT_EQ(reader.size(), colour.size);
    EXPECT_EQ(reader.imageFormat(), QImage::Format_RGB888);
    EXPECT_EQ(QImageReader(grey.kvl).imageFormat(), QImage::Format_Grayscale8);
    // Found by content too, whatever the name.
    QFile::copy(colour.kvl, path("no-suffix"));
    QImageReader by_content(path("no-suffix"));
    EXPECT_EQ(by_content.format(), "kvl");
    // The header of a file whose data is cut short still gives the size; decoding fails.
    QImageReader cut(path("cut-half.kvl"));
    EXPECT_EQ(cut.size(), colour.size);
}

TEST_F(QtImageReaderTest, WholeImagesFromFilesMemoryAndStreamsEqualTheDecoder) {
    for (const Photo& photo : {colour, grey}) {
        SCOPED_TRACE(photo.kvl.toStdString());
        const QImage expected =
            reference(photo.kvl, photo.planes, 0, QRect(QPoint(0, 0), photo.size));
        EXPECT_EQ(largest_difference(QImageReader(photo.kvl).read(), expected), 0);

        QFile file(photo.kvl);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        QByteArray bytes = QByteArray("preceding bytes") + file.readAll();
        QBuffer memory(&bytes);
        ASSERT_TRUE(memory.open(QIODevice::ReadOnly));
        memory.seek(15);  // the image starts where the device stands
        QImageReader from_memory(&memory, "kvl");
        EXPECT_EQ(largest_difference(from_memory.read(), expected), 0);

        // A device that cannot seek (a pipe or a socket) is read whole.
        QByteArray stream_bytes = bytes.mid(15);
        Stream stream(stream_bytes);
        QImageReader from_stream(&stream, "kvl");
        EXPECT_EQ(largest_difference(from_stream.read(), expected), 0);
    }
}

TEST_F(QtImageReaderTest, ClipRectanglesDecodeOnlyThatWindow) {
    for (const Photo& photo : {colour, grey}) {
        for (const QRect clip :
             {QRect(0, 0, 1, 1), QRect(33, 17, 101, 77), QRect(200, 150, 251, 150)}) {
            SCOPED_TRACE(photo.kvl.toStdString() + " clip at " + std::to_string(clip.x()));
            QImageReader reader(photo.kvl);
            reader.setClipRect(clip);
            EXPECT_EQ(
                largest_difference(reader.read(), reference(photo.kvl, photo.planes, 0, clip)), 0);
        }
    }
}

TEST_F(QtImageReaderTest, ScaledSizesDecodeTheCoarsestSufficientScale) {
    const QRect whole1(0, 0, 226, 150), whole2(0, 0, 113, 75);
    QImageReader half(colour.kvl);
    half.setScaledSize(QSize(226, 150));
    EXPECT_EQ(largest_difference(half.read(), reference(colour.kvl, 3, 1, whole1)), 0);

    // 100 x 67 comes from scale 2 (113 x 75), the coarsest that is large enough.
    QImageReader small(colour.kvl);
    small.setScaledSize(QSize(100, 67));
    const QImage from_scale2 =
        reference(colour.kvl, 3, 2, whole2)
            .scaled(100, 67, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    EXPECT_EQ(largest_difference(small.read(), from_scale2), 0);

    // A clip on even pixels at half its size: that window of scale 1.
    QImageReader clip_half(grey.kvl);
    clip_half.setClipRect(QRect(64, 32, 256, 128));
    clip_half.setScaledSize(QSize(128, 64));
    EXPECT_EQ(largest_difference(clip_half.read(),
                                 reference(grey.kvl, 1, 1, QRect(QPoint(32, 16), QPoint(159, 79)))),
              0);

    // A clip on odd pixels, scaled: close to the full-size clip scaled by Qt (not equal: a pixel
    // i at scale s stands for full-size columns 2^s i to 2^s (i + 1) - 1, whereas the wavelet's
    // low band sits nearer the first of them: about 7 on average here, where the clip moved four
    // pixels to the right gives 15 and another part of the picture more).
    for (const Photo& photo : {colour, grey}) {
        SCOPED_TRACE(photo.kvl.toStdString());
        const QRect clip(33, 17, 201, 121);
        QImageReader reader(photo.kvl);
        reader.setClipRect(clip);
        reader.setScaledSize(QSize(50, 30));
        const QImage image = reader.read();
        ASSERT_EQ(image.size(), QSize(50, 30));
        const QImage expected =
            reference(photo.kvl, photo.planes, 0, clip)
                .scaled(50, 30, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        EXPECT_LT(mean_difference(image, expected), 8.0);
    }
}

TEST_F(QtImageReaderTest, DamagedFilesGiveAnErrorString) {
    for (const char* name : {"cut-10.kvl", "cut-23.kvl", "cut-half.kvl", "magic-then-noise.kvl"}) {
        SCOPED_TRACE(name);
        QImageReader reader(path(name));
        EXPECT_TRUE(reader.read().isNull());
        EXPECT_NE(reader.error(), QImageReader::UnknownError);
        EXPECT_FALSE(reader.errorString().isEmpty());
    }
    // Hostile files: an image or an error, never a crash, at full size and as a thumbnail.
    const QDir regression(QStringLiteral(KAVEL_REGRESSION));
    const QStringList hostile = regression.entryList({"*.kvl"}, QDir::Files);
    ASSERT_FALSE(hostile.isEmpty());
    for (const QString& name : hostile) {
        SCOPED_TRACE(name.toStdString());
        for (const bool thumbnail : {false, true}) {
            QImageReader reader(regression.filePath(name), "kvl");
            if (thumbnail) reader.setScaledSize(QSize(64, 64));
            const QImage image = reader.read();
            if (image.isNull()) {
                EXPECT_FALSE(reader.errorString().isEmpty());
            }
        }
    }
}

TEST(QtReadPlan, ClipsPickTheCoarsestScaleThatStillSpansTheScaledSize) {
    using kavel_qt::plan_read;
    const QSize image(1000, 800);
    // 400 x 300 clip to 100 x 70: 400 / 4 = 100 >= 100 and 300 / 4 = 75 >= 70, but not / 8.
    auto plan = plan_read(image, 5, QRect(100, 100, 400, 300), QSize(100, 70), 0);
    EXPECT_EQ(plan.scale, 2);
    EXPECT_EQ(plan.window, QRect(QPoint(25, 25), QPoint(124, 99)));
    EXPECT_EQ(plan.source, QRectF(0, 0, 100, 75));
    // Never past the image's levels, and a clip on odd pixels covers its partial pixels.
    plan = plan_read(image, 1, QRect(3, 5, 400, 300), QSize(10, 10), 0);
    EXPECT_EQ(plan.scale, 1);
    EXPECT_EQ(plan.window, QRect(QPoint(1, 2), QPoint(201, 152)));
    EXPECT_EQ(plan.source, QRectF(0.5, 0.5, 200, 150));
    // The whole image takes the library's scale and covers its last partial pixel.
    plan = plan_read(QSize(451, 300), 3, QRect(0, 0, 451, 300), QSize(100, 67), 2);
    EXPECT_EQ(plan.window, QRect(0, 0, 113, 75));
    EXPECT_FALSE(plan.exact());
    EXPECT_TRUE(plan_read(QSize(451, 300), 3, QRect(0, 0, 451, 300), QSize(), 0).exact());
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
