#ifndef OLAPEER_H
#define OLAPEER_H

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// An sACN node of another maker: OLA's daemon olad with its E1.31 plugin alone (one input and
// one output port, on the peer's address 2.0.0.20), in the peer namespace, with a configuration
// folder of its own and its web server on the peer's loopback. olad refuses to run as root, so
// it runs in a user namespace of its own, where it is nobody. Ended with the object.
class OlaPeer
{
public:
    OlaPeer() = default;
    ~OlaPeer();
    OlaPeer(const OlaPeer &) = delete;
    OlaPeer &operator=(const OlaPeer &) = delete;

    // Empty when OLA's programs and curl are installed; else what is missing.
    static QString missing();
    // Starts olad and waits up to 10 s for its E1.31 device; false with the reason otherwise.
    bool start(QString *error);
    // Runs one of OLA's clients (or any command) in the peer namespace, where olad listens.
    bool run(const QStringList &command, QString *output = nullptr) const;
    // The E1.31 device's number, for ola_patch and ola_set_priority.
    QString device() const { return m_device; }
    // The 512 levels olad holds for one of its universes, through its web server's /get_dmx;
    // empty when it did not answer.
    QByteArray levels(int universe) const;

private:
    QTemporaryDir m_configDir;
    QProcess m_olad;
    QString m_device;
};

#endif // OLAPEER_H
