#ifndef PLAINRECEIVERTHREAD_H
#define PLAINRECEIVERTHREAD_H

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <memory>
#include <thread>

class PlainReceiver;

// The plain receiver as the benchmarks run it beside the program: a socket of its own on the
// Art-Net port (or another, such as sACN's) with the engine's 4 MiB receive buffer, emptied by a
// PlainReceiver on a thread of its own for as long as this object lives. The port is free again
// once it is gone.
class PlainReceiverThread
{
public:
    explicit PlainReceiverThread(quint16 port = 6454);
    ~PlainReceiverThread();
    PlainReceiverThread(const PlainReceiverThread &) = delete;
    PlainReceiverThread &operator=(const PlainReceiverThread &) = delete;

    bool isRunning() const { return m_thread.joinable(); }
    QString errorString() const { return m_error; }

private:
    int m_fd = -1;
    std::unique_ptr<PlainReceiver> m_receiver;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    QString m_error;
};

#endif // PLAINRECEIVERTHREAD_H
