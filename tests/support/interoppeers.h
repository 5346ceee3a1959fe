#ifndef INTEROPPEERS_H
#define INTEROPPEERS_H

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QProcess;

// Peers of other makers' stacks: the Node.js scripts in tests/interop, run in the peer namespace
// with the packages that build.sh installs (npm ci) into the build tree. Every peer started is
// ended with this object.
class InteropPeers
{
public:
    // scriptsDir: tests/interop; installDir: where npm ci put node_modules.
    InteropPeers(const QString &scriptsDir, const QString &installDir);
    ~InteropPeers();
    InteropPeers(const InteropPeers &) = delete;
    InteropPeers &operator=(const InteropPeers &) = delete;

    // Empty when Node.js and every package named are installed; else what is missing and how
    // to install it.
    QString missing(const QStringList &packages) const;
    // Runs the script with its arguments in the peer namespace and waits up to 10 s for it to
    // print "ready"; false otherwise, with what it printed in *output.
    bool start(const QString &script, const QStringList &arguments, QString *output);
    const std::vector<std::unique_ptr<QProcess>> &processes() const { return m_processes; }
    void stopAll();

private:
    QString m_scriptsDir;
    QString m_installDir;
    QString m_node;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

#endif // INTEROPPEERS_H
