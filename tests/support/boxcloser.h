#ifndef BOXCLOSER_H
#define BOXCLOSER_H

#include "modalwatcher.h"

#include <QList>
#include <QMessageBox>
#include <QString>

// What a message box showed.
struct SeenBox
{
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon;
};

// A watcher that notes and closes every message box (and closes any other modal widget).
struct BoxCloser
{
    BoxCloser();

    QList<SeenBox> boxes;
    ModalWatcher watcher;
};

#endif // BOXCLOSER_H
