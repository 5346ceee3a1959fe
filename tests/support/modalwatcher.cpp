#include "modalwatcher.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>

ModalWatcher::ModalWatcher(Handler handler) : m_handler(std::move(handler))
{
    connect(&m_timer, &QTimer::timeout, this, [this] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        // Each widget once: a handler that fails to close one must not loop forever.
        for (const QPointer<QWidget> &handled : std::as_const(m_handled))
            if (handled == modal)
                return;
        m_handled << modal;
        ++m_seen;
        m_handler(modal);
    });
    m_timer.start(10);
}

void chooseInDialog(QFileDialog *dialog, const QString &path)
{
    dialog->selectFile(path);
    if (auto *nameField = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
        nameField->setText(path);
    static_cast<QDialog *>(dialog)->accept(); // public in QDialog
}
