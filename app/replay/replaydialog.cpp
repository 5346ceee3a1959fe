#include "replaydialog.h"

#include "interfacelist.h"
#include "universeranges.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// Room for every universe written out singly; a longer text is pasted by mistake.
constexpr int MaxUniversesTextLength = 16 * 1024;

} // namespace

ReplayDialog::ReplayDialog(const QString &path, const QList<InterfaceEntry> &networks,
                           QWidget *parent)
    : QDialog(parent), m_networks(networks)
{
    setObjectName(QStringLiteral("replayDialog"));
    setWindowTitle(tr("Replay to Network"));

    m_file = new QLineEdit(path, this);
    m_file->setObjectName(QStringLiteral("replayFileEdit"));
    auto *browseButton = new QPushButton(tr("&Browse..."), this);
    connect(browseButton, &QPushButton::clicked, this, &ReplayDialog::browse);
    auto *fileRow = new QHBoxLayout;
    fileRow->addWidget(m_file);
    fileRow->addWidget(browseButton);

    m_universes = new QLineEdit(this);
    m_universes->setObjectName(QStringLiteral("replayUniversesEdit"));
    m_universes->setMaxLength(MaxUniversesTextLength);
    m_universes->setPlaceholderText(tr("All, or for example 1-20, 101"));
    m_universes->setToolTip(tr("Art-Net universes as the program numbers them (port-address + 1) "
                               "and sACN universes"));

    m_networkList = new QListWidget(this);
    m_networkList->setObjectName(QStringLiteral("replayNetworkList"));
    for (const InterfaceEntry &entry : networks) {
        auto *item = new QListWidgetItem(tr("%1 (broadcast %2)")
                                                 .arg(InterfaceList::networkText(entry.address),
                                                      entry.address.broadcast().toString()),
                                         m_networkList);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    m_networkList->setMaximumHeight(m_networkList->sizeHintForRow(0) * 5 + 8);
    auto *networksNote = new QLabel(tr("None ticked: where the capture sent them"), this);

    m_loop = new QCheckBox(tr("&Loop"), this);
    m_loop->setObjectName(QStringLiteral("replayLoopBox"));

    // The message quotes what the user typed: text, never markup.
    m_error = new QLabel(this);
    m_error->setObjectName(QStringLiteral("replayError"));
    m_error->setTextFormat(Qt::PlainText);
    m_error->setWordWrap(true);
    m_error->hide();

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    buttons->addButton(tr("&Replay"), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &ReplayDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ReplayDialog::reject);

    auto *form = new QFormLayout;
    // A row of a layout takes no buddy from its text: its label is made here.
    auto *fileLabel = new QLabel(tr("&File:"), this);
    fileLabel->setBuddy(m_file);
    form->addRow(fileLabel, fileRow);
    form->addRow(tr("&Universes:"), m_universes);
    form->addRow(tr("&Networks:"), m_networkList);
    form->addRow(QString(), networksNote);
    form->addRow(QString(), m_loop);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_error);
    layout->addWidget(buttons);
}

void ReplayDialog::browse()
{
    const QString path = QFileDialog::getOpenFileName(
            this, tr("Replay a Capture"), m_file->text(),
            tr("Captures (*.pcap *.pcapng *.cap);;All files (*)"));
    if (!path.isEmpty())
        m_file->setText(path);
}

void ReplayDialog::accept()
{
    QString error;
    CaptureReplayer::Options options;
    options.path = m_file->text().trimmed();
    if (options.path.isEmpty())
        error = tr("Choose the capture file to replay.");
    else
        UniverseRanges::parse(m_universes->text(), &options.universes, &error);
    if (!error.isEmpty()) {
        m_error->setText(error);
        m_error->show();
        return;
    }
    for (int row = 0; row < m_networkList->count(); ++row)
        if (m_networkList->item(row)->checkState() == Qt::Checked)
            options.networks.append(m_networks.at(row));
    options.loop = m_loop->isChecked();
    m_options = options;
    QDialog::accept();
}
