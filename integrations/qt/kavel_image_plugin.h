// libqkavel: the Qt image-format plug-in ("kvl", image/x-kavel) through which QImageReader, and
// every Qt application, reads Kavel images. Installed in Qt's plugins/imageformats folder.
#pragma once

#include <QImageIOPlugin>

class KavelImagePlugin : public QImageIOPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "kavel.json")

  public:
    Capabilities capabilities(QIODevice* device, const QByteArray& format) const override;
    QImageIOHandler* create(QIODevice* device, const QByteArray& format) const override;
};
