#include "olapeer.h"

#include "privatenetwork.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

namespace {

// Every plugin olad 0.10 loads besides E1.31: switched off, so that none opens the ports or
// devices of other protocols.
const char *const OtherPlugins[] = {
    "artnet", "dummy", "espnet", "ftdidmx", "gpio", "karate", "kinet", "milinst", "opendmx",
    "openpixelcontrol", "osc", "pathport", "renard", "sandnet", "shownet", "spi", "stageprofi",
    "uartdmx", "usbdmx", "usbserial",
};

const char E131Config[] = "enabled = true\n"
                          "ip = 2.0.0.20\n"
                          "input_ports = 1\n"
                          "output_ports = 1\n"
                          "prepend_hostname = false\n"
                          "ignore_preview = true\n"
                          "draft_discovery = false\n"
                          "revision = 0.46\n"
                          "dscp = 0\n"
                          "cid = 0a1a2a3a-4a5a-4a6a-8a7a-8a9aaabacada\n";

bool writeFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

} // namespace

OlaPeer::~OlaPeer()
{
    if (m_olad.state() != QProcess::NotRunning) {
        m_olad.kill();
        m_olad.waitForFinished(5000);
    }
}

QString OlaPeer::missing()
{
    for (const char *program : {"olad", "ola_dev_info", "ola_patch", "ola_set_priority",
                                "ola_streaming_client", "curl"}) {
        if (QStandardPaths::findExecutable(QLatin1String(program)).isEmpty())
            return QStringLiteral("%1 is not installed (Debian packages ola and curl)")
                    .arg(QLatin1String(program));
    }
    return QString();
}

bool OlaPeer::start(QString *error)
{
    const QString dir = m_configDir.path();
    bool written = m_configDir.isValid()
            && writeFile(dir + QStringLiteral("/ola-e131.conf"), E131Config);
    for (const char *plugin : OtherPlugins)
        written = written
                && writeFile(dir + QStringLiteral("/ola-%1.conf").arg(QLatin1String(plugin)),
                             "enabled = false\n");
    if (!written) {
        *error = QStringLiteral("cannot write olad's configuration into ") + dir;
        return false;
    }
    m_olad.setProcessChannelMode(QProcess::MergedChannels);
    m_olad.start(QStringLiteral("nsenter"),
                 {QStringLiteral("--net=") + qEnvironmentVariable("VARDOLUX_PEER_NETNS"),
                  QStringLiteral("unshare"), QStringLiteral("--user"), QStringLiteral("olad"),
                  QStringLiteral("--config-dir"), dir, QStringLiteral("--no-register-with-dns-sd"),
                  QStringLiteral("--log-level"), QStringLiteral("1"), QStringLiteral("--interface"),
                  QStringLiteral("127.0.0.1")});
    QElapsedTimer clock;
    clock.start();
    QString devices;
    while (clock.elapsed() < 10000 && m_olad.state() != QProcess::NotRunning) {
        if (run({QStringLiteral("ola_dev_info")}, &devices) && devices.contains(QLatin1String("E1.31")))
            break;
        QThread::msleep(100);
    }
    const QRegularExpressionMatch device =
            QRegularExpression(QStringLiteral("Device (\\d+): E1\\.31")).match(devices);
    if (!device.hasMatch()) {
        *error = QStringLiteral("olad did not offer its E1.31 device within 10 s: ")
                + QString::fromLocal8Bit(m_olad.readAll()) + devices;
        return false;
    }
    m_device = device.captured(1);
    return true;
}

bool OlaPeer::run(const QStringList &command, QString *output) const
{
    return PrivateNetwork::runInPeer(command, output);
}

QByteArray OlaPeer::levels(int universe) const
{
    QString answer;
    if (!run({QStringLiteral("curl"), QStringLiteral("-s"), QStringLiteral("--max-time"),
              QStringLiteral("2"),
              QStringLiteral("http://127.0.0.1:9090/get_dmx?u=%1").arg(universe)},
             &answer))
        return QByteArray();
    const QJsonArray dmx = QJsonDocument::fromJson(answer.toUtf8()).object().value(
                                                                     QLatin1String("dmx")).toArray();
    QByteArray levels;
    for (const QJsonValue &level : dmx)
        levels.append(char(level.toInt()));
    return levels;
}
