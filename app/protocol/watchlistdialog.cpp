#include "watchlistdialog.h"

#include "universeranges.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {

// Room for every universe written out singly; a longer text is pasted by mistake.
constexpr int MaxTextLength = 16 * 1024;

} // namespace

WatchListDialog::WatchListDialog(const QList<quint16> &universes, QWidget *parent)
    : QDialog(parent), m_universes(universes)
{
    setObjectName(QStringLiteral("watchListDialog"));
    setWindowTitle(tr("Watch List"));

    auto *explanation =
            new QLabel(tr("sACN universes to follow besides the one on show, for example "
                          "1-20, 101, 532-540 (at most %1):")
                               .arg(UniverseRanges::MaxUniverses),
                       this);
    explanation->setWordWrap(true);

    m_edit = new QLineEdit(UniverseRanges::format(universes), this);
    m_edit->setObjectName(QStringLiteral("watchListEdit"));
    m_edit->setMaxLength(MaxTextLength);
    explanation->setBuddy(m_edit);

    // The message quotes what the user typed: text, never markup.
    m_error = new QLabel(this);
    m_error->setObjectName(QStringLiteral("watchListError"));
    m_error->setTextFormat(Qt::PlainText);
    m_error->setWordWrap(true);
    m_error->hide();

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &WatchListDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &WatchListDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(explanation);
    layout->addWidget(m_edit);
    layout->addWidget(m_error);
    layout->addWidget(buttons);
}

void WatchListDialog::accept()
{
    QString error;
    if (!UniverseRanges::parse(m_edit->text(), &m_universes, &error)) {
        m_error->setText(error);
        m_error->show();
        m_edit->setFocus();
        return;
    }
    QDialog::accept();
}
