#include "recordingfile.h"

#include <QDomDocument>
#include <QDomElement>
#include <QDomNode>
#include <QIODevice>
#include <QLoggingCategory>
#include <QXmlStreamReader>

#include <algorithm>

// The loader's trace of what it reads (tag names and every byte of a frame) goes here, so a
// user can silence it with QT_LOGGING_RULES="vardolux.file.debug=false".
Q_LOGGING_CATEGORY(lcRecordingFile, "vardolux.file")

namespace {

constexpr QLatin1String DocumentTypeName("Vardolux");
constexpr QLatin1String RootTag("VardoluxData");
constexpr QLatin1String FrameTag("frame");
constexpr QLatin1String VersionAttribute("version");
constexpr QLatin1String TypeAttribute("type");
constexpr QLatin1String UniverseAttribute("universe");
constexpr QLatin1String DmxAttribute("dmx");
constexpr QLatin1String ArtNetType("artnet");
constexpr QLatin1String MissingType("none");
constexpr int FrameVersion = 1;
// Qt's DOM builder takes time quadratic in the nesting depth and recurses once per level: a few
// hundred kilobytes of nested elements freeze the program for minutes, a megabyte or so
// overflows its stack. A recording is two levels deep; a document far deeper is refused after
// a linear pass, before the DOM sees it.
constexpr int MaxNestingDepth = 256;

// Attribute values written here are digits and names, but a value is escaped all the same so
// that the text stays well-formed whatever a later caller puts into it.
QString attribute(const QString &name, const QString &value)
{
    QString escaped = value.toHtmlEscaped();
    escaped.replace(QLatin1Char('\n'), QLatin1String("&#10;"));
    escaped.replace(QLatin1Char('\r'), QLatin1String("&#13;"));
    escaped.replace(QLatin1Char('\t'), QLatin1String("&#9;"));
    return QLatin1Char(' ') + name + QLatin1String("=\"") + escaped + QLatin1Char('"');
}

QString frameText(const QByteArray &levels)
{
    static const char digits[] = "0123456789abcdef";
    QString text;
    text.reserve(2 + 2 * levels.size());
    text += QLatin1String("0x");
    for (const char byte : levels) {
        const quint8 level = quint8(byte);
        text += QLatin1Char(digits[level >> 4]);
        text += QLatin1Char(digits[level & 0x0f]);
    }
    return text;
}

bool nestedTooDeeply(const QByteArray &documentText, RecordingFile::Content *content)
{
    QXmlStreamReader reader(documentText);
    int depth = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::EndElement) {
            --depth;
        } else if (token == QXmlStreamReader::StartElement && ++depth > MaxNestingDepth) {
            content->errorMessage =
                    QStringLiteral("Elements nested more than %1 deep").arg(MaxNestingDepth);
            content->errorLine = int(reader.lineNumber());
            content->errorColumn = int(reader.columnNumber());
            return true;
        }
    }
    // Any other error is left to the DOM parser, whose message the caller shows.
    return false;
}

RecordingFile::Content framesOf(const QDomDocument &document)
{
    RecordingFile::Content content;
    content.wellFormed = true;

    const QDomElement root = document.documentElement();
    for (QDomNode node = root.firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (!node.isElement())
            continue;
        const QDomElement element = node.toElement();
        qCDebug(lcRecordingFile) << element.tagName();
        if (element.tagName() != FrameTag)
            continue;
        if (!element.hasAttribute(VersionAttribute))
            continue;
        bool versionOk = false;
        const int version = element.attribute(VersionAttribute).toInt(&versionOk, 10);
        if (!versionOk || version != FrameVersion)
            continue;
        if (element.attribute(TypeAttribute, MissingType) != ArtNetType)
            continue;

        const QString dmx = element.attribute(DmxAttribute, QString());
        const int textLength = int(dmx.size());
        const int byteCount = (textLength - 2) / 2;
        if (byteCount < 1)
            continue;
        QByteArray frame(byteCount, '\0');
        if (RecordingFile::parseHexFrame(dmx, textLength,
                                         reinterpret_cast<unsigned char *>(frame.data()),
                                         byteCount))
            content.frames.append(frame);
    }
    return content;
}

} // namespace

QString RecordingFile::toXml(const QByteArray &levels, int universe)
{
    QString xml;
    xml.reserve(120 + 2 * levels.size());
    xml += QLatin1String("<!DOCTYPE ") + DocumentTypeName + QLatin1String(">\n");
    xml += QLatin1Char('<') + RootTag + QLatin1String(">\n");
    xml += QLatin1String(" <") + FrameTag;
    xml += attribute(VersionAttribute, QString::number(FrameVersion));
    xml += attribute(TypeAttribute, ArtNetType);
    xml += attribute(UniverseAttribute, QString::number(universe));
    xml += attribute(DmxAttribute, frameText(levels));
    xml += QLatin1String("/>\n");
    xml += QLatin1String("</") + RootTag + QLatin1String(">\n");
    return xml;
}

RecordingFile::Content RecordingFile::read(QIODevice *device)
{
    if (!device) {
        Content content;
        content.errorMessage = QStringLiteral("no device");
        return content;
    }
    // Read once, as both passes need the text.
    return read(device->readAll());
}

RecordingFile::Content RecordingFile::read(const QByteArray &documentText)
{
    Content content;
    if (nestedTooDeeply(documentText, &content))
        return content;
    QDomDocument document(DocumentTypeName);
    if (!document.setContent(documentText, &content.errorMessage, &content.errorLine,
                             &content.errorColumn))
        return content;
    return framesOf(document);
}

bool RecordingFile::parseHexFrame(const QString &text, int textLength, unsigned char *buffer,
                                  int bufferSize)
{
    // A caller's length beyond the text would read past its end; only what is there counts.
    textLength = std::min(textLength, int(text.size()));
    if (textLength <= 2 || bufferSize <= 0 || !buffer)
        return false;
    if (text.at(0) != QLatin1Char('0')
        || (text.at(1) != QLatin1Char('x') && text.at(1) != QLatin1Char('X')))
        return false;

    int position = 2;
    int index = 0;
    for (;;) {
        const quint8 high = hexDigitValue(text.at(position));
        quint8 byte;
        if (position + 1 < textLength) {
            byte = quint8(high * 16 + hexDigitValue(text.at(position + 1)));
            position += 2;
        } else {
            byte = high;
            position += 1;
        }
        qCDebug(lcRecordingFile, "%u", unsigned(byte));
        qCDebug(lcRecordingFile).noquote()
                << QStringLiteral("%1 %2").arg(byte).arg(byte, 2, 16, QLatin1Char('0'));
        buffer[index] = byte;
        if (position >= textLength)
            return true;
        ++index;
        if (index >= bufferSize)
            return true;
    }
}

quint8 RecordingFile::hexDigitValue(QChar c)
{
    const char code = c.toLatin1();
    if (code >= '0' && code <= '9')
        return quint8(code - '0');
    if (code >= 'A' && code <= 'F')
        return quint8(code - 'A' + 10);
    if (code >= 'a' && code <= 'f')
        return quint8(code - 'a' + 10);
    return 0;
}
