#include "phoneviewdialog.h"

#include "qrcodeimage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

constexpr int QrSide = 300;
constexpr int LowestPort = 1;
constexpr int HighestPort = 65535;

} // namespace

PhoneViewDialog::PhoneViewDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("phoneViewDialog"));
    setWindowTitle(tr("Phone View"));

    m_network = new QComboBox;
    m_network->setObjectName(QStringLiteral("phoneViewNetwork"));
    m_port = new QSpinBox;
    m_port->setObjectName(QStringLiteral("phoneViewPort"));
    m_port->setRange(LowestPort, HighestPort);
    m_start = new QPushButton(tr("&Start"));
    m_start->setObjectName(QStringLiteral("phoneViewStart"));
    m_stop = new QPushButton(tr("S&top"));
    m_stop->setObjectName(QStringLiteral("phoneViewStop"));
    connect(m_start, &QPushButton::clicked, this, &PhoneViewDialog::startRequested);
    connect(m_stop, &QPushButton::clicked, this, &PhoneViewDialog::stopRequested);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_start);
    buttons->addWidget(m_stop);
    buttons->addStretch();
    auto *form = new QFormLayout;
    form->addRow(tr("&Network:"), m_network);
    form->addRow(tr("&Port:"), m_port);
    form->addRow(buttons);

    m_message = new QLabel;
    m_message->setObjectName(QStringLiteral("phoneViewMessage"));
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);

    m_startWithProgram = new QCheckBox(tr("Start with &Vardolux"));
    m_startWithProgram->setObjectName(QStringLiteral("phoneViewStartWithProgram"));
    m_startWithProgram->setToolTip(tr("Serve the phone view on this network whenever Vardolux "
                                      "starts, with a new token each time"));
    connect(m_startWithProgram, &QCheckBox::toggled, this,
            &PhoneViewDialog::startWithProgramChanged);

    auto *close = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    // As large as what it shows: the QR code must never be squeezed.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    auto *intro = new QLabel(tr("Phones on this network see what Vardolux sees, in their "
                                "browser. They can change nothing."));
    intro->setWordWrap(true);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(m_message);
    layout->addWidget(createRunningPart());
    layout->addWidget(m_startWithProgram);
    layout->addWidget(close);
    showStopped(QString());
}

QWidget *PhoneViewDialog::createRunningPart()
{
    m_running = new QWidget;
    m_url = selectableLabel(QStringLiteral("phoneViewUrl"));
    m_token = selectableLabel(QStringLiteral("phoneViewToken"));
    m_phones = new QLabel;
    m_phones->setObjectName(QStringLiteral("phoneViewPhones"));
    m_qr = new QLabel;
    m_qr->setObjectName(QStringLiteral("phoneViewQr"));
    m_qr->setAlignment(Qt::AlignCenter);
    m_qr->setToolTip(tr("Scan with the phone's camera"));

    auto *form = new QFormLayout;
    form->addRow(tr("Address:"), m_url);
    form->addRow(tr("Token:"), m_token);
    form->addRow(tr("Phones:"), m_phones);
    auto *layout = new QVBoxLayout(m_running);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_qr);
    layout->addLayout(form);
    return m_running;
}

QLabel *PhoneViewDialog::selectableLabel(const QString &objectName)
{
    auto *label = new QLabel;
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return label;
}

void PhoneViewDialog::setNetworks(const QList<Network> &networks, const QHostAddress &chosen)
{
    m_network->clear();
    for (const Network &network : networks)
        m_network->addItem(network.text, network.address.toString());
    const int index = m_network->findData(chosen.toString());
    m_network->setCurrentIndex(std::max(0, index));
}

QHostAddress PhoneViewDialog::address() const
{
    return QHostAddress(m_network->currentData().toString());
}

void PhoneViewDialog::setPort(quint16 port)
{
    m_port->setValue(port);
}

quint16 PhoneViewDialog::port() const
{
    return quint16(m_port->value());
}

void PhoneViewDialog::setStartWithProgram(bool on)
{
    const QSignalBlocker quiet(m_startWithProgram);
    m_startWithProgram->setChecked(on);
}

bool PhoneViewDialog::startWithProgram() const
{
    return m_startWithProgram->isChecked();
}

void PhoneViewDialog::showRunning(const QString &url, const QString &token, int phones)
{
    m_url->setText(url);
    m_token->setText(token);
    const QImage code = QrCodeImage::scaled(QrCodeImage::encode(url), QrSide);
    m_qr->setPixmap(QPixmap::fromImage(code));
    showPhones(phones);
    m_message->clear();
    m_message->hide();
    m_running->show();
    m_network->setEnabled(false);
    m_port->setEnabled(false);
    m_start->setEnabled(false);
    m_stop->setEnabled(true);
}

void PhoneViewDialog::showPhones(int phones)
{
    m_phones->setText(phones == 1 ? tr("1 phone connected")
                                  : tr("%1 phones connected").arg(phones));
}

void PhoneViewDialog::showStopped(const QString &reason)
{
    // The token goes with the server: nothing of it stays on show.
    m_url->clear();
    m_token->clear();
    m_qr->clear();
    m_running->hide();
    m_message->setText(reason);
    m_message->setVisible(!reason.isEmpty());
    const bool haveNetwork = m_network->count() > 0;
    m_network->setEnabled(haveNetwork);
    m_port->setEnabled(true);
    m_start->setEnabled(haveNetwork);
    m_stop->setEnabled(false);
}
