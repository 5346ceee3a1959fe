#ifndef ATOMICSAVE_H
#define ATOMICSAVE_H

#include <QString>

#include <functional>

class QIODevice;

// Writes a file whole or not at all: the content goes to a copy beside the target, which
// replaces the target only once every byte has reached the disk. An existing file survives a
// failed save byte for byte, and a new one is not left behind.
namespace AtomicSave {

// writeContent writes everything to the device it is given and returns false when a write
// failed. False with the reason in *errorString when opening, writing or replacing fails.
bool save(const QString &fileName, const std::function<bool(QIODevice *)> &writeContent,
          QString *errorString);

} // namespace AtomicSave

#endif // ATOMICSAVE_H
