#include "compose/gui/PictureFile.h"

#include <QImageReader>

#include "compose/GraphicPlacement.h"
#include "resources/Strings.h"

namespace pw {

namespace {

QString tooLarge(QSize s) {
    return str(ids::kPictureTooLarge)
        .replace(QLatin1StringView("%1"), QString::number(s.width()))
        .replace(QLatin1StringView("%2"), QString::number(s.height()))
        .replace(QLatin1StringView("%3"), QString::number(GraphicPlacement::kMaxPictureSide));
}

}  // namespace

PictureProbe probePicture(const QString& path) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (!reader.canRead() || !size.isValid() || size.isEmpty()) {
        return {{}, reader.errorString()};
    }
    if (size.width() > GraphicPlacement::kMaxPictureSide ||
        size.height() > GraphicPlacement::kMaxPictureSide) {
        return {{}, tooLarge(size)};
    }
    return {size, {}};
}

LoadedPicture loadPicture(const QString& path) {
    const PictureProbe probe = probePicture(path);
    if (!probe.error.isEmpty()) {
        return {{}, probe.error};
    }
    QImageReader reader(path);
    reader.setAutoTransform(true);
    // the side limit above keeps a picture under 400 MB even at 32 bits a pixel
    reader.setAllocationLimit(400);
    QImage image = reader.read();
    if (image.isNull()) {
        return {{}, reader.errorString()};
    }
    return {image, {}};
}

}  // namespace pw
