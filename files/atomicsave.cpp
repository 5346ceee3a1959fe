#include "atomicsave.h"

#include <QSaveFile>

bool AtomicSave::save(const QString &fileName,
                      const std::function<bool(QIODevice *)> &writeContent, QString *errorString)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        *errorString = file.errorString();
        return false;
    }
    // write() only fills QSaveFile's buffer, and commit() reports success even when emptying
    // that buffer fails: on a full disk it would put an empty file in place of the old one.
    // Flushing first is where the failure shows; cancelling then keeps the old file.
    if (!writeContent(&file) || !file.flush()) {
        *errorString = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *errorString = file.errorString();
        return false;
    }
    return true;
}
