#pragma once
// Dialog units: the dialogs are laid out in units of the dialog's font, so that they keep
// their proportions whatever font and screen the desktop uses. One horizontal unit is a
// quarter of the average character width, one vertical unit an eighth of the character height.

#include <QRect>
#include <QSize>

class QFont;

class DialogUnits {
public:
    // Base units of `font`: the average width of the letters A-Z and a-z, and the line height.
    explicit DialogUnits(const QFont& font);
    DialogUnits(int baseX, int baseY);

    int X(int units) const;
    int Y(int units) const;
    QSize Size(int width, int height) const;
    QRect Rect(int x, int y, int width, int height) const;
    QRect Rect(const QRect& units) const { return Rect(units.x(), units.y(), units.width(), units.height()); }

    int BaseX() const { return m_baseX; }
    int BaseY() const { return m_baseY; }

private:
    int m_baseX;
    int m_baseY;
};
