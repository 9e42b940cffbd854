#include "controls/CBackdropButton.h"

#include "controls/Picture.h"

#include <QMouseEvent>
#include <QPainter>

CBackdropButton::CBackdropButton(const QString& text, QWidget* parent)
    : QPushButton(text, parent)
{
    // Moves without a held button must arrive, or the button could never turn hot.
    setMouseTracking(true);
}

CBackdropButton::~CBackdropButton() = default;

void CBackdropButton::LoadBackdrop(const QPixmap& backdrop)
{
    m_backdrop = backdrop;
    update();
}

void CBackdropButton::LoadBackdrop(const QString& path)
{
    LoadBackdrop(LoadPicture(path, devicePixelRatioF()));
}

void CBackdropButton::SetTextColors(const QColor& normal, const QColor& hot)
{
    m_clrText = normal;
    m_clrTextHot = hot;
    update();
}

void CBackdropButton::SetFaceFont(const QString& face)
{
    QFont faceFont(face);
    faceFont.setPixelSize(10);
    faceFont.setWeight(QFont::DemiBold);
    faceFont.setItalic(false);
    faceFont.setUnderline(false);
    faceFont.setStrikeOut(false);
    m_faceFont = faceFont;
    m_bFaceFont = true;
    update();
}

void CBackdropButton::SetState(int state)
{
    m_state = state;
    update();
}

void CBackdropButton::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.setFont(m_bFaceFont ? m_faceFont : font());
    m_bSelected = isDown();

    if (!m_backdrop.isNull())
        PaintBackdrop(painter);

    constexpr int captionFlags = Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic;
    const QRect area = rect();
    const QPalette& pal = palette();
    switch (m_state) {
    case Normal:
        painter.setPen(m_clrText);
        painter.drawText(area, captionFlags, text());
        break;
    case Hot:
        painter.setPen(m_clrTextHot);
        painter.drawText(area, captionFlags, text());
        PaintFrame(painter, pal.color(QPalette::Light), pal.color(QPalette::Dark));
        break;
    case Pressed:
        painter.setPen(m_clrTextHot);
        if (m_bSelected) {
            painter.drawText(area.translated(1, 1), captionFlags, text());
            PaintFrame(painter, pal.color(QPalette::Dark), pal.color(QPalette::Light));
        } else {
            // Held, but the pointer has wandered off: neither pushed nor raised.
            painter.drawText(area, captionFlags, text());
        }
        break;
    default:
        break;
    }
}

void CBackdropButton::PaintBackdrop(QPainter& painter)
{
    // pos() is the top left corner in the parent's coordinates, where the parent has
    // painted the same picture from its origin. The source is counted in the picture's own
    // pixels, which are finer than the widget's on a high-resolution screen.
    const qreal ratio = m_backdrop.devicePixelRatio();
    const QRectF source(QPointF(pos()) * ratio, QSizeF(size()) * ratio);
    painter.drawPixmap(QRectF(QPointF(0, 0), QSizeF(size())), m_backdrop, source);
}

void CBackdropButton::PaintFrame(QPainter& painter, const QColor& topLeft,
                                 const QColor& bottomRight)
{
    const int w = width();
    const int h = height();
    painter.fillRect(0, 0, w - 1, 1, topLeft);
    painter.fillRect(0, 0, 1, h - 1, topLeft);
    painter.fillRect(w - 1, 0, 1, h, bottomRight);
    painter.fillRect(0, h - 1, w, 1, bottomRight);
}

void CBackdropButton::mouseMoveEvent(QMouseEvent* event)
{
    if (m_bMouseAway) {
        SetState(Hot);
        m_bMouseAway = false;
    }
    QPushButton::mouseMoveEvent(event);
}

void CBackdropButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        SetState(Pressed);
    QPushButton::mousePressEvent(event);
}

void CBackdropButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        SetState(Hot);
    QPushButton::mouseReleaseEvent(event);
}

void CBackdropButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    // A double click is a second press, so the release that follows gives a second click.
    if (event->button() == Qt::LeftButton) {
        mousePressEvent(event);
        return;
    }
    QPushButton::mouseDoubleClickEvent(event);
}

void CBackdropButton::leaveEvent(QEvent* event)
{
    m_bMouseAway = true;
    SetState(Normal);
    QPushButton::leaveEvent(event);
}
