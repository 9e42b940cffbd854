#pragma once
// Pictures of the program's resources, drawn as SVG and rendered at their own size.

#include <QPixmap>
#include <QString>

// The picture at `path` (a resource or a file) at its own size: an SVG is rendered at its
// declared size, anything else is read as an image. Null when it cannot be read.
QPixmap LoadPicture(const QString& path);
