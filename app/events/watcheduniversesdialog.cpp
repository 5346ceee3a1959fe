#include "watcheduniversesdialog.h"

#include "universeranges.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {

constexpr int MaxTextLength = 16 * 1024;
constexpr int LastArtNetUniverse = 32768;

} // namespace

WatchedUniversesDialog::WatchedUniversesDialog(const Choice &choice, QWidget *parent)
    : QDialog(parent), m_choice(choice)
{
    setObjectName(QStringLiteral("watchedUniversesDialog"));
    setWindowTitle(tr("Watched Universes"));
    auto *layout = new QVBoxLayout(this);
    auto *explanation = new QLabel(tr("An alarm is raised when a watched universe goes dark or a "
                                      "second source starts sending it. Numbers and ranges, for "
                                      "example 1-4, 10:"),
                                   this);
    explanation->setWordWrap(true);
    layout->addWidget(explanation);
    m_artNetEdit = addEdit(tr("Art-Net universes:"), choice.artNet, "watchedArtNetEdit");
    m_sacnEdit = addEdit(tr("sACN universes:"), choice.sacn, "watchedSacnEdit");
    m_timeCodeBox = new QCheckBox(tr("Alarm when the time code stops"), this);
    m_timeCodeBox->setObjectName(QStringLiteral("watchTimeCodeBox"));
    m_timeCodeBox->setChecked(choice.timeCode);
    layout->addWidget(m_timeCodeBox);
    m_notifyBox = new QCheckBox(tr("Tell the desktop too"), this);
    m_notifyBox->setObjectName(QStringLiteral("desktopNotifyBox"));
    m_notifyBox->setChecked(choice.desktopNotify);
    layout->addWidget(m_notifyBox);
    // Quotes what the user typed: text, never markup.
    m_error = new QLabel(this);
    m_error->setTextFormat(Qt::PlainText);
    m_error->setWordWrap(true);
    m_error->hide();
    layout->addWidget(m_error);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &WatchedUniversesDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &WatchedUniversesDialog::reject);
    layout->addWidget(buttons);
}

QLineEdit *WatchedUniversesDialog::addEdit(const QString &label, const QList<quint16> &universes,
                                           const char *name)
{
    auto *title = new QLabel(label, this);
    auto *edit = new QLineEdit(UniverseRanges::format(universes), this);
    edit->setObjectName(QLatin1String(name));
    edit->setMaxLength(MaxTextLength);
    title->setBuddy(edit);
    layout()->addWidget(title);
    layout()->addWidget(edit);
    return edit;
}

void WatchedUniversesDialog::accept()
{
    Choice chosen;
    QString error;
    if (!UniverseRanges::parse(m_artNetEdit->text(), &chosen.artNet, &error)
        || (!chosen.artNet.isEmpty() && chosen.artNet.constLast() > LastArtNetUniverse)) {
        m_error->setText(error.isEmpty()
                                 ? tr("Art-Net universes go from 1 to %1").arg(LastArtNetUniverse)
                                 : error);
        m_error->show();
        m_artNetEdit->setFocus();
        return;
    }
    if (!UniverseRanges::parse(m_sacnEdit->text(), &chosen.sacn, &error)) {
        m_error->setText(error);
        m_error->show();
        m_sacnEdit->setFocus();
        return;
    }
    chosen.timeCode = m_timeCodeBox->isChecked();
    chosen.desktopNotify = m_notifyBox->isChecked();
    m_choice = chosen;
    QDialog::accept();
}
