#ifndef RECORDINGFILE_H
#define RECORDINGFILE_H

#include "sourceidentity.h"

#include <QByteArray>
#include <QChar>
#include <QList>
#include <QString>

class QIODevice;

// The XML recording file: one DMX frame as hexadecimal text with the universe that was on show,
// an Art-Net one (numbered as the spin box shows it) or an sACN one.
//
//   <!DOCTYPE Vardolux>
//   <VardoluxData>
//    <frame version="1" type="artnet" universe="1" dmx="0x0102ff..."/>
//   </VardoluxData>
class RecordingFile
{
public:
    // A recording is about 1.1 KB. Anything far larger, or an element with more attributes
    // than this, is refused before the XML parser sees it: both make Qt's parsers slow enough
    // to freeze the window (its check for repeated attributes is quadratic).
    static constexpr qint64 MaxFileSize = 4 * 1024 * 1024;
    static constexpr int MaxAttributes = 32;

    // Where a frame was recorded. An Art-Net frame's universe is not read: the spin box keeps
    // its number. An sACN frame is read only with its universe, 1 to 63999.
    struct Origin
    {
        DmxProtocol protocol = DmxProtocol::ArtNet;
        quint16 sacnUniverse = 0;

        friend bool operator==(const Origin &a, const Origin &b)
        {
            return a.protocol == b.protocol && a.sacnUniverse == b.sacnUniverse;
        }
    };

    // What reading a recording found. A document that is not well-formed or that is refused
    // carries the message and, where there is one, the position (line 0 for none); a
    // well-formed one carries every usable frame in document order.
    struct Content
    {
        bool wellFormed = false;
        QString errorMessage;
        int errorLine = 0;
        int errorColumn = 0;
        QList<QByteArray> frames;
        // One per frame, in the same order.
        QList<Origin> origins;
    };

    // The whole document text for one frame (levels, channel 1 first) and its universe.
    static QString toXml(const QByteArray &levels, int universe);
    // The same for a frame of that protocol's universe.
    static QString toXml(const QByteArray &levels, DmxProtocol protocol, int universe);
    // Writes that document to fileName whole or not at all: an existing file is replaced only
    // once every byte has reached the disk's new copy, and a failed save leaves no file behind.
    // False with the reason in *errorString when opening, writing or replacing fails.
    static bool save(const QString &fileName, const QByteArray &levels, int universe,
                     QString *errorString);
    static bool save(const QString &fileName, const QByteArray &levels, DmxProtocol protocol,
                     int universe, QString *errorString);
    static Content read(QIODevice *device);
    static Content read(const QByteArray &document);

    static bool parseHexFrame(const QString &text, int textLength, unsigned char *buffer,
                              int bufferSize);
    static quint8 hexDigitValue(QChar c);
};

#endif // RECORDINGFILE_H
