#include "plainreceiverthread.h"

#include "benchnetwork.h"
#include "plainreceiver.h"

#include <unistd.h>

PlainReceiverThread::PlainReceiverThread(quint16 port)
{
    m_fd = BenchNetwork::boundSocket(port, 4 * 1024 * 1024, &m_error);
    if (m_fd < 0)
        return;
    m_receiver = std::make_unique<PlainReceiver>(m_fd);
    m_thread = std::thread([this] { m_receiver->receiveUntilStopped(m_stop); });
}

PlainReceiverThread::~PlainReceiverThread()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_fd >= 0)
        ::close(m_fd);
}
