#pragma once
// A push button for a dialog that paints a picture as its background: the button draws no
// face of its own but the piece of the same picture that lies behind it, so the picture
// runs through the button, and only its caption on top. Three looks: normal (caption),
// hot while the mouse is over it (raised one-pixel frame) and pressed (caption moved one
// pixel right and down, sunken frame).
//
// The backdrop must be the picture the parent paints unscaled from its client origin;
// on any other background the button shows a piece of the picture instead.

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QPushButton>
#include <QString>

class CBackdropButton : public QPushButton {
    Q_OBJECT

public:
    enum State { Normal = 1, Hot = 2, Pressed = 3 };

    explicit CBackdropButton(const QString& text = {}, QWidget* parent = nullptr);
    ~CBackdropButton() override;

    // The parent's background picture. A null picture (or a file that cannot be read)
    // leaves the button drawing only caption and frame.
    void LoadBackdrop(const QPixmap& backdrop);
    void LoadBackdrop(const QString& path);

    void SetTextColors(const QColor& normal, const QColor& hot);
    // The caption font: the given face, 10 pixels high, semi-bold.
    void SetFaceFont(const QString& face);

    int GetState() const { return m_state; }
    bool IsMouseAway() const { return m_bMouseAway; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void SetState(int state);
    void PaintBackdrop(QPainter& painter);
    // One pixel on the outermost pixels: `topLeft` on the top row and left column,
    // `bottomRight` on the bottom row and right column (which own the two far corners).
    void PaintFrame(QPainter& painter, const QColor& topLeft, const QColor& bottomRight);

    QFont m_faceFont;
    bool m_bFaceFont = false;
    bool m_bSelected = false;
    QPixmap m_backdrop;
    int m_state = Normal;
    QColor m_clrText{255, 255, 255};
    QColor m_clrTextHot{255, 255, 255};
    bool m_bMouseAway = true;
};
