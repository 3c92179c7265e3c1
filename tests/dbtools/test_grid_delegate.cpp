// The record grid's cell drawing takes short cuts (a start of the text laid out once, check
// boxes copied from a picture); each must give the pixels the plain drawing gives.
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QStandardItemModel>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTableView>
#include <QtTest>

#include "dbtools/RecordGridModel.h"
#include "dbtools/gui/RecordGridDelegate.h"

using namespace pw::dbtools;

namespace {

QImage blank(QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    return image;
}

// Where the two pictures differ, for the failure message.
QString firstDifference(const QImage& a, const QImage& b) {
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                return QStringLiteral("first difference at %1,%2").arg(x).arg(y);
    return {};
}

}  // namespace

class TestGridDelegate : public QObject {
    Q_OBJECT
private slots:
    void fieldTextIsWhatElidingAndDrawingGives_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        const QString latin = QStringLiteral("f3-17-abcdefghijWMWMWMiiiiiabcdefghijabcdefghij");
        QTest::newRow("fits") << QStringLiteral("Tanaka") << 120;
        QTest::newRow("cut") << latin << 120;
        QTest::newRow("cut, wide cell") << latin.repeated(3) << 600;
        QTest::newRow("Japanese cut")
            << QStringLiteral("株式会社ヤマダ商店 営業部 東京都千代田区丸の内") << 120;
        QTest::newRow("combining marks at the cut") << QStringLiteral("e\u0301").repeated(40) << 90;
        QTest::newRow("pairs at the cut") << QStringLiteral("a\U0001F600").repeated(30) << 90;
        QTest::newRow("right to left") << QStringLiteral("שלום עולם ").repeated(6) << 100;
        QTest::newRow("no character fits") << latin << 4;
        QTest::newRow("a start that fits, a long rest")
            << QStringLiteral("i").repeated(60) + QStringLiteral("W").repeated(40) << 150;
    }
    void fieldTextIsWhatElidingAndDrawingGives() {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFont font = QApplication::font();
        font.setStyleStrategy(QFont::PreferNoShaping);
        const QRect rect(3, 2, width, 22);
        const QSize size(width + 10, 26);
        const Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter;

        QImage expected = blank(size);
        {
            QPainter p(&expected);
            p.setFont(font);
            p.drawText(rect, int(align) | Qt::TextSingleLine,
                       QFontMetrics(font, &expected).elidedText(text, Qt::ElideRight, width));
        }
        RecordGridDelegate delegate;
        QImage drawn = blank(size);
        for (int twice = 0; twice < 2; ++twice) {  // the second time from what was kept
            drawn.fill(Qt::white);
            QPainter p(&drawn);
            p.setFont(font);
            delegate.drawFieldText(&p, rect, align, text, font);
        }
        QVERIFY2(drawn == expected, qPrintable(firstDifference(drawn, expected)));
    }

    // A check cell over the grid's window colour, selected or not: what the style draws.
    void checkBoxesAreTheStyles_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("checked");
        QTest::newRow("Sent, off") << kSentColumn << int(Qt::Unchecked);
        QTest::newRow("Sent, on") << kSentColumn << int(Qt::Checked);
        QTest::newRow("Sent, failed") << kSentColumn << int(Qt::PartiallyChecked);
        QTest::newRow("Select, off") << kSelectColumn << int(Qt::Unchecked);
        QTest::newRow("Select, on") << kSelectColumn << int(Qt::Checked);
    }
    void checkBoxesAreTheStyles() {
        QFETCH(int, column);
        QFETCH(int, checked);
        QStandardItemModel model(1, kFirstFieldColumn + 1);
        model.setData(model.index(0, column), checked, Qt::CheckStateRole);
        QTableView view;
        auto* delegate = new RecordGridDelegate(&view);
        view.setModel(&model);
        view.setItemDelegate(delegate);
        QStyleOptionViewItem option;
        option.initFrom(&view);
        option.widget = &view;
        option.rect = QRect(0, 0, 40, 24);
        const QColor base = option.palette.color(QPalette::Active, QPalette::Base);

        QImage expected(option.rect.size(), QImage::Format_ARGB32_Premultiplied);
        expected.fill(base);
        {
            QStyleOptionButton box;
            const int w = view.style()->pixelMetric(QStyle::PM_IndicatorWidth, &option, &view);
            const int h = view.style()->pixelMetric(QStyle::PM_IndicatorHeight, &option, &view);
            box.rect =
                QStyle::alignedRect(option.direction, Qt::AlignCenter, QSize(w, h), option.rect);
            box.state = checked == Qt::Checked            ? QStyle::State_On
                        : checked == Qt::PartiallyChecked ? QStyle::State_NoChange
                                                          : QStyle::State_Off;
            if (column == kSelectColumn)
                box.state |= QStyle::State_Enabled;
            QPainter p(&expected);
            view.style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, &p, &view);
        }
        QImage drawn(option.rect.size(), QImage::Format_ARGB32_Premultiplied);
        for (int twice = 0; twice < 2; ++twice) {  // the second time from the kept picture
            drawn.fill(base);                      // as the view fills its viewport
            QPainter p(&drawn);
            delegate->paint(&p, option, model.index(0, column));
        }
        QVERIFY2(drawn == expected, qPrintable(firstDifference(drawn, expected)));
    }
};

QTEST_MAIN(TestGridDelegate)
#include "test_grid_delegate.moc"
