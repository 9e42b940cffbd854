#pragma once
// Pictures of the program's resources, drawn as SVG and rendered at the resolution of the
// screen they are shown on.

#include <QIcon>
#include <QPixmap>
#include <QSizeF>
#include <QString>

// The picture at `path` (a resource or a file) at its own size in device-independent pixels:
// an SVG is rendered at its declared size times `devicePixelRatio` and carries that ratio, so
// it is drawn at the screen's resolution; anything else is read as an image. Null when it
// cannot be read.
QPixmap LoadPicture(const QString& path, qreal devicePixelRatio = 1.0);

// An icon of the SVG at `path` drawn at `picture` size in the middle of a `box`-sized square
// (menus ask for 16 x 16 and show 12 x 12 pictures), rendered afresh for every size and device
// pixel ratio asked for; disabled, it is greyed as the style greys icons. A null icon when the
// SVG cannot be read.
QIcon PaddedSvgIcon(const QString& path, QSizeF picture, QSizeF box);
