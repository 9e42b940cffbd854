#pragma once
// A label that acts as a link: underlined text in link colours on the parent's own
// background, shrunk to its text, a pointing hand and a tooltip with the target, red while
// the mouse rests on it, purple once clicked (lighter colours of the same hues on a dark
// background); a click opens the target (a web page or a "mailto:" address) with the
// desktop's opener.
//
// The hosting dialog places the label (geometry, alignment, text), optionally calls
// SetTarget, and then calls Attach(); a label that is shown without it attaches itself.

#include <QColor>
#include <QLabel>
#include <QString>
#include <QTimer>

class CLinkLabel : public QLabel {
    Q_OBJECT

public:
    explicit CLinkLabel(const QString& text = {}, QWidget* parent = nullptr);
    ~CLinkLabel() override;

    // Finishes the set-up once the label sits in its dialog: an empty target takes the
    // text, an empty text shows the target, the dialog's font is underlined, the label
    // shrinks to its text, gets the hand cursor and the tooltip, and starts polling the
    // mouse. Runs once; later calls do nothing.
    void Attach();
    bool IsAttached() const { return m_bAttached; }

    // Stores the target; once attached, also refits the label and updates the tooltip.
    void SetTarget(const QString& target);
    const QString& Target() const { return m_target; }

    // Resizes the label to its text by its alignment: a horizontally centred label keeps
    // its centre, a right-aligned one its right edge, others their left edge; a vertically
    // centred one keeps its middle, others their top. Does nothing before Attach().
    void FitToText();

    // Opens `target` with the desktop's opener, or, when that fails, with the default
    // browser's own command. True when something was started; callers may ignore it.
    static bool OpenTarget(const QString& target);

    // The colour the text is drawn in now: hot beats opened beats normal. On a light
    // background these are the designed blue, red and purple; on a dark one (a dark theme)
    // the same hues made light enough to read (ReadableOn).
    QColor TextColor() const;

    // The colour the text is drawn on. The label paints no background of its own, so by
    // default it is the parent's background colour; a dialog that paints a picture under
    // the label tells the picture's colour there with SetBackground (an invalid colour
    // returns to the default).
    void SetBackground(const QColor& color);
    QColor Background() const;

    // `designed` when `background` is light; on a dark background the same hue and
    // saturation, lightened until it stands out by a contrast ratio of at least 4.5 (WCAG).
    static QColor ReadableOn(const QColor& designed, const QColor& background);
    // The contrast ratio of two colours (WCAG 2): 1 for equal colours, 21 for black on white.
    static double ContrastRatio(const QColor& a, const QColor& b);
    bool IsHot() const { return m_bHot; }
    bool IsOpened() const { return m_bOpened; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // The mouse is polled, not tracked, so a label covered by another window or left while
    // a button was held still falls back to its resting colour at the next tick.
    void PollHover();

    QColor m_clrNormal{0, 0, 255};
    QColor m_clrVisited{85, 26, 139};
    QColor m_clrHot{255, 0, 0};
    QColor m_background; // invalid: the parent's background
    bool m_bHot = false;
    bool m_bOpened = false;
    QString m_target;
    bool m_bAttached = false;
    QTimer m_hoverTimer;
};
