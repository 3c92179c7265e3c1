// Draws the pictures of the shipped HTML templates: one picture per template in the size
// of the picture editor's frame (260 x 195), and a small background tile. Nothing is taken
// from elsewhere; run it again after changing a drawing:
//   template_pictures "<source>/data/HTML TEMPLATE"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <cmath>
#include <cstdio>
#include <functional>
#include <initializer_list>

namespace {

constexpr int kW = 260;
constexpr int kH = 195;

using Drawing = std::function<void(QPainter&, QRandomGenerator&)>;

QImage draw(int w, int h, quint32 seed, const Drawing& d) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRandomGenerator rng(seed);
    d(p, rng);
    return img;
}

void sky(QPainter& p, QColor top, QColor bottom) {
    QLinearGradient g(0, 0, 0, kH);
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.fillRect(0, 0, kW, kH, g);
}

// A closed shape through the given corners (the pen is left out, as for every shape here).
void fillPolygon(QPainter& p, std::initializer_list<QPointF> corners, const QColor& color) {
    QPainterPath path;
    path.addPolygon(QPolygonF(corners));
    path.closeSubpath();
    p.fillPath(path, color);
}

void star(QPainter& p, QPointF c, double r, QColor color) {
    QPainterPath path;
    for (int i = 0; i < 10; ++i) {
        const double a = M_PI / 5 * i - M_PI / 2;
        const double rr = i % 2 == 0 ? r : r * 0.45;
        const QPointF pt(c.x() + rr * std::cos(a), c.y() + rr * std::sin(a));
        i == 0 ? path.moveTo(pt) : path.lineTo(pt);
    }
    path.closeSubpath();
    p.fillPath(path, color);
}

// a newspaper page with a pen
void newsletter(QPainter& p, QRandomGenerator& rng) {
    sky(p, QColor(0xE8, 0xF1, 0xFA), QColor(0xC9, 0xDC, 0xF0));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 40));
    p.drawRoundedRect(QRectF(48, 28, 160, 150), 6, 6);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(42, 22, 160, 150), 6, 6);
    p.setBrush(QColor(0x2B, 0x5F, 0x9E));
    p.drawRect(QRectF(56, 36, 132, 18));
    p.setBrush(QColor(0xB0, 0xC4, 0xDE));
    p.drawRect(QRectF(56, 62, 60, 46));
    p.setBrush(QColor(0xC8, 0xC8, 0xC8));
    for (int i = 0; i < 9; ++i) {
        const double len = i < 4 ? 60 : 132 - rng.bounded(30);
        p.drawRect(QRectF(i < 4 ? 124 : 56, 64 + i * 11.5, len * (i < 4 ? 1 : 1), 5));
    }
    p.save();
    p.translate(214, 120);
    p.rotate(35);
    p.setBrush(QColor(0xE0, 0x8A, 0x1E));
    p.drawRect(QRectF(-6, -60, 12, 90));
    fillPolygon(p, {{-6, 30}, {6, 30}, {0, 46}}, QColor(0x44, 0x44, 0x44));
    p.restore();
}

// balloons and stars on a night blue
void invitation(QPainter& p, QRandomGenerator& rng) {
    sky(p, QColor(0x1D, 0x2B, 0x53), QColor(0x7E, 0x25, 0x53));
    for (int i = 0; i < 30; ++i) {
        star(p, QPointF(rng.bounded(kW), rng.bounded(kH)), 1.5 + rng.bounded(4),
             QColor(255, 236, 170, 120 + rng.bounded(135)));
    }
    const QColor colors[] = {QColor(0xFF, 0x00, 0x4D), QColor(0xFF, 0xA3, 0x00),
                             QColor(0x29, 0xAD, 0xFF), QColor(0x00, 0xE4, 0x36)};
    for (int i = 0; i < 4; ++i) {
        const QPointF c(60 + i * 48, 70 + (i % 2) * 22);
        p.setPen(QPen(QColor(255, 255, 255, 160), 1));
        p.drawLine(c + QPointF(0, 30), QPointF(130, 190));
        QRadialGradient g(c - QPointF(8, 10), 34);
        g.setColorAt(0, colors[i].lighter(150));
        g.setColorAt(1, colors[i]);
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawEllipse(c, 22, 28);
    }
}

// price tags with a percent sign drawn from circles and a bar
void sale(QPainter& p, QRandomGenerator& rng) {
    sky(p, QColor(0xFF, 0xF1, 0xE8), QColor(0xFF, 0xCC, 0xAA));
    for (int i = 0; i < 14; ++i) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xFF, 0x77, 0xA8, 60));
        p.drawEllipse(QPointF(rng.bounded(kW), rng.bounded(kH)), 6 + rng.bounded(10),
                      6 + rng.bounded(10));
    }
    p.save();
    p.translate(130, 98);
    p.rotate(-12);
    fillPolygon(p, {{-80, -45}, {50, -45}, {85, 0}, {50, 45}, {-80, 45}}, QColor(0xE2, 0x1B, 0x3C));
    p.setBrush(QColor(0xFF, 0xF1, 0xE8));
    p.drawEllipse(QPointF(58, 0), 7, 7);
    p.setPen(QPen(Qt::white, 9, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(-10, 28), QPointF(22, -28));
    p.setPen(QPen(Qt::white, 7));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(-22, -16), 11, 11);
    p.drawEllipse(QPointF(34, 16), 11, 11);
    p.restore();
}

// a winter evening with falling snow and a fir tree
void seasonal(QPainter& p, QRandomGenerator& rng) {
    sky(p, QColor(0x0B, 0x3D, 0x5C), QColor(0x5A, 0x9B, 0xC4));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xF4, 0xF8, 0xFF));
    p.drawEllipse(QRectF(-40, 150, 340, 120));
    for (int layer = 0; layer < 3; ++layer) {
        const double top = 30 + layer * 35;
        const double half = 30 + layer * 16;
        fillPolygon(p, {{130, top}, {130 + half, top + 60}, {130 - half, top + 60}},
                    QColor(0x1E, 0x7A, 0x46).darker(100 + layer * 12));
    }
    p.fillRect(QRectF(122, 155, 16, 18), QColor(0x6B, 0x3E, 0x1F));
    star(p, QPointF(130, 28), 12, QColor(0xFF, 0xD7, 0x3A));
    const QColor lights[] = {Qt::red, QColor(0xFF, 0xD7, 0x3A), QColor(0x55, 0xCC, 0xFF)};
    for (int i = 0; i < 12; ++i) {
        p.setBrush(lights[i % 3]);
        p.drawEllipse(QPointF(104 + rng.bounded(52), 70 + rng.bounded(80)), 3, 3);
    }
    p.setBrush(QColor(255, 255, 255, 220));
    for (int i = 0; i < 60; ++i) {
        p.drawEllipse(QPointF(rng.bounded(kW), rng.bounded(kH)), 1.2 + rng.bounded(2),
                      1.2 + rng.bounded(2));
    }
}

// office buildings against a morning sky
void business(QPainter& p, QRandomGenerator& rng) {
    sky(p, QColor(0xDD, 0xE6, 0xEE), QColor(0xF7, 0xF9, 0xFB));
    const int xs[] = {20, 70, 118, 170, 212};
    const int hs[] = {110, 150, 125, 165, 95};
    for (int i = 0; i < 5; ++i) {
        const QRectF b(xs[i], kH - hs[i], 44, hs[i]);
        p.fillRect(b, QColor(0x33, 0x4E, 0x68).lighter(100 + i * 12));
        for (double y = b.top() + 8; y < kH - 10; y += 14) {
            for (double x = b.left() + 6; x < b.right() - 8; x += 12) {
                p.fillRect(QRectF(x, y, 7, 8), rng.bounded(5) == 0 ? QColor(0xFF, 0xE0, 0x8A)
                                                                   : QColor(0xA9, 0xC4, 0xDB));
            }
        }
    }
}

// mountains, a lake and the sun: the picture of a photo letter
void photo(QPainter& p, QRandomGenerator& rng) {
    sky(p, QColor(0xFF, 0xB3, 0x47), QColor(0xFF, 0xE5, 0xB4));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xFF, 0xF4, 0xD6));
    p.drawEllipse(QPointF(190, 62), 26, 26);
    fillPolygon(p, {{0, 130}, {60, 70}, {110, 115}, {165, 55}, {260, 125}, {260, 150}, {0, 150}},
                QColor(0x6D, 0x59, 0x8C));
    fillPolygon(p, {{0, 150}, {80, 110}, {150, 145}, {220, 118}, {260, 140}, {260, 152}, {0, 152}},
                QColor(0x3E, 0x6B, 0x48));
    QLinearGradient lake(0, 150, 0, kH);
    lake.setColorAt(0, QColor(0x5B, 0x8F, 0xB9));
    lake.setColorAt(1, QColor(0x27, 0x4C, 0x77));
    p.fillRect(QRectF(0, 150, kW, 45), lake);
    p.setPen(QPen(QColor(255, 255, 255, 90), 1.5));
    for (int i = 0; i < 10; ++i) {
        const double y = 158 + rng.bounded(32);
        const double x = rng.bounded(220);
        p.drawLine(QPointF(x, y), QPointF(x + 20 + rng.bounded(20), y));
    }
}

// tiles: repeated as table backgrounds
QImage tile(QColor base, QColor mark, int kind) {
    return draw(48, 48, 7, [&](QPainter& p, QRandomGenerator&) {
        p.fillRect(0, 0, 48, 48, base);
        p.setPen(Qt::NoPen);
        p.setBrush(mark);
        switch (kind) {
            case 0:  // dots
                p.drawEllipse(QPointF(12, 12), 3, 3);
                p.drawEllipse(QPointF(36, 36), 3, 3);
                break;
            case 1:  // diagonal stripes
                for (int i = -48; i < 96; i += 16) {
                    QPolygonF s({QPointF(i, 0), QPointF(i + 6, 0), QPointF(i + 54, 48),
                                 QPointF(i + 48, 48)});
                    p.drawPolygon(s);
                }
                break;
            case 2:  // snowflakes
                star(p, QPointF(12, 14), 5, mark);
                star(p, QPointF(36, 38), 4, mark);
                break;
            case 3:  // fine grid
                p.fillRect(0, 23, 48, 2, mark);
                p.fillRect(23, 0, 2, 48, mark);
                break;
        }
    });
}

bool save(const QImage& img, const QString& path) {
    QDir().mkpath(QFileInfo(path).path());
    const bool jpeg = path.endsWith(".jpg");
    if (!img.save(path, jpeg ? "JPEG" : "PNG", jpeg ? 85 : -1)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: template_pictures <HTML TEMPLATE folder>\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]) + '/';
    struct Set {
        const char* name;
        Drawing picture;
        QImage back;
        const char* pictureFile;
        const char* backFile;
    };
    const Set sets[] = {
        {"Newsletter", newsletter, tile(QColor(0x2B, 0x5F, 0x9E), QColor(0x35, 0x6B, 0xAB), 0),
         "news.jpg", "dots.png"},
        {"Invitation", invitation, tile(QColor(0x2A, 0x1F, 0x4F), QColor(0x3A, 0x2E, 0x66), 2),
         "balloons.jpg", "stars.png"},
        {"Sale", sale, tile(QColor(0xFF, 0xE4, 0xD6), QColor(0xFF, 0xD0, 0xBA), 1), "tag.jpg",
         "stripes.png"},
        {"Seasonal Greeting", seasonal, tile(QColor(0x0F, 0x4A, 0x6E), QColor(0x2C, 0x6C, 0x94), 2),
         "winter.jpg", "snow.png"},
        {"Business Notice", business, tile(QColor(0xF2, 0xF4, 0xF6), QColor(0xE3, 0xE7, 0xEB), 3),
         "office.jpg", "grid.png"},
        {"Photo Letter", photo, tile(QColor(0xFB, 0xF3, 0xE4), QColor(0xF1, 0xE2, 0xC6), 0),
         "lake.jpg", "paper.png"},
    };
    bool ok = true;
    quint32 seed = 1;
    for (const Set& s : sets) {
        const QImage picture = draw(kW, kH, seed++, s.picture);
        for (const char* lang : {" (English)", " (Japanese)"}) {
            const QString folder = out + s.name + lang + '/';
            ok = save(picture, folder + s.pictureFile) && ok;
            ok = save(s.back, folder + s.backFile) && ok;
        }
    }
    return ok ? 0 : 1;
}
