#include "phoneviewcontrol.h"

#include "interfacelist.h"
#include "menuplacement.h"
#include "networkchangewatcher.h"
#include "phoneserver.h"
#include "programinfo.h"
#include "sessionphonefeed.h"

#include <QAction>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QNetworkInterface>
#include <QSettings>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QPushButton>

#include <algorithm>

namespace {

constexpr QLatin1StringView StartAtLaunchKey("phoneView/startAtLaunch");
constexpr QLatin1StringView AddressKey("phoneView/address");
constexpr QLatin1StringView PortKey("phoneView/port");

QSettings programSettings()
{
    return QSettings(ProgramInfo::settingsOrganisation(), ProgramInfo::name());
}

bool isHostAddress(const QHostAddress &address)
{
    const QList<QHostAddress> here = QNetworkInterface::allAddresses();
    return std::any_of(here.cbegin(), here.cend(),
                       [&](const QHostAddress &own) { return own.isEqual(address); });
}

} // namespace

PhoneViewControl::PhoneViewControl(QMainWindow *window, CaptureSession *session, QMenu *menuAfter)
    : QObject(window),
      m_window(window),
      m_feed(std::make_unique<SessionPhoneFeed>(session, [this] { emit sessionNeeded(); }))
{
    m_server = new PhoneServer(m_feed.get(), this);
    connect(m_server, &PhoneServer::clientCountChanged, this, &PhoneViewControl::refresh);
    createActions();
    createMenu(menuAfter);
    createStatusButton();
    m_networkWatcher = new NetworkChangeWatcher(this);
    connect(m_networkWatcher, &NetworkChangeWatcher::changed, this,
            &PhoneViewControl::checkAddressStillHere);
}

PhoneViewControl::~PhoneViewControl()
{
    delete m_server;
}

void PhoneViewControl::createActions()
{
    m_toggleAction = new QAction(tr("Phone &View"), m_window);
    m_toggleAction->setObjectName(QStringLiteral("phoneViewAction"));
    m_toggleAction->setCheckable(true);
    m_toggleAction->setShortcut(QKeySequence(tr("Ctrl+Shift+V")));
    m_toggleAction->setStatusTip(tr("Show what Vardolux sees in the browser of phones on the "
                                    "show network"));
    connect(m_toggleAction, &QAction::triggered, this, &PhoneViewControl::toggled);

    m_dialogAction = new QAction(tr("Phone View &Address..."), m_window);
    m_dialogAction->setObjectName(QStringLiteral("phoneViewDialogAction"));
    m_dialogAction->setStatusTip(tr("Choose where the phone view serves and show its QR code"));
    connect(m_dialogAction, &QAction::triggered, this, &PhoneViewControl::openDialog);

    // Window actions, so that the shortcut works wherever the focus is.
    m_window->addActions({m_toggleAction, m_dialogAction});
}

void PhoneViewControl::createMenu(QMenu *menuAfter)
{
    m_menu = new QMenu(tr("&Phone"), m_window);
    m_menu->setObjectName(QStringLiteral("phoneMenu"));
    m_menu->addActions({m_toggleAction, m_dialogAction});
    insertMenuBefore(m_window, m_menu, menuAfter);
}

void PhoneViewControl::createStatusButton()
{
    m_statusButton = new QPushButton(m_window);
    m_statusButton->setObjectName(QStringLiteral("phoneViewButton"));
    m_statusButton->setFlat(true);
    m_statusButton->setToolTip(tr("Show the phone view's address and QR code"));
    m_statusButton->hide();
    connect(m_statusButton, &QPushButton::clicked, this, &PhoneViewControl::openDialog);
    m_window->statusBar()->addPermanentWidget(m_statusButton);
}

void PhoneViewControl::addMenuEntries(QMenu *menu) const
{
    menu->addSeparator();
    menu->addActions({m_toggleAction, m_dialogAction});
}

QList<PhoneViewDialog::Network> PhoneViewControl::networks()
{
    QList<PhoneViewDialog::Network> found;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        if (!interface.flags().testFlag(QNetworkInterface::IsUp))
            continue;
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            if (!InterfaceList::judge(entry, interface.hardwareAddress()).accepted)
                continue;
            found.append({entry.ip(), tr("%1 (%2 on %3)")
                                              .arg(entry.ip().toString(),
                                                   InterfaceList::networkText(entry),
                                                   interface.humanReadableName())});
        }
    }
    if (found.isEmpty())
        found.append({QHostAddress(QHostAddress::LocalHost),
                      tr("127.0.0.1 (this computer only)")});
    return found;
}

void PhoneViewControl::startAtLaunch()
{
    const QSettings settings = programSettings();
    if (!settings.value(StartAtLaunchKey, false).toBool())
        return;
    const QHostAddress address(settings.value(AddressKey).toString());
    if (address.isNull() || !isHostAddress(address)) {
        m_window->statusBar()->showMessage(
                tr("Phone View not started: %1 is not on this computer's networks")
                        .arg(settings.value(AddressKey).toString()));
        return;
    }
    startOn(address, quint16(settings.value(PortKey, DefaultPort).toUInt()));
}

void PhoneViewControl::toggled(bool on)
{
    if (on) {
        // On only once it serves: the dialog's Start does that.
        setChecked(false);
        openDialog();
    } else {
        stop();
    }
}

void PhoneViewControl::openDialog()
{
    if (!m_dialog) {
        m_dialog = new PhoneViewDialog(m_window);
        m_dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_dialog, &PhoneViewDialog::startRequested, this,
                &PhoneViewControl::startFromDialog);
        connect(m_dialog, &PhoneViewDialog::stopRequested, this, [this] { stop(); });
        connect(m_dialog, &PhoneViewDialog::startWithProgramChanged, this, [](bool on) {
            QSettings settings = programSettings();
            settings.setValue(StartAtLaunchKey, on);
        });
        const QSettings settings = programSettings();
        const QHostAddress chosen = m_server->running()
                ? m_address
                : QHostAddress(settings.value(AddressKey).toString());
        m_dialog->setNetworks(networks(), chosen);
        m_dialog->setPort(quint16(settings.value(PortKey, DefaultPort).toUInt()));
        m_dialog->setStartWithProgram(settings.value(StartAtLaunchKey, false).toBool());
        if (m_server->running())
            m_dialog->showRunning(m_server->url(), QString::fromLatin1(m_server->token()),
                                  m_server->clientCount());
    }
    m_dialog->show();
    m_dialog->raise();
    m_dialog->activateWindow();
}

void PhoneViewControl::startFromDialog()
{
    if (m_dialog)
        startOn(m_dialog->address(), m_dialog->port());
}

bool PhoneViewControl::startOn(const QHostAddress &address, quint16 port)
{
    if (!m_server->start(address, port)) {
        const QString reason = tr("Phone View could not serve on %1 port %2: %3")
                                       .arg(address.toString())
                                       .arg(port)
                                       .arg(m_server->errorString());
        stop(reason);
        return false;
    }
    m_address = address;
    QSettings settings = programSettings();
    settings.setValue(AddressKey, address.toString());
    settings.setValue(PortKey, port);
    setChecked(true);
    if (m_dialog)
        m_dialog->showRunning(m_server->url(), QString::fromLatin1(m_server->token()),
                              m_server->clientCount());
    refresh();
    return true;
}

void PhoneViewControl::stop(const QString &reason)
{
    m_server->stop();
    m_statusButton->hide();
    setChecked(false);
    if (m_dialog)
        m_dialog->showStopped(reason);
    if (!reason.isEmpty())
        m_window->statusBar()->showMessage(reason);
}

void PhoneViewControl::refresh()
{
    if (!m_server->running())
        return;
    const int phones = m_server->clientCount();
    m_statusButton->setText(phones == 1 ? tr("Phone View: 1 phone")
                                        : tr("Phone View: %1 phones").arg(phones));
    m_statusButton->show();
    if (m_dialog)
        m_dialog->showPhones(phones);
}

void PhoneViewControl::checkAddressStillHere()
{
    if (m_server->running() && !isHostAddress(m_address))
        stop(tr("Phone View stopped: %1 is no longer on this computer's networks")
                     .arg(m_address.toString()));
}

void PhoneViewControl::setChecked(bool on)
{
    const QSignalBlocker quiet(m_toggleAction);
    m_toggleAction->setChecked(on);
}
