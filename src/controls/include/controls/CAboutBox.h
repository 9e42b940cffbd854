#pragma once
// The modal About box: its whole face is the program's picture, painted by the dialog,
// with two links over it (the web page and the support mail address) and a Close button
// that lets the picture show through. Construct it for each showing and run exec(): every
// showing starts with fresh controls (links not yet visited, button normal).

#include <QDialog>
#include <QFont>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QSize>

class CBackdropButton;
class CLinkLabel;
class QFontMetrics;

class CAboutBox : public QDialog {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 400;
    static constexpr int kClientHeight = 210;

    explicit CAboutBox(QWidget* parent = nullptr);
    ~CAboutBox() override;

    CBackdropButton* CloseButton() const { return m_pCloseButton; }
    CLinkLabel* MailLink() const { return m_pMailLink; }
    CLinkLabel* WebLink() const { return m_pWebLink; }

    // `base` at 8 points, or smaller where the box laid out in its dialog units would not
    // fit the picture.
    static QFont DialogFont(const QFont& base);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CLinkLabel* AddLink(unsigned textId, const QString& target, const QRect& place);

    QPixmap m_picture;
    CBackdropButton* m_pCloseButton = nullptr;
    CLinkLabel* m_pMailLink = nullptr;
    CLinkLabel* m_pWebLink = nullptr;
};
