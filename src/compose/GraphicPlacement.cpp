#include "compose/GraphicPlacement.h"

#include <QFileInfo>
#include <cmath>

namespace pw {

QRect GraphicPlacement::target() const {
    const QSize s = scaledSize();
    const int left = m_offset.x() + kFrameWidth / 2 - s.width() / 2;
    const int top = static_cast<int>(std::trunc(m_offset.y() - s.height() / 2.0 + 98.5));
    return {left, top, s.width(), s.height()};
}

bool GraphicPlacement::magnify() {
    if (m_scale >= kMaxScale) {
        return false;
    }
    m_scale += kScaleStep;
    return true;
}

bool GraphicPlacement::shrink() {
    if (m_scale <= kMinScale) {
        return false;
    }
    m_scale -= kScaleStep;
    return true;
}

void GraphicPlacement::revert() {
    m_offset = {0, 0};
    m_scale = 100;
}

QString GraphicPlacement::sizeText() const {
    return QStringLiteral("%1x%2").arg(m_picture.width()).arg(m_picture.height());
}

QString GraphicPlacement::scaleText() const {
    return QStringLiteral("%1%").arg(m_scale);
}

QString GraphicPlacement::offsetText() const {
    return QStringLiteral("%1x%2").arg(m_offset.x()).arg(m_offset.y());
}

QString editedPicturePath(const QString& folder, const QDateTime& now) {
    const QString stem = folder + now.toString(QStringLiteral("yyyyMMddHHmmss"));
    QString path = stem + QStringLiteral(".jpg");
    // two pictures edited within one second must not overwrite each other
    for (int n = 2; QFileInfo::exists(path); ++n) {
        path = stem + u'-' + QString::number(n) + QStringLiteral(".jpg");
    }
    return path;
}

}  // namespace pw
