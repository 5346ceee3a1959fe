#include "interoppeers.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

InteropPeers::InteropPeers(const QString &scriptsDir, const QString &installDir)
    : m_scriptsDir(scriptsDir),
      m_installDir(installDir),
      m_node(QStandardPaths::findExecutable(QStringLiteral("node")))
{
}

InteropPeers::~InteropPeers()
{
    stopAll();
}

QString InteropPeers::missing(const QStringList &packages) const
{
    if (m_node.isEmpty())
        return QStringLiteral("Node.js is not installed (Debian packages nodejs and npm; "
                              "./build.sh test installs them)");
    for (const QString &package : packages) {
        const QString manifest =
                m_installDir + QStringLiteral("/node_modules/") + package + QStringLiteral("/package.json");
        if (!QFileInfo::exists(manifest))
            return QStringLiteral("the peers are not installed (%1 is missing): run ./build.sh "
                                  "test, or npm ci --prefix %2 after copying "
                                  "tests/interop/package*.json there")
                    .arg(manifest, m_installDir);
    }
    return QString();
}

bool InteropPeers::start(const QString &script, const QStringList &arguments, QString *output)
{
    auto peer = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NODE_PATH"), m_installDir + QStringLiteral("/node_modules"));
    peer->setProcessEnvironment(environment);
    peer->setProcessChannelMode(QProcess::MergedChannels);
    // nsenter enters the peer's namespace and then runs node in its own place, so the process
    // ended later is node itself.
    peer->start(QStringLiteral("nsenter"),
                QStringList{QStringLiteral("--net=") + qEnvironmentVariable("VARDOLUX_PEER_NETNS"),
                            m_node, m_scriptsDir + QLatin1Char('/') + script}
                        + arguments);
    QProcess *started = peer.get();
    m_processes.push_back(std::move(peer));
    QByteArray said;
    QElapsedTimer clock;
    clock.start();
    while (!said.contains("ready\n") && clock.elapsed() < 10000
           && started->state() != QProcess::NotRunning) {
        started->waitForReadyRead(200);
        said += started->readAll();
    }
    *output = QString::fromLocal8Bit(said);
    return said.contains("ready\n");
}

void InteropPeers::stopAll()
{
    for (const std::unique_ptr<QProcess> &peer : m_processes) {
        peer->kill();
        peer->waitForFinished(5000);
    }
    m_processes.clear();
}
