// Draws the page pictures the template wizard shows beside each page: a small plan of the
// mail with its changeable places in order, the place of this page marked. Run it again
// after changing a template's blocks:
//   page_previews "<source>/data/HTML TEMPLATE"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <cstdio>

namespace {

constexpr int kW = 240;
constexpr int kH = 180;
const QColor kMark(0xF2, 0x8C, 0x28);
const QColor kPlain(0xC8, 0xCC, 0xD2);

enum class Kind { String, Image, Back, BgColor };

// The blocks of an "index.html" in page order.
QList<Kind> blocksOf(const QString& html) {
    static const QRegularExpression tag(QStringLiteral("<!(string|image|back|bgcolor)="));
    QList<Kind> kinds;
    for (auto it = tag.globalMatch(html); it.hasNext();) {
        const QString k = it.next().captured(1);
        kinds << (k == u"string"  ? Kind::String
                  : k == u"image" ? Kind::Image
                  : k == u"back"  ? Kind::Back
                                  : Kind::BgColor);
    }
    return kinds;
}

QImage plan(const QList<Kind>& kinds, int marked) {
    QImage img(kW, kH, QImage::Format_RGB32);
    img.fill(QColor(0xEE, 0xF0, 0xF3));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    // the page colour is the margin round the mail
    if (marked >= 0 && kinds.value(marked) == Kind::BgColor)
        img.fill(kMark);
    const QRectF card(24, 8, kW - 48, kH - 16);
    p.setBrush(Qt::white);
    p.drawRoundedRect(card, 4, 4);
    qsizetype rows = 0;
    for (Kind k : kinds)
        rows += k == Kind::BgColor ? 0 : 1;
    const double rowH = (card.height() - 8) / std::max<qsizetype>(rows, 1);
    double y = card.top() + 4;
    for (int i = 0; i < kinds.size(); ++i) {
        if (kinds[i] == Kind::BgColor)
            continue;
        const QColor c = i == marked ? kMark : kPlain;
        const QRectF row(card.left() + 10, y + 1, card.width() - 20, rowH - 2);
        switch (kinds[i]) {
            case Kind::String:
                p.setBrush(c);
                p.drawRect(QRectF(row.left(), row.center().y() - 3, row.width() * 0.9, 3));
                p.drawRect(QRectF(row.left(), row.center().y() + 2, row.width() * 0.6, 3));
                break;
            case Kind::Image: {
                p.setBrush(c.lighter(115));
                const QRectF box(row.left(), row.top(), row.height() * 1.5, row.height());
                p.drawRect(box);
                p.setBrush(c.darker(130));
                p.drawPolygon(QPolygonF(
                    {box.bottomLeft(), box.center() + QPointF(0, -2), box.bottomRight()}));
                break;
            }
            case Kind::Back:
                p.setBrush(QBrush(c, Qt::BDiagPattern));
                p.drawRect(row);
                break;
            case Kind::BgColor:
                break;
        }
        y += rowH;
    }
    return img;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: page_previews <HTML TEMPLATE folder>\n");
        return 2;
    }
    const QDir library(QString::fromLocal8Bit(argv[1]));
    bool ok = true;
    for (const QString& name : library.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile index(library.filePath(name + QStringLiteral("/index.html")));
        if (!index.open(QIODevice::ReadOnly))
            continue;
        const QList<Kind> kinds = blocksOf(QString::fromUtf8(index.readAll()));
        const QString folder = library.filePath(name + QStringLiteral("/preview/"));
        QDir().mkpath(folder);
        for (int page = 0; page < kinds.size(); ++page) {
            const QString file = folder + QStringLiteral("0%1.jpg").arg(page + 1);
            ok = plan(kinds, page).save(file, "JPG", 85) && ok;
        }
    }
    return ok ? 0 : 1;
}
