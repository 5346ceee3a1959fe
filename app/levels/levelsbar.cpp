#include "levelsbar.h"

#include "capturesession.h"
#include "model.h"
#include "universemerge.h"

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>

namespace {

// Sources come and go over seconds; the list need not follow faster.
constexpr int ChoicesRefreshMs = 500;

} // namespace

LevelsBar::LevelsBar(CaptureSession *session, Model *model, QMainWindow *window)
    : QToolBar(tr("Levels"), window), m_session(session), m_model(model)
{
    setObjectName(QStringLiteral("levelsToolBar"));
    createWidgets(window);
    m_model->setMergeTips(&m_tips);
    refreshChoices();
}

void LevelsBar::createWidgets(QMainWindow *window)
{
    auto *caption = new QLabel(tr("Levels:"), this);
    caption->setObjectName(QStringLiteral("levelsCaption"));
    addWidget(caption);
    m_choiceBox = new QComboBox(this);
    m_choiceBox->setObjectName(QStringLiteral("levelChoiceBox"));
    m_choiceBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_choiceBox->setStatusTip(tr("The levels of the universe on show that the table gives: the "
                                 "latest packet's, a merge of its sources or one source's"));
    addWidget(m_choiceBox);
    connect(m_choiceBox, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < m_choices.size())
            choose(m_choices.at(index));
    });
    window->addToolBar(this);

    // Permanent, so that messages never hide that the table shows something else than the wire's
    // latest packet.
    m_statusLabel = new QLabel(window);
    m_statusLabel->setObjectName(QStringLiteral("levelChoiceLabel"));
    m_statusLabel->setTextFormat(Qt::PlainText);
    m_statusLabel->hide();
    window->statusBar()->addPermanentWidget(m_statusLabel);

    m_refreshTimer = new QTimer(this);
    connect(m_refreshTimer, &QTimer::timeout, this, &LevelsBar::refreshChoices);
    m_refreshTimer->start(ChoicesRefreshMs);
}

void LevelsBar::addMenuEntries(QMenu *menu)
{
    QMenu *levels = menu->addMenu(tr("Levels Shown"));
    levels->setObjectName(QStringLiteral("levelChoiceMenu"));
    auto *group = new QActionGroup(levels);
    const LevelChoice current = m_session->levelChoice();
    for (const LevelChoice &choice : std::as_const(m_choices)) {
        QAction *action = levels->addAction(m_session->levelChoiceText(choice));
        action->setCheckable(true);
        action->setChecked(choice == current);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, choice] { choose(choice); });
    }
}

void LevelsBar::refreshChoices()
{
    const QList<LevelChoice> choices = m_session->levelChoices();
    LevelChoice current = m_session->levelChoice();
    // The source chosen was forgotten: the protocol's own levels take its place.
    if (!choices.contains(current)) {
        current = defaultChoice();
        m_session->setLevelChoice(current);
        emit levelChoiceChanged();
    }
    if (choices != m_choices) {
        const QSignalBlocker blocker(m_choiceBox);
        m_choices = choices;
        m_choiceBox->clear();
        for (const LevelChoice &choice : std::as_const(m_choices))
            m_choiceBox->addItem(m_session->levelChoiceText(choice));
    }
    {
        const QSignalBlocker blocker(m_choiceBox);
        m_choiceBox->setCurrentIndex(int(m_choices.indexOf(current)));
    }
    updateStatusLabel();
}

void LevelsBar::choose(const LevelChoice &choice)
{
    if (choice == m_session->levelChoice())
        return;
    m_session->setLevelChoice(choice);
    refreshChoices();
    emit levelChoiceChanged();
}

LevelChoice LevelsBar::defaultChoice() const
{
    return LevelChoice::of(m_session->protocol() == DmxProtocol::Sacn
                                   ? LevelChoice::Kind::MergedPriorityHtp
                                   : LevelChoice::Kind::LatestPacket);
}

LevelChoice::Kind LevelsBar::tipMergeKind() const
{
    const LevelChoice::Kind shown = m_session->levelChoice().kind;
    if (shown != LevelChoice::Kind::LatestPacket && shown != LevelChoice::Kind::Source)
        return shown;
    return m_session->protocol() == DmxProtocol::Sacn ? LevelChoice::Kind::MergedPriorityHtp
                                                      : LevelChoice::Kind::MergedHtp;
}

void LevelsBar::refreshTips()
{
    LevelChoice merge;
    merge.kind = tipMergeKind();
    m_tips.update(m_session->universeMerge(merge.kind), m_session->levelChoiceText(merge));
}

void LevelsBar::updateStatusLabel()
{
    const LevelChoice choice = m_session->levelChoice();
    if (choice.kind == LevelChoice::Kind::LatestPacket) {
        m_statusLabel->hide();
        m_statusLabel->clear();
        return;
    }
    const QString name = m_session->levelChoiceText(choice);
    if (choice.kind == LevelChoice::Kind::Source) {
        m_statusLabel->setText(tr("Showing: %1 alone").arg(name));
    } else {
        const UniverseMerge merge = m_session->universeMerge(choice.kind);
        const auto merged = std::count_if(merge.sources.cbegin(), merge.sources.cend(),
                                          [](const MergeSourceLevels &source) {
                                              return source.inMerge;
                                          });
        m_statusLabel->setText(merged == 1 ? tr("Showing: %1 of 1 source").arg(name)
                                           : tr("Showing: %1 of %2 sources")
                                                     .arg(name, QString::number(merged)));
    }
    m_statusLabel->show();
}
