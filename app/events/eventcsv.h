#ifndef EVENTCSV_H
#define EVENTCSV_H

#include <QByteArray>
#include <QList>
#include <QString>

struct DmxEvent;

// The log's events as a CSV file (RFC 4180: CRLF line ends, a field with a comma, quote or line
// break quoted, its quotes doubled). Network text can name itself anything: a cell that starts
// with = + - @, a tab or a carriage return would be a formula to a spreadsheet, so it gets a leading ' as spreadsheets
// export such text themselves.
namespace EventCsv {

QByteArray cell(const QString &text);
QByteArray header();
QByteArray row(const DmxEvent &event);
// events in the order given; false with the reason in *errorString, the old file kept.
bool save(const QString &fileName, const QList<const DmxEvent *> &events, QString *errorString);

} // namespace EventCsv

#endif // EVENTCSV_H
