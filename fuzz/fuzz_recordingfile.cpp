// Feeds arbitrary bytes to the recording-file reader, and the same bytes to the frame-text
// parser with various text lengths and buffer sizes. The whole input is the document, so a
// saved recording file is a valid seed as it stands; the last two bytes double as the
// parser's size selectors.
//
// Checked besides the sanitizers:
//   - reading from bytes and from a device gives the same result;
//   - a document that is not well-formed yields no frame and an error message;
//   - every frame is non-empty and no longer than its "dmx" text allows, and has its origin: an
//     sACN one only with a universe of 1 to 63999;
//   - parseHexFrame gives exactly the bytes of the digit pairs (a non-digit reads as 0, a last
//     single digit as its own value), writes nothing past the buffer or beyond what it parsed,
//     and never reads past the text whatever length it is told;
//   - a document written by toXml reads back as the frame it was written from, in its protocol
//     and, for sACN, its universe.

#include "fuzzenvironment.h"
#include "recordingfile.h"

#include <QBuffer>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int MaxChannels = 512;
constexpr quint8 Untouched = 0xA5;

#define REQUIRE(condition) FUZZ_REQUIRE("fuzz_recordingfile", condition)

bool sameContent(const RecordingFile::Content &a, const RecordingFile::Content &b)
{
    return a.wellFormed == b.wellFormed && a.frames == b.frames && a.origins == b.origins;
}

void checkRead(const QByteArray &document)
{
    const RecordingFile::Content content = RecordingFile::read(document);
    if (!content.wellFormed) {
        REQUIRE(content.frames.isEmpty());
        REQUIRE(!content.errorMessage.isEmpty());
    }
    // An internal entity may expand into a longer text than the document holds.
    const bool mayExpand = document.contains("<!ENTITY");
    for (const QByteArray &frame : content.frames) {
        REQUIRE(!frame.isEmpty());
        if (!mayExpand)
            REQUIRE(frame.size() <= (document.size() - 2) / 2);
    }
    REQUIRE(content.origins.size() == content.frames.size());
    for (const RecordingFile::Origin &origin : content.origins) {
        if (origin.protocol == DmxProtocol::Sacn)
            REQUIRE(origin.sacnUniverse >= 1 && origin.sacnUniverse <= 63999);
        else
            REQUIRE(origin.protocol == DmxProtocol::ArtNet && origin.sacnUniverse == 0);
    }

    QByteArray copy = document;
    QBuffer device(&copy);
    REQUIRE(device.open(QIODevice::ReadOnly | QIODevice::Text));
    const RecordingFile::Content fromDevice = RecordingFile::read(&device);
    // Text mode turns "\r\n" into "\n", which can change a parser's message but not the frames.
    if (!document.contains('\r'))
        REQUIRE(sameContent(content, fromDevice));
}

int expectedDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return 0;
}

// The frame text the parser is given: a "dmx" value when the input has one, else everything.
QString frameText(const QByteArray &input, bool utf8)
{
    QByteArray text = input;
    const int start = input.indexOf("dmx=\"");
    if (start >= 0) {
        const int from = start + 5;
        const int end = input.indexOf('"', from);
        text = input.mid(from, end < 0 ? -1 : end - from);
    }
    return utf8 ? QString::fromUtf8(text) : QString::fromLatin1(text);
}

void checkParseHexFrame(const QByteArray &input)
{
    const quint8 lengthChoice = input.size() >= 2 ? quint8(input[input.size() - 2]) : 0;
    const quint8 sizeChoice = input.isEmpty() ? 0 : quint8(input[input.size() - 1]);
    const QString text = frameText(input, lengthChoice & 0x80);
    const int size = int(text.size());

    int textLength = size;
    switch (lengthChoice % 6) {
    case 1: textLength = size - 1; break;
    case 2: textLength = lengthChoice % 4; break;
    case 3: textLength = (lengthChoice * 7) % (size + 4); break; // may pass the end
    case 4: textLength = -1; break;
    default: break;
    }
    const int pairs = (textLength - 2) / 2;
    int bufferSize = pairs;
    switch (sizeChoice % 6) {
    case 1: bufferSize = 0; break;
    case 2: bufferSize = -3; break;
    case 3: bufferSize = 1; break;
    case 4: bufferSize = MaxChannels + 88; break;
    case 5: bufferSize = pairs + 1; break;
    default: break;
    }

    const int allocated = bufferSize > 0 ? bufferSize : 1;
    std::unique_ptr<uchar[]> buffer(new uchar[size_t(allocated)]);
    std::memset(buffer.get(), Untouched, size_t(allocated));
    const bool nullBuffer = sizeChoice % 7 == 6;
    const bool ok = RecordingFile::parseHexFrame(text, textLength,
                                                 nullBuffer ? nullptr : buffer.get(), bufferSize);

    // Only the characters that are there count, whatever length the caller claims.
    textLength = std::min(textLength, size);
    const bool acceptable = !nullBuffer && textLength > 2 && bufferSize > 0 && text.at(0) == QLatin1Char('0')
            && (text.at(1) == QLatin1Char('x') || text.at(1) == QLatin1Char('X'));
    REQUIRE(ok == acceptable);
    if (!ok) {
        for (int k = 0; k < allocated; ++k)
            REQUIRE(buffer[size_t(k)] == Untouched);
        return;
    }
    int written = 0;
    for (int p = 2; p < textLength && written < bufferSize; ++written) {
        int value = expectedDigit(text.at(p));
        if (p + 1 < textLength) {
            value = (value * 16 + expectedDigit(text.at(p + 1))) & 0xFF;
            p += 2;
        } else {
            p += 1;
        }
        REQUIRE(buffer[size_t(written)] == value);
    }
    for (int k = written; k < bufferSize; ++k)
        REQUIRE(buffer[size_t(k)] == Untouched);
}

void checkRoundTrip(const QByteArray &input)
{
    const QByteArray levels = input.left(MaxChannels);
    if (levels.isEmpty())
        return;
    const bool sacn = quint8(input.at(0)) & 1;
    const int universe = sacn ? 1 + (input.size() * 131) % 63999 : 1 + (input.size() * 131) % 65537;
    const QString document = sacn ? RecordingFile::toXml(levels, DmxProtocol::Sacn, universe)
                                  : RecordingFile::toXml(levels, universe);
    const RecordingFile::Content content = RecordingFile::read(document.toUtf8());
    REQUIRE(content.wellFormed);
    REQUIRE(content.frames.size() == 1);
    REQUIRE(content.origins.size() == 1);
    REQUIRE(content.origins.first().protocol == (sacn ? DmxProtocol::Sacn : DmxProtocol::ArtNet));
    REQUIRE(content.origins.first().sacnUniverse == (sacn ? universe : 0));
    const QByteArray &frame = content.frames.first();
    REQUIRE(frame.size() >= levels.size());
    REQUIRE(frame.left(levels.size()) == levels);
    // Channels beyond the given levels are written as 0.
    REQUIRE(frame.mid(levels.size()).count('\0') == frame.size() - levels.size());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzEnvironment::setUp(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    checkRead(input);
    checkParseHexFrame(input);
    checkRoundTrip(input);
    return 0;
}
