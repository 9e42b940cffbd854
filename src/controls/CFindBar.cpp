#include "controls/CFindBar.h"

#include "storage/StringTable.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QToolButton>

namespace {

// The least width of the field, in average characters.
constexpr int kLeastFieldCharacters = 16;

QString Text(unsigned id)
{
    return QString::fromStdString(LoadString(id));
}

// The status line: as wide as its text where there is room, and cut short with "..." where
// there is not, so that it never takes the field's room.
class StatusLabel final : public QLabel {
public:
    using QLabel::QLabel;

    QSize minimumSizeHint() const override { return QSize(0, QLabel::minimumSizeHint().height()); }

protected:
    void paintEvent(QPaintEvent* /*event*/) override
    {
        QPainter painter(this);
        const QRect room = contentsRect();
        style()->drawItemText(&painter, room, QStyle::visualAlignment(layoutDirection(), alignment()),
                              palette(), isEnabled(),
                              fontMetrics().elidedText(text(), Qt::ElideRight, room.width()),
                              foregroundRole());
    }
};

} // namespace

CFindBar::CFindBar(Finder finder, QWidget* searched, QWidget* parent)
    : QWidget(parent)
    , m_finder(std::move(finder))
    , m_searched(searched)
{
    setObjectName(QStringLiteral("findBar"));
    CreateControls();
    m_text->installEventFilter(this);
    connect(m_btnNext, &QPushButton::clicked, this, &CFindBar::FindNext);
    connect(m_btnPrevious, &QPushButton::clicked, this, &CFindBar::FindPrevious);
    connect(m_btnClose, &QToolButton::clicked, this, &CFindBar::Close);
    connect(m_text, &QLineEdit::textChanged, m_status, &QLabel::clear);
    AddKeys(parent);
    hide();
}

void CFindBar::CreateControls()
{
    auto* label = new QLabel(Text(IDS_FIND_LABEL), this);
    m_text = new QLineEdit(this);
    m_text->setClearButtonEnabled(true);
    label->setBuddy(m_text);
    m_btnNext = new QPushButton(Text(IDS_FIND_NEXT), this);
    m_btnPrevious = new QPushButton(Text(IDS_FIND_PREVIOUS), this);
    m_matchCase = new QCheckBox(Text(IDS_FIND_MATCH_CASE), this);
    m_status = new StatusLabel(this);
    // The field keeps room for a few words whatever the bar's width.
    m_text->setMinimumWidth(m_text->fontMetrics().averageCharWidth() * kLeastFieldCharacters);
    m_btnClose = new QToolButton(this);
    m_btnClose->setAutoRaise(true);
    m_btnClose->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    m_btnClose->setToolTip(Text(IDS_FIND_CLOSE));
    // In a dialog these must never become the default button: Enter belongs to the field.
    for (QPushButton* button : {m_btnNext, m_btnPrevious})
        button->setAutoDefault(false);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->addWidget(label);
    layout->addWidget(m_text, 1);
    layout->addWidget(m_btnNext);
    layout->addWidget(m_btnPrevious);
    layout->addWidget(m_matchCase);
    layout->addWidget(m_status);
    layout->addWidget(m_btnClose);
}

void CFindBar::AddKeys(QWidget* parent)
{
    // F3 on the parent, which is shown whether the bar is or not; Esc on the bar itself, so
    // that it is there only while the bar shows.
    auto* next = new QShortcut(QKeySequence(Qt::Key_F3), parent);
    auto* previous = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), parent);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    for (QShortcut* shortcut : {next, previous, escape})
        shortcut->setContext(Qt::WindowShortcut);
    connect(next, &QShortcut::activated, this, &CFindBar::FindNext);
    connect(previous, &QShortcut::activated, this, &CFindBar::FindPrevious);
    connect(escape, &QShortcut::activated, this, &CFindBar::Close);
}

void CFindBar::Open()
{
    show();
    m_text->setFocus(Qt::ShortcutFocusReason);
    m_text->selectAll();
}

void CFindBar::Close()
{
    const QWidget* focus = QApplication::focusWidget();
    const bool hadFocus = focus != nullptr && isAncestorOf(focus);
    hide();
    m_status->clear();
    if (hadFocus && m_searched != nullptr)
        m_searched->setFocus(Qt::OtherFocusReason);
}

FindOutcome CFindBar::FindNext()
{
    return Find(true);
}

FindOutcome CFindBar::FindPrevious()
{
    return Find(false);
}

FindOutcome CFindBar::Find(bool forward)
{
    if (m_text->text().isEmpty()) {
        Open();
        return FindOutcome::NotFound;
    }
    const FindOutcome outcome = m_finder(m_text->text(), forward, m_matchCase->isChecked());
    switch (outcome) {
    case FindOutcome::Found:
        m_status->clear();
        break;
    case FindOutcome::Wrapped:
        m_status->setText(Text(forward ? IDS_FIND_WRAPPED_TOP : IDS_FIND_WRAPPED_BOTTOM));
        break;
    case FindOutcome::NotFound:
        m_status->setText(Text(IDS_FIND_NOT_FOUND));
        break;
    }
    return outcome;
}

bool CFindBar::eventFilter(QObject* watched, QEvent* event)
{
    // A line edit lets Enter go on to its window, where a dialog's default button would take
    // it: here it finds the next match, or the previous one with Shift.
    if (watched == m_text && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            Find(!(key->modifiers() & Qt::ShiftModifier));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
