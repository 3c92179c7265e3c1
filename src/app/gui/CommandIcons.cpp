#include "app/gui/CommandIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <algorithm>
#include <cmath>

#include "app/Commands.h"

namespace pw::app {

namespace {

const QColor kInk(0x3b, 0x47, 0x57);
const QColor kPaper(0xfb, 0xfb, 0xf8);
const QColor kFolder(0xf0, 0xb4, 0x3c);
const QColor kBlue(0x3d, 0x7e, 0xc9);
const QColor kGreen(0x3f, 0xa3, 0x5b);
const QColor kRed(0xd6, 0x4f, 0x3f);
const QColor kDatabase(0x6c, 0x8e, 0xb0);

// Everything is drawn on a 24 x 24 grid and scaled to the pixmap's size.
void page(QPainter& p, const QRectF& r) {
    QPainterPath path;
    const qreal fold = 5;
    path.moveTo(r.left(), r.top());
    path.lineTo(r.right() - fold, r.top());
    path.lineTo(r.right(), r.top() + fold);
    path.lineTo(r.right(), r.bottom());
    path.lineTo(r.left(), r.bottom());
    path.closeSubpath();
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(kPaper);
    p.drawPath(path);
    p.drawPolyline(
        QPolygonF({QPointF(r.right() - fold, r.top()), QPointF(r.right() - fold, r.top() + fold),
                   QPointF(r.right(), r.top() + fold)}));
}

void cylinder(QPainter& p, const QRectF& r) {
    const qreal cap = r.height() / 4;
    QPainterPath body;
    body.moveTo(r.left(), r.top() + cap / 2);
    body.lineTo(r.left(), r.bottom() - cap / 2);
    body.arcTo(QRectF(r.left(), r.bottom() - cap, r.width(), cap), 180, 180);
    body.lineTo(r.right(), r.top() + cap / 2);
    body.closeSubpath();
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(kDatabase);
    p.drawPath(body);
    p.setBrush(kDatabase.lighter(130));
    p.drawEllipse(QRectF(r.left(), r.top(), r.width(), cap));
    p.setBrush(Qt::NoBrush);
    for (qreal y : {r.top() + r.height() / 2.6, r.top() + r.height() / 1.6}) {
        QPainterPath band;
        band.moveTo(r.left(), y);
        band.arcTo(QRectF(r.left(), y - cap / 2, r.width(), cap), 180, 180);
        p.drawPath(band);
    }
}

void arrow(QPainter& p, QPointF from, QPointF to, const QColor& color) {
    p.setPen(QPen(color, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(from, to);
    const QPointF d = (to - from) / std::hypot(to.x() - from.x(), to.y() - from.y());
    const QPointF n(-d.y(), d.x());
    p.drawPolyline(QPolygonF({to - d * 4 + n * 3.5, to, to - d * 4 - n * 3.5}));
}

void envelope(QPainter& p, const QRectF& r) {
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(kPaper);
    p.drawRect(r);
    p.drawPolyline(
        QPolygonF({r.topLeft(), QPointF(r.center().x(), r.center().y() + 1), r.topRight()}));
}

void text(QPainter& p, const QRectF& r, const QString& s, const QColor& color, qreal size) {
    QFont f = p.font();
    f.setPixelSize(int(size));
    f.setBold(true);
    p.setFont(f);
    p.setPen(color);
    p.drawText(r, Qt::AlignCenter, s);
}

// A short text on a paper label.
void tag(QPainter& p, const QRectF& r, const QString& s, const QColor& color, qreal size) {
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(kPaper);
    p.drawRoundedRect(r, 2, 2);
    text(p, r, s, color, size);
}

void paint(QPainter& p, int id) {
    switch (id) {
        case cmd::kNew:
            page(p, QRectF(5, 2.5, 14, 19));
            p.setPen(QPen(kGreen, 2.4, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(12, 10), QPointF(12, 17));
            p.drawLine(QPointF(8.5, 13.5), QPointF(15.5, 13.5));
            break;
        case cmd::kOpen: {
            p.setPen(QPen(kInk, 1.2));
            p.setBrush(kFolder.darker(115));
            p.drawPolygon(QPolygonF({QPointF(2.5, 6), QPointF(9, 6), QPointF(11, 8), QPointF(20, 8),
                                     QPointF(20, 19.5), QPointF(2.5, 19.5)}));
            p.setBrush(kFolder);
            p.drawPolygon(QPolygonF(
                {QPointF(5, 11), QPointF(22, 11), QPointF(19.5, 19.5), QPointF(2.5, 19.5)}));
            break;
        }
        case cmd::kSave:
            p.setPen(QPen(kInk, 1.2));
            p.setBrush(kBlue);
            p.drawRoundedRect(QRectF(3.5, 3.5, 17, 17), 2, 2);
            p.setBrush(kPaper);
            p.drawRect(QRectF(7, 3.5, 10, 6.5));
            p.setBrush(kBlue.darker(130));
            p.drawRect(QRectF(7.5, 13.5, 9, 7));
            break;
        case cmd::kSelectHtmlTemplate:
            page(p, QRectF(4, 2.5, 16, 19));
            p.setPen(Qt::NoPen);
            p.setBrush(kRed);
            p.drawRect(QRectF(7, 6, 10, 4));
            p.setBrush(kBlue);
            p.drawRect(QRectF(7, 12, 4.5, 6));
            p.setBrush(kGreen);
            p.drawRect(QRectF(12.5, 12, 4.5, 6));
            break;
        case cmd::kSend:
            envelope(p, QRectF(2.5, 6, 14, 11));
            arrow(p, QPointF(12, 17.5), QPointF(21.5, 17.5), kGreen);
            break;
        case cmd::kPreview:
            page(p, QRectF(3, 2.5, 13, 17));
            p.setPen(QPen(kInk, 2));
            p.setBrush(QColor(0xd8, 0xe8, 0xf8));
            p.drawEllipse(QPointF(14, 13), 4.5, 4.5);
            p.setPen(QPen(kInk, 3, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(17.5, 16.5), QPointF(21, 20));
            break;
        case cmd::kEditDatabase:
            cylinder(p, QRectF(5, 3, 14, 18));
            break;
        case cmd::kImportDatabase:
            cylinder(p, QRectF(2.5, 7, 12, 15));
            arrow(p, QPointF(19, 2), QPointF(19, 13), kGreen);
            break;
        case cmd::kExportDatabase:
            cylinder(p, QRectF(2.5, 7, 12, 15));
            arrow(p, QPointF(19, 13), QPointF(19, 2), kBlue);
            break;
        case cmd::kAutoLine:
            page(p, QRectF(3, 2.5, 18, 19));
            p.setPen(QPen(kBlue, 2, Qt::DashLine, Qt::FlatCap));
            p.drawLine(QPointF(6, 12), QPointF(18, 12));
            p.setPen(QPen(kInk.lighter(160), 1.2));
            p.drawLine(QPointF(6, 7), QPointF(15, 7));
            p.drawLine(QPointF(6, 17), QPointF(16, 17));
            break;
        case cmd::kAutoFrame:
            page(p, QRectF(3, 2.5, 18, 19));
            p.setPen(QPen(kBlue, 1.8, Qt::DotLine));
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRectF(6, 7, 12, 10));
            p.setPen(QPen(kInk.lighter(160), 1.2));
            p.drawLine(QPointF(8.5, 12), QPointF(15.5, 12));
            break;
        case cmd::kCountCharacters:
            tag(p, QRectF(1.5, 5, 21, 14), QStringLiteral("123"), kInk, 9);
            break;
        case cmd::kEditFieldName:
            tag(p, QRectF(1.5, 6, 21, 12), QStringLiteral("[[ ]]"), kBlue, 8.5);
            break;
        case cmd::kServerSettings:
            p.setPen(QPen(kInk, 1.2));
            for (int i = 0; i < 3; ++i) {
                p.setBrush(i == 1 ? kDatabase.lighter(120) : kDatabase);
                p.drawRoundedRect(QRectF(5, 3 + i * 5.5, 14, 4.5), 1, 1);
                p.setPen(Qt::NoPen);
                p.setBrush(kGreen);
                p.drawEllipse(QPointF(16, 5.25 + i * 5.5), 1, 1);
                p.setPen(QPen(kInk, 1.2));
            }
            p.drawLine(QPointF(12, 19.5), QPointF(12, 22));
            p.drawLine(QPointF(5, 22), QPointF(19, 22));
            break;
        case cmd::kUserPreferences:
            p.setPen(QPen(kInk, 1.6, Qt::SolidLine, Qt::RoundCap));
            for (int i = 0; i < 3; ++i) {
                const qreal y = 6 + i * 6;
                p.drawLine(QPointF(3, y), QPointF(21, y));
            }
            p.setBrush(kBlue);
            p.drawEllipse(QPointF(8, 6), 2.5, 2.5);
            p.drawEllipse(QPointF(16, 12), 2.5, 2.5);
            p.drawEllipse(QPointF(11, 18), 2.5, 2.5);
            break;
        default:
            break;
    }
}

}  // namespace

QIcon commandIcon(int commandId) {
    const std::span<const int> toolbar = toolbarLayout();
    if (commandId == 0 || std::find(toolbar.begin(), toolbar.end(), commandId) == toolbar.end())
        return {};
    QIcon icon;
    for (int size : {16, 20, 24, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.scale(size / 24.0, size / 24.0);
        paint(p, commandId);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace pw::app
