#include "controls/Picture.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPixmapCache>
#include <QStyle>
#include <QStyleOption>
#include <QSvgRenderer>

#include <cmath>

namespace {

class PaddedSvgIconEngine : public QIconEngine {
public:
    PaddedSvgIconEngine(const QString& path, QSizeF picture, QSizeF box)
        : m_path(path), m_picture(picture), m_box(box)
    {
    }

    QIconEngine* clone() const override { return new PaddedSvgIconEngine(*this); }
    QString key() const override { return QStringLiteral("PaddedSvgIconEngine"); }

    // `size` is in device pixels: QIcon::pixmap asks for its size times the ratio.
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State /*state*/) override
    {
        if (size.isEmpty())
            return {};
        // Menus repaint their images often: each size and look is rendered once. A greyed or
        // selected look follows the palette, which the desktop may change while the program runs.
        const qint64 palette = mode == QIcon::Normal || mode == QIcon::Active ? 0 : QApplication::palette().cacheKey();
        const QString cacheKey = QStringLiteral("orvane-padded:%1:%2x%3:%4:%5")
                                     .arg(m_path)
                                     .arg(size.width())
                                     .arg(size.height())
                                     .arg(int(mode))
                                     .arg(palette);
        QPixmap cached;
        if (QPixmapCache::find(cacheKey, &cached))
            return cached;
        QPixmap result = Render(size, mode);
        QPixmapCache::insert(cacheKey, result);
        return result;
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const QSize device(int(std::lround(rect.width() * ratio)),
                           int(std::lround(rect.height() * ratio)));
        QPixmap image = pixmap(device, mode, state);
        image.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect, image);
    }

private:
    QPixmap Render(const QSize& size, QIcon::Mode mode) const
    {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QSvgRenderer renderer(m_path);
        if (renderer.isValid()) {
            const qreal sx = size.width() / m_box.width();
            const qreal sy = size.height() / m_box.height();
            const QRectF target((m_box.width() - m_picture.width()) / 2 * sx,
                                (m_box.height() - m_picture.height()) / 2 * sy,
                                m_picture.width() * sx, m_picture.height() * sy);
            QPainter painter(&pixmap);
            painter.setRenderHint(QPainter::Antialiasing);
            renderer.render(&painter, target);
        }
        if (mode == QIcon::Disabled || mode == QIcon::Selected) {
            if (const QStyle* style = QApplication::style()) {
                QStyleOption option;
                option.palette = QApplication::palette();
                const QPixmap generated = style->generatedIconPixmap(mode, pixmap, &option);
                if (!generated.isNull())
                    return generated;
            }
        }
        return pixmap;
    }

    QString m_path;
    QSizeF m_picture;
    QSizeF m_box;
};

} // namespace

QPixmap LoadPicture(const QString& path, qreal devicePixelRatio)
{
    if (!path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive))
        return QPixmap(path);

    QSvgRenderer renderer(path);
    if (!renderer.isValid() || renderer.defaultSize().isEmpty())
        return {};
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const QSize size = renderer.defaultSize();
    QPixmap picture(int(std::ceil(size.width() * ratio)), int(std::ceil(size.height() * ratio)));
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    renderer.render(&painter, QRectF(0, 0, size.width() * ratio, size.height() * ratio));
    painter.end();
    picture.setDevicePixelRatio(ratio);
    return picture;
}

QIcon PaddedSvgIcon(const QString& path, QSizeF picture, QSizeF box)
{
    if (!QSvgRenderer(path).isValid() || picture.isEmpty() || box.isEmpty())
        return {};
    return QIcon(new PaddedSvgIconEngine(path, picture, box));
}
