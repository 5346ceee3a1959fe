// The window's document: the recording file it shows, opened, saved and named in the title.
#include "vardolux.h"

#include "activityviews.h"
#include "artnetpackets.h"
#include "capturesession.h"
#include "protocolbar.h"
#include "recordingfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSpinBox>
#include <QStatusBar>

#include <algorithm>

namespace {

constexpr int FrameBufferSize = ArtNetPackets::Dmx::MaxChannels;
constexpr int ConfirmationTimeoutMs = 2000;

// Qt reads "[*]" in a title as the modified mark; a file name may contain it literally.
QString escapedForTitle(QString name)
{
    return name.replace(QLatin1String("[*]"), QLatin1String("[*][*]"));
}

// Why a file read cannot be loaded as a recording; empty when it can.
QString unusableReason(const RecordingFile::Content &content)
{
    if (!content.wellFormed && content.errorLine <= 0)
        return content.errorMessage;
    if (!content.wellFormed)
        return QCoreApplication::translate("Vardolux", "%1 at line %2, column %3")
                .arg(content.errorMessage, QString::number(content.errorLine),
                     QString::number(content.errorColumn));
    if (content.frames.isEmpty())
        return QCoreApplication::translate("Vardolux", "The file holds no DMX frame");
    return QString();
}

} // namespace

void Vardolux::newFile()
{
    setCurrentFile(QString());
}

void Vardolux::open()
{
    const QString fileName = QFileDialog::getOpenFileName(
            this, tr("Choose a file to open"), QString(), tr("XML Files (*.xml);; All Files (*.*)"));
    if (!fileName.isEmpty())
        loadFile(fileName);
}

bool Vardolux::save()
{
    if (currentFile.isEmpty())
        return saveAs();
    return saveFile(currentFile);
}

bool Vardolux::saveAs()
{
    const QString fileName = QFileDialog::getSaveFileName(
            this, tr("Save File"), QString(), tr("XML Files (*.xml);; All Files (*.*)"));
    if (fileName.isEmpty())
        return false;
    return saveFile(fileName);
}

void Vardolux::documentWasModified()
{
    setWindowModified(true);
}

bool Vardolux::saveFile(const QString &fileName)
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    QString error;
    const UniverseKey onShow = session->universeOnShow();
    const bool saved = onShow.protocol == DmxProtocol::Sacn
            ? RecordingFile::save(fileName, levelsOnShow(true), DmxProtocol::Sacn, onShow.number,
                                  &error)
            : RecordingFile::save(fileName, levelsOnShow(true), universeSpinBox->value(), &error);
    QGuiApplication::restoreOverrideCursor();

    if (!saved) {
        QMessageBox::warning(this, tr("Application"),
                             tr("Cannot write file %1:\n%2.").arg(fileName, error),
                             QMessageBox::Ok);
        return false;
    }

    setCurrentFile(fileName);
    statusBar()->showMessage(tr("File saved"), ConfirmationTimeoutMs);
    return true;
}

void Vardolux::loadFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QMessageBox::warning(this, tr("Application"),
                             tr("Cannot read file %1:\n%2.").arg(fileName, file.errorString()),
                             QMessageBox::Ok);
        return;
    }

    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const RecordingFile::Content content = RecordingFile::read(&file);
    file.close();
    QGuiApplication::restoreOverrideCursor();

    // A file that cannot be a recording must not take the place of the current one.
    const QString problem = unusableReason(content);
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, tr("Application"),
                             tr("Cannot read file %1:\n%2.").arg(fileName, problem),
                             QMessageBox::Ok);
        return;
    }

    activityViews->forget();
    bool allSent = true;
    for (qsizetype index = 0; index < content.frames.size(); ++index) {
        const QByteArray &frame = content.frames[index];
        const RecordingFile::Origin &origin = content.origins[index];
        if (origin.protocol == DmxProtocol::Sacn)
            protocolBar->showSacnUniverse(origin.sacnUniverse);
        else
            protocolBar->showProtocol(DmxProtocol::ArtNet);
        // Only one universe is on show; the 16-bit length must not wrap for an oversized frame.
        const int shown = std::min(int(frame.size()), FrameBufferSize);
        showFrame(reinterpret_cast<const unsigned char *>(frame.constData()), quint16(shown));
        if (sending && session->started())
            allSent = sendFrame(frame) && allSent;
    }
    if (sending)
        updateSendingNote();

    setCurrentFile(fileName);
    // A refused frame's message stays; the user needs it more than the confirmation.
    if (allSent)
        statusBar()->showMessage(tr("File loaded"), ConfirmationTimeoutMs);
}

void Vardolux::setCurrentFile(const QString &fileName)
{
    currentFile = fileName;
    setWindowModified(false);
    const QString shownName = fileName.isEmpty() ? QStringLiteral("untitled.txt")
                                                 : escapedForTitle(strippedName(fileName));
    setWindowTitle(tr("%1[*] - %2").arg(shownName, tr("Application")));
}

QString Vardolux::strippedName(const QString &fullFileName)
{
    return QFileInfo(fullFileName).fileName();
}
