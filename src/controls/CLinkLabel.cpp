#include "controls/CLinkLabel.h"

#include "controls/BrowserCommand.h"

#include <QCursor>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QUrl>

namespace {
constexpr int kHoverPeriodMs = 100;
}

CLinkLabel::CLinkLabel(const QString& text, QWidget* parent)
    : QLabel(text, parent)
{
    // A dialog's static text starts at its top left corner; QLabel would centre vertically.
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setTextFormat(Qt::PlainText);
    // Nothing of the label's own is painted below the text: the dialog's picture shows.
    setAutoFillBackground(false);
    m_hoverTimer.setInterval(kHoverPeriodMs);
    connect(&m_hoverTimer, &QTimer::timeout, this, &CLinkLabel::PollHover);
}

CLinkLabel::~CLinkLabel() = default;

void CLinkLabel::Attach()
{
    if (m_bAttached)
        return;
    m_bAttached = true;

    if (m_target.isEmpty())
        m_target = text();
    if (text().isEmpty())
        setText(m_target);

    QFont linkFont = font();
    linkFont.setUnderline(m_bUnderlined);
    setFont(linkFont);

    FitToText();
    setCursor(Qt::PointingHandCursor);
    setToolTip(m_target);
    m_hoverTimer.start();
}

void CLinkLabel::SetTarget(const QString& target)
{
    m_target = target;
    if (m_bAttached) {
        FitToText();
        setToolTip(m_target);
    }
}

void CLinkLabel::FitToText()
{
    if (!m_bAttached || !m_bShrinkToText)
        return;

    // Edges as left/top inside and right/bottom outside, so the halving below is the same
    // arithmetic whatever the sign of the difference (a text larger than the label grows it).
    const QRect g = geometry();
    int left = g.x();
    int top = g.y();
    int right = left + g.width();
    int bottom = top + g.height();

    const QFontMetrics metrics(font());
    const int cx = metrics.horizontalAdvance(text());
    const int cy = metrics.height();

    const Qt::Alignment align = alignment();
    if (align & Qt::AlignVCenter) {
        const int shrink = (bottom - top - cy) / 2;
        top += shrink;
        bottom -= shrink;
    } else {
        bottom = top + cy;
    }
    if (align & Qt::AlignHCenter) {
        const int shrink = (right - left - cx) / 2;
        left += shrink;
        right -= shrink;
    } else if (align & Qt::AlignRight) {
        left = right - cx;
    } else {
        right = left + cx;
    }
    setGeometry(left, top, right - left, bottom - top);
}

QColor CLinkLabel::TextColor() const
{
    if (m_bHot)
        return m_clrHot;
    if (m_bOpened)
        return m_clrVisited;
    return m_clrNormal;
}

bool CLinkLabel::OpenTarget(const QString& target)
{
    if (target.isEmpty())
        return false;
    if (QDesktopServices::openUrl(QUrl(target, QUrl::TolerantMode)))
        return true;

    const QString command = BuildBrowserCommand(DefaultBrowserExec(), target);
    if (command.isEmpty())
        return false;
    QStringList args = QProcess::splitCommand(command);
    if (args.isEmpty())
        return false;
    const QString program = args.takeFirst();
    return QProcess::startDetached(program, args);
}

void CLinkLabel::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(TextColor());
    painter.drawText(contentsRect(), int(alignment()) | Qt::TextSingleLine, text());
}

void CLinkLabel::mousePressEvent(QMouseEvent* event)
{
    // Taken, so that the release comes back to the label rather than to the dialog.
    if (event->button() == Qt::LeftButton) {
        event->accept();
        return;
    }
    QLabel::mousePressEvent(event);
}

void CLinkLabel::mouseReleaseEvent(QMouseEvent* event)
{
    // Like a button: the click counts only when the mouse is let go over the label.
    if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint())) {
        QLabel::mouseReleaseEvent(event);
        return;
    }
    m_bOpened = true;
    update();
    OpenTarget(m_target);
    event->accept();
}

void CLinkLabel::showEvent(QShowEvent* event)
{
    Attach();
    QLabel::showEvent(event);
}

void CLinkLabel::PollHover()
{
    const QRect global(mapToGlobal(QPoint(0, 0)), size());
    m_bHot = isVisible() && global.contains(QCursor::pos());
    repaint();
}
