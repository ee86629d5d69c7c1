#include "kavel_image_plugin.h"

#include "kavel_image_handler.h"

QImageIOPlugin::Capabilities KavelImagePlugin::capabilities(QIODevice* device,
                                                            const QByteArray& format) const {
    if (format == "kvl") return CanRead;
    if (!format.isEmpty()) return {};
    if (device != nullptr && device->isReadable() && kavel_qt::KavelImageHandler::canRead(device)) {
        return CanRead;
    }
    return {};
}

QImageIOHandler* KavelImagePlugin::create(QIODevice* device, const QByteArray& format) const {
    auto* handler = new kavel_qt::KavelImageHandler;
    handler->setDevice(device);
    handler->setFormat(format.isEmpty() ? QByteArray("kvl") : format);
    return handler;
}
