#pragma once
// Where the picture editor draws a picture in the fixed picture frame of the templates:
// the offsets the user dragged, the scale and the arithmetic of the drawing rectangle.

#include <QDateTime>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

namespace pw {

class GraphicPlacement {
public:
    static constexpr int kFrameWidth = 260;
    static constexpr int kFrameHeight = 195;
    static constexpr int kMinScale = 30;
    static constexpr int kMaxScale = 300;
    static constexpr int kScaleStep = 10;
    // A picture larger than this on a side is refused before it is decoded.
    static constexpr int kMaxPictureSide = 10000;

    void setPictureSize(QSize size) { m_picture = size; }
    [[nodiscard]] QSize pictureSize() const { return m_picture; }
    [[nodiscard]] int scale() const { return m_scale; }
    [[nodiscard]] QPoint offset() const { return m_offset; }

    [[nodiscard]] QSize scaledSize() const {
        return {m_picture.width() * m_scale / 100, m_picture.height() * m_scale / 100};
    }
    // The rectangle the whole picture is stretched into, in frame pixels.
    [[nodiscard]] QRect target() const;

    // False when the scale is already at its limit.
    bool magnify();
    bool shrink();
    void revert();
    void drag(QPoint delta) { m_offset += delta; }

    // The status texts: the picture's size, the scale, the offsets.
    [[nodiscard]] QString sizeText() const;
    [[nodiscard]] QString scaleText() const;
    [[nodiscard]] QString offsetText() const;

private:
    QSize m_picture{kFrameWidth, kFrameHeight};
    QPoint m_offset{0, 0};
    int m_scale = 100;
};

// A new file name for an edited picture in a folder: the local time as "%Y%m%d%H%M%S.jpg",
// with "-2", "-3", ... when a picture of that second is there already.
[[nodiscard]] QString editedPicturePath(const QString& folder, const QDateTime& now);

}  // namespace pw
