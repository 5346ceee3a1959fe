#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QTest>

#include <algorithm>

namespace {

enum ColourClass { Black, White, Red, Green, Blue, Yellow };

bool isOfClass(QRgb pixel, ColourClass colourClass)
{
    const int r = qRed(pixel), g = qGreen(pixel), b = qBlue(pixel);
    switch (colourClass) {
    case Black:
        return std::max({ r, g, b }) < 60;
    case White:
        return std::min({ r, g, b }) > 220;
    case Red:
        return r > 180 && g < 90 && b < 90;
    case Green:
        return g > 140 && r < 110 && b < 110;
    case Blue:
        return b > 180 && r < 110 && g < 160;
    case Yellow:
        return r > 200 && g > 160 && b < 130;
    }
    return false;
}

const char *className(ColourClass colourClass)
{
    static const char *const names[] = { "black", "white", "red", "green", "blue", "yellow" };
    return names[colourClass];
}

} // namespace

using ColourClasses = QList<int>;

class tst_Resources : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void bundleHoldsExactlyTheToolbarImages();
    void toolbarImage_data();
    void toolbarImage();
    void programIcon();
};

void tst_Resources::initTestCase()
{
    Q_INIT_RESOURCE(images);
}

void tst_Resources::bundleHoldsExactlyTheToolbarImages()
{
    QStringList names = QDir(QStringLiteral(":/images")).entryList(QDir::Files);
    names.sort();
    QStringList expected{ "filenew.xpm",      "fileopen.xpm",     "filesave.xpm",
                          "runstart.xpm",     "runrecord.xpm",    "runstop.xpm",
                          "runfreeze.xpm",    "toolOptimize.xpm", "toolPollMode.xpm",
                          "viewDecimal.xpm",  "viewPercent.xpm",  "viewHex.xpm",
                          "viewBar.xpm",      "helpHelp.xpm" };
    expected.sort();
    QCOMPARE(names, expected);
}

void tst_Resources::toolbarImage_data()
{
    QTest::addColumn<QString>("name");
    // Colours each picture must show in quantity, so that a swapped or blank file is noticed.
    QTest::addColumn<ColourClasses>("colours");

    QTest::newRow("new: white sheet") << "filenew.xpm" << ColourClasses{ White };
    QTest::newRow("open: yellow folder") << "fileopen.xpm" << ColourClasses{ Yellow };
    QTest::newRow("save: blue floppy with white label")
            << "filesave.xpm" << ColourClasses{ Blue, White, Black };
    QTest::newRow("send: green triangle, black outline")
            << "runstart.xpm" << ColourClasses{ Green, Black };
    QTest::newRow("record: blue circle, black outline")
            << "runrecord.xpm" << ColourClasses{ Blue, Black };
    QTest::newRow("stop: red square, black outline")
            << "runstop.xpm" << ColourClasses{ Red, Black };
    QTest::newRow("freeze: black and white snowflake")
            << "runfreeze.xpm" << ColourClasses{ White, Black };
    QTest::newRow("optimize: black arrows") << "toolOptimize.xpm" << ColourClasses{ Black };
    QTest::newRow("poll mode: green and blue sender")
            << "toolPollMode.xpm" << ColourClasses{ Green, Blue };
    QTest::newRow("decimal: black letters") << "viewDecimal.xpm" << ColourClasses{ Black };
    QTest::newRow("percent: black sign") << "viewPercent.xpm" << ColourClasses{ Black };
    QTest::newRow("hex: black letters") << "viewHex.xpm" << ColourClasses{ Black };
    QTest::newRow("bar: black bars") << "viewBar.xpm" << ColourClasses{ Black };
    QTest::newRow("help: black question mark") << "helpHelp.xpm" << ColourClasses{ Black };
}

void tst_Resources::toolbarImage()
{
    QFETCH(QString, name);
    QFETCH(ColourClasses, colours);

    QImageReader reader(QStringLiteral(":/images/") + name);
    QCOMPARE(reader.format(), QByteArray("xpm"));
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), QSize(32, 32));
    QVERIFY2(image.hasAlphaChannel(), "the background must be transparent");

    const QPoint corners[] = { { 0, 0 }, { 31, 0 }, { 0, 31 }, { 31, 31 } };
    for (const QPoint &corner : corners)
        QVERIFY2(qAlpha(image.pixel(corner)) == 0,
                 qPrintable(QStringLiteral("corner %1,%2 is not transparent")
                                    .arg(corner.x()).arg(corner.y())));

    int opaque = 0;
    QList<int> counts(colours.size(), 0);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) == 0)
                continue;
            QVERIFY2(qAlpha(pixel) == 255, "an XPM pixel is either transparent or opaque");
            ++opaque;
            for (int k = 0; k < colours.size(); ++k)
                counts[k] += isOfClass(pixel, ColourClass(colours.at(k))) ? 1 : 0;
        }
    }
    QVERIFY2(opaque >= 80, qPrintable(QStringLiteral("only %1 visible pixels").arg(opaque)));
    QVERIFY2(opaque <= 32 * 32 - 80, "the picture leaves almost no background");
    for (int k = 0; k < colours.size(); ++k)
        QVERIFY2(counts.at(k) >= 20,
                 qPrintable(QStringLiteral("%1 %2 pixels").arg(counts.at(k))
                                    .arg(QLatin1String(className(ColourClass(colours.at(k)))))));
}

void tst_Resources::programIcon()
{
    const QImage icon(QStringLiteral(":/vardolux.png"));
    QVERIFY2(!icon.isNull(), "the window icon is compiled in");
    QCOMPARE(icon.width(), icon.height());
    QVERIFY(icon.width() >= 48);
    QVERIFY(icon.hasAlphaChannel());
    QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(icon.pixel(icon.width() / 2, icon.height() / 2)), 255);
}

QTEST_GUILESS_MAIN(tst_Resources)
#include "tst_resources.moc"
