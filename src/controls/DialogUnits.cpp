#include "controls/DialogUnits.h"

#include <QFont>
#include <QFontMetrics>

namespace {

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c)
{
    const long long p = static_cast<long long>(a) * b;
    return static_cast<int>(p >= 0 ? (p + c / 2) / c : (p - c / 2) / c);
}

int AverageLetterWidth(const QFontMetrics& metrics)
{
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    // Rounded like the width of 26 letters halved, so that odd widths do not lose half a pixel.
    return (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
}

} // namespace

DialogUnits::DialogUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    m_baseX = qMax(1, AverageLetterWidth(metrics));
    m_baseY = qMax(1, metrics.height());
}

DialogUnits::DialogUnits(int baseX, int baseY) : m_baseX(qMax(1, baseX)), m_baseY(qMax(1, baseY)) {}

int DialogUnits::X(int units) const { return MulDiv(units, m_baseX, 4); }

int DialogUnits::Y(int units) const { return MulDiv(units, m_baseY, 8); }

QSize DialogUnits::Size(int width, int height) const { return QSize(X(width), Y(height)); }

QRect DialogUnits::Rect(int x, int y, int width, int height) const
{
    // Edges are mapped, not sizes, so that controls that meet in units meet in pixels.
    return QRect(QPoint(X(x), Y(y)), QPoint(X(x + width) - 1, Y(y + height) - 1));
}
