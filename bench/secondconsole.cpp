#include "secondconsole.h"

#include "benchnetwork.h"
#include "floodsender.h"
#include "privatenetwork.h"

#include <QStringList>

#include <cstdio>
#include <unistd.h>

SecondConsole::SecondConsole(quint16 universe, double seconds)
{
    // Already there when an earlier console of the same run added it; then ip says so, harmlessly.
    PrivateNetwork::runInPeer({QStringLiteral("ip"), QStringLiteral("addr"), QStringLiteral("add"),
                               QLatin1String(Address) + QStringLiteral("/8"), QStringLiteral("dev"),
                               QStringLiteral("art1")});
    QString error;
    m_fd = PrivateNetwork::peerSenderSocket(QLatin1String(Address), 0, &error);
    if (m_fd < 0) {
        std::fprintf(stderr, "second console: %s\n", qPrintable(error));
        return;
    }
    FloodSender::Plan plan;
    plan.firstUniverse = universe;
    plan.universes = 1;
    plan.rate = FramesPerSecond;
    plan.seconds = seconds;
    plan.evenlySpaced = true;
    m_thread = std::thread([this, plan] {
        FloodSender sender(m_fd, PrivateNetwork::LocalAddress, BenchNetwork::ArtNetPort);
        sender.run(plan, &m_stop);
    });
}

SecondConsole::~SecondConsole()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_fd >= 0)
        ::close(m_fd);
}
