// The phone view in a real browser: Debian's Chromium, headless with a phone's screen, driven
// over the DevTools protocol, reads the page the window's phone view serves on the test network
// while a console in the peer namespace sends. With VARDOLUX_PHONE_SCREENSHOT and
// VARDOLUX_PHONE_DIALOG_SCREENSHOT set it saves the page and the dialog there.
#include "peerwindowfixture.h"
#include "phoneserver.h"
#include "phoneviewcontrol.h"
#include "privatenetwork.h"
#include "testpackets.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QPushButton>
#include <QUdpSocket>
#include <QWebSocket>

namespace {

constexpr int BrowserStartMs = 20000;
constexpr int CallTimeoutMs = 10000;
constexpr quint16 ViewPort = 8080;
constexpr int Channel47 = 46;

// One headless Chromium of this test's own, and one page in it, spoken to over DevTools.
class Browser
{
public:
    ~Browser()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        if (m_socket.isValid())
            call("Browser.close", {}, false);
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // The error, or empty once the page is ready with a phone's screen.
    QString start(const QString &program)
    {
        if (!m_profile.isValid())
            return m_profile.errorString();
        m_process.setProgram(program);
        m_process.setArguments({"--headless=new", "--no-sandbox", "--disable-gpu",
                                "--no-first-run", "--disable-extensions",
                                "--disable-background-networking", "--disable-component-update",
                                "--disable-sync", "--remote-debugging-port=0",
                                "--user-data-dir=" + m_profile.path(), "about:blank"});
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(BrowserStartMs))
            return m_process.errorString();
        QFile portFile(m_profile.filePath("DevToolsActivePort"));
        if (!QTest::qWaitFor([&] { return portFile.size() > 0; }, BrowserStartMs))
            return QStringLiteral("no DevToolsActivePort");
        QTest::qWait(100);
        if (!portFile.open(QIODevice::ReadOnly))
            return portFile.errorString();
        const QList<QByteArray> lines = portFile.readAll().split('\n');
        if (lines.size() < 2)
            return QStringLiteral("DevToolsActivePort unreadable");
        QObject::connect(&m_socket, &QWebSocket::textMessageReceived, &m_socket,
                         [this](const QString &text) { received(text); });
        m_socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1%2")
                                   .arg(QString::fromLatin1(lines.at(0)),
                                        QString::fromLatin1(lines.at(1)))));
        if (!QTest::qWaitFor([&] { return m_socket.isValid(); }, BrowserStartMs))
            return m_socket.errorString();
        const QString target = call("Target.createTarget", {{"url", "about:blank"}})
                                       .value("targetId").toString();
        m_session = call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}})
                            .value("sessionId").toString();
        if (m_session.isEmpty())
            return QStringLiteral("no page");
        call("Emulation.setDeviceMetricsOverride",
             {{"width", 390}, {"height", 844}, {"deviceScaleFactor", 2}, {"mobile", true}});
        return QString();
    }

    // The command's result; with pageCommand, for the page rather than the browser.
    QJsonObject call(const QString &method, const QJsonObject &params, bool pageCommand = true)
    {
        const int id = ++m_lastId;
        QJsonObject message{{"id", id}, {"method", method}, {"params", params}};
        if (pageCommand)
            message.insert("sessionId", m_session);
        m_socket.sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson()));
        if (!QTest::qWaitFor([&] { return m_answers.contains(id); }, CallTimeoutMs))
            qWarning("no answer to %s", qPrintable(method));
        return m_answers.take(id);
    }

    // The value of a script run in the page.
    QVariant evaluate(const QString &expression)
    {
        return call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}})
                .value("result").toObject().value("value").toVariant();
    }

    // Empty once the page loaded, else the browser's error ("net::ERR_CONNECTION_REFUSED").
    QString navigate(const QString &url)
    {
        const QString error = call("Page.navigate", {{"url", url}}).value("errorText").toString();
        const bool loaded = QTest::qWaitFor([&] {
            return evaluate("document.readyState").toString() == QLatin1String("complete");
        }, CallTimeoutMs);
        return loaded || !error.isEmpty() ? error : QStringLiteral("not loaded");
    }

private:
    void received(const QString &text)
    {
        const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
        if (message.contains("id"))
            m_answers.insert(message.value("id").toInt(), message.value("result").toObject());
    }

    QTemporaryDir m_profile;
    QProcess m_process;
    QWebSocket m_socket;
    QString m_session;
    int m_lastId = 0;
    QHash<int, QJsonObject> m_answers;
};

QString jsString(const QString &text)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact))
            .mid(1).chopped(1);
}

} // namespace

class tst_PhonePage : public QObject, private PeerWindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void pageFollowsSender_data();
    void pageFollowsSender();
    void showsNothingWithoutRightToken_data();
    void showsNothingWithoutRightToken();
    void startsWithProgramStopsWhenAddressLeaves();

private:
    // The window serving its phone view on the test network, with the page open in the browser.
    bool startView(const QString &pathAndQuery = QString());
    QString text(const QString &selector);

    std::unique_ptr<Browser> m_browser;
    std::unique_ptr<Vardolux> m_window;
    PhoneViewControl *m_control = nullptr;
};

void tst_PhonePage::initTestCase()
{
    VARDOLUX_REQUIRE_PRIVATE_NETWORK();
    QVERIFY2(PrivateNetwork::hasPeer(), "this test needs the peer namespace (netns-run --peer)");
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty())
        QSKIP("Chromium is not installed (Debian package chromium; ./build.sh test installs it)");
    setUpSettings();
    m_browser = std::make_unique<Browser>();
    const QString error = m_browser->start(chromium);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void tst_PhonePage::init()
{
    freshFiles();
    m_window = makeWindow();
    m_control = m_window->findChild<PhoneViewControl *>();
    QVERIFY(m_control);
}

void tst_PhonePage::cleanup()
{
    m_window.reset();
    dropFiles();
}

bool tst_PhonePage::startView(const QString &pathAndQuery)
{
    if (!m_control->startOn(QHostAddress(PrivateNetwork::LocalAddress), ViewPort))
        return false;
    const QString url = pathAndQuery.isEmpty()
            ? m_control->server()->url()
            : QStringLiteral("http://%1:%2%3").arg(PrivateNetwork::LocalAddress).arg(ViewPort)
                      .arg(pathAndQuery);
    return m_browser->navigate(url).isEmpty();
}

QString tst_PhonePage::text(const QString &selector)
{
    return m_browser->evaluate(QStringLiteral("(document.querySelector(%1) || {}).textContent")
                                       .arg(jsString(selector))).toString();
}

void tst_PhonePage::pageFollowsSender_data()
{
    QTest::addColumn<bool>("sacn");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("universe");

    QTest::newRow("Art-Net console") << false << QByteArray("Console A") << "Art-Net 1";
    QTest::newRow("Art-Net node named with markup")
            << false << QByteArray("<img src=x>") << "Art-Net 1";
    QTest::newRow("sACN source named with markup")
            << true << QByteArray("<img src=x onerror=alert(1)><b>Desk</b>") << "sACN 7";
}

void tst_PhonePage::pageFollowsSender()
{
    QFETCH(bool, sacn);
    QFETCH(QByteArray, name);
    QFETCH(QString, universe);

    std::unique_ptr<QUdpSocket> console = openPeerSocket();
    QVERIFY(console);
    QByteArray levels(512, '\0');
    levels[0] = char(255);
    for (int channel = 1; channel < 24; ++channel)
        levels[channel] = char(channel * 37 % 256); // a rig's look, for the picture
    levels[Channel47] = char(128);
    TestPackets::SacnData packet;
    packet.universe = 7;
    packet.sourceName = name;
    int ticks = 0;
    QTimer clock;
    connect(&clock, &QTimer::timeout, this, [&] {
        // 40 Hz for 60 s at most, the node's reply once a second.
        if (++ticks > 2400)
            return clock.stop();
        if (sacn) {
            packet.sequence = quint8(ticks);
            packet.values = levels;
            sendToWindow(*console, TestPackets::sacnData(packet), SacnPort);
            return;
        }
        sendToWindow(*console, TestPackets::artDmx(0, levels, quint8(ticks)));
        if (ticks % 40 == 1)
            sendToWindow(*console, TestPackets::artPollReply(0x02000014, name, 0));
    });
    clock.start(25);
    QVERIFY(startView());

    // The list names the universe and its source; a tap follows it.
    const QString button = sacn ? ".universe[data-p=sacn][data-u='7']"
                                : ".universe[data-p=artnet][data-u='1']";
    QTRY_COMPARE_WITH_TIMEOUT(text(button + QStringLiteral(" .universe-label")), universe, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(text(button + QStringLiteral(" .source-name")),
                              QString::fromUtf8(name), 5000);
    m_browser->evaluate(QStringLiteral("document.querySelector(%1).click()").arg(jsString(button)));
    const QString cell47 = QStringLiteral(".cell[data-channel='47'] .cell-value");
    QTRY_COMPARE_WITH_TIMEOUT(text(cell47), QStringLiteral("128"), 5000);
    QCOMPARE(text(".cell[data-channel='1'] .cell-value"), QStringLiteral("255"));

    // A change reaches the page within half a second, marked as changed.
    levels[Channel47] = char(200);
    QElapsedTimer shown;
    shown.start();
    QTRY_COMPARE_WITH_TIMEOUT(text(cell47), QStringLiteral("200"), 2000);
    QVERIFY2(shown.elapsed() <= 500, qPrintable(QString::number(shown.elapsed())));
    QVERIFY(m_browser->evaluate("document.querySelectorAll('.cell.changed').length").toInt() >= 1);

    if (const QString path = qEnvironmentVariable("VARDOLUX_PHONE_SCREENSHOT");
        !path.isEmpty() && QTest::currentDataTag() == QLatin1String("Art-Net console")) {
        const QByteArray png = QByteArray::fromBase64(
                m_browser->call("Page.captureScreenshot", {{"format", "png"}})
                        .value("data").toString().toLatin1());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(png) == png.size());
    }

    // The window's display modes, as its table writes them.
    m_browser->evaluate("document.querySelector('.mode[data-mode=hex]').click()");
    QCOMPARE(text(".cell[data-channel='1'] .cell-value"), QStringLiteral("0xff"));
    m_browser->evaluate("document.querySelector('.mode[data-mode=percent]').click()");
    QCOMPARE(text(cell47), QStringLiteral("78%"));
    // Bars as tall as the levels, the numbers hidden.
    m_browser->evaluate("document.querySelector('.mode[data-mode=bar]').click()");
    const auto barPercent = [&](int channel) {
        return m_browser->evaluate(QStringLiteral(
                "(() => { const cell = document.querySelector(\".cell[data-channel='%1']\");"
                " return Math.round(cell.querySelector('.cell-bar').getBoundingClientRect().height"
                " * 100 / cell.clientHeight); })()").arg(channel)).toInt();
    };
    QCOMPARE(barPercent(47), 78);
    QCOMPARE(barPercent(1), 100);
    QCOMPARE(m_browser->evaluate("getComputedStyle(document.querySelector('.cell-value')).display")
                     .toString(), QStringLiteral("none"));
    m_browser->evaluate("document.querySelector('.mode[data-mode=decimal]').click()");

    // One channel large, with its source, stepped by the buttons.
    m_browser->evaluate("document.querySelector(\".cell[data-channel='47']\").click()");
    QCOMPARE(text("#channel-name"), QStringLiteral("Channel 47"));
    QCOMPARE(text("#channel-level"), QStringLiteral("200"));
    QVERIFY2(text("#channel-sources").startsWith(QStringLiteral("from 2.0.0.20")),
             qPrintable(text("#channel-sources")));
    m_browser->evaluate("document.querySelector('#channel-up').click()");
    QCOMPARE(text("#channel-name"), QStringLiteral("Channel 48"));
    levels[Channel47 + 1] = char(255);
    QTRY_COMPARE_WITH_TIMEOUT(text("#channel-level"), QStringLiteral("255"), 2000);

    // Names from the network are text: the markup made no element.
    QCOMPARE(m_browser->evaluate("document.querySelectorAll('img, b, script:not([src])').length")
                     .toInt(), 0);
    QCOMPARE(text("#events-empty"), QStringLiteral("No events yet"));

    // The window counts the phone; the dialog's QR code reads as the page's address.
    QTRY_COMPARE(m_control->statusButton()->text(), QStringLiteral("Phone View: 1 phone"));
    m_control->openDialog();
    QTemporaryDir scratch;
    const QString qrFile = scratch.filePath("qr.png");
    QVERIFY(m_control->dialog()->qrLabel()->pixmap().save(qrFile));
    QProcess reader;
    reader.start("zbarimg", {"--raw", "-q", qrFile});
    QVERIFY2(reader.waitForFinished(10000), "zbarimg (Debian zbar-tools) did not run");
    QCOMPARE(QString::fromUtf8(reader.readAllStandardOutput()).trimmed(),
             m_control->server()->url());
    if (const QString path = qEnvironmentVariable("VARDOLUX_PHONE_DIALOG_SCREENSHOT");
        !path.isEmpty() && QTest::currentDataTag() == QLatin1String("Art-Net console"))
        QVERIFY(m_control->dialog()->grab().save(path));

    // Turned off, the page says it lost the connection and is trying again.
    m_control->toggleAction()->trigger();
    QTRY_VERIFY(text("#status").startsWith(QStringLiteral("Connection lost")));
}

void tst_PhonePage::showsNothingWithoutRightToken_data()
{
    QTest::addColumn<QString>("pathAndQuery");
    QTest::addColumn<bool>("turnedOff");
    QTest::addColumn<QString>("error");

    // Chromium names an error status with an empty body so, and shows its own page instead.
    const QString refused = QStringLiteral("net::ERR_HTTP_RESPONSE_CODE_FAILURE");
    QTest::newRow("no token") << "/" << false << refused;
    QTest::newRow("wrong token") << "/?t=AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA" << false
                                 << refused;
    QTest::newRow("script without token") << "/phone.js" << false << refused;
    QTest::newRow("view turned off") << "" << true << "net::ERR_CONNECTION_REFUSED";
}

void tst_PhonePage::showsNothingWithoutRightToken()
{
    QFETCH(QString, pathAndQuery);
    QFETCH(bool, turnedOff);
    QFETCH(QString, error);

    QVERIFY(m_control->startOn(QHostAddress(PrivateNetwork::LocalAddress), ViewPort));
    QString url = QStringLiteral("http://%1:%2%3").arg(PrivateNetwork::LocalAddress).arg(ViewPort)
                          .arg(pathAndQuery);
    if (turnedOff) {
        url = m_control->server()->url();
        QVERIFY(m_control->toggleAction()->isChecked());
        m_control->toggleAction()->trigger();
        QVERIFY(!m_control->toggleAction()->isChecked());
    }
    QCOMPARE(m_browser->navigate(url), error);
    QCOMPARE(m_browser->evaluate("document.querySelectorAll('#grid, #universes').length").toInt(),
             0);
}

void tst_PhonePage::startsWithProgramStopsWhenAddressLeaves()
{
    {
        QSettings settings(Organisation, Application);
        settings.setValue("phoneView/startAtLaunch", true);
        settings.setValue("phoneView/address", PrivateNetwork::LocalAddress);
        settings.setValue("phoneView/port", ViewPort);
    }
    m_window = makeWindow();
    m_control = m_window->findChild<PhoneViewControl *>();
    QVERIFY(m_control->toggleAction()->isChecked());
    QVERIFY(m_control->server()->url().startsWith(QStringLiteral("http://2.0.0.10:8080/?t=")));
    QVERIFY(!m_control->dialog());

    const QStringList address{"2.0.0.10/8", "dev", "art0"};
    QVERIFY(PrivateNetwork::run(QStringList{"ip", "addr", "del"} + address));
    QTRY_VERIFY(!m_control->toggleAction()->isChecked());
    const QString said = m_window->statusBar()->currentMessage();
    QVERIFY(PrivateNetwork::run(QStringList{"ip", "addr", "add"} + address));
    QVERIFY(!m_control->server()->running());
    QCOMPARE(said, QStringLiteral("Phone View stopped: 2.0.0.10 is no longer on this computer's "
                                  "networks"));
}

QTEST_MAIN(tst_PhonePage)
#include "tst_phonepage.moc"
