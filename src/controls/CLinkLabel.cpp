#include "controls/CLinkLabel.h"

#include "BrowserCommand.h"

#include <QCursor>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kHoverPeriodMs = 100;
// WCAG 2's ratio for normal text (AA).
constexpr double kReadableContrast = 4.5;

// The relative luminance of sRGB `color` (WCAG 2): 0 for black, 1 for white.
double RelativeLuminance(const QColor& color)
{
    auto linear = [](float c) {
        return c <= 0.04045f ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = color.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) +
           0.0722 * linear(rgb.blueF());
}

} // namespace

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
    linkFont.setUnderline(true);
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
    if (!m_bAttached)
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
    const QColor& designed = m_bHot ? m_clrHot : m_bOpened ? m_clrVisited : m_clrNormal;
    return ReadableOn(designed, Background());
}

void CLinkLabel::SetBackground(const QColor& color)
{
    m_background = color;
    update();
}

QColor CLinkLabel::Background() const
{
    if (m_background.isValid())
        return m_background;
    if (const QWidget* parent = parentWidget())
        return parent->palette().color(parent->backgroundRole());
    return palette().color(QPalette::Window);
}

double CLinkLabel::ContrastRatio(const QColor& a, const QColor& b)
{
    const double la = RelativeLuminance(a);
    const double lb = RelativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor CLinkLabel::ReadableOn(const QColor& designed, const QColor& background)
{
    // Light: black text reads better on it than white text does.
    const double luminance = RelativeLuminance(background);
    if ((luminance + 0.05) / 0.05 >= 1.05 / (luminance + 0.05))
        return designed;

    // Same hue and saturation, lighter a step at a time until the text stands out.
    const QColor hsl = designed.toHsl();
    float hue = 0;
    float saturation = 0;
    float lightness = 0;
    hsl.getHslF(&hue, &saturation, &lightness);
    constexpr int kSteps = 100;
    for (int step = int(std::ceil(lightness * kSteps)); step <= kSteps; ++step) {
        const QColor candidate = QColor::fromHslF(hue, saturation, float(step) / kSteps).toRgb();
        if (ContrastRatio(candidate, background) >= kReadableContrast)
            return candidate;
    }
    return QColor(Qt::white);
}

bool CLinkLabel::OpenTarget(const QString& target)
{
    if (target.isEmpty())
        return false;
    if (QDesktopServices::openUrl(QUrl(target, QUrl::TolerantMode)))
        return true;

    QStringList command = BuildBrowserCommand(DefaultBrowserExec(), target);
    if (command.isEmpty())
        return false;
    const QString program = command.takeFirst();
    return QProcess::startDetached(program, command);
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
