#ifndef QRCODEIMAGE_H
#define QRCODEIMAGE_H

#include <QImage>
#include <QString>

// A QR code of a text, made by libqrencode: one pixel per module, black on white, with the quiet
// zone of four modules that readers need around it. Scale it with Qt::FastTransformation by a
// whole factor, so that every module stays a sharp square.
namespace QrCodeImage {

constexpr int QuietZoneModules = 4;

// A null image when the text does not fit a QR code.
QImage encode(const QString &text);

// The code scaled by the largest whole factor that keeps it within `side` pixels (at least 1).
QImage scaled(const QImage &code, int side);

} // namespace QrCodeImage

#endif // QRCODEIMAGE_H
