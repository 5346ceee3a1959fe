#ifndef UNIVERSERANGES_H
#define UNIVERSERANGES_H

#include <QCoreApplication>
#include <QList>
#include <QString>

// The sACN universes of a watch list as the user writes them: single numbers and ranges,
// separated by commas, such as "1-20, 101, 532-540".
class UniverseRanges
{
    Q_DECLARE_TR_FUNCTIONS(UniverseRanges)

public:
    // The receiver follows no more; a longer list is refused rather than cut.
    static const int MaxUniverses;

    // The universes the text names, ascending, each once; a blank text names none. False, with
    // *universes untouched and the reason in *error, for a text that names something other than
    // universes 1 to 63999, a range that runs backwards, or more than MaxUniverses universes.
    static bool parse(const QString &text, QList<quint16> *universes, QString *error);
    // The text parse() reads back as these universes, consecutive ones joined into ranges.
    static QString format(const QList<quint16> &universes);
};

#endif // UNIVERSERANGES_H
