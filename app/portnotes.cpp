#include "portnotes.h"

#include <QCoreApplication>
#include <QStatusBar>

namespace {

QString failureText(DmxProtocol protocol)
{
    return protocol == DmxProtocol::Sacn
            ? QCoreApplication::translate("Vardolux", "Cannot open sACN port 5568")
            : QCoreApplication::translate("Vardolux", "Cannot open Art-Net port 6454");
}

QString sharedText(DmxProtocol protocol)
{
    return protocol == DmxProtocol::Sacn
            ? QCoreApplication::translate("Vardolux",
                                          "sACN port 5568 is shared with another program: "
                                          "unicast packets may go to it instead")
            : QCoreApplication::translate("Vardolux",
                                          "Art-Net port 6454 is shared with another program: "
                                          "unicast packets may go to it instead");
}

} // namespace

void PortNotes::failed(DmxProtocol protocol)
{
    m_statusBar->showMessage(failureText(protocol));
}

void PortNotes::opened(DmxProtocol protocol, bool shared)
{
    if (m_statusBar->currentMessage() == failureText(protocol))
        m_statusBar->clearMessage();
    // Beside another program that holds the port with address reuse, the kernel gives each
    // unicast datagram to one of the two: the table may then miss what a console sends.
    bool &reported = m_sharedReported[int(protocol)];
    if (shared && !reported) {
        reported = true;
        m_statusBar->showMessage(sharedText(protocol));
    }
}
