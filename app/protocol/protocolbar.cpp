#include "protocolbar.h"

#include "capturesession.h"
#include "sacnpackets.h"
#include "universeranges.h"
#include "watchlistdialog.h"

#include <QAction>
#include <QComboBox>
#include <QSettings>
#include <QSignalBlocker>
#include <QSpinBox>

namespace {

constexpr QLatin1String SettingsGroup("sacn");
constexpr QLatin1String ProtocolKey("protocolOnShow");
constexpr QLatin1String SacnUniverseKey("universe");
constexpr QLatin1String WatchListKey("watchList");
constexpr QLatin1String ShowPreviewKey("showPreview");
constexpr QLatin1String SendPriorityKey("sendPriority");
constexpr QLatin1String ArtNetName("artnet");
constexpr QLatin1String SacnName("sacn");

constexpr int MaxPriority = 200;

} // namespace

ProtocolBar::ProtocolBar(CaptureSession *session, QWidget *parent)
    : QToolBar(tr("Protocol"), parent), m_session(session)
{
    setObjectName(QStringLiteral("protocolToolBar"));
    createWidgets();
}

void ProtocolBar::createWidgets()
{
    m_protocolBox = new QComboBox(this);
    m_protocolBox->setObjectName(QStringLiteral("protocolBox"));
    m_protocolBox->addItem(tr("Art-Net"), int(DmxProtocol::ArtNet));
    m_protocolBox->addItem(tr("sACN"), int(DmxProtocol::Sacn));
    m_protocolBox->setStatusTip(tr("The protocol of the universe that the table shows"));
    addWidget(m_protocolBox);
    connect(m_protocolBox, &QComboBox::currentIndexChanged, this, &ProtocolBar::protocolChosen);

    m_universeBox = new QSpinBox(this);
    m_universeBox->setObjectName(QStringLiteral("sacnUniverseBox"));
    m_universeBox->setRange(SacnPackets::MinUniverse, SacnPackets::MaxUniverse);
    m_universeBox->setStatusTip(tr("The sACN universe that the table shows"));
    m_universeBox->setEnabled(false);
    addWidget(m_universeBox);
    connect(m_universeBox, &QSpinBox::valueChanged, this, &ProtocolBar::sacnUniverseChosen);

    m_watchListAction = addAction(tr("Watch List..."), this, &ProtocolBar::editWatchList);
    m_watchListAction->setObjectName(QStringLiteral("watchListAction"));
    m_watchListAction->setStatusTip(tr("Choose the sACN universes to follow besides the one on "
                                       "show"));

    m_previewAction = addAction(tr("Show Preview Data"));
    m_previewAction->setObjectName(QStringLiteral("showPreviewAction"));
    m_previewAction->setCheckable(true);
    m_previewAction->setStatusTip(tr("Let sACN preview data take part in the levels shown"));
    connect(m_previewAction, &QAction::toggled, this, &ProtocolBar::previewToggled);

    m_priorityBox = new QSpinBox(this);
    m_priorityBox->setObjectName(QStringLiteral("sendPriorityBox"));
    m_priorityBox->setRange(0, MaxPriority);
    m_priorityBox->setValue(DefaultSendPriority);
    m_priorityBox->setPrefix(tr("Send priority "));
    m_priorityBox->setStatusTip(tr("The priority of the sACN data that Send puts out (0-200)"));
    addWidget(m_priorityBox);
}

DmxProtocol ProtocolBar::protocol() const
{
    return DmxProtocol(m_protocolBox->currentData().toInt());
}

int ProtocolBar::sacnUniverse() const
{
    return m_universeBox->value();
}

bool ProtocolBar::previewShown() const
{
    return m_previewAction->isChecked();
}

int ProtocolBar::sendPriority() const
{
    return m_priorityBox->value();
}

void ProtocolBar::showProtocol(DmxProtocol protocol)
{
    m_protocolBox->setCurrentIndex(m_protocolBox->findData(int(protocol)));
}

void ProtocolBar::showSacnUniverse(int universe)
{
    if (protocol() == DmxProtocol::Sacn) {
        m_universeBox->setValue(universe);
        return;
    }
    {
        const QSignalBlocker blocker(m_universeBox);
        m_universeBox->setValue(universe);
    }
    m_session->setSacnUniverse(m_universeBox->value());
    showProtocol(DmxProtocol::Sacn);
}

void ProtocolBar::protocolChosen()
{
    const DmxProtocol chosen = protocol();
    m_universeBox->setEnabled(chosen == DmxProtocol::Sacn);
    m_session->setProtocol(chosen);
    emit universeOnShowChanged();
}

void ProtocolBar::sacnUniverseChosen(int universe)
{
    m_session->setSacnUniverse(universe);
    if (protocol() == DmxProtocol::Sacn)
        emit universeOnShowChanged();
}

void ProtocolBar::editWatchList()
{
    WatchListDialog dialog(m_watchList, window());
    if (dialog.exec() == QDialog::Accepted)
        setWatchList(dialog.universes());
}

void ProtocolBar::setWatchList(const QList<quint16> &universes)
{
    m_watchList = universes;
    m_session->setWatchList(universes);
}

void ProtocolBar::previewToggled(bool shown)
{
    m_session->setPreviewShown(shown);
}

void ProtocolBar::readSettings(QSettings &settings)
{
    settings.beginGroup(SettingsGroup);
    bool ok = false;
    const int universe = settings.value(SacnUniverseKey).toInt(&ok);
    if (ok && universe >= SacnPackets::MinUniverse && universe <= SacnPackets::MaxUniverse)
        m_universeBox->setValue(universe);
    QList<quint16> watched;
    QString error;
    if (UniverseRanges::parse(settings.value(WatchListKey).toString(), &watched, &error))
        setWatchList(watched);
    m_previewAction->setChecked(settings.value(ShowPreviewKey, false).toBool());
    const int priority = settings.value(SendPriorityKey).toInt(&ok);
    if (ok && priority >= 0 && priority <= MaxPriority)
        m_priorityBox->setValue(priority);
    const bool sacn = settings.value(ProtocolKey).toString() == SacnName;
    showProtocol(sacn ? DmxProtocol::Sacn : DmxProtocol::ArtNet);
    settings.endGroup();
}

void ProtocolBar::writeSettings(QSettings &settings) const
{
    settings.beginGroup(SettingsGroup);
    settings.setValue(ProtocolKey, protocol() == DmxProtocol::Sacn ? SacnName : ArtNetName);
    settings.setValue(SacnUniverseKey, sacnUniverse());
    settings.setValue(WatchListKey, UniverseRanges::format(m_watchList));
    settings.setValue(ShowPreviewKey, previewShown());
    settings.setValue(SendPriorityKey, sendPriority());
    settings.endGroup();
}
