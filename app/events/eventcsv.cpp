#include "eventcsv.h"

#include "atomicsave.h"
#include "dmxevent.h"
#include "eventtexts.h"

#include <QIODevice>

QByteArray EventCsv::cell(const QString &text)
{
    QString field = text;
    static const QString FormulaStarts = QStringLiteral("=+-@\t\r");
    if (!field.isEmpty() && FormulaStarts.contains(field.front()))
        field.prepend(u'\'');
    const bool quoted = field.contains(u',') || field.contains(u'"') || field.contains(u'\n')
            || field.contains(u'\r');
    if (!quoted)
        return field.toUtf8();
    field.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return '"' + field.toUtf8() + '"';
}

QByteArray EventCsv::header()
{
    return QByteArrayLiteral("Time,Kind,Universe,Source,Text\r\n");
}

QByteArray EventCsv::row(const DmxEvent &event)
{
    const QString universe = event.hasUniverse ? EventTexts::universe(event.universe) : QString();
    QByteArray line = cell(EventTexts::dateTime(event.wallMs));
    for (const QString &field : {DmxEvent::kindText(event.kind), universe,
                                 EventTexts::source(event), event.text})
        line += ',' + cell(field);
    return line + "\r\n";
}

bool EventCsv::save(const QString &fileName, const QList<const DmxEvent *> &events,
                    QString *errorString)
{
    return AtomicSave::save(
            fileName,
            [&events](QIODevice *device) {
                if (device->write(header()) < 0)
                    return false;
                for (const DmxEvent *event : events) {
                    if (device->write(row(*event)) < 0)
                        return false;
                }
                return true;
            },
            errorString);
}
