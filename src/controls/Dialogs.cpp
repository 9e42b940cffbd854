#include "controls/Dialogs.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QScreen>
#include <QSpacerItem>
#include <QStyle>
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
    // The box sizes itself from its text (a long path wraps, anywhere if need be) and fixes
    // that size as it shows; a spacer as wide as the caption needs sets the least, within the
    // screen.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        const int caption = std::min(CaptionWidth(box, box.windowTitle()), RoomOnScreen(box).width());
        grid->addItem(new QSpacerItem(caption, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(),
                      0, 1, grid->columnCount());
    }
    return box.exec();
}
