// The link label, the backdrop button and the About box, as real widgets on the offscreen
// platform. Links are clicked for real; the desktop opener is replaced, per scheme, by a
// URL handler (Qt's own hook), so no browser or mail program is started by the tests.

#include "BrowserCommand.h"
#include "controls/AskYesNo.h"
#include "controls/CAboutBox.h"
#include "controls/CBackdropButton.h"
#include "controls/CLinkLabel.h"
#include "controls/TellFailure.h"
#include "storage/StringTable.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QImage>
#include <QMessageBox>
#include <QPushButton>
#include <QPainter>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <optional>

// Catches the URLs that QDesktopServices::openUrl would hand to the desktop.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void Open(const QUrl& url) { urls.append(url); }
};

namespace {

// A picture in which every pixel tells where it lies: red = x, green = y; blue keeps it
// apart from black captions and from the palette's greys.
QPixmap CoordinatePicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x % 256, y % 256, 200));
    }
    return QPixmap::fromImage(image);
}

QImage Render(QWidget* widget)
{
    QImage image(widget->size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    widget->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// Bounding box of the pixels inside the one-pixel border that differ from `backdrop`
// at the button's place: that is where the caption was drawn.
QRect CaptionBox(const QImage& image, const QImage& backdrop, QPoint at)
{
    QRect box;
    for (int y = 1; y < image.height() - 1; ++y) {
        for (int x = 1; x < image.width() - 1; ++x) {
            if (image.pixel(x, y) != backdrop.pixel(at.x() + x, at.y() + y))
                box = box.united(QRect(x, y, 1, 1));
        }
    }
    return box;
}

bool HasColor(const QImage& image, QColor color)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) == color.rgb())
                return true;
        }
    }
    return false;
}

const QColor kBlue(0, 0, 255);
const QColor kPurple(85, 26, 139);
const QColor kRed(255, 0, 0);

} // namespace

class TestControls : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void BuildBrowserCommand_data();
    void BuildBrowserCommand();
    void BrowserCommandMustFit();
    void ReadsExecOfTheMainGroup();

    void LinkTakesTextAsTargetAndTargetAsText();
    void LinkColours_data();
    void LinkColours();
    void LinkClickOpensTargetOnlyWhenReleasedOnIt();
    void FitToText_data();
    void FitToText();
    void SetTargetAfterAttachRefits();

    void ButtonLooks();
    void ButtonFollowsTheMouse();

    void AboutBoxLayout();
    void AboutBoxStartsFreshEachTime();
    void AboutBoxCloses_data();
    void AboutBoxCloses();

    void MessageBoxesFitTheirCaption();

private:
    UrlCatcher m_catcher;
};

void TestControls::init()
{
    m_catcher.urls.clear();
    for (const char* scheme : {"http", "https", "mailto"})
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &m_catcher, "Open");
    QCursor::setPos(QPoint(-1000, -1000));
}

void TestControls::cleanup()
{
    for (const char* scheme : {"http", "https", "mailto"})
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
}

// ---- the browser fallback -------------------------------------------------------------

void TestControls::BuildBrowserCommand_data()
{
    QTest::addColumn<QString>("exec");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("double-quoted placeholder")
        << R"("/usr/bin/web-browser" -new-window "%u")"
        << QStringList{"/usr/bin/web-browser", "-new-window", "https://x"};
    QTest::newRow("single-quoted, text after it dropped")
        << "browser --new '%U' --profile=main" << QStringList{"browser", "--new", "https://x"};
    QTest::newRow("bare %U") << "/usr/bin/browser %U" << QStringList{"/usr/bin/browser", "https://x"};
    QTest::newRow("bare %f, text after it dropped")
        << "viewer %f --fullscreen" << QStringList{"viewer", "https://x"};
    QTest::newRow("inside a word") << "web --url=%u" << QStringList{"web", "--url=https://x"};
    QTest::newRow("no placeholder") << "/usr/bin/browser --private"
                                    << QStringList{"/usr/bin/browser", "--private", "https://x"};
    QTest::newRow("escaped percent is a percent sign")
        << "run --fmt=%%u --open %u" << QStringList{"run", "--fmt=%u", "--open", "https://x"};
    QTest::newRow("other field codes are no placeholder")
        << "browser %i %U" << QStringList{"browser", "%i", "https://x"};
    QTest::newRow("quoted words keep blanks and quotes")
        << R"("/opt/my web/run" "--title=a \"b\"" %u)"
        << QStringList{"/opt/my web/run", R"(--title=a "b")", "https://x"};
    QTest::newRow("nothing to run") << "" << QStringList{};
}

void TestControls::BuildBrowserCommand()
{
    QFETCH(QString, exec);
    QFETCH(QStringList, expected);
    QCOMPARE(::BuildBrowserCommand(exec, QStringLiteral("https://x")), expected);
    // The target is one argument, whatever it holds.
    const QString odd = QStringLiteral("https://x/a \"b\" 'c'");
    const QStringList command = ::BuildBrowserCommand(exec, odd);
    QCOMPARE(command.size(), expected.size());
    QVERIFY(command.isEmpty() || command.last().endsWith(odd));
}

void TestControls::BrowserCommandMustFit()
{
    const QString target = QStringLiteral("https://x");
    // 519 characters and the terminator fill the 520 of the command buffer exactly.
    const QString fits = QString(519 - 1 - target.size(), u'b');
    QCOMPARE(::BuildBrowserCommand(fits, target).join(u' ').size(), 519);
    QVERIFY(::BuildBrowserCommand(fits + u'b', target).isEmpty());
    // The cut happens before the check: a long tail after the placeholder does not count.
    QCOMPARE(::BuildBrowserCommand(QStringLiteral("b %u ") + QString(600, u'x'), target),
             (QStringList{"b", target}));
    QVERIFY(::BuildBrowserCommand(QStringLiteral("b %u"), QString(600, u'y')).isEmpty());
}

void TestControls::ReadsExecOfTheMainGroup()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("web.desktop"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("# a browser\n"
               "[Desktop Action new-window]\n"
               "Exec=/opt/web/bin/web --new-window %u\n"
               "[Desktop Entry]\n"
               "Name=Web\n"
               "Exec = /opt/web/bin/web %u\n"
               "Type=Application\n");
    file.close();
    QCOMPARE(ReadDesktopEntryExec(path), QStringLiteral("/opt/web/bin/web %u"));
    QVERIFY(ReadDesktopEntryExec(dir.filePath(QStringLiteral("missing.desktop"))).isEmpty());
}

// ---- the link label ----------------------------------------------------------------------

void TestControls::LinkTakesTextAsTargetAndTargetAsText()
{
    QWidget dialog;
    CLinkLabel fromText(QStringLiteral("https://text.example.org/"), &dialog);
    CLinkLabel fromTarget(QString(), &dialog);
    fromTarget.SetTarget(QStringLiteral("mailto:someone@example.org"));
    CLinkLabel both(QStringLiteral("Write to us"), &dialog);
    both.SetTarget(QStringLiteral("mailto:us@example.org"));
    for (CLinkLabel* link : {&fromText, &fromTarget, &both})
        link->Attach();

    QCOMPARE(fromText.Target(), QStringLiteral("https://text.example.org/"));
    QCOMPARE(fromTarget.text(), QStringLiteral("mailto:someone@example.org"));
    QCOMPARE(both.text(), QStringLiteral("Write to us"));
    QCOMPARE(both.toolTip(), QStringLiteral("mailto:us@example.org"));
    QVERIFY(both.font().underline());
    QCOMPARE(both.cursor().shape(), Qt::PointingHandCursor);
}

void TestControls::LinkColours_data()
{
    QTest::addColumn<bool>("clicked");
    QTest::addColumn<bool>("hovered");
    QTest::addColumn<QColor>("expected");

    QTest::newRow("never clicked") << false << false << kBlue;
    QTest::newRow("mouse over it") << false << true << kRed;
    QTest::newRow("clicked and left") << true << false << kPurple;
    QTest::newRow("clicked, mouse over it: hot wins") << true << true << kRed;
}

void TestControls::LinkColours()
{
    QFETCH(bool, clicked);
    QFETCH(bool, hovered);
    QFETCH(QColor, expected);

    QWidget dialog;
    dialog.resize(300, 100);
    CLinkLabel link(QStringLiteral("Visit us on the Web!"), &dialog);
    link.setGeometry(20, 20, 200, 20);
    link.SetTarget(QStringLiteral("https://orvane.example.org/"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    if (clicked) {
        QTest::mouseClick(&link, Qt::LeftButton);
        QCOMPARE(m_catcher.urls.size(), 1);
    }
    if (hovered) {
        QCursor::setPos(link.mapToGlobal(link.rect().center()));
        QTRY_VERIFY(link.IsHot());
    } else {
        // The timer keeps ticking; the link must still be at rest after it did.
        QTest::qWait(250);
        QVERIFY(!link.IsHot());
    }

    QCOMPARE(link.TextColor(), expected);
    const QImage image = Render(&link);
    QVERIFY(HasColor(image, expected));
    for (QColor other : {kBlue, kPurple, kRed}) {
        if (other != expected)
            QVERIFY2(!HasColor(image, other), qPrintable(other.name()));
    }

    if (hovered) {
        // It falls back at the first tick after the mouse has gone.
        QCursor::setPos(link.mapToGlobal(QPoint(link.width() + 5, 0)));
        QTRY_VERIFY(!link.IsHot());
        QCOMPARE(link.TextColor(), clicked ? kPurple : kBlue);
    }
}

void TestControls::LinkClickOpensTargetOnlyWhenReleasedOnIt()
{
    QWidget dialog;
    dialog.resize(300, 100);
    CLinkLabel link(QStringLiteral("Have any questions? Please EMAIL US!"), &dialog);
    link.setGeometry(20, 20, 260, 20);
    link.SetTarget(QStringLiteral("mailto:support@orvane.example.org"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QTest::mousePress(&link, Qt::LeftButton);
    QTest::mouseRelease(&link, Qt::LeftButton, {}, QPoint(link.width() + 3, 2));
    QVERIFY(!link.IsOpened());
    QVERIFY(m_catcher.urls.isEmpty());

    QTest::mouseClick(&link, Qt::LeftButton);
    QVERIFY(link.IsOpened());
    QCOMPARE(m_catcher.urls, QList<QUrl>{QUrl(QStringLiteral("mailto:support@orvane.example.org"))});
    QCOMPARE(link.toolTip(), QStringLiteral("mailto:support@orvane.example.org"));
}

void TestControls::FitToText_data()
{
    QTest::addColumn<int>("alignment");
    QTest::addColumn<QRect>("start");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("edges"); // what stays fixed

    const QRect box(40, 30, 301, 41);
    QTest::newRow("left keeps left and top")
        << int(Qt::AlignLeft | Qt::AlignTop) << box << "Visit us" << "left";
    QTest::newRow("centred keeps its centre")
        << int(Qt::AlignHCenter | Qt::AlignTop) << box << "Visit us" << "hcenter";
    QTest::newRow("right keeps right")
        << int(Qt::AlignRight | Qt::AlignTop) << box << "Visit us" << "right";
    QTest::newRow("vertically centred keeps its middle")
        << int(Qt::AlignLeft | Qt::AlignVCenter) << box << "Visit us" << "vcenter";
    QTest::newRow("left, text larger than the label grows it")
        << int(Qt::AlignLeft | Qt::AlignTop) << QRect(40, 30, 10, 4)
        << "A text much wider than ten pixels" << "left";
    QTest::newRow("centred, text larger than the label grows it")
        << int(Qt::AlignHCenter | Qt::AlignVCenter) << QRect(40, 30, 11, 4)
        << "A text much wider than eleven pixels" << "hcenter vcenter";
}

void TestControls::FitToText()
{
    QFETCH(int, alignment);
    QFETCH(QRect, start);
    QFETCH(QString, text);
    QFETCH(QString, edges);

    QWidget dialog;
    dialog.resize(500, 200);
    CLinkLabel link(text, &dialog);
    link.setAlignment(Qt::Alignment(alignment));
    link.setGeometry(start);
    link.Attach();

    const QFontMetrics metrics(link.font());
    const int cx = metrics.horizontalAdvance(text);
    const int cy = metrics.height();
    const QRect got = link.geometry();

    // Halving truncates toward zero, so an odd difference leaves the extra pixel inside,
    // and a negative one (growing) grows by one pixel less than the text needs.
    const int dx = (start.width() - cx) / 2;
    const int dy = (start.height() - cy) / 2;
    if (edges.contains(QLatin1String("hcenter"))) {
        QCOMPARE(got.left(), start.left() + dx);
        QCOMPARE(got.width(), start.width() - 2 * dx);
    } else if (edges == QLatin1String("right")) {
        QCOMPARE(got.left() + got.width(), start.left() + start.width());
        QCOMPARE(got.width(), cx);
    } else {
        QCOMPARE(got.left(), start.left());
        QCOMPARE(got.width(), cx);
    }
    if (edges.contains(QLatin1String("vcenter"))) {
        QCOMPARE(got.top(), start.top() + dy);
        QCOMPARE(got.height(), start.height() - 2 * dy);
    } else {
        QCOMPARE(got.top(), start.top());
        QCOMPARE(got.height(), cy);
    }
    QVERIFY(qAbs(got.width() - cx) <= 1);
}

void TestControls::SetTargetAfterAttachRefits()
{
    QWidget dialog;
    CLinkLabel link(QStringLiteral("Web"), &dialog);
    link.setGeometry(10, 10, 200, 30);
    link.SetTarget(QStringLiteral("https://a.example.org/"));
    QCOMPARE(link.geometry(), QRect(10, 10, 200, 30)); // nothing but the string before Attach

    link.Attach();
    link.setText(QStringLiteral("A longer text than before"));
    link.SetTarget(QStringLiteral("https://b.example.org/"));
    QCOMPARE(link.toolTip(), QStringLiteral("https://b.example.org/"));
    QCOMPARE(link.width(), QFontMetrics(link.font()).horizontalAdvance(link.text()));
}

// ---- the backdrop button -------------------------------------------------------------------

void TestControls::ButtonLooks()
{
    QWidget dialog;
    dialog.resize(200, 120);
    const QPixmap backdrop = CoordinatePicture(200, 120);
    const QImage picture = backdrop.toImage();
    CBackdropButton button(QStringLiteral("Close"), &dialog);
    const QPoint at(30, 40);
    button.setGeometry(QRect(at, QSize(90, 39)));
    button.LoadBackdrop(backdrop);
    button.SetTextColors(Qt::black, Qt::black);
    button.SetFaceFont(QStringLiteral("Sans Serif"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    const QColor light = button.palette().color(QPalette::Light);
    const QColor dark = button.palette().color(QPalette::Dark);
    const int w = button.width();
    const int h = button.height();
    auto backdropAt = [&](int x, int y) { return picture.pixel(at.x() + x, at.y() + y); };
    // Top row and left column in one colour, right column and bottom row in the other.
    auto hasFrame = [&](const QImage& image, QColor topLeft, QColor bottomRight) {
        for (int x = 0; x < w - 1; ++x) {
            if (image.pixel(x, 0) != topLeft.rgb())
                return false;
        }
        for (int y = 0; y < h - 1; ++y) {
            if (image.pixel(0, y) != topLeft.rgb())
                return false;
        }
        for (int y = 0; y < h; ++y) {
            if (image.pixel(w - 1, y) != bottomRight.rgb())
                return false;
        }
        for (int x = 0; x < w; ++x) {
            if (image.pixel(x, h - 1) != bottomRight.rgb())
                return false;
        }
        return true;
    };
    auto borderIsBackdrop = [&](const QImage& image) {
        for (int x = 0; x < w; ++x) {
            for (int y : {0, h - 1}) {
                if (image.pixel(x, y) != backdropAt(x, y))
                    return false;
            }
        }
        for (int y = 0; y < h; ++y) {
            for (int x : {0, w - 1}) {
                if (image.pixel(x, y) != backdropAt(x, y))
                    return false;
            }
        }
        return true;
    };

    QCOMPARE(button.GetState(), int(CBackdropButton::Normal));
    const QImage normal = Render(&button);
    // No frame: the border shows the parent's picture at the button's place.
    QVERIFY(borderIsBackdrop(normal));
    const QRect normalCaption = CaptionBox(normal, picture, at);
    QVERIFY(!normalCaption.isEmpty());

    QTest::mouseMove(&button, QPoint(5, 5));
    QTRY_COMPARE(button.GetState(), int(CBackdropButton::Hot));
    const QImage hot = Render(&button);
    QVERIFY(hasFrame(hot, light, dark));
    QCOMPARE(CaptionBox(hot, picture, at), normalCaption);

    QTest::mousePress(&button, Qt::LeftButton);
    // QTest remembers held buttons across tests: let go even when a check below fails.
    auto letGo = qScopeGuard([&] {
        QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(w + 20, h + 20));
    });
    QCOMPARE(button.GetState(), int(CBackdropButton::Pressed));
    QVERIFY(button.isDown());
    const QImage pressed = Render(&button);
    QVERIFY(hasFrame(pressed, dark, light));
    QCOMPARE(CaptionBox(pressed, picture, at), normalCaption.translated(1, 1));

    // Held, with the pointer off the button: not pushed, so no frame and no offset.
    QTest::mouseEvent(QTest::MouseMove, &button, Qt::LeftButton, {}, QPoint(w + 20, h + 20));
    QVERIFY(!button.isDown());
    QCOMPARE(button.GetState(), int(CBackdropButton::Pressed));
    const QImage heldOff = Render(&button);
    QVERIFY(borderIsBackdrop(heldOff));
    QCOMPARE(CaptionBox(heldOff, picture, at), normalCaption);
}

void TestControls::ButtonFollowsTheMouse()
{
    QWidget dialog;
    dialog.resize(200, 120);
    CBackdropButton button(QStringLiteral("Close"), &dialog);
    button.setGeometry(30, 40, 90, 39);
    QSignalSpy clicks(&button, &QPushButton::clicked);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QVERIFY(button.IsMouseAway());
    QTest::mouseEvent(QTest::MouseMove, &button, Qt::NoButton, {}, QPoint(5, 5));
    QTRY_COMPARE(button.GetState(), int(CBackdropButton::Hot));
    QVERIFY(!button.IsMouseAway());

    QTest::mousePress(&button, Qt::LeftButton);
    QCOMPARE(button.GetState(), int(CBackdropButton::Pressed));
    QTest::mouseRelease(&button, Qt::LeftButton);
    QCOMPARE(button.GetState(), int(CBackdropButton::Hot));
    QCOMPARE(clicks.size(), 1);

    // A press with the other button is no press of this button.
    QTest::mousePress(&button, Qt::RightButton);
    QCOMPARE(button.GetState(), int(CBackdropButton::Hot));
    QTest::mouseRelease(&button, Qt::RightButton);

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
    QCOMPARE(button.GetState(), int(CBackdropButton::Normal));
    QVERIFY(button.IsMouseAway());

    // Keys push the button without changing its look.
    button.setFocus();
    QTest::keyPress(&button, Qt::Key_Space);
    QVERIFY(button.isDown());
    QCOMPARE(button.GetState(), int(CBackdropButton::Normal));
    QTest::keyRelease(&button, Qt::Key_Space);
    QCOMPARE(clicks.size(), 2);

    // A double click delivers press, release, double click, release: the double click is
    // a second press, so the last release gives a second click.
    QTest::mouseClick(&button, Qt::LeftButton);
    QTest::mouseDClick(&button, Qt::LeftButton);
    QCOMPARE(button.GetState(), int(CBackdropButton::Pressed));
    QVERIFY(button.isDown());
    QTest::mouseRelease(&button, Qt::LeftButton);
    QCOMPARE(clicks.size(), 4);
    QCOMPARE(button.GetState(), int(CBackdropButton::Hot));
}

// ---- the About box -------------------------------------------------------------------------

void TestControls::AboutBoxLayout()
{
    CAboutBox box;
    QCOMPARE(box.windowTitle(), QStringLiteral("About Orvane"));
    QCOMPARE(box.CloseButton()->text(), QStringLiteral("Close"));
    QCOMPARE(box.WebLink()->text(), QStringLiteral("Visit us on the Web!"));
    QCOMPARE(box.MailLink()->text(), QStringLiteral("Have any questions? Please EMAIL US!"));
    QCOMPARE(box.size(), QSize(CAboutBox::kClientWidth, CAboutBox::kClientHeight));
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));

    const QRect client = box.rect();
    const QRect web = box.WebLink()->geometry();
    const QRect mail = box.MailLink()->geometry();
    const QRect close = box.CloseButton()->geometry();
    for (const QRect& r : {web, mail, close})
        QVERIFY2(client.contains(r), qPrintable(QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y())
                                                    .arg(r.width()).arg(r.height())));
    // Web link above the mail link, both from the same left edge, Close to their right.
    QCOMPARE(web.left(), mail.left());
    QVERIFY(web.bottom() < mail.top());
    QVERIFY(close.left() > web.right());
    QVERIFY(!web.intersects(close) && !mail.intersects(close));

    QCOMPARE(box.WebLink()->Target(), QStringLiteral("https://orvane.example.org/"));
    QCOMPARE(box.MailLink()->Target(), QStringLiteral("mailto:support@orvane.example.org"));
    QCOMPARE(box.MailLink()->toolTip(), box.MailLink()->Target());
    QVERIFY(box.CloseButton()->isDefault());

    // Picture and button are one surface: the corner of the resting button shows exactly
    // what the dialog shows beside it, where the picture is a plain gradient row.
    const QImage shot = box.grab().toImage();
    QVERIFY(!shot.isNull());
    const QPoint corner = close.topLeft() + QPoint(1, 1);
    CAboutBox bare; // the same picture, without the button over it
    bare.CloseButton()->hide();
    bare.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bare));
    const QImage picture = bare.grab().toImage();
    QCOMPARE(shot.pixel(corner), picture.pixel(corner));
    QVERIFY(picture.pixel(corner) != box.palette().color(QPalette::Window).rgb());
}

void TestControls::AboutBoxStartsFreshEachTime()
{
    {
        CAboutBox first;
        first.show();
        QVERIFY(QTest::qWaitForWindowExposed(&first));
        QTest::mouseClick(first.MailLink(), Qt::LeftButton);
        QTest::mouseClick(first.WebLink(), Qt::LeftButton);
        QCOMPARE(first.MailLink()->TextColor(), kPurple);
        QCOMPARE(first.WebLink()->TextColor(), kPurple);
        QCOMPARE(m_catcher.urls,
                 (QList<QUrl>{QUrl(QStringLiteral("mailto:support@orvane.example.org")),
                              QUrl(QStringLiteral("https://orvane.example.org/"))}));
    }
    CAboutBox second;
    second.show();
    QVERIFY(QTest::qWaitForWindowExposed(&second));
    QCOMPARE(second.MailLink()->TextColor(), kBlue);
    QCOMPARE(second.WebLink()->TextColor(), kBlue);
    QCOMPARE(second.CloseButton()->GetState(), int(CBackdropButton::Normal));
}

void TestControls::AboutBoxCloses_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("result");
    QTest::newRow("Return") << int(Qt::Key_Return) << int(QDialog::Accepted);
    QTest::newRow("Enter") << int(Qt::Key_Enter) << int(QDialog::Accepted);
    QTest::newRow("Escape") << int(Qt::Key_Escape) << int(QDialog::Rejected);
}

void TestControls::AboutBoxCloses()
{
    QFETCH(int, key);
    QFETCH(int, result);

    CAboutBox box;
    bool pressed = false;
    QTimer::singleShot(0, &box, [&] {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : &box;
        QTest::keyClick(target, Qt::Key(key));
        pressed = true;
    });
    // Should the key go astray, the box must not hang the test.
    QTimer::singleShot(5000, &box, [&] { box.done(-1); });
    QCOMPARE(box.exec(), result);
    QVERIFY(pressed);
    QVERIFY(!box.isVisible());
}

// A window manager's title bar shows the caption in a bold face beside the window's icon, three
// buttons and padding (five squares of the bar's height, a line and a few pixels): a box less
// wide has its caption cut ("Orvan... 1.1 XP").
void TestControls::MessageBoxesFitTheirCaption()
{
    QFont bold = QApplication::font("QMdiSubWindowTitleBar");
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    const int needed = metrics.horizontalAdvance(QStringLiteral("Orvane v 1.1 XP")) + 5 * (metrics.height() + 8);
    for (bool question : {true, false}) {
        int width = 0;
        QTimer::singleShot(100, [&width] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            width = box->width();
            box->button(box->button(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok)->click();
        });
        if (question)
            AskYesNo(nullptr, IDS_ASK_KILL);
        else
            TellFileFailure(nullptr, IDS_ERR_LOG_SAVE, "/a", std::make_error_code(std::errc::io_error));
        QVERIFY2(width >= needed, qPrintable(QStringLiteral("%1 < %2").arg(width).arg(needed)));
    }
}

QTEST_MAIN(TestControls)
#include "test_controls.moc"
