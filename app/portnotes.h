#ifndef PORTNOTES_H
#define PORTNOTES_H

#include "sourceidentity.h"

class QStatusBar;

// What the status bar says about the ports the window opens: that one cannot be opened, and,
// once per port, that it is shared with another program.
class PortNotes
{
public:
    explicit PortNotes(QStatusBar *statusBar) : m_statusBar(statusBar) {}

    void failed(DmxProtocol protocol);
    // A stale failure message of that port goes.
    void opened(DmxProtocol protocol, bool shared);

private:
    QStatusBar *m_statusBar;
    bool m_sharedReported[DmxProtocolCount] = {};
};

#endif // PORTNOTES_H
