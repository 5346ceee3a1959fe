// CaptureSession: capturing what the sockets receive to a pcap file.
#include "capturesession.h"

#include "artnet.h"
#include "sacnreceiver.h"

#include <QFileInfo>

bool CaptureSession::startCapture(const QString &path, quint64 sizeLimitBytes)
{
    stopCapture();
    if (!m_artNet)
        return false;
    m_captureWriter = std::make_unique<CaptureFileWriter>();
    if (!m_captureWriter->start(path, sizeLimitBytes))
        return false;
    m_capturing = true;
    m_captureEndNoted = false;
    noteEvent(DmxEventKind::CaptureStarted, QFileInfo(path).fileName());
    m_artNet->setDatagramTap(m_captureWriter.get());
    m_sacn->setDatagramTap(m_captureWriter.get());
    // A capture records what the network carries, whether or not anything else reads it.
    m_artNet->openSocket();
    m_sacn->open();
    return true;
}

void CaptureSession::stopCapture()
{
    if (!m_capturing)
        return;
    // The taps go first: the writer must not be called once it is gone.
    m_artNet->setDatagramTap(nullptr);
    m_sacn->setDatagramTap(nullptr);
    m_captureWriter->stop();
    noteCaptureEnded();
    m_capturing = false;
    closeSacnWhenUnused();
}

CaptureFileWriter::Status CaptureSession::captureStatus() const
{
    return m_captureWriter ? m_captureWriter->status() : CaptureFileWriter::Status();
}
