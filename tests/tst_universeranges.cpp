// The watch list's text: which universes it names, what it refuses and why, and the text a
// list is written back as.
#include "universeranges.h"

#include <QTest>

namespace {

QList<quint16> run(int first, int last)
{
    QList<quint16> universes;
    for (int universe = first; universe <= last; ++universe)
        universes << quint16(universe);
    return universes;
}

} // namespace

class tst_UniverseRanges : public QObject
{
    Q_OBJECT

private slots:
    void parsesNumbersAndRanges_data();
    void parsesNumbersAndRanges();
    void refusesWithReason_data();
    void refusesWithReason();
    void formatsConsecutiveAsRanges_data();
    void formatsConsecutiveAsRanges();
};

void tst_UniverseRanges::parsesNumbersAndRanges_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<quint16>>("universes");

    QTest::newRow("blank") << QStringLiteral("  ") << QList<quint16>();
    QTest::newRow("ranges and numbers")
            << QStringLiteral("1-3, 101, 532-534")
            << QList<quint16>{1, 2, 3, 101, 532, 533, 534};
    QTest::newRow("spaces around the dash") << QStringLiteral(" 5 - 6 ") << QList<quint16>{5, 6};
    QTest::newRow("out of order and overlapping")
            << QStringLiteral("9, 2-4, 3-5, 9") << QList<quint16>{2, 3, 4, 5, 9};
    QTest::newRow("empty items passed over") << QStringLiteral(",1,,2,") << QList<quint16>{1, 2};
    QTest::newRow("the last universe") << QStringLiteral("63999") << QList<quint16>{63999};
    QTest::newRow("at the limit, repeated")
            << QStringLiteral("1-2048, 1-2048, 2048") << run(1, 2048);
}

void tst_UniverseRanges::parsesNumbersAndRanges()
{
    QFETCH(QString, text);
    QFETCH(QList<quint16>, universes);
    QList<quint16> parsed{42};
    QString error;
    QVERIFY2(UniverseRanges::parse(text, &parsed, &error), qPrintable(error));
    QCOMPARE(parsed, universes);
}

void tst_UniverseRanges::refusesWithReason_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("error");

    const QString notUniverse = QStringLiteral("%1 is not a universe or a range of universes");
    const QString outside = QStringLiteral("%1 is outside the universes 1 to 63999");
    QTest::newRow("letters") << QStringLiteral("1-20, abc") << notUniverse.arg("\"abc\"");
    QTest::newRow("open range") << QStringLiteral("5-") << notUniverse.arg("\"5-\"");
    QTest::newRow("negative") << QStringLiteral("-5") << notUniverse.arg("\"-5\"");
    QTest::newRow("two dashes") << QStringLiteral("1-2-3") << notUniverse.arg("\"1-2-3\"");
    QTest::newRow("sign") << QStringLiteral("+5") << notUniverse.arg("\"+5\"");
    QTest::newRow("more digits than a universe has")
            << QStringLiteral("000001") << notUniverse.arg("\"000001\"");
    QTest::newRow("long item quoted short")
            << QStringLiteral("x").repeated(100) << notUniverse.arg("\"" + QString(24, u'x') + "...\"");
    QTest::newRow("zero") << QStringLiteral("0-5") << outside.arg("\"0-5\"");
    QTest::newRow("past the last") << QStringLiteral("64000") << outside.arg("\"64000\"");
    QTest::newRow("backwards") << QStringLiteral("540-532")
                               << QStringLiteral("The range \"540-532\" runs backwards");
    const QString tooMany =
            QStringLiteral("The list names more than 2048 universes, more than can be watched");
    QTest::newRow("one past the limit") << QStringLiteral("1-2048, 4000") << tooMany;
}

void tst_UniverseRanges::refusesWithReason()
{
    QFETCH(QString, text);
    QFETCH(QString, error);
    QList<quint16> parsed{42};
    QString reason;
    QVERIFY(!UniverseRanges::parse(text, &parsed, &reason));
    QCOMPARE(reason, error);
    QCOMPARE(parsed, QList<quint16>{42});
}

void tst_UniverseRanges::formatsConsecutiveAsRanges_data()
{
    QTest::addColumn<QList<quint16>>("universes");
    QTest::addColumn<QString>("text");

    QTest::newRow("none") << QList<quint16>() << QString();
    QTest::newRow("pair") << QList<quint16>{7, 8} << QStringLiteral("7-8");
    QTest::newRow("ranges and numbers")
            << (run(1, 20) + QList<quint16>{101} + run(532, 540))
            << QStringLiteral("1-20, 101, 532-540");
    QTest::newRow("unsorted with repeats")
            << QList<quint16>{9, 3, 2, 9, 4} << QStringLiteral("2-4, 9");
}

void tst_UniverseRanges::formatsConsecutiveAsRanges()
{
    QFETCH(QList<quint16>, universes);
    QFETCH(QString, text);
    QCOMPARE(UniverseRanges::format(universes), text);
}

QTEST_APPLESS_MAIN(tst_UniverseRanges)
#include "tst_universeranges.moc"
