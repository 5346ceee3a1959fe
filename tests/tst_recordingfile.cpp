// The recording file is the one format the program shares with other copies of itself and with
// people who edit recordings by hand: its bytes must be stable and its reader forgiving in
// exactly the documented ways.
#include "recordingfile.h"
#include "smallfilesystem.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>

namespace {

QByteArray documentWith(const QByteArray &frameElements, const QByteArray &root = "VardoluxData")
{
    return "<!DOCTYPE Vardolux>\n<" + root + ">\n" + frameElements + "</" + root + ">\n";
}

QByteArray frameElement(const QByteArray &dmx)
{
    return " <frame version=\"1\" type=\"artnet\" universe=\"1\" dmx=\"" + dmx + "\"/>\n";
}

// A frame element with the given number of attributes, the last of them a usable frame's four.
QByteArray elementWithAttributes(int count)
{
    QByteArray element = " <frame";
    for (int i = 0; i < count - 4; ++i)
        element += " a" + QByteArray::number(i) + "=\"\"";
    return element + " version=\"1\" type=\"artnet\" universe=\"1\" dmx=\"0x0102\"/>\n";
}

// Whole recordings' frames up to the given document size.
QByteArray documentOfFrames(qint64 size)
{
    const QByteArray frame = " <frame version=\"1\" type=\"artnet\" universe=\"1\" dmx=\"0x"
            + QByteArray(1024, 'a') + "\"/>\n";
    const QByteArray head = "<!DOCTYPE Vardolux>\n<VardoluxData>\n";
    const QByteArray tail = "</VardoluxData>\n";
    QByteArray document = head;
    document += frame.repeated((size - head.size() - tail.size()) / frame.size());
    document += QByteArray(size - document.size() - tail.size(), ' ');
    return document + tail;
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int value : values)
        result.append(char(value));
    return result;
}

// Collects what the reader writes to the debug output, by category.
QStringList capturedMessages;
QtMessageHandler previousHandler = nullptr;
void captureMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg)
        capturedMessages << QString::fromLatin1(context.category) + QLatin1Char(':') + message;
    else if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

class tst_RecordingFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void writesExactLayout();
    void writesAllChannelsOfAFullFrame();
    void writesLevelsAsLowerCaseDigits();
    void savesDocumentOverOldFile();
    void saveOnFullFileSystemKeepsOldFile_data();
    void saveOnFullFileSystemKeepsOldFile();

    void readsFrameText_data();
    void readsFrameText();
    void passesOverUnusableFrames_data();
    void passesOverUnusableFrames();
    void readsFrameUnderAnyRootName();
    void ignoresNestedFrame();
    void readsEveryFrameInDocumentOrder();
    void reportsNotWellFormedDocument_data();
    void reportsNotWellFormedDocument();
    void readsFromDevice();
    void refusesDeeplyNestedDocument_data();
    void refusesDeeplyNestedDocument();
    void refusesOversizedDocument_data();
    void refusesOversizedDocument();
    void tracesAtMostAFewKilobytes();
    void roundTripsFullFrame();
    void survivesEveryTruncatedPrefix();
    void tracesThroughItsOwnCategory();

    void parseHexFrameStopsAtBufferEnd();
    void parseHexFrameRejects_data();
    void parseHexFrameRejects();
    void parseHexFrameClampsLengthToText();
    void hexDigitValue_data();
    void hexDigitValue();
};

void tst_RecordingFile::initTestCase()
{
    // The per-byte trace would bury the test log; one test turns it on again on purpose.
    QLoggingCategory::setFilterRules(QStringLiteral("vardolux.file.debug=false"));
}

void tst_RecordingFile::writesExactLayout()
{
    const QString xml = RecordingFile::toXml(bytes({0x01, 0x02, 0xff}), 7);
    const QString expected = QStringLiteral(
            "<!DOCTYPE Vardolux>\n"                    // document type, nothing else
            "<VardoluxData>\n"                         // root
            " <frame version=\"1\" type=\"artnet\""    // one space indent, fixed order
            " universe=\"7\" dmx=\"0x0102ff\"/>\n"     // universe as given, levels as hex
            "</VardoluxData>\n");
    QCOMPARE(xml, expected);
    QCOMPARE(RecordingFile::toXml(bytes({0x01, 0x02, 0xff}), DmxProtocol::ArtNet, 7), expected);
    QCOMPARE(RecordingFile::toXml(bytes({0x01, 0x02, 0xff}), DmxProtocol::Sacn, 532),
             QStringLiteral("<!DOCTYPE Vardolux>\n<VardoluxData>\n"
                            " <frame version=\"1\" type=\"sacn\" universe=\"532\""
                            " dmx=\"0x0102ff\"/>\n</VardoluxData>\n"));
}

void tst_RecordingFile::writesAllChannelsOfAFullFrame()
{
    const QString xml = RecordingFile::toXml(QByteArray(512, '\0'), 1);
    const QString expected = QStringLiteral("<!DOCTYPE Vardolux>\n<VardoluxData>\n"
                                            " <frame version=\"1\" type=\"artnet\" universe=\"1\""
                                            " dmx=\"0x")
            + QString(1024, QLatin1Char('0')) + QStringLiteral("\"/>\n</VardoluxData>\n");
    QCOMPARE(xml, expected);
}

void tst_RecordingFile::writesLevelsAsLowerCaseDigits()
{
    QByteArray levels;
    for (int level = 0; level < 256; ++level)
        levels.append(char(level));
    const QString xml = RecordingFile::toXml(levels, 32768);
    const int start = int(xml.indexOf(QLatin1String("dmx=\"0x"))) + 7;
    QVERIFY2(start > 7, qPrintable(xml.left(200)));
    const QString digits = xml.mid(start, 512);
    QCOMPARE(digits, QString::fromLatin1(levels.toHex()));
    QVERIFY2(xml.contains(QLatin1String("universe=\"32768\"")), qPrintable(xml.left(200)));
}

void tst_RecordingFile::savesDocumentOverOldFile()
{
    QTemporaryDir directory;
    QVERIFY2(directory.isValid(), qPrintable(directory.errorString()));
    const QString path = directory.filePath(QStringLiteral("rec.xml"));
    QString error;
    QVERIFY2(RecordingFile::save(path, QByteArray(512, '\x11'), 2, &error), qPrintable(error));
    QVERIFY2(RecordingFile::save(path, bytes({1, 2}), 3, &error), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), RecordingFile::toXml(bytes({1, 2}), 3).toLatin1());
    QCOMPARE(QDir(directory.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("rec.xml")});

    QVERIFY(!RecordingFile::save(directory.filePath(QStringLiteral("missing/rec.xml")),
                                 bytes({1, 2}), 3, &error));
    QVERIFY(!error.isEmpty());
}

void tst_RecordingFile::saveOnFullFileSystemKeepsOldFile_data()
{
    QTest::addColumn<bool>("existing");

    QTest::newRow("onto an existing file") << true;
    QTest::newRow("onto a new file") << false;
}

void tst_RecordingFile::saveOnFullFileSystemKeepsOldFile()
{
    VARDOLUX_REQUIRE_EMPTY_SMALL_FILE_SYSTEM();
    QFETCH(bool, existing);
    const QString path = QDir(SmallFileSystem::path()).filePath(QStringLiteral("rec.xml"));
    QString error;
    if (existing)
        QVERIFY2(RecordingFile::save(path, bytes({1, 2, 3}), 1, &error), qPrintable(error));
    VARDOLUX_FILL_SMALL_FILE_SYSTEM();
    const QStringList filesBefore = SmallFileSystem::files();

    QVERIFY(!RecordingFile::save(path, QByteArray(512, '\x7f'), 2, &error));
    QCOMPARE(error, QString::fromLocal8Bit(strerror(ENOSPC)));
    QCOMPARE(SmallFileSystem::files(), filesBefore);
    if (existing) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), RecordingFile::toXml(bytes({1, 2, 3}), 1).toLatin1());
    }
}

void tst_RecordingFile::readsFrameText_data()
{
    QTest::addColumn<QByteArray>("dmx");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("mixed case digits") << QByteArray("0x0A0b") << bytes({10, 11});
    QTest::newRow("upper-case prefix") << QByteArray("0XFF") << bytes({255});
    QTest::newRow("odd last digit ignored") << QByteArray("0x123") << bytes({0x12});
    QTest::newRow("non-digit reads as zero") << QByteArray("0xg1") << bytes({1});
    QTest::newRow("non-digit low digit") << QByteArray("0x1z") << bytes({0x10});
    QTest::newRow("full universe")
            << ("0x" + QByteArray(1022, '0') + "ff") << (QByteArray(511, '\0') + bytes({255}));
    QTest::newRow("longer than a universe")
            << ("0x" + QByteArray(1024, 'f') + "01") << (QByteArray(512, '\xff') + bytes({1}));
}

void tst_RecordingFile::readsFrameText()
{
    QFETCH(QByteArray, dmx);
    QFETCH(QByteArray, frame);
    const RecordingFile::Content content = RecordingFile::read(documentWith(frameElement(dmx)));
    QVERIFY2(content.wellFormed, qPrintable(content.errorMessage));
    QCOMPARE(content.frames.size(), 1);
    QCOMPARE(content.frames.first().toHex(), frame.toHex());
}

void tst_RecordingFile::passesOverUnusableFrames_data()
{
    QTest::addColumn<QByteArray>("element");

    QTest::newRow("single digit") << frameElement("0x1");
    QTest::newRow("bare prefix") << frameElement("0x");
    QTest::newRow("empty dmx") << frameElement("");
    QTest::newRow("no prefix") << frameElement("ff00");
    QTest::newRow("prefix not at start") << frameElement(" 0xff00");
    QTest::newRow("missing dmx")
            << QByteArray(" <frame version=\"1\" type=\"artnet\" universe=\"1\"/>\n");
    QTest::newRow("version 2")
            << QByteArray(" <frame version=\"2\" type=\"artnet\" universe=\"1\" dmx=\"0x0102\"/>\n");
    QTest::newRow("version not a number")
            << QByteArray(" <frame version=\"one\" type=\"artnet\" dmx=\"0x0102\"/>\n");
    QTest::newRow("version in hexadecimal")
            << QByteArray(" <frame version=\"0x1\" type=\"artnet\" dmx=\"0x0102\"/>\n");
    QTest::newRow("missing version")
            << QByteArray(" <frame type=\"artnet\" universe=\"1\" dmx=\"0x0102\"/>\n");
    QTest::newRow("type in another case")
            << QByteArray(" <frame version=\"1\" type=\"ArtNet\" universe=\"1\" dmx=\"0x0102\"/>\n");
    QTest::newRow("missing type")
            << QByteArray(" <frame version=\"1\" universe=\"1\" dmx=\"0x0102\"/>\n");
    QTest::newRow("sacn without universe")
            << QByteArray(" <frame version=\"1\" type=\"sacn\" dmx=\"0x0102\"/>\n");
    QTest::newRow("sacn universe 0")
            << QByteArray(" <frame version=\"1\" type=\"sacn\" universe=\"0\" dmx=\"0x0102\"/>\n");
    QTest::newRow("sacn universe 64000")
            << QByteArray(" <frame version=\"1\" type=\"sacn\" universe=\"64000\" dmx=\"0x0102\"/>\n");
    QTest::newRow("sacn universe not a number")
            << QByteArray(" <frame version=\"1\" type=\"sacn\" universe=\"7a\" dmx=\"0x0102\"/>\n");
    QTest::newRow("sacn type in another case")
            << QByteArray(" <frame version=\"1\" type=\"sACN\" universe=\"7\" dmx=\"0x0102\"/>\n");
    QTest::newRow("type none") << QByteArray(" <frame version=\"1\" type=\"none\" dmx=\"0x0102\"/>\n");
    QTest::newRow("tag in another case")
            << QByteArray(" <Frame version=\"1\" type=\"artnet\" universe=\"1\" dmx=\"0x0102\"/>\n");
    QTest::newRow("text instead of element") << QByteArray(" frame 0x0102\n");
    QTest::newRow("comment") << QByteArray(" <!-- <frame version=\"1\" type=\"artnet\" "
                                           "dmx=\"0x0102\"/> -->\n");
}

void tst_RecordingFile::passesOverUnusableFrames()
{
    QFETCH(QByteArray, element);
    const RecordingFile::Content content = RecordingFile::read(documentWith(element));
    QVERIFY2(content.wellFormed, qPrintable(content.errorMessage));
    QVERIFY2(content.frames.isEmpty(),
             qPrintable(QStringLiteral("read %1 frame(s)").arg(content.frames.size())));
}

void tst_RecordingFile::readsFrameUnderAnyRootName()
{
    const RecordingFile::Content content =
            RecordingFile::read(documentWith(frameElement("0x0a0b"), "SomethingElse"));
    QVERIFY2(content.wellFormed, qPrintable(content.errorMessage));
    QCOMPARE(content.frames, QList<QByteArray>{bytes({10, 11})});
}

void tst_RecordingFile::ignoresNestedFrame()
{
    const RecordingFile::Content content =
            RecordingFile::read(documentWith(" <group>\n " + frameElement("0x0a0b") + " </group>\n"));
    QVERIFY2(content.wellFormed, qPrintable(content.errorMessage));
    QVERIFY(content.frames.isEmpty());
}

void tst_RecordingFile::readsEveryFrameInDocumentOrder()
{
    const RecordingFile::Content content = RecordingFile::read(documentWith(
            frameElement("0x0102") + " <other/>\n" + frameElement("0x030405") + frameElement("0x1")));
    QVERIFY2(content.wellFormed, qPrintable(content.errorMessage));
    QCOMPARE(content.frames, (QList<QByteArray>{bytes({1, 2}), bytes({3, 4, 5})}));

    // Each frame with where it was recorded; the Art-Net universe is not read.
    const RecordingFile::Content mixed = RecordingFile::read(documentWith(
            frameElement("0x0102")
            + " <frame version=\"1\" type=\"sacn\" universe=\"63999\" dmx=\"0x03\"/>\n"
            + " <frame version=\"1\" type=\"artnet\" universe=\"9\" dmx=\"0x04\"/>\n"));
    QCOMPARE(mixed.frames, (QList<QByteArray>{bytes({1, 2}), bytes({3}), bytes({4})}));
    const RecordingFile::Origin artNet;
    const RecordingFile::Origin sacn{DmxProtocol::Sacn, 63999};
    QCOMPARE(mixed.origins, (QList<RecordingFile::Origin>{artNet, sacn, artNet}));
}

void tst_RecordingFile::reportsNotWellFormedDocument_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("column");

    // At a premature end of the document the parser reports column 0 of the line after.
    QTest::newRow("unclosed root") << QByteArray("<!DOCTYPE Vardolux>\n<VardoluxData>\n")
                                   << 3 << 0;
    QTest::newRow("mismatched end tag")
            << QByteArray("<!DOCTYPE Vardolux>\n<VardoluxData>\n <frame>\n</VardoluxData>\n") << 4
            << 15;
    QTest::newRow("unquoted attribute")
            << QByteArray("<VardoluxData>\n <frame version=1/>\n</VardoluxData>\n") << 2 << 17;
    QTest::newRow("empty file") << QByteArray() << 1 << 0;
    QTest::newRow("plain text") << QByteArray("0x0102ff\n") << 1 << 1;
}

void tst_RecordingFile::reportsNotWellFormedDocument()
{
    QFETCH(QByteArray, document);
    QFETCH(int, line);
    QFETCH(int, column);
    const RecordingFile::Content content = RecordingFile::read(document);
    QVERIFY(!content.wellFormed);
    QVERIFY(content.frames.isEmpty());
    QVERIFY2(!content.errorMessage.isEmpty(), "the parser's message is lost");
    QCOMPARE(content.errorLine, line);
    QCOMPARE(content.errorColumn, column);
}

void tst_RecordingFile::readsFromDevice()
{
    QTemporaryDir directory;
    QVERIFY2(directory.isValid(), qPrintable(directory.errorString()));
    QFile file(directory.filePath(QStringLiteral("rec.xml")));
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
    file.write(RecordingFile::toXml(bytes({1, 2, 255}), 3).toLatin1());
    file.close();

    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
    const RecordingFile::Content content = RecordingFile::read(&file);
    QVERIFY2(content.wellFormed, qPrintable(content.errorMessage));
    QCOMPARE(content.frames, QList<QByteArray>{bytes({1, 2, 255})});

    QVERIFY(!RecordingFile::read(static_cast<QIODevice *>(nullptr)).wellFormed);
}

void tst_RecordingFile::refusesDeeplyNestedDocument_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("256 levels") << 256 << true;
    QTest::newRow("257 levels") << 257 << false;
    // Without the limit this one takes Qt's DOM builder minutes and then overflows the stack.
    QTest::newRow("200000 levels") << 200000 << false;
}

void tst_RecordingFile::refusesDeeplyNestedDocument()
{
    QFETCH(int, depth);
    QFETCH(bool, accepted);
    // The root, a usable frame, and beside it a chain of elements down to the given depth.
    const int chain = depth - 1;
    const QByteArray document = "<!DOCTYPE Vardolux>\n<VardoluxData>\n" + frameElement("0x0102")
            + QByteArray("<a>").repeated(chain) + QByteArray("</a>").repeated(chain)
            + "\n</VardoluxData>\n";

    const RecordingFile::Content content = RecordingFile::read(document);
    if (accepted) {
        QVERIFY2(content.wellFormed, qPrintable(content.errorMessage));
        QCOMPARE(content.frames, QList<QByteArray>{bytes({1, 2})});
    } else {
        QVERIFY(!content.wellFormed);
        QVERIFY(content.frames.isEmpty());
        QCOMPARE(content.errorMessage, QStringLiteral("Elements nested more than 256 deep"));
        QCOMPARE(content.errorLine, 4);
    }

    // A device gives the same result as the bytes.
    QByteArray copy = document;
    QBuffer device(&copy);
    QVERIFY(device.open(QIODevice::ReadOnly));
    const RecordingFile::Content fromDevice = RecordingFile::read(&device);
    QCOMPARE(fromDevice.wellFormed, content.wellFormed);
    QCOMPARE(fromDevice.frames, content.frames);
}

void tst_RecordingFile::refusesOversizedDocument_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<int>("frames"); // -1: refused
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("line");

    const QString tooLarge = QStringLiteral("The file is larger than 4 MiB, too large for a recording");
    const QString tooManyAttributes = QStringLiteral("An element has more than 32 attributes");
    QTest::newRow("4 MiB of whole frames")
            << documentOfFrames(RecordingFile::MaxFileSize) << 3876 << QString() << 0;
    QTest::newRow("one byte over 4 MiB")
            << documentOfFrames(RecordingFile::MaxFileSize + 1) << -1 << tooLarge << 0;
    QTest::newRow("50 MB") << documentOfFrames(50'000'000) << -1 << tooLarge << 0;
    QTest::newRow("32 attributes") << documentWith(elementWithAttributes(32)) << 1 << QString()
                                   << 0;
    QTest::newRow("33 attributes")
            << documentWith(elementWithAttributes(33)) << -1 << tooManyAttributes << 3;
    QTest::newRow("25000 attributes")
            << documentWith(elementWithAttributes(25000)) << -1 << tooManyAttributes << 3;
    QTest::newRow("33 attributes in UTF-16 with a byte-order mark")
            << (QByteArray("\xff\xfe")
                + QByteArray(reinterpret_cast<const char *>(
                                     QString::fromLatin1(documentWith(elementWithAttributes(33)))
                                             .utf16()),
                             2 * documentWith(elementWithAttributes(33)).size()))
            << -1 << tooManyAttributes << 3;
    // '=' and '>' inside quoted values, comments, CDATA, processing instructions and the
    // document type are no attributes.
    QTest::newRow("equals signs that are no attributes")
            << ("<?xml version=\"1.0\"?><?pi" + QByteArray(" a=1").repeated(40)
                + "?>\n<!DOCTYPE Vardolux [ <!ENTITY e '" + QByteArray("=]>").repeated(40)
                + "'> <!-- ' --> ]>\n<VardoluxData>\n<!--" + QByteArray("=").repeated(40)
                + "-->\n<other a=\"" + QByteArray("=>'").repeated(40) + "\"><![CDATA["
                + QByteArray("<b x=1>").repeated(40) + "]]></other>\n"
                + frameElement("0x0102") + "</VardoluxData>\n")
            << 1 << QString() << 0;
}

void tst_RecordingFile::refusesOversizedDocument()
{
    QFETCH(QByteArray, document);
    QFETCH(int, frames);
    QFETCH(QString, message);
    QFETCH(int, line);
    QBuffer device(&document);
    QVERIFY(device.open(QIODevice::ReadOnly));
    for (const RecordingFile::Content &content :
         {RecordingFile::read(document), RecordingFile::read(&device)}) {
        if (frames >= 0) {
            QVERIFY2(content.wellFormed, qPrintable(content.errorMessage));
            QCOMPARE(content.frames.size(), frames);
        } else {
            QVERIFY(!content.wellFormed);
            QVERIFY(content.frames.isEmpty());
            QCOMPARE(content.errorMessage, message);
            QCOMPARE(content.errorLine, line);
        }
    }
}

void tst_RecordingFile::tracesAtMostAFewKilobytes()
{
    QLoggingCategory::setFilterRules(QStringLiteral("vardolux.file.debug=true"));
    capturedMessages.clear();
    previousHandler = qInstallMessageHandler(captureMessage);
    const RecordingFile::Content content =
            RecordingFile::read(documentOfFrames(RecordingFile::MaxFileSize));
    qInstallMessageHandler(previousHandler);
    QLoggingCategory::setFilterRules(QStringLiteral("vardolux.file.debug=false"));

    QCOMPARE(content.frames.size(), 3876);
    qint64 characters = 0;
    for (const QString &message : std::as_const(capturedMessages))
        characters += message.size() + 1;
    QVERIFY2(characters < 4096, qPrintable(QString::number(characters)));
    // The first lines as always, then what was left out.
    QCOMPARE(capturedMessages.first(), QStringLiteral("vardolux.file:\"frame\""));
    QCOMPARE(capturedMessages.at(1), QStringLiteral("vardolux.file:170"));
    QCOMPARE(capturedMessages.last(),
             QStringLiteral("vardolux.file:... %1 more lines left out (3876 elements, 3876 "
                            "frames read)")
                     .arg(3876 * (1 + 1024) - 100));
}

void tst_RecordingFile::roundTripsFullFrame()
{
    QByteArray levels;
    for (int channel = 0; channel < 512; ++channel)
        levels.append(char((channel * 37 + 11) & 0xff));
    const RecordingFile::Content content =
            RecordingFile::read(RecordingFile::toXml(levels, 12).toLatin1());
    QVERIFY2(content.wellFormed, qPrintable(content.errorMessage));
    QCOMPARE(content.frames.size(), 1);
    QCOMPARE(content.frames.first().toHex(), levels.toHex());
}

void tst_RecordingFile::survivesEveryTruncatedPrefix()
{
    const QByteArray document = RecordingFile::toXml(bytes({1, 2, 3, 4}), 1).toLatin1();
    // Only the final line end may go missing; any shorter cut leaves the root unclosed.
    for (int length = 0; length < document.size() - 1; ++length) {
        const RecordingFile::Content content = RecordingFile::read(document.left(length));
        QVERIFY2(!content.wellFormed && content.frames.isEmpty(),
                 qPrintable(QStringLiteral("prefix of %1 bytes").arg(length)));
    }
    const RecordingFile::Content content = RecordingFile::read(document.chopped(1));
    QVERIFY2(content.wellFormed, qPrintable(content.errorMessage));
    QCOMPARE(content.frames, QList<QByteArray>{bytes({1, 2, 3, 4})});
}

void tst_RecordingFile::tracesThroughItsOwnCategory()
{
    QLoggingCategory::setFilterRules(QStringLiteral("vardolux.file.debug=true"));
    capturedMessages.clear();
    previousHandler = qInstallMessageHandler(captureMessage);
    RecordingFile::read(documentWith(" <other/>\n" + frameElement("0x0aff")));
    qInstallMessageHandler(previousHandler);
    QLoggingCategory::setFilterRules(QStringLiteral("vardolux.file.debug=false"));

    const QStringList expected{
        QStringLiteral("vardolux.file:\"other\""), QStringLiteral("vardolux.file:\"frame\""),
        QStringLiteral("vardolux.file:10"),        QStringLiteral("vardolux.file:10 0a"),
        QStringLiteral("vardolux.file:255"),       QStringLiteral("vardolux.file:255 ff"),
    };
    QCOMPARE(capturedMessages, expected);
}

void tst_RecordingFile::parseHexFrameStopsAtBufferEnd()
{
    unsigned char buffer[4] = {0xee, 0xee, 0xee, 0xee};
    QVERIFY(RecordingFile::parseHexFrame(QStringLiteral("0x010203"), 8, buffer, 2));
    QCOMPARE(buffer[0], 1);
    QCOMPARE(buffer[1], 2);
    QVERIFY2(buffer[2] == 0xee, "wrote past the buffer it was given");

    // A last single digit is a byte of its own when the buffer has room for it.
    QVERIFY(RecordingFile::parseHexFrame(QStringLiteral("0x123"), 5, buffer, 4));
    QCOMPARE(buffer[0], 0x12);
    QCOMPARE(buffer[1], 3);
    QVERIFY2(buffer[2] == 0xee, "wrote past the end of the text");
}

void tst_RecordingFile::parseHexFrameRejects_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("textLength");
    QTest::addColumn<int>("bufferSize");

    QTest::newRow("bare prefix") << QStringLiteral("0x") << 2 << 4;
    QTest::newRow("empty") << QString() << 0 << 4;
    QTest::newRow("no prefix") << QStringLiteral("ff00") << 4 << 4;
    QTest::newRow("prefix 0y") << QStringLiteral("0yff") << 4 << 4;
    QTest::newRow("zero buffer") << QStringLiteral("0xff") << 4 << 0;
    QTest::newRow("negative buffer") << QStringLiteral("0xff") << 4 << -1;
    QTest::newRow("length cuts off the digits") << QStringLiteral("0xff") << 2 << 4;
    QTest::newRow("negative length") << QStringLiteral("0xff") << -5 << 4;
}

void tst_RecordingFile::parseHexFrameRejects()
{
    QFETCH(QString, text);
    QFETCH(int, textLength);
    QFETCH(int, bufferSize);
    unsigned char buffer[4] = {0xee, 0xee, 0xee, 0xee};
    QVERIFY(!RecordingFile::parseHexFrame(text, textLength, buffer, bufferSize));
    QVERIFY2(buffer[0] == 0xee, "a rejected text still wrote into the buffer");
}

void tst_RecordingFile::parseHexFrameClampsLengthToText()
{
    unsigned char buffer[8] = {0xee, 0xee, 0xee, 0xee, 0xee, 0xee, 0xee, 0xee};
    QVERIFY(RecordingFile::parseHexFrame(QStringLiteral("0xabcd"), 1000, buffer, 8));
    QCOMPARE(buffer[0], 0xab);
    QCOMPARE(buffer[1], 0xcd);
    QVERIFY2(buffer[2] == 0xee, "read beyond the end of the text");
    QVERIFY(!RecordingFile::parseHexFrame(QStringLiteral("0xab"), 4, nullptr, 8));
}

void tst_RecordingFile::hexDigitValue_data()
{
    QTest::addColumn<QChar>("character");
    QTest::addColumn<int>("value");

    QTest::newRow("0") << QChar(u'0') << 0;
    QTest::newRow("9") << QChar(u'9') << 9;
    QTest::newRow("A") << QChar(u'A') << 10;
    QTest::newRow("F") << QChar(u'F') << 15;
    QTest::newRow("a") << QChar(u'a') << 10;
    QTest::newRow("f") << QChar(u'f') << 15;
    QTest::newRow("G") << QChar(u'G') << 0;
    QTest::newRow("g") << QChar(u'g') << 0;
    QTest::newRow("slash before 0") << QChar(u'/') << 0;
    QTest::newRow("colon after 9") << QChar(u':') << 0;
    QTest::newRow("at sign before A") << QChar(u'@') << 0;
    QTest::newRow("backquote before a") << QChar(u'`') << 0;
    QTest::newRow("blank") << QChar(u' ') << 0;
    QTest::newRow("NUL") << QChar(u'\0') << 0;
    // Characters whose low byte is a digit must not pass as that digit.
    QTest::newRow("L with stroke (U+0141)") << QChar(char16_t(0x0141)) << 0;
    QTest::newRow("fullwidth 5 (U+FF15)") << QChar(char16_t(0xff15)) << 0;
    QTest::newRow("Latin-1 a grave") << QChar(char16_t(0x00e0)) << 0;
}

void tst_RecordingFile::hexDigitValue()
{
    QFETCH(QChar, character);
    QFETCH(int, value);
    QCOMPARE(int(RecordingFile::hexDigitValue(character)), value);
}

QTEST_GUILESS_MAIN(tst_RecordingFile)
#include "tst_recordingfile.moc"
