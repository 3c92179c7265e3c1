// The page layout as arithmetic over a given printer, screen and font metrics: no printer.

#include <QtTest>
#include <numeric>

#include "FakeGrid.h"
#include "print/GridPageLayout.h"
#include "print/TextCut.h"

Q_DECLARE_METATYPE(pw::print::Box)

namespace pw::print {
// Failed comparisons say which edges differ.
char* toString(const Box& b) {
    return QTest::toString(
        QStringLiteral("Box{%1, %2, %3, %4}").arg(b.left).arg(b.top).arg(b.right).arg(b.bottom));
}
}  // namespace pw::print

using namespace pw::print;
using pw::print::test::FakeGrid;
using pw::print::test::FakeMeasure;

namespace {

// A 600-dpi printer with an 8 x 11 inch printable area, offset on the paper; a 96-dpi screen.
// Margins of 1 cm are 236 units: the box is 186, 176, 4614, 6424; cells are inset 13 across
// and 6 down, the line allowance is 6, the 12-pixel grid font becomes 75 units high, a header
// or single-line row 89 (77 + 2 x 6) and a measured single-line row 90 (plus leading 1).
DeviceMetrics printer600() {
    DeviceMetrics d;
    d.dpiX = d.dpiY = 600;
    d.pageWidth = 4800;
    d.pageHeight = 6600;
    d.offsetX = 50;
    d.offsetY = 60;
    return d;
}

PrintSettings fitOff() {
    PrintSettings s;
    s.fitWidth = false;
    s.stretchLongLines = false;
    return s;
}

GridLayout lay(const FakeGrid& g, const PrintSettings& s, DeviceMetrics d = printer600()) {
    FakeMeasure m;
    return layoutGrid(d, s, printColumns(g, {}), g, m);
}

int sum(const std::vector<int>& v) {
    return std::accumulate(v.begin(), v.end(), 0);
}

}  // namespace

class TestPrintLayout : public QObject {
    Q_OBJECT
private slots:
    void mulDivRounds_data() {
        QTest::addColumn<int>("a");
        QTest::addColumn<int>("b");
        QTest::addColumn<int>("c");
        QTest::addColumn<int>("expected");
        QTest::newRow("half up") << 5 << 3 << 2 << 8;
        QTest::newRow("half away from zero when negative") << -5 << 3 << 2 << -8;
        QTest::newRow("below half down") << 1 << 1 << 3 << 0;
        QTest::newRow("above half up") << 2 << 1 << 3 << 1;
        QTest::newRow("no 32-bit overflow") << 2000000000 << 2 << 4 << 1000000000;
        QTest::newRow("zero divisor gives 0") << 7 << 7 << 0 << 0;
    }
    void mulDivRounds() {
        QFETCH(int, a);
        QFETCH(int, b);
        QFETCH(int, c);
        QFETCH(int, expected);
        QCOMPARE(mulDiv(a, b, c), expected);
    }

    void boxFromResolutionAndMargins_data() {
        QTest::addColumn<int>("dpiX");
        QTest::addColumn<int>("dpiY");
        QTest::addColumn<int>("margin");
        QTest::addColumn<Box>("box");
        QTest::addColumn<int>("hp");
        QTest::addColumn<int>("vp");
        QTest::addColumn<int>("fontHeight");
        // the box top is below the header row (its height added)
        QTest::newRow("600 dpi") << 600 << 600 << 1 << Box{186, 176 + 89, 4614, 6424} << 13 << 6
                                 << 75;
        QTest::newRow("300 x 600 dpi")
            << 300 << 600 << 1 << Box{68, 176 + 89, 4732, 6424} << 6 << 6 << 75;
        // a printer coarser than the screen shrinks the screen's sizes instead of growing them
        QTest::newRow("72 dpi") << 72 << 72 << 1 << Box{0, 0 + 13, 4800, 6600} << 2 << 1 << 9;
        QTest::newRow("margins 0 stay inside the printable area")
            << 600 << 600 << 0 << Box{0, 89, 4800, 6600} << 13 << 6 << 75;
    }
    void boxFromResolutionAndMargins() {
        QFETCH(int, dpiX);
        QFETCH(int, dpiY);
        QFETCH(int, margin);
        QFETCH(Box, box);
        DeviceMetrics d = printer600();
        d.dpiX = dpiX;
        d.dpiY = dpiY;
        PrintSettings s = fitOff();
        s.marginLeft = s.marginTop = s.marginRight = s.marginBottom = margin;
        FakeGrid g = FakeGrid::withColumns(3, 50);
        const GridLayout l = lay(g, s, d);
        QCOMPARE(l.outcome, LayoutOutcome::Ok);
        QCOMPARE(l.box, box);
        QTEST(l.hp, "hp");
        QTEST(l.vp, "vp");
        QTEST(l.measureFontHeight, "fontHeight");
        QCOMPARE(l.lw, (dpiX + dpiY) / 200);
    }

    void fitWidthByChangingColumnWidths() {
        // 8 columns of 100 screen pixels: 631 units each, 5048 in all, on 4422 of room
        FakeGrid g = FakeGrid::withColumns(8, 100);
        const GridLayout l = lay(g, PrintSettings{});
        QCOMPARE(l.columnBands(), 1);
        QVERIFY(!l.scaled);
        QCOMPARE(l.widths.front(), 553);  // 631 x 4422 / 5048 = 552.76
        QCOMPARE(l.widths.back(), 551);   // gives up what the rounding left beyond the room
        QCOMPARE(sum(l.widths), 4422);
        QCOMPARE(l.measureFontHeight, 75);
        QCOMPARE(l.drawFontHeight, 66);  // the text shrinks by the same factor
        // header and rows are as tall as the shrunk text needs
        QCOMPARE(l.headerHeight, 66 + 2 + 2 * 6);
    }

    void shrunkColumnsMeasureRowsInTheDrawnFont() {
        // 15 characters: one line of 33 units a character in 553 - 26, two lines in the
        // 37-unit characters of the unshrunk font
        FakeGrid g = FakeGrid::withColumns(8, 100);
        g.addRows(1, QString(15, QLatin1Char('m')));
        const GridLayout l = lay(g, PrintSettings{});
        QVERIFY(l.wrap);
        QCOMPARE(l.rowHeights.front(), 68 + 1 + 12);
    }

    void fitWidthByScalingTheWholeGrid() {
        FakeGrid g = FakeGrid::withColumns(8, 100);
        PrintSettings s;
        s.fitMethod = FitMethod::ScaleWholeGrid;
        const GridLayout l = lay(g, s);
        QVERIFY(l.scaled);
        QCOMPARE(l.scaleTable, 6 + 8 * 631);
        QCOMPARE(l.scaleDrawn, 4428);
        // the box grows by G / P so that on paper it stays where the margins put it
        QCOMPARE(l.box, (Box{212, 200 + 89, 5266, 7332}));
        QCOMPARE(l.columnBands(), 1);
        QCOMPARE(l.widths.front(), 631);
        QCOMPARE(l.drawFontHeight, 75);
    }

    void withoutFitColumnsSplitIntoBands() {
        FakeGrid g = FakeGrid::withColumns(8, 100);
        g.addRows(3);
        const GridLayout l = lay(g, fitOff());
        QCOMPARE(l.columnBandEnds, (std::vector<int>{6, 7}));
        QCOMPARE(l.pageCount, 2);
        // every page repeats the header of its own columns, and no column is on two bands
        const PagePlan first = planPage(l, 1);
        const PagePlan second = planPage(l, 2);
        QCOMPARE(first.header.size(), size_t(7));
        QCOMPARE(second.header.size(), size_t(1));
        QCOMPARE(second.header.front().gridColumn, 7);
        QCOMPARE(second.header.front().cell.left, l.box.left);
        QCOMPARE(first.cells.size(), size_t(3 * 7));
        QCOMPARE(second.cells.size(), size_t(3));
    }

    void columnWiderThanThePageStandsAlone() {
        FakeGrid g = FakeGrid::withColumns(3, 100);
        g.widths[1] = 1000;  // 6256 units on 4428 of printable width
        const GridLayout l = lay(g, fitOff());
        QCOMPARE(l.columnBandEnds, (std::vector<int>{0, 1, 2}));
        QCOMPARE(l.widths[1], 6256);
        QCOMPARE(l.pageWidths[1], 4428);
    }

    void optimalWidthMeasuresCaptionsAndCells() {
        FakeGrid g = FakeGrid::withColumns(4, 300);
        g.headers[3] = QStringLiteral("A long caption");  // 14 x 37 + 26
        g.addRows(2, QString());
        g.rows[0][2] = QStringLiteral("abcdefghij");  // 10 x 37 + 26
        g.rows[1][2] = QStringLiteral("abc");
        g.rows[0][0] = QStringLiteral("a check box cell is not text");
        PrintSettings s = fitOff();
        s.optimalWidth = true;
        const GridLayout l = lay(g, s);
        QCOMPARE(l.widths, (std::vector<int>{2 * 37 + 26, 2 * 37 + 26, 396, 544}));
    }

    void stretchedLongLinesGrowTheRow_data() {
        QTest::addColumn<bool>("stretch");
        QTest::addColumn<int>("chars");
        QTest::addColumn<int>("height");
        // 100 screen pixels: 631 - 2 x 13 = 605 across, 16 characters a line
        QTest::newRow("off: one line") << false << 40 << 90;
        QTest::newRow("on: three lines") << true << 40 << 3 * 77 + 1 + 12;
        QTest::newRow("on: taller than a page is cut to an empty page") << true << 16 * 100 << 6153;
    }
    void stretchedLongLinesGrowTheRow() {
        QFETCH(bool, stretch);
        QFETCH(int, chars);
        FakeGrid g = FakeGrid::withColumns(3, 100);
        g.addRows(2);
        g.rows[0][2] = QString(chars, QLatin1Char('m'));
        PrintSettings s = fitOff();
        s.stretchLongLines = stretch;
        const GridLayout l = lay(g, s);
        QCOMPARE(l.wrap, stretch);
        QTEST(l.rowHeights[0], "height");
        QCOMPARE(l.rowHeights[1], 90);
        // the first row never starts a band of its own, even when it fills a page
        QCOMPARE(l.rowBandEnds.front(), l.rowHeights[0] == 6153 ? 0 : 1);
    }

    void pageBreaksAtTheRowThatNoLongerFits_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<std::vector<int>>("bandEnds");
        // a page height where 68 rows of 90 fill the room under the header exactly
        QTest::newRow("68 rows: the last ends on the bottom edge") << 68 << std::vector<int>{67};
        QTest::newRow("69 rows: the 69th starts page 2") << 69 << std::vector<int>{67, 68};
        QTest::newRow("137 rows: three pages") << 137 << std::vector<int>{67, 135, 136};
        QTest::newRow("empty grid: one page, header only") << 0 << std::vector<int>{-1};
    }
    void pageBreaksAtTheRowThatNoLongerFits() {
        QFETCH(int, rows);
        QFETCH(std::vector<int>, bandEnds);
        DeviceMetrics d = printer600();
        d.pageHeight = 6567;  // bottom 6391 = 271 + 68 x 90
        FakeGrid g = FakeGrid::withColumns(3, 100);
        g.addRows(rows);
        const GridLayout l = lay(g, fitOff(), d);
        QCOMPARE(l.rowBandEnds, bandEnds);
        QCOMPARE(l.pageCount, static_cast<int>(bandEnds.size()));
        const PageBands last = pageBands(l, l.pageCount);
        QCOMPARE(last.lastRow, rows - 1);
        if (rows == 0) {
            const PagePlan plan = planPage(l, 1);
            QCOMPARE(plan.header.size(), size_t(3));
            QVERIFY(plan.cells.empty());
        }
    }

    void pagesRunAcrossBeforeDown() {
        FakeGrid g = FakeGrid::withColumns(8, 100);
        g.addRows(69 + 68);
        DeviceMetrics d = printer600();
        d.pageHeight = 6567;
        const GridLayout l = lay(g, fitOff(), d);
        QCOMPARE(l.pageCount, 2 * 3);
        QList<QList<int>> seen;
        for (int p = 1; p <= l.pageCount; ++p) {
            const PageBands b = pageBands(l, p);
            seen << QList<int>{b.firstColumn, b.lastColumn, b.firstRow, b.lastRow};
        }
        const QList<QList<int>> expected{{0, 6, 0, 67},   {7, 7, 0, 67},    {0, 6, 68, 135},
                                         {7, 7, 68, 135}, {0, 6, 136, 136}, {7, 7, 136, 136}};
        QCOMPARE(seen, expected);
        QVERIFY(planPage(l, 0).cells.empty());
        QVERIFY(planPage(l, 7).cells.empty());
    }

    void rulingFollowsTheCells() {
        FakeGrid g = FakeGrid::withColumns(3, 100);
        g.addRows(2);
        const GridLayout l = lay(g, fitOff());
        const PagePlan plan = planPage(l, 1);
        const int x0 = 186, x1 = 186 + 631, x3 = 186 + 3 * 631;
        const int y0 = 176, y1 = 176 + 89, y2 = y1 + 90;
        using Line = std::vector<QPoint>;
        // header cells: bottom and right edges, then the header's left and top edges
        QCOMPARE(plan.ruling[0], (Line{{x0, y1}, {x1, y1}, {x1, y0}}));
        QCOMPARE(plan.ruling[3], (Line{{x0, y0}, {x0, y1}}));
        QCOMPARE(plan.ruling[4], (Line{{x0, y0}, {x3, y0}}));
        // first cell of a row: left, bottom and right; the others bottom and right
        QCOMPARE(plan.ruling[5], (Line{{x0, y1}, {x0, y2}, {x1, y2}, {x1, y1}}));
        QCOMPARE(plan.ruling[6].size(), size_t(3));
        QCOMPARE(plan.ruling.size(), size_t(3 + 2 + 2 * 3));
        QCOMPARE(plan.cells[0].text, (Box{x0 + 13, y1 + 6, x1 - 13, y2 - 6}));
    }

    void noRoomToPrintIsRefused_data() {
        QTest::addColumn<int>("leftRight");
        QTest::addColumn<int>("topBottom");
        QTest::newRow("margins wider than the page") << 11 << 1;
        QTest::newRow("margins taller than the page") << 1 << 15;
        QTest::newRow("room for the header but not one row") << 1 << 14;
    }
    void noRoomToPrintIsRefused() {
        QFETCH(int, leftRight);
        QFETCH(int, topBottom);
        PrintSettings s;
        s.marginLeft = s.marginRight = leftRight;
        s.marginTop = s.marginBottom = topBottom;
        FakeGrid g = FakeGrid::withColumns(22, 50);
        g.addRows(20000);
        const GridLayout l = lay(g, s);
        QCOMPARE(l.outcome, LayoutOutcome::NoPrintableArea);
        QCOMPARE(l.pageCount, 0);
    }

    void noColumnsGivesPagesWithoutCells() {
        FakeGrid g = FakeGrid::withColumns(4, 100);
        g.addRows(200);
        FakeMeasure m;
        const GridLayout l = layoutGrid(printer600(), fitOff(), {}, g, m);
        QCOMPARE(l.columnBands(), 1);
        QCOMPARE(l.pageCount, l.rowBands());
        QVERIFY(planPage(l, 1).cells.empty());
    }

    void stopEndsTheMeasuring() {
        FakeGrid g = FakeGrid::withColumns(4, 100);
        g.addRows(1000);
        FakeMeasure m;
        int asked = 0;
        const GridLayout l = layoutGrid(printer600(), fitOff(), printColumns(g, {}), g, m,
                                        [&] { return ++asked > 2; });
        QCOMPARE(l.outcome, LayoutOutcome::Stopped);
        QCOMPARE(asked, 3);
    }

    void marginTextsAndColumnChoice() {
        QCOMPARE(marginFromText(QStringLiteral("abc")), 0);
        QCOMPARE(marginFromText(QStringLiteral(" 3 ")), 3);
        QCOMPARE(marginFromText(QString()), 0);
        FakeGrid g = FakeGrid::withColumns(5, 80);
        g.headers[3] = QString(300, QLatin1Char('h'));
        const auto columns = printColumns(g, {true, false, true, true});
        QCOMPARE(columns.size(), size_t(4));  // a column without a flag counts as chosen
        QCOMPARE(columns[1].columnIndex, 2);
        QCOMPARE(columns[2].caption.size(), 260);
    }

    void cutsByWholeCharacters_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("expected");
        // widths of 10 per UTF-16 unit, so that a cut by units would split a character
        QTest::newRow("fits whole") << QStringLiteral("abc") << 30 << QStringLiteral("abc");
        QTest::newRow("plain cut") << QStringLiteral("abcdef") << 35 << QStringLiteral("abc");
        QTest::newRow("Japanese") << QStringLiteral("山田太郎") << 25 << QStringLiteral("山田");
        QTest::newRow("surrogate pair kept whole")
            << QStringLiteral("x\U0002000By") << 25 << QStringLiteral("x");
        QTest::newRow("combining mark kept with its letter")
            << QStringLiteral("ae\u0301b") << 25 << QStringLiteral("a");
        QTest::newRow("nothing fits") << QStringLiteral("\U0002000B") << 15 << QString();
        QTest::newRow("negative width") << QStringLiteral("abc") << -5 << QString();
    }
    void cutsByWholeCharacters() {
        QFETCH(QString, text);
        QFETCH(int, width);
        const QString cut = cutToWidth(
            text, width, [](const QString& s) { return static_cast<int>(s.size()) * 10; });
        QTEST(cut, "expected");
    }
};

QTEST_GUILESS_MAIN(TestPrintLayout)
#include "test_print_layout.moc"
