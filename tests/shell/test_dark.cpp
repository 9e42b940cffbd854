// Dark themes: with a dark palette every text of the program stays readable. The link label
// keeps the designed blue, red and purple on a light background and turns to readable colours
// of the same hues on a dark one; over the About box's light picture it keeps the designed
// ones whatever the theme. Every window's texts stand out from their backgrounds, and so do
// the toolbar's and the menus' images, greyed or not, on dark and light palettes alike.

#include "CMainFrame.h"
#include "CProcessListWnd.h"
#include "controls/CAboutBox.h"
#include "controls/CLinkLabel.h"
#include "dialogs/CDListDlg.h"
#include "dialogs/CLogsViewDlg.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>
#include <QTableView>
#include <QToolButton>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>

namespace {

const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);
const QColor kPurple(85, 26, 139);

// A dark palette with the colours of a common dark theme: `window` behind the texts, `text`
// for them.
QPalette DarkPalette(const QColor& window, const QColor& base, const QColor& text,
                     const QColor& highlight)
{
    QPalette palette(window);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Window, window);
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::Base, base);
        palette.setColor(group, QPalette::AlternateBase, window);
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::Button, window);
        palette.setColor(group, QPalette::ButtonText, text);
        palette.setColor(group, QPalette::Highlight, highlight);
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
        palette.setColor(group, QPalette::ToolTipBase, base);
        palette.setColor(group, QPalette::ToolTipText, text);
        palette.setColor(group, QPalette::PlaceholderText, text.darker(140));
    }
    palette.setColor(QPalette::Disabled, QPalette::WindowText, text.darker(170));
    palette.setColor(QPalette::Disabled, QPalette::Text, text.darker(170));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, text.darker(170));
    return palette;
}

// Breeze Dark (KDE Plasma), Adwaita dark (GNOME) and a black high-contrast theme.
QPalette BreezeDark()
{
    return DarkPalette(QColor(0x31, 0x36, 0x3b), QColor(0x23, 0x26, 0x29), QColor(0xfc, 0xfc, 0xfc),
                       QColor(0x3d, 0xae, 0xe9).darker(160));
}
QPalette AdwaitaDark()
{
    return DarkPalette(QColor(0x24, 0x24, 0x24), QColor(0x1e, 0x1e, 0x1e), Qt::white,
                       QColor(0x35, 0x84, 0xe4).darker(130));
}
QPalette Black()
{
    return DarkPalette(Qt::black, Qt::black, Qt::white, QColor(0x00, 0x00, 0x99));
}

double Contrast(const QColor& a, const QColor& b)
{
    return CLinkLabel::ContrastRatio(a, b);
}

// The hue distance in degrees (0 to 180).
int HueDistance(const QColor& a, const QColor& b)
{
    const int d = std::abs(a.toHsl().hslHue() - b.toHsl().hslHue()) % 360;
    return d > 180 ? 360 - d : d;
}

// Text pairs of a palette that widgets draw texts with, as (text, background, what).
struct Pair {
    QPalette::ColorRole text;
    QPalette::ColorRole background;
    const char* what;
};
const Pair kPairs[] = {
    {QPalette::WindowText, QPalette::Window, "window text"},
    {QPalette::Text, QPalette::Base, "text in a list or box"},
    {QPalette::ButtonText, QPalette::Button, "button text"},
    {QPalette::HighlightedText, QPalette::Highlight, "selected text"},
    {QPalette::ToolTipText, QPalette::ToolTipBase, "tooltip"},
};

// Every widget under `top` (and `top`) shows its texts readably: the palette pairs it draws
// with stand apart by at least 4.5.
void VerifyReadable(QWidget* top)
{
    QList<QWidget*> widgets = top->findChildren<QWidget*>();
    widgets.prepend(top);
    for (QWidget* widget : widgets) {
        const QPalette& palette = widget->palette();
        for (const Pair& pair : kPairs) {
            const double contrast = Contrast(palette.color(QPalette::Active, pair.text),
                                             palette.color(QPalette::Active, pair.background));
            const QByteArray what = QStringLiteral("%1 (%2): %3, contrast %4")
                                        .arg(QLatin1String(widget->metaObject()->className()),
                                             widget->objectName(), QLatin1String(pair.what))
                                        .arg(contrast, 0, 'f', 2)
                                        .toUtf8();
            QVERIFY2(contrast >= 4.5, what.constData());
        }
    }
}

// The colour that stands out most from `background` in `image`: the core of the link's
// letters, which antialiasing leaves in the text colour itself.
QColor DrawnColour(const QImage& image, const QColor& background)
{
    QColor best = background;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = QColor::fromRgb(image.pixel(x, y));
            if (Contrast(pixel, background) > Contrast(best, background))
                best = pixel;
        }
    }
    return best;
}

// A dialog with the given palette holding a link in the given state.
struct LinkOn {
    QDialog dialog;
    CLinkLabel* link;

    LinkOn(const QPalette& palette, const QString& state)
    {
        dialog.setPalette(palette);
        dialog.resize(300, 80);
        link = new CLinkLabel(QStringLiteral("Visit us on the Web!"), &dialog);
        link->setGeometry(10, 10, 200, 20);
        link->Attach();
        dialog.show();
        if (state != QLatin1String("normal")) {
            // Clicked: opened (the target cannot be opened here, which changes nothing).
            link->SetTarget(QString());
            QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(2, 2));
        }
        // The mouse rests on the link only for the hot look.
        QCursor::setPos(state == QLatin1String("hot") ? link->mapToGlobal(QPoint(5, 5))
                                                      : dialog.mapToGlobal(QPoint(290, 75)));
        QTest::qWait(250); // two hover ticks
    }
};

} // namespace

class TestDark : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void linkKeepsDesignedColoursOnLight_data();
    void linkKeepsDesignedColoursOnLight();
    void linkReadableOnDark_data();
    void linkReadableOnDark();
    void linkDrawsTheReadableColour();
    void aboutBoxLinksReadOverThePicture();
    void windowsReadable_data();
    void windowsReadable();
    void imagesStandOut_data();
    void imagesStandOut();
};

void TestDark::initTestCase()
{
    // Fusion draws with the palette it is given, as the desktop styles do with their themes.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
}

void TestDark::linkKeepsDesignedColoursOnLight_data()
{
    QTest::addColumn<QColor>("background");
    QTest::newRow("white") << QColor(Qt::white);
    QTest::newRow("Fusion's window") << QColor(0xef, 0xef, 0xef);
    QTest::newRow("light grey") << QColor(0xc0, 0xc0, 0xc0);
    QTest::newRow("About picture") << QColor(0xe9, 0xf1, 0xf8);
}

void TestDark::linkKeepsDesignedColoursOnLight()
{
    QFETCH(QColor, background);
    for (const QColor& designed : {kBlue, kRed, kPurple})
        QCOMPARE(CLinkLabel::ReadableOn(designed, background), designed);
}

void TestDark::linkReadableOnDark_data()
{
    QTest::addColumn<QColor>("background");
    QTest::newRow("Breeze Dark") << BreezeDark().color(QPalette::Window);
    QTest::newRow("Adwaita dark") << AdwaitaDark().color(QPalette::Window);
    QTest::newRow("black") << QColor(Qt::black);
    QTest::newRow("dark grey") << QColor(0x50, 0x50, 0x50);
}

void TestDark::linkReadableOnDark()
{
    QFETCH(QColor, background);
    QList<QColor> shown;
    for (const QColor& designed : {kBlue, kRed, kPurple}) {
        const QColor colour = CLinkLabel::ReadableOn(designed, background);
        const QByteArray what = QStringLiteral("%1 on %2 becomes %3 (contrast %4)")
                                    .arg(designed.name(), background.name(), colour.name())
                                    .arg(Contrast(colour, background), 0, 'f', 2)
                                    .toUtf8();
        QVERIFY2(Contrast(colour, background) >= 4.5, what.constData());
        // The same meaning: the same hue, still a colour rather than a grey.
        QVERIFY2(HueDistance(colour, designed) <= 6, what.constData());
        QVERIFY2(colour.toHsl().hslSaturation() >= 128, what.constData());
        shown.append(colour);
    }
    // Normal, hot and opened stay apart from each other.
    QVERIFY(shown[0] != shown[1] && shown[1] != shown[2] && shown[0] != shown[2]);
}

void TestDark::linkDrawsTheReadableColour()
{
    for (const QString& state : {QStringLiteral("normal"), QStringLiteral("opened"), QStringLiteral("hot")}) {
        LinkOn on(BreezeDark(), state);
        const QColor background = BreezeDark().color(QPalette::Window);
        QCOMPARE(on.link->Background(), background);
        const QColor colour = on.link->TextColor();
        QVERIFY2(Contrast(colour, background) >= 4.5, qPrintable(state));
        const QImage image = on.dialog.grab(on.link->geometry()).toImage();
        const QColor drawn = DrawnColour(image, background);
        QVERIFY2(Contrast(drawn, background) >= 4.5, qPrintable(state + QLatin1String(": ") + drawn.name()));
        QVERIFY2(HueDistance(drawn, colour) <= 10, qPrintable(state + QLatin1String(": ") + drawn.name()));
    }
    LinkOn normal(BreezeDark(), QStringLiteral("normal"));
    LinkOn opened(BreezeDark(), QStringLiteral("opened"));
    QVERIFY(normal.link->TextColor() != opened.link->TextColor());
}

void TestDark::aboutBoxLinksReadOverThePicture()
{
    QApplication::setPalette(BreezeDark());
    CAboutBox box;
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    const QImage shown = box.grab().toImage();
    for (CLinkLabel* link : {box.WebLink(), box.MailLink()}) {
        // The picture under the link is light: the designed blue stays.
        QVERIFY(Contrast(link->Background(), Qt::black) > Contrast(link->Background(), Qt::white));
        QCOMPARE(link->TextColor(), kBlue);
        QVERIFY(Contrast(kBlue, link->Background()) >= 4.5);
        QVERIFY(Contrast(kRed, link->Background()) >= 3.0);
        QVERIFY(Contrast(kPurple, link->Background()) >= 4.5);
        const QColor drawn = DrawnColour(shown.copy(link->geometry()), link->Background());
        QVERIFY2(Contrast(drawn, link->Background()) >= 3.0, qPrintable(drawn.name()));
    }
    QApplication::setPalette(QApplication::style()->standardPalette());
}

void TestDark::windowsReadable_data()
{
    QTest::addColumn<QPalette>("palette");
    QTest::newRow("Breeze Dark") << BreezeDark();
    QTest::newRow("Adwaita dark") << AdwaitaDark();
    QTest::newRow("black") << Black();
}

void TestDark::windowsReadable()
{
    QFETCH(QPalette, palette);
    QApplication::setPalette(palette);
    {
        QTemporaryDir dir;
        CMainFrame frame(dir.path().toStdString());
        frame.Create();
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        VerifyReadable(&frame);
        for (QMenu* menu : frame.findChildren<QMenu*>())
            VerifyReadable(menu);
        // Rows colour their texts only with colours that read on the list's base.
        const QAbstractItemModel* model = frame.ProcessList()->List()->model();
        const QColor base = frame.ProcessList()->List()->palette().color(QPalette::Base);
        for (int row = 0; row < model->rowCount(); ++row) {
            for (int column = 0; column < model->columnCount(); ++column) {
                const QVariant foreground = model->index(row, column).data(Qt::ForegroundRole);
                if (!foreground.isValid())
                    continue;
                const QColor colour = foreground.value<QBrush>().color();
                QVERIFY2(Contrast(colour, base) >= 4.5, qPrintable(colour.name()));
            }
        }
    }
    CDListDlg disabledList;
    VerifyReadable(&disabledList);
    CLogsViewDlg eventLog;
    VerifyReadable(&eventLog);
    QApplication::setPalette(QApplication::style()->standardPalette());
}

void TestDark::imagesStandOut_data()
{
    windowsReadable_data();
    QTest::newRow("light") << QApplication::style()->standardPalette();
}

// An image reads where a fifth of what it covers stands apart from the bar's or the menu's
// colour by at least 2:1, greyed or not.
void TestDark::imagesStandOut()
{
    QFETCH(QPalette, palette);
    QApplication::setPalette(palette);
    {
        QTemporaryDir dir;
        CMainFrame frame(dir.path().toStdString());
        frame.Create();
        QList<std::pair<unsigned, QIcon>> images;
        for (const CommandFacts& facts : CMainFrame::CommandTable()) {
            if (facts.toolBarImage)
                images.append({facts.id, frame.ToolButton(facts.id)->icon()});
            if (facts.menuImage)
                images.append({facts.id, frame.Command(facts.id)->icon()});
        }
        for (const auto& [id, icon] : images) {
            for (QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled}) {
                const QImage image = icon.pixmap(QSize(16, 16), mode).toImage().convertToFormat(QImage::Format_ARGB32);
                for (const QColor& behind : {palette.color(QPalette::Window), palette.color(QPalette::Base)}) {
                    int covered = 0;
                    int apart = 0;
                    for (int y = 0; y < image.height(); ++y) {
                        for (int x = 0; x < image.width(); ++x) {
                            const QRgb pixel = image.pixel(x, y);
                            const qreal a = qAlpha(pixel) / 255.0;
                            const QColor seen(int(qRed(pixel) * a + behind.red() * (1 - a)),
                                              int(qGreen(pixel) * a + behind.green() * (1 - a)),
                                              int(qBlue(pixel) * a + behind.blue() * (1 - a)));
                            covered += a >= 0.5 ? 1 : 0;
                            apart += a >= 0.5 && Contrast(seen, behind) >= 2.0 ? 1 : 0;
                        }
                    }
                    QVERIFY2(covered > 0 && apart * 5 >= covered,
                             qPrintable(QStringLiteral("command %1, mode %2 on %3: %4 of %5 pixels apart")
                                            .arg(id).arg(mode).arg(behind.name()).arg(apart).arg(covered)));
                }
            }
        }
    }
    QApplication::setPalette(QApplication::style()->standardPalette());
}

QTEST_MAIN(TestDark)
#include "test_dark.moc"
