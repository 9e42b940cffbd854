#include "controls/Dialogs.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QScreen>
#include <QSpacerItem>
#include <QStyle>
#include <QTextBoundaryFinder>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace {

QScreen* ScreenFor(const QWidget& dialog)
{
    if (const QWidget* owner = dialog.parentWidget(); owner != nullptr && owner->window()->isVisible())
        return owner->window()->screen();
    if (dialog.isVisible())
        return dialog.screen();
    if (QScreen* atMouse = QGuiApplication::screenAt(QCursor::pos()))
        return atMouse;
    return dialog.screen();
}

QMargins FrameOf(const QWidget& dialog)
{
    if (dialog.isVisible() && dialog.windowHandle() != nullptr && !dialog.windowHandle()->frameMargins().isNull())
        return dialog.windowHandle()->frameMargins();
    if (const QWidget* owner = dialog.parentWidget(); owner != nullptr) {
        const QWindow* ownerWindow = owner->window()->windowHandle();
        if (owner->window()->isVisible() && ownerWindow != nullptr && !ownerWindow->frameMargins().isNull())
            return ownerWindow->frameMargins();
    }
    const QStyle* style = dialog.style();
    const int border = style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, &dialog);
    const int title = style->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &dialog);
    return QMargins(border, title + border, border, border);
}

// The width a window manager's title bar needs for `caption`: the text in a bold face of the
// desktop's title font, and beside it the window's icon and three buttons (close, and the
// minimise and maximise that managers show even on dialogs) with the padding between them:
// five squares as high as the bar.
int CaptionWidth(const QWidget& box, const QString& caption)
{
    QFont font = QApplication::font("QMdiSubWindowTitleBar");
    font.setBold(true);
    const QFontMetrics metrics(font);
    const int bar = std::max(metrics.height() + 8,
                             box.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &box));
    return metrics.horizontalAdvance(caption) + 5 * bar;
}

// `text` with breaks allowed inside each word (a run without blanks) wider than `width`: after
// every "/" and, where a part is still too wide, between two characters. The box would
// otherwise take the whole width of a small screen for a long path, its frame off the screen.
QString BreakableWords(const QString& text, const QFontMetrics& metrics, int width)
{
    static const QChar kBreak(0x200B); // zero-width space: a break that shows nothing
    QString result;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && !text[end].isSpace())
            ++end;
        const QString word = text.mid(start, end - start);
        QString part;
        QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, word);
        qsizetype from = 0;
        for (qsizetype to = characters.toNextBoundary(); to != -1; to = characters.toNextBoundary()) {
            const QString character = word.mid(from, to - from);
            from = to;
            if (!part.isEmpty() && metrics.horizontalAdvance(word) > width &&
                (part.endsWith(QLatin1Char('/')) || metrics.horizontalAdvance(part + character) > width)) {
                result += part + kBreak;
                part.clear();
            }
            part += character;
        }
        result += part;
        // The blanks after the word, as they were.
        for (start = end; end < text.size() && text[end].isSpace(); ++end) {
        }
        result += text.mid(start, end - start);
        start = end;
    }
    return result;
}

} // namespace

void MakeWindowModal(QWidget& dialog)
{
    // Set before exec(), which would otherwise make it modal to the whole program.
    dialog.setWindowModality(Qt::WindowModal);
}

QSize RoomOnScreen(const QWidget& dialog)
{
    const QScreen* screen = ScreenFor(dialog);
    if (screen == nullptr)
        return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    const QRect area = screen->availableGeometry();
    const QMargins frame = FrameOf(dialog);
    return QSize(std::max(0, area.width() - frame.left() - frame.right()),
                 std::max(0, area.height() - frame.top() - frame.bottom()));
}

void KeepOnScreen(QWidget& dialog)
{
    const QScreen* screen = ScreenFor(dialog);
    if (screen == nullptr || !dialog.isVisible())
        return;
    const QRect area = screen->availableGeometry();
    if (area.contains(dialog.frameGeometry()))
        return;
    const QSize fitting = dialog.size().boundedTo(RoomOnScreen(dialog)).expandedTo(dialog.minimumSize());
    if (fitting != dialog.size())
        dialog.resize(fitting);
    const QRect frame = dialog.frameGeometry();
    const int x = std::max(area.left(), std::min(frame.left(), area.right() + 1 - frame.width()));
    const int y = std::max(area.top(), std::min(frame.top(), area.bottom() + 1 - frame.height()));
    if (x != frame.left() || y != frame.top())
        dialog.move(x, y);
}

int ExecMessageBox(QMessageBox& box)
{
    MakeWindowModal(box);
    // The box sizes itself from its text and fixes that size as it shows: a word wider than two
    // thirds of the screen (a long path) gets places to break, and a spacer as wide as the
    // caption needs sets the least, within the screen.
    const int room = RoomOnScreen(box).width();
    const QFontMetrics metrics(box.font());
    box.setText(BreakableWords(box.text(), metrics, std::max(metrics.averageCharWidth() * 20, room * 2 / 3)));
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        const int caption = std::min(CaptionWidth(box, box.windowTitle()), room);
        grid->addItem(new QSpacerItem(caption, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(),
                      0, 1, grid->columnCount());
    }
    return box.exec();
}
