#ifndef DATAGRAMHANDLER_H
#define DATAGRAMHANDLER_H

#include <QByteArray>
#include <QHostAddress>
#include <QtGlobal>

#include <functional>
#include <type_traits>
#include <utility>

// What DatagramReader calls for each datagram: the datagram, its sender and the time it arrived
// (CLOCK_MONOTONIC, ns). A callable with no use for the time may take only the first two.
class DatagramHandler
{
public:
    using Function = std::function<void(const QByteArray &datagram, const QHostAddress &sender,
                                        qint64 arrivalNs)>;

    DatagramHandler() = default;

    template <typename Callable,
              std::enable_if_t<!std::is_same_v<std::decay_t<Callable>, DatagramHandler>
                                       && std::is_invocable_v<Callable &, const QByteArray &,
                                                              const QHostAddress &, qint64>,
                               int> = 0>
    DatagramHandler(Callable callable) : m_function(std::move(callable))
    {
    }

    template <typename Callable,
              std::enable_if_t<!std::is_same_v<std::decay_t<Callable>, DatagramHandler>
                                       && !std::is_invocable_v<Callable &, const QByteArray &,
                                                               const QHostAddress &, qint64>
                                       && std::is_invocable_v<Callable &, const QByteArray &,
                                                              const QHostAddress &>,
                               int> = 0>
    DatagramHandler(Callable callable)
        : m_function([callable = std::move(callable)](const QByteArray &datagram,
                                                      const QHostAddress &sender,
                                                      qint64) mutable { callable(datagram, sender); })
    {
    }

    explicit operator bool() const { return bool(m_function); }

    void operator()(const QByteArray &datagram, const QHostAddress &sender, qint64 arrivalNs) const
    {
        m_function(datagram, sender, arrivalNs);
    }

private:
    Function m_function;
};

#endif // DATAGRAMHANDLER_H
