#include "controls/CAboutBox.h"

#include "buildinfo/BuildInfo.h"
#include "controls/CBackdropButton.h"
#include "controls/CLinkLabel.h"
#include "controls/DialogUnits.h"
#include "controls/Dialogs.h"
#include "controls/Picture.h"
#include "controls/Texts.h"
#include "storage/StringTable.h"

#include <algorithm>

#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QString>

namespace {

const char* const kPicturePath = ":/controls/about.svg";

// The box as laid out in dialog units, for an 8-point dialog font.
constexpr QSize kBoxUnits(265, 127);
constexpr QRect kCloseUnits(198, 99, 60, 26);
constexpr QRect kMailUnits(59, 113, 126, 8);
constexpr QRect kWebUnits(59, 102, 65, 8);
constexpr int kDialogFontPoints = 8;
constexpr int kSmallestFontPixels = 7;

// Keeps a control inside the picture when a large font would push it past the edge.
QRect KeepInside(QRect r, const QRect& area)
{
    r.setWidth(std::min(r.width(), area.width()));
    r.setHeight(std::min(r.height(), area.height()));
    if (r.right() > area.right())
        r.moveRight(area.right());
    if (r.bottom() > area.bottom())
        r.moveBottom(area.bottom());
    return r;
}

// The mean colour of `picture` under `area` (in the widget's pixels): what a link drawn there
// is read against.
QColor MeanColour(const QPixmap& picture, const QRect& area)
{
    const qreal ratio = picture.devicePixelRatio();
    const QImage image = picture.toImage().convertToFormat(QImage::Format_RGB32);
    const QRect pixels =
        QRectF(QPointF(area.topLeft()) * ratio, QSizeF(area.size()) * ratio).toAlignedRect() &
        image.rect();
    if (pixels.isEmpty())
        return {};
    qint64 red = 0;
    qint64 green = 0;
    qint64 blue = 0;
    for (int y = pixels.top(); y <= pixels.bottom(); ++y) {
        for (int x = pixels.left(); x <= pixels.right(); ++x) {
            const QRgb rgb = image.pixel(x, y);
            red += qRed(rgb);
            green += qGreen(rgb);
            blue += qBlue(rgb);
        }
    }
    const qint64 count = qint64(pixels.width()) * pixels.height();
    return QColor(int(red / count), int(green / count), int(blue / count));
}

} // namespace

QFont CAboutBox::DialogFont(const QFont& base)
{
    // The picture has a fixed size in pixels, so the layout must fit it: a font whose
    // dialog units make the box larger than the picture (a wide family, a large DPI)
    // steps down a pixel at a time.
    QFont font = base;
    font.setPointSize(kDialogFontPoints);
    int pixels = QFontInfo(font).pixelSize();
    const QRect client(0, 0, kClientWidth, kClientHeight);
    for (;;) {
        const QRect box = DialogUnits(font).Rect(QRect(QPoint(0, 0), kBoxUnits));
        if (client.contains(box) || pixels <= kSmallestFontPixels)
            return font;
        font.setPixelSize(--pixels);
    }
}

CAboutBox::CAboutBox(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(Text(IDS_DLG_ABOUT_TITLE));
    MakeWindowModal(*this);

    const QFont dialogFont = DialogFont(font());
    setFont(dialogFont);
    setFixedSize(kClientWidth, kClientHeight);
    // A fixed dialog: a caption with its close box, nothing to minimise or maximise.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    m_picture = LoadPicture(QString::fromLatin1(kPicturePath), devicePixelRatioF());

    const DialogUnits units(dialogFont);
    const QRect client(0, 0, kClientWidth, kClientHeight);

    m_pCloseButton = new CBackdropButton(Text(IDS_DLG_CLOSE), this);
    m_pCloseButton->setGeometry(KeepInside(units.Rect(kCloseUnits), client));
    m_pCloseButton->setDefault(true);
    m_pCloseButton->LoadBackdrop(m_picture);
    m_pCloseButton->SetTextColors(Qt::black, Qt::black);
    m_pCloseButton->SetFaceFont(QStringLiteral("Sans Serif"));
    connect(m_pCloseButton, &QPushButton::clicked, this, &QDialog::accept);

    m_pMailLink = AddLink(IDS_DLG_EMAIL_US,
                          QStringLiteral("mailto:") + QString::fromLatin1(buildinfo::kSupportMail),
                          KeepInside(units.Rect(kMailUnits), client));
    m_pWebLink = AddLink(IDS_DLG_VISIT_WEB, QString::fromLatin1(buildinfo::kWebSite),
                         KeepInside(units.Rect(kWebUnits), client));

    // The Close button is the first and only stop of the tab chain.
    m_pCloseButton->setFocus();
}

CAboutBox::~CAboutBox() = default;

CLinkLabel* CAboutBox::AddLink(unsigned textId, const QString& target, const QRect& place)
{
    auto* link = new CLinkLabel(Text(textId), this);
    link->setGeometry(place);
    link->SetTarget(target);
    link->Attach();
    // Read against the picture, not against the theme's window colour.
    link->SetBackground(MeanColour(m_picture, link->geometry()));
    return link;
}

void CAboutBox::paintEvent(QPaintEvent* /*event*/)
{
    // The picture follows the resolution of the screen the box is on; the Close button gets
    // the same rendering, so the two still meet without a seam.
    if (!m_picture.isNull() && m_picture.devicePixelRatio() != devicePixelRatioF()) {
        m_picture = LoadPicture(QString::fromLatin1(kPicturePath), devicePixelRatioF());
        m_pCloseButton->LoadBackdrop(m_picture);
    }
    if (m_picture.isNull())
        return;
    // Unscaled from the client origin: the Close button copies its piece from the same
    // place, so picture, links and button read as one surface.
    QPainter painter(this);
    painter.drawPixmap(QPoint(0, 0), m_picture);
}
