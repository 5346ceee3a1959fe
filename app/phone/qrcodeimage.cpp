#include "qrcodeimage.h"

#include <qrencode.h>

#include <memory>

namespace QrCodeImage {

QImage encode(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    // Version 0: the smallest that holds the text; level M survives a smudged or glaring screen.
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
            QRcode_encodeString8bit(bytes.constData(), 0, QR_ECLEVEL_M), &QRcode_free);
    if (!code || code->width <= 0)
        return QImage();
    const int width = code->width;
    const int side = width + 2 * QuietZoneModules;
    QImage image(side, side, QImage::Format_Grayscale8);
    image.fill(Qt::white);
    for (int y = 0; y < width; ++y) {
        uchar *line = image.scanLine(y + QuietZoneModules);
        for (int x = 0; x < width; ++x) {
            // Bit 0 of each module's byte: dark.
            if (code->data[y * width + x] & 1)
                line[x + QuietZoneModules] = 0;
        }
    }
    return image;
}

QImage scaled(const QImage &code, int side)
{
    if (code.isNull())
        return code;
    const int factor = std::max(1, side / code.width());
    return code.scaled(code.width() * factor, code.height() * factor, Qt::IgnoreAspectRatio,
                       Qt::FastTransformation);
}

} // namespace QrCodeImage
