#ifndef SECONDCONSOLE_H
#define SECONDCONSOLE_H

#include <QtGlobal>

#include <atomic>
#include <thread>

// A second console on one universe: 512-channel ArtDmx at a console's 44 frames/s from another
// address of the peer (2.0.0.21, added to its art1), so that the universe has two sources for
// the receiver to tell apart and merge. It sends from a thread of its own until it is destroyed
// or the time is up. Run only inside tests/netns-run --peer.
class SecondConsole
{
public:
    static constexpr const char *Address = "2.0.0.21";
    static constexpr double FramesPerSecond = 44;

    SecondConsole(quint16 universe, double seconds);
    ~SecondConsole();
    SecondConsole(const SecondConsole &) = delete;
    SecondConsole &operator=(const SecondConsole &) = delete;

    bool running() const { return m_thread.joinable(); }

private:
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

#endif // SECONDCONSOLE_H
