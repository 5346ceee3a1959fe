#include "recordingfile.h"

#include "atomicsave.h"
#include "sacnpackets.h"

#include <QDomDocument>
#include <QDomElement>
#include <QDomNode>
#include <QIODevice>
#include <QLoggingCategory>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <algorithm>

// The loader's trace of what it reads (tag names and the bytes of a frame) goes here, so a
// user can silence it with QT_LOGGING_RULES="vardolux.file.debug=false". It is bounded per
// file: the first lines, then one line that counts what was left out.
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
constexpr QLatin1String SacnType("sacn");
constexpr QLatin1String MissingType("none");
constexpr int FrameVersion = 1;
// Qt's DOM builder takes time quadratic in the nesting depth and recurses once per level: a few
// hundred kilobytes of nested elements freeze the program for minutes, a megabyte or so
// overflows its stack. A recording is two levels deep; a document far deeper is refused after
// a linear pass, before the DOM sees it.
constexpr int MaxNestingDepth = 256;
constexpr int MaxTraceLines = 100;
constexpr int MaxTracedNameLength = 40;

// The trace of one read: the first lines as they come, the rest only counted. Formatting a
// line costs far more than the count, whether or not anybody reads the output.
class Trace
{
public:
    Trace() : m_enabled(lcRecordingFile().isDebugEnabled()) {}
    ~Trace()
    {
        if (m_leftOut > 0)
            qCDebug(lcRecordingFile).noquote()
                    << QStringLiteral("... %1 more lines left out (%2 elements, %3 frames read)")
                               .arg(m_leftOut)
                               .arg(m_elements)
                               .arg(m_frames);
    }
    Trace(const Trace &) = delete;
    Trace &operator=(const Trace &) = delete;

    void element(const QString &tagName)
    {
        ++m_elements;
        if (take())
            qCDebug(lcRecordingFile) << (tagName.size() > MaxTracedNameLength
                                                 ? tagName.left(MaxTracedNameLength) + QLatin1String("...")
                                                 : tagName);
    }
    void frame() { ++m_frames; }
    void byte(quint8 value)
    {
        if (take())
            qCDebug(lcRecordingFile, "%u", unsigned(value));
        if (take())
            qCDebug(lcRecordingFile).noquote()
                    << QStringLiteral("%1 %2").arg(value).arg(value, 2, 16, QLatin1Char('0'));
    }

private:
    bool take()
    {
        if (!m_enabled)
            return false;
        if (m_written < MaxTraceLines) {
            ++m_written;
            return true;
        }
        ++m_leftOut;
        return false;
    }

    bool m_enabled;
    int m_written = 0;
    qint64 m_leftOut = 0;
    qint64 m_elements = 0;
    qint64 m_frames = 0;
};

bool parseHexFrame(const QString &text, int textLength, unsigned char *buffer, int bufferSize,
                   Trace *trace);

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

void refuse(RecordingFile::Content *content, const QString &message, qint64 line = 0,
            qint64 column = 0)
{
    content->wellFormed = false;
    content->errorMessage = message;
    content->errorLine = int(line);
    content->errorColumn = int(column);
}

// The text as Qt's XML reader would decode it (a byte-order mark or the first '<' tells
// UTF-16 and UTF-32; otherwise UTF-8), so that the checks below and the parser see the same
// characters.
QString decoded(const QByteArray &bytes)
{
    const auto encoding = QStringConverter::encodingForData(bytes, u'<');
    QStringDecoder decoder(encoding.value_or(QStringConverter::Utf8));
    return decoder(bytes);
}

// A single linear pass over the markup that counts the attributes of every start tag (the '='
// outside quoted values), passing over comments, CDATA sections, processing instructions and
// the document type declaration as XML defines them.
bool startsWith(const QChar *at, const QChar *end, const char *literal)
{
    for (; *literal; ++literal, ++at)
        if (at == end || *at != QLatin1Char(*literal))
            return false;
    return true;
}

const QChar *skipPast(const QChar *at, const QChar *end, const char16_t *terminator, int length)
{
    for (; end - at >= length; ++at)
        if (std::equal(terminator, terminator + length, at,
                       [](char16_t a, QChar b) { return a == b.unicode(); }))
            return at + length;
    return end;
}

// From an opening quote to its closing one, or to the end.
const QChar *skipQuoted(const QChar *at, const QChar *end)
{
    const QChar quote = *at;
    while (++at != end && *at != quote) {}
    return at;
}

// The document type: quoted literals, an internal subset in brackets with declarations,
// comments and processing instructions of its own. Returns where it ends.
const QChar *skipDocumentType(const QChar *at, const QChar *end)
{
    int brackets = 0;
    for (++at; at != end; ++at) {
        if (*at == u'"' || *at == u'\'') {
            at = skipQuoted(at, end);
            if (at == end)
                break;
        } else if (brackets > 0 && startsWith(at, end, "<!--")) {
            at = skipPast(at + 4, end, u"-->", 3) - 1;
        } else if (brackets > 0 && startsWith(at, end, "<?")) {
            at = skipPast(at + 2, end, u"?>", 2) - 1;
        } else if (*at == u'[') {
            ++brackets;
        } else if (*at == u']') {
            --brackets;
        } else if (*at == u'>' && brackets <= 0) {
            return at + 1;
        }
    }
    return at;
}

// A start or end tag: where it ends, or null once it has more than MaxAttributes.
const QChar *skipTag(const QChar *at, const QChar *end)
{
    int attributes = 0;
    for (++at; at != end && *at != u'>'; ++at) {
        if (*at == u'"' || *at == u'\'') {
            at = skipQuoted(at, end);
            if (at == end)
                break;
        } else if (*at == u'=' && ++attributes > RecordingFile::MaxAttributes) {
            return nullptr;
        }
    }
    return at;
}

bool hasTooManyAttributes(const QString &text, RecordingFile::Content *content)
{
    const QChar *const begin = text.constData();
    const QChar *const end = begin + text.size();
    const QChar *at = begin;
    while (at != end) {
        if (*at != u'<') {
            ++at;
        } else if (startsWith(at, end, "<!--")) {
            at = skipPast(at + 4, end, u"-->", 3);
        } else if (startsWith(at, end, "<![CDATA[")) {
            at = skipPast(at + 9, end, u"]]>", 3);
        } else if (startsWith(at, end, "<?")) {
            at = skipPast(at + 2, end, u"?>", 2);
        } else if (startsWith(at, end, "<!")) {
            at = skipDocumentType(at, end);
        } else if (const QChar *tagEnd = skipTag(at, end)) {
            at = tagEnd;
        } else {
            const qint64 offset = at - begin;
            const qint64 lineStart = text.lastIndexOf(u'\n', offset) + 1;
            refuse(content,
                   QStringLiteral("An element has more than %1 attributes")
                           .arg(RecordingFile::MaxAttributes),
                   QStringView(text).left(offset).count(u'\n') + 1, offset - lineStart + 1);
            return true;
        }
    }
    return false;
}

bool nestedTooDeeply(const QString &documentText, RecordingFile::Content *content)
{
    QXmlStreamReader reader(documentText);
    int depth = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::EndElement) {
            --depth;
        } else if (token == QXmlStreamReader::StartElement && ++depth > MaxNestingDepth) {
            refuse(content, QStringLiteral("Elements nested more than %1 deep").arg(MaxNestingDepth),
                   reader.lineNumber(), reader.columnNumber());
            return true;
        } else if (token == QXmlStreamReader::StartElement
                   && reader.attributes().size() > RecordingFile::MaxAttributes) {
            // Only reached if an entity's text brought them in, out of the first pass's sight.
            refuse(content,
                   QStringLiteral("An element has more than %1 attributes")
                           .arg(RecordingFile::MaxAttributes),
                   reader.lineNumber(), reader.columnNumber());
            return true;
        }
    }
    // Any other error is left to the DOM parser, whose message the caller shows.
    return false;
}

// An sACN frame without a universe it could have come from is passed over: there is nowhere to
// show it.
bool originOf(const QDomElement &element, RecordingFile::Origin *origin)
{
    const QString type = element.attribute(TypeAttribute, MissingType);
    if (type == ArtNetType)
        return true;
    if (type != SacnType)
        return false;
    bool ok = false;
    const int universe = element.attribute(UniverseAttribute).toInt(&ok, 10);
    if (!ok || universe < SacnPackets::MinUniverse || universe > SacnPackets::MaxUniverse)
        return false;
    origin->protocol = DmxProtocol::Sacn;
    origin->sacnUniverse = quint16(universe);
    return true;
}

RecordingFile::Content framesOf(const QDomDocument &document)
{
    RecordingFile::Content content;
    content.wellFormed = true;
    Trace trace;

    const QDomElement root = document.documentElement();
    for (QDomNode node = root.firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (!node.isElement())
            continue;
        const QDomElement element = node.toElement();
        trace.element(element.tagName());
        if (element.tagName() != FrameTag)
            continue;
        if (!element.hasAttribute(VersionAttribute))
            continue;
        bool versionOk = false;
        const int version = element.attribute(VersionAttribute).toInt(&versionOk, 10);
        if (!versionOk || version != FrameVersion)
            continue;
        RecordingFile::Origin origin;
        if (!originOf(element, &origin))
            continue;

        const QString dmx = element.attribute(DmxAttribute, QString());
        const int textLength = int(dmx.size());
        const int byteCount = (textLength - 2) / 2;
        if (byteCount < 1)
            continue;
        QByteArray frame(byteCount, '\0');
        if (parseHexFrame(dmx, textLength, reinterpret_cast<unsigned char *>(frame.data()),
                          byteCount, &trace)) {
            trace.frame();
            content.frames.append(frame);
            content.origins.append(origin);
        }
    }
    return content;
}

bool parseHexFrame(const QString &text, int textLength, unsigned char *buffer, int bufferSize,
                   Trace *trace)
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
        const quint8 high = RecordingFile::hexDigitValue(text.at(position));
        quint8 byte;
        if (position + 1 < textLength) {
            byte = quint8(high * 16 + RecordingFile::hexDigitValue(text.at(position + 1)));
            position += 2;
        } else {
            byte = high;
            position += 1;
        }
        trace->byte(byte);
        buffer[index] = byte;
        if (position >= textLength)
            return true;
        ++index;
        if (index >= bufferSize)
            return true;
    }
}

} // namespace

QString RecordingFile::toXml(const QByteArray &levels, int universe)
{
    return toXml(levels, DmxProtocol::ArtNet, universe);
}

QString RecordingFile::toXml(const QByteArray &levels, DmxProtocol protocol, int universe)
{
    QString xml;
    xml.reserve(120 + 2 * levels.size());
    xml += QLatin1String("<!DOCTYPE ") + DocumentTypeName + QLatin1String(">\n");
    xml += QLatin1Char('<') + RootTag + QLatin1String(">\n");
    xml += QLatin1String(" <") + FrameTag;
    xml += attribute(VersionAttribute, QString::number(FrameVersion));
    xml += attribute(TypeAttribute, protocol == DmxProtocol::Sacn ? SacnType : ArtNetType);
    xml += attribute(UniverseAttribute, QString::number(universe));
    xml += attribute(DmxAttribute, frameText(levels));
    xml += QLatin1String("/>\n");
    xml += QLatin1String("</") + RootTag + QLatin1String(">\n");
    return xml;
}

bool RecordingFile::save(const QString &fileName, const QByteArray &levels, int universe,
                         QString *errorString)
{
    return save(fileName, levels, DmxProtocol::ArtNet, universe, errorString);
}

bool RecordingFile::save(const QString &fileName, const QByteArray &levels, DmxProtocol protocol,
                         int universe, QString *errorString)
{
    const QByteArray text = toXml(levels, protocol, universe).toLatin1();
    return AtomicSave::save(
            fileName, [&text](QIODevice *out) { return out->write(text) == text.size(); },
            errorString);
}

RecordingFile::Content RecordingFile::read(QIODevice *device)
{
    if (!device) {
        Content content;
        content.errorMessage = QStringLiteral("no device");
        return content;
    }
    // Read once, as every pass needs the text; one byte beyond the limit tells a larger file.
    return read(device->read(MaxFileSize + 1));
}

RecordingFile::Content RecordingFile::read(const QByteArray &documentBytes)
{
    Content content;
    if (documentBytes.size() > MaxFileSize) {
        refuse(&content, QStringLiteral("The file is larger than %1 MiB, too large for a recording")
                                 .arg(MaxFileSize / (1024 * 1024)));
        return content;
    }
    const QString documentText = decoded(documentBytes);
    if (hasTooManyAttributes(documentText, &content) || nestedTooDeeply(documentText, &content))
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
    Trace trace;
    return ::parseHexFrame(text, textLength, buffer, bufferSize, &trace);
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
