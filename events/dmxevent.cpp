#include "dmxevent.h"

#include <QCoreApplication>

QString DmxEvent::kindText(DmxEventKind kind)
{
    switch (kind) {
    case DmxEventKind::SourceAppeared: return QCoreApplication::translate("DmxEvent", "Source appeared");
    case DmxEventKind::SourceLost: return QCoreApplication::translate("DmxEvent", "Source lost");
    case DmxEventKind::SourceResumed: return QCoreApplication::translate("DmxEvent", "Source resumed");
    case DmxEventKind::ConflictStarted: return QCoreApplication::translate("DmxEvent", "Conflict started");
    case DmxEventKind::ConflictEnded: return QCoreApplication::translate("DmxEvent", "Conflict ended");
    case DmxEventKind::Stutter: return QCoreApplication::translate("DmxEvent", "Stutter");
    case DmxEventKind::RateChanged: return QCoreApplication::translate("DmxEvent", "Rate changed");
    case DmxEventKind::SequenceErrors: return QCoreApplication::translate("DmxEvent", "Sequence errors");
    case DmxEventKind::Malformed: return QCoreApplication::translate("DmxEvent", "Malformed packets");
    case DmxEventKind::NodeAppeared: return QCoreApplication::translate("DmxEvent", "Node appeared");
    case DmxEventKind::NodeGone: return QCoreApplication::translate("DmxEvent", "Node gone");
    case DmxEventKind::NodeBack: return QCoreApplication::translate("DmxEvent", "Node came back");
    case DmxEventKind::NodeChanged: return QCoreApplication::translate("DmxEvent", "Node changed");
    case DmxEventKind::TimeCodeStarted: return QCoreApplication::translate("DmxEvent", "Time code started");
    case DmxEventKind::TimeCodeStopped: return QCoreApplication::translate("DmxEvent", "Time code stopped");
    case DmxEventKind::TimeCodeJumped: return QCoreApplication::translate("DmxEvent", "Time code jumped");
    case DmxEventKind::PortBusy: return QCoreApplication::translate("DmxEvent", "Port busy");
    case DmxEventKind::PortShared: return QCoreApplication::translate("DmxEvent", "Port shared");
    case DmxEventKind::NetworkUp: return QCoreApplication::translate("DmxEvent", "Network up");
    case DmxEventKind::NetworkDown: return QCoreApplication::translate("DmxEvent", "Network down");
    case DmxEventKind::CaptureStarted: return QCoreApplication::translate("DmxEvent", "Capture started");
    case DmxEventKind::CaptureEnded: return QCoreApplication::translate("DmxEvent", "Capture ended");
    }
    return QString();
}
