#include "app/gui/AppIcon.h"

#include <QPainter>
#include <QPainterPath>

namespace pw::app {

namespace {

// One envelope in a unit square: body, flap and the fold lines.
void paintEnvelope(QPainter& p, const QRectF& r, const QColor& paper, const QColor& line) {
    const qreal w = r.width();
    QPen pen(line, w * 0.045);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    p.setPen(pen);
    p.setBrush(paper);
    p.drawRoundedRect(r, w * 0.06, w * 0.06);
    QPainterPath flap;
    flap.moveTo(r.left() + w * 0.04, r.top() + w * 0.05);
    flap.lineTo(r.center().x(), r.top() + r.height() * 0.58);
    flap.lineTo(r.right() - w * 0.04, r.top() + w * 0.05);
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
    p.drawLine(QPointF(r.left() + w * 0.05, r.bottom() - w * 0.05),
               QPointF(r.left() + w * 0.36, r.top() + r.height() * 0.47));
    p.drawLine(QPointF(r.right() - w * 0.05, r.bottom() - w * 0.05),
               QPointF(r.right() - w * 0.36, r.top() + r.height() * 0.47));
}

}  // namespace

QImage postwickIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 100.0, size / 100.0);

    // tile
    QLinearGradient tile(0, 0, 0, 100);
    tile.setColorAt(0, QColor(0x1f, 0x6f, 0x8b));
    tile.setColorAt(1, QColor(0x12, 0x45, 0x5e));
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(4, 4, 92, 92), 18, 18);

    // the fan of envelopes: one mail, many recipients
    const QColor ink(0x12, 0x45, 0x5e);
    p.save();
    p.translate(50, 54);
    p.rotate(-14);
    paintEnvelope(p, QRectF(-30, -26, 56, 38), QColor(0xb9, 0xd9, 0xe4), ink);
    p.rotate(7);
    paintEnvelope(p, QRectF(-29, -22, 56, 38), QColor(0xdc, 0xee, 0xf3), ink);
    p.rotate(7);
    paintEnvelope(p, QRectF(-28, -18, 56, 38), QColor(0xff, 0xff, 0xff), ink);
    p.restore();

    // the stamp: an orange seal with a cancellation wave
    p.setPen(QPen(QColor(0xff, 0xf4, 0xe0), 2.2));
    p.setBrush(QColor(0xf0, 0x8a, 0x24));
    p.drawEllipse(QPointF(73, 30), 13, 13);
    QPainterPath wave;
    wave.moveTo(63, 30);
    wave.cubicTo(66, 25, 69, 35, 73, 30);
    wave.cubicTo(77, 25, 80, 35, 83, 30);
    p.setPen(QPen(QColor(0xff, 0xf4, 0xe0), 2.4, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(wave);
    p.end();
    return image;
}

QIcon postwickIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(postwickIconImage(size)));
    return icon;
}

}  // namespace pw::app
