// High-resolution screens: run with QT_SCALE_FACTOR at 1.5 and at 2 (offscreen). Every image
// is drawn at the screen's resolution (toolbar, menus, tray icon, About picture, default
// process icon); at 2 the toolbar images carry detail that no 1x image brought up to that
// scale can have; texts fit their columns and buttons; and the dialogs are laid out as at
// scale 1 (measured by running this program once more at scale 1 with --layout), so they keep
// their proportions. On a 1280 x 900 screen (this program once more with --fit) every dialog
// and message box lies within the screen's available area, and the event log's find field
// keeps room to type in.

#include "CMainFrame.h"
#include "CProcessListWnd.h"
#include "ProcessTableModel.h"
#include "controls/AskYesNo.h"
#include "controls/CAboutBox.h"
#include "controls/CBackdropButton.h"
#include "controls/CFindBar.h"
#include "controls/CLinkLabel.h"
#include "controls/TellFailure.h"
#include "dialogs/CDListDlg.h"
#include "dialogs/CLogsViewDlg.h"
#include "storage/StringTable.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QMap>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QSvgRenderer>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

namespace {

// The ratio the test was started for (QT_SCALE_FACTOR), 1 when none was given.
qreal ExpectedRatio()
{
    bool ok = false;
    const qreal factor = qEnvironmentVariable("QT_SCALE_FACTOR").toDouble(&ok);
    return ok && factor > 0 ? factor : 1.0;
}

QSize Scaled(QSize logical, qreal ratio)
{
    return QSize(int(std::lround(logical.width() * ratio)), int(std::lround(logical.height() * ratio)));
}

// The SVG at `path` rendered straight into an image of `size` device pixels, into `target`,
// on `fill`: what an image drawn at the screen's resolution must look like.
QImage RenderSvg(const QString& path, QSize size, QRectF target, QColor fill = Qt::transparent)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    QSvgRenderer renderer(path);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, target);
    return image;
}

// The share of pixels of two images of one size that differ in some channel (alpha included)
// by more than `tolerance`; 1 when the sizes differ.
double DifferingShare(const QImage& a, const QImage& b, int tolerance = 24)
{
    if (a.size() != b.size() || a.isNull())
        return 1.0;
    const QImage x = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    qint64 differing = 0;
    for (int row = 0; row < x.height(); ++row) {
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row);
            const QRgb q = y.pixel(col, row);
            if (std::abs(qRed(p) - qRed(q)) > tolerance ||
                std::abs(qGreen(p) - qGreen(q)) > tolerance ||
                std::abs(qBlue(p) - qBlue(q)) > tolerance ||
                std::abs(qAlpha(p) - qAlpha(q)) > tolerance)
                ++differing;
        }
    }
    return double(differing) / (double(x.width()) * x.height());
}

int Luma(QRgb rgb)
{
    return (qRed(rgb) * 299 + qGreen(rgb) * 587 + qBlue(rgb) * 114) / 1000;
}

// Sharp steps inside the 2 x 2 blocks of a scale-2 image: neighbours within one block (one
// logical pixel) whose brightness differs by more than half the image's range of brightness
// (a greyed, disabled image has a smaller range). A 1x image brought up to scale 2 has none:
// by pixel repetition every block is flat, and smooth (bilinear) scaling puts at most half of
// a step between two neighbours.
int SharpStepsWithinPixels(const QImage& scale2)
{
    const QImage image = scale2.convertToFormat(QImage::Format_RGB32);
    int darkest = 255;
    int lightest = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            darkest = std::min(darkest, Luma(image.pixel(x, y)));
            lightest = std::max(lightest, Luma(image.pixel(x, y)));
        }
    }
    const int threshold = std::max(32, (lightest - darkest) / 2);
    int steps = 0;
    for (int y = 0; y + 1 < image.height(); y += 2) {
        for (int x = 0; x + 1 < image.width(); x += 2) {
            const int a = Luma(image.pixel(x, y));
            const int b = Luma(image.pixel(x + 1, y));
            const int c = Luma(image.pixel(x, y + 1));
            const int d = Luma(image.pixel(x + 1, y + 1));
            steps += (std::abs(a - b) > threshold) + (std::abs(c - d) > threshold) +
                     (std::abs(a - c) > threshold) + (std::abs(b - d) > threshold);
        }
    }
    return steps;
}

// `scale2` brought down to scale 1 (each 2 x 2 block averaged).
QImage DownToScale1(const QImage& scale2)
{
    const QImage source = scale2.convertToFormat(QImage::Format_RGB32);
    QImage image(source.width() / 2, source.height() / 2, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            int r = 0;
            int g = 0;
            int b = 0;
            for (const QPoint& p : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(1, 1)}) {
                const QRgb rgb = source.pixel(2 * x + p.x(), 2 * y + p.y());
                r += qRed(rgb);
                g += qGreen(rgb);
                b += qBlue(rgb);
            }
            image.setPixel(x, y, qRgb(r / 4, g / 4, b / 4));
        }
    }
    return image;
}

// A frame over its own, empty program directory, created (its monitor running).
struct Frame {
    QTemporaryDir dir;
    std::unique_ptr<CMainFrame> frame;

    Frame()
    {
        frame = std::make_unique<CMainFrame>(dir.path().toStdString());
        frame->Create();
    }
    CMainFrame* operator->() const { return frame.get(); }
};

QString Shell(const char* name)
{
    return QStringLiteral(":/shell/%1").arg(QLatin1String(name));
}

// The places of the three dialogs and of their controls, in device-independent pixels.
using Layout = QMap<QString, QRect>;

Layout MeasureDialogs()
{
    Layout layout;
    auto measure = [&layout](const QString& name, QWidget& dialog) {
        dialog.show();
        QApplication::processEvents();
        layout.insert(name, QRect(QPoint(0, 0), dialog.size()));
        int index = 0;
        for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            layout.insert(QStringLiteral("%1/%2.%3")
                              .arg(name, QLatin1String(child->metaObject()->className()))
                              .arg(index++),
                          child->geometry());
        }
        dialog.hide();
    };
    CAboutBox about;
    measure(QStringLiteral("about"), about);
    CDListDlg disabledList;
    measure(QStringLiteral("disabled-list"), disabledList);
    CLogsViewDlg eventLog;
    measure(QStringLiteral("event-log"), eventLog);
    return layout;
}

// Shows each dialog and message box on this process's screen and prints where it lies: "FAIL"
// where it does not lie within the screen's available area, or where the event log's find
// field has no room to type a name. Returns how many failed.
int MeasureFit()
{
    QTextStream out(stdout);
    int failures = 0;
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const auto verify = [&](bool ok, const QString& what) {
        out << (ok ? "ok   " : "FAIL ") << what << '\n';
        failures += ok ? 0 : 1;
    };
    const auto inside = [&](const char* name, QWidget& window) {
        QTest::qWait(300); // the second look, once the frame is known
        const QRect frame = window.frameGeometry();
        verify(area.contains(frame), QStringLiteral("%1: %2,%3 %4x%5").arg(QLatin1String(name)).arg(frame.x())
                                         .arg(frame.y()).arg(frame.width()).arg(frame.height()));
    };
    CAboutBox about;
    about.show();
    inside("about", about);
    CDListDlg disabledList;
    disabledList.show();
    inside("disabled list", disabledList);
    CLogsViewDlg eventLog;
    eventLog.show();
    eventLog.m_findBar->Open();
    eventLog.m_findBar->m_status->setText(QString::fromStdString(LoadString(IDS_FIND_WRAPPED_BOTTOM)));
    inside("event log", eventLog);
    const QLineEdit* field = eventLog.m_findBar->m_text;
    verify(field->width() >= 12 * field->fontMetrics().averageCharWidth(),
           QStringLiteral("find field %1 wide").arg(field->width()));
    const auto inspectBox = [&](const char* name) {
        QTimer::singleShot(100, [&, name] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            inside(name, *box);
            box->button(box->button(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok)->click();
        });
    };
    inspectBox("question");
    AskYesNo(nullptr, IDS_ASK_KILL);
    inspectBox("failure with a long path");
    TellFileFailure(nullptr, IDS_ERR_LOG_SAVE, "/home/" + std::string(400, 'x'), std::make_error_code(std::errc::io_error));
    return failures;
}

Layout ParseLayout(const QByteArray& text)
{
    Layout layout;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        if (f.size() == 5)
            layout.insert(QString::fromUtf8(f[0]),
                          QRect(f[1].toInt(), f[2].toInt(), f[3].toInt(), f[4].toInt()));
    }
    return layout;
}

bool Near(int value, int reference)
{
    return std::abs(value - reference) <= std::max(2, int(std::lround(std::abs(reference) * 0.02)));
}

// The font a button's caption is drawn in: the backdrop button's own face (10 pixels,
// semi-bold), else the button's font.
QFont CaptionFont(const QAbstractButton* button)
{
    if (!qobject_cast<const CBackdropButton*>(button))
        return button->font();
    QFont face(QStringLiteral("Sans Serif"));
    face.setPixelSize(10);
    face.setWeight(QFont::DemiBold);
    return face;
}

QString PlainText(QString text)
{
    return text.remove(QLatin1Char('&'));
}

} // namespace

class TestHiDpi : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void toolbarImagesAtScreenResolution();
    void toolbarImagesCarryDetailAtScale2();
    void menuImagesAtScreenResolution();
    void trayIconAtScreenResolution();
    void defaultProcessIconAtScreenResolution();
    void aboutPictureAtScreenResolution();
    void textsFitColumnsAndButtons();
    void dialogsKeepTheirProportions();
    void dialogsFitTheScreen();

private:
    qreal m_ratio = 1.0;
};

void TestHiDpi::initTestCase()
{
    m_ratio = ExpectedRatio();
    if (m_ratio == 1.0)
        QSKIP("run with QT_SCALE_FACTOR (1.5 or 2) to test a high-resolution screen");
    QCOMPARE(qApp->devicePixelRatio(), m_ratio);
}

void TestHiDpi::toolbarImagesAtScreenResolution()
{
    Frame frame;
    frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame.frame.get()));
    for (const CommandFacts& facts : CMainFrame::CommandTable()) {
        const char* image = facts.toolBarImage;
        if (!image)
            continue;
        QToolButton* button = frame->ToolButton(facts.id);
        QVERIFY2(button, image);
        const QPixmap pixmap = button->icon().pixmap(button->iconSize(), m_ratio);
        QCOMPARE(pixmap.devicePixelRatio(), m_ratio);
        QCOMPARE(pixmap.size(), button->iconSize() * m_ratio);
        const QImage expected = RenderSvg(Shell(image), pixmap.size(), QRectF(QPointF(0, 0), pixmap.size()));
        QVERIFY2(DifferingShare(pixmap.toImage(), expected) < 0.02, image);

        const QPixmap shown = button->grab();
        QCOMPARE(shown.devicePixelRatio(), m_ratio);
        QCOMPARE(shown.size(), Scaled(button->size(), m_ratio));
    }
}

void TestHiDpi::toolbarImagesCarryDetailAtScale2()
{
    if (m_ratio != 2.0)
        QSKIP("the detail test compares scale 2 with scale 1");
    Frame frame;
    frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame.frame.get()));
    int checked = 0;
    for (QToolButton* button : frame->ToolBar()->findChildren<QToolButton*>()) {
        if (button->property("commandId").toUInt() == 0)
            continue;
        ++checked;
        // The button as the screen shows it, at 2 device pixels per pixel.
        const QImage shown = button->grab().toImage();
        const int steps = SharpStepsWithinPixels(shown);
        const QImage scale1 = DownToScale1(shown);
        const QSize size2 = scale1.size() * 2;
        const int repeated =
            SharpStepsWithinPixels(scale1.scaled(size2, Qt::IgnoreAspectRatio, Qt::FastTransformation));
        const int smoothed =
            SharpStepsWithinPixels(scale1.scaled(size2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        const QByteArray what = QStringLiteral("button %1: %2 sharp steps within pixels (1x brought up: %3 repeated, %4 smoothed)")
                                    .arg(button->property("commandId").toUInt())
                                    .arg(steps)
                                    .arg(repeated)
                                    .arg(smoothed)
                                    .toUtf8();
        QVERIFY2(steps >= 4, what.constData());
        QVERIFY2(repeated == 0 && smoothed == 0, what.constData());
    }
    QCOMPARE(checked, 4);
}

void TestHiDpi::menuImagesAtScreenResolution()
{
    Frame frame;
    const QSize logical(16, 16);
    const QSize device = logical * m_ratio;
    for (const CommandFacts& facts : CMainFrame::CommandTable()) {
        const char* image = facts.menuImage;
        if (!image)
            continue;
        QAction* action = frame->Command(facts.id);
        QVERIFY2(action, image);
        const QPixmap pixmap = action->icon().pixmap(logical, m_ratio);
        QCOMPARE(pixmap.devicePixelRatio(), m_ratio);
        QCOMPARE(pixmap.size(), device);
        // The 12 x 12 picture in the middle of the square, drawn at the screen's resolution.
        const QImage expected =
            RenderSvg(Shell(image), device, QRectF(2 * m_ratio, 2 * m_ratio, 12 * m_ratio, 12 * m_ratio));
        QVERIFY2(DifferingShare(pixmap.toImage(), expected) < 0.02, image);
    }
}

void TestHiDpi::trayIconAtScreenResolution()
{
    Frame frame;
    for (int side : {16, 22, 24, 32}) {
        const QPixmap pixmap = frame->TrayIcon()->icon().pixmap(QSize(side, side), m_ratio);
        QCOMPARE(pixmap.devicePixelRatio(), m_ratio);
        QCOMPARE(pixmap.size(), QSize(side, side) * m_ratio);
        const QImage expected = RenderSvg(Shell("orvane.svg"), pixmap.size(), QRectF(QPointF(0, 0), pixmap.size()));
        QVERIFY(DifferingShare(pixmap.toImage(), expected) < 0.02);
    }
}

void TestHiDpi::defaultProcessIconAtScreenResolution()
{
    Frame frame;
    const QSize logical = frame->ProcessList()->List()->iconSize();
    const QPixmap pixmap = ProcessTableModel::DefaultIcon().pixmap(logical, m_ratio);
    QCOMPARE(pixmap.devicePixelRatio(), m_ratio);
    QCOMPARE(pixmap.size(), logical * m_ratio);
    const QImage expected = RenderSvg(QStringLiteral(":/list/list/process.svg"), pixmap.size(),
                                      QRectF(QPointF(0, 0), pixmap.size()));
    QVERIFY(DifferingShare(pixmap.toImage(), expected) < 0.02);
}

void TestHiDpi::aboutPictureAtScreenResolution()
{
    CAboutBox box;
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    const QImage shown = box.grab().toImage();
    const QSize device = Scaled(QSize(CAboutBox::kClientWidth, CAboutBox::kClientHeight), m_ratio);
    QCOMPARE(shown.size(), device);
    const QImage expected =
        RenderSvg(QStringLiteral(":/controls/about.svg"), device, QRectF(QPointF(0, 0), device), Qt::white);

    // Above the links the box shows nothing but the picture.
    const int top = int(std::min(box.WebLink()->y(), box.CloseButton()->y()) * m_ratio) - 1;
    const QRect picture(0, 0, device.width(), top);
    QVERIFY(DifferingShare(shown.copy(picture), expected.copy(picture)) < 0.005);

    // Behind the Close button's caption runs the same piece of the picture.
    const QRect button = QRectF(QPointF(box.CloseButton()->pos()) * m_ratio,
                                QSizeF(box.CloseButton()->size()) * m_ratio)
                             .toAlignedRect() &
                         shown.rect();
    QVERIFY(DifferingShare(shown.copy(button), expected.copy(button)) < 0.3);

    if (m_ratio == 2.0)
        QVERIFY(SharpStepsWithinPixels(shown.copy(picture)) > 50);
}

void TestHiDpi::textsFitColumnsAndButtons()
{
    {
        Frame frame;
        frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(frame.frame.get()));
        QTableView* list = frame->ProcessList()->List();
        const QHeaderView* header = list->horizontalHeader();
        const QFontMetrics metrics(header->font());
        const int margin = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
        for (int column = 0; column < list->model()->columnCount(); ++column) {
            const QString title = list->model()->headerData(column, Qt::Horizontal).toString();
            QVERIFY2(header->sectionSize(column) >= metrics.horizontalAdvance(title) + margin,
                     qPrintable(title));
        }
        for (QLabel* pane : frame->statusBar()->findChildren<QLabel*>()) {
            if (pane->text().isEmpty() || !pane->isVisible())
                continue;
            QVERIFY2(pane->contentsRect().width() >= pane->fontMetrics().horizontalAdvance(pane->text()),
                     qPrintable(pane->text()));
        }
    }

    CAboutBox about;
    CDListDlg disabledList;
    CLogsViewDlg eventLog;
    for (QDialog* dialog : std::initializer_list<QDialog*>{&about, &disabledList, &eventLog}) {
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
            const QString text = PlainText(button->text());
            const QFontMetrics metrics(CaptionFont(button));
            QVERIFY2(button->width() >= metrics.horizontalAdvance(text) + 4, qPrintable(text));
            QVERIFY2(button->height() >= metrics.height(), qPrintable(text));
        }
        for (CLinkLabel* link : dialog->findChildren<CLinkLabel*>()) {
            QVERIFY2(link->width() >= link->fontMetrics().horizontalAdvance(link->text()),
                     qPrintable(link->text()));
            QVERIFY(dialog->rect().contains(link->geometry()));
        }
        dialog->hide();
    }
}

void TestHiDpi::dialogsKeepTheirProportions()
{
    // The same dialogs at scale 1, measured by this program in a process of its own.
    QProcess scale1;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("1"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    scale1.setProcessEnvironment(environment);
    scale1.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--layout")});
    QVERIFY(scale1.waitForFinished(30000));
    QCOMPARE(scale1.exitCode(), 0);
    const Layout reference = ParseLayout(scale1.readAllStandardOutput());
    QVERIFY(reference.size() >= 9);

    const Layout here = MeasureDialogs();
    QCOMPARE(here.keys(), reference.keys());
    for (auto it = reference.cbegin(); it != reference.cend(); ++it) {
        const QRect now = here.value(it.key());
        const QRect was = it.value();
        const QByteArray what = QStringLiteral("%1: %2,%3 %4x%5 at scale %6, %7,%8 %9x%10 at 1")
                                    .arg(it.key())
                                    .arg(now.x())
                                    .arg(now.y())
                                    .arg(now.width())
                                    .arg(now.height())
                                    .arg(m_ratio)
                                    .arg(was.x())
                                    .arg(was.y())
                                    .arg(was.width())
                                    .arg(was.height())
                                    .toUtf8();
        QVERIFY2(Near(now.x(), was.x()) && Near(now.y(), was.y()) &&
                     Near(now.width(), was.width()) && Near(now.height(), was.height()),
                 what.constData());
    }
}

void TestHiDpi::dialogsFitTheScreen()
{
    QProcess small;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"),
                       QStringLiteral("offscreen:configfile=" SMALL_SCREEN_CONFIG));
    small.setProcessEnvironment(environment);
    small.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--fit")});
    QVERIFY(small.waitForFinished(60000));
    const QByteArray report = small.readAllStandardOutput();
    QVERIFY2(small.exitStatus() == QProcess::NormalExit && small.exitCode() == 0, report.constData());
    QVERIFY2(report.count("ok ") == 6, report.constData());
}

int main(int argc, char** argv)
{
    // --layout: print the dialogs' layout ("name x y width height" a line) and end.
    if (argc == 2 && std::strcmp(argv[1], "--layout") == 0) {
        QApplication app(argc, argv);
        const Layout layout = MeasureDialogs();
        QTextStream out(stdout);
        for (auto it = layout.cbegin(); it != layout.cend(); ++it)
            out << it.key() << ' ' << it->x() << ' ' << it->y() << ' ' << it->width() << ' '
                << it->height() << '\n';
        return 0;
    }
    // --fit: the dialogs and message boxes on this process's screen (see MeasureFit).
    if (argc == 2 && std::strcmp(argv[1], "--fit") == 0) {
        QApplication app(argc, argv);
        return MeasureFit() == 0 ? 0 : 1;
    }
    QApplication app(argc, argv);
    TestHiDpi test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_hidpi.moc"
