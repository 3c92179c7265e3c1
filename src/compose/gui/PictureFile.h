#pragma once
// Pictures the wizard takes from the user: read with a limit on their size, so that a
// damaged, unknown or enormous file gives a clear reason instead of a stall or a crash.

#include <QImage>
#include <QSize>
#include <QString>

namespace pw {

struct PictureProbe {
    QSize size;     // valid when the file can be used
    QString error;  // why not, for the user
};

// Reads only the header: the size, or why the file is no usable picture.
[[nodiscard]] PictureProbe probePicture(const QString& path);

struct LoadedPicture {
    QImage image;  // null when it cannot be read
    QString error;
};
[[nodiscard]] LoadedPicture loadPicture(const QString& path);

}  // namespace pw
