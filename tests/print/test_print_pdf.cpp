// Printing a real recipient list to PDF and reading the file back with poppler's tools.

#include <QAbstractItemModelTester>
#include <QImage>
#include <QPrinter>
#include <QProcess>
#include <QTableView>
#include <QtTest>

#include "DbFixture.h"
#include "dbtools/RecordGridModel.h"
#include "print/gui/GridPrinting.h"
#include "print/gui/PrintChoosers.h"
#include "print/gui/TableViewPrintGrid.h"

using namespace pw;
using namespace pw::print;

namespace {

struct NoChoosers : IPrintChoosers {
    bool printDialog(QPrinter&, QWidget*) override { return false; }
    bool printerSetup(QPrinter&, QWidget*) override { return false; }
    std::optional<QString> fontFace(const QString&, QWidget*) override { return std::nullopt; }
};

QString run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        qWarning() << program << args << p.readAllStandardError();
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

const QStringList kFamily{QStringLiteral("山田"), QStringLiteral("佐藤"), QStringLiteral("鈴木"),
                          QStringLiteral("高橋"), QStringLiteral("渡辺")};
const QStringList kGiven{QStringLiteral("太郎"), QStringLiteral("花子"), QStringLiteral("一郎"),
                         QStringLiteral("美咲")};
const QStringList kCity{QStringLiteral("東京都"), QStringLiteral("大阪府"),
                        QStringLiteral("北海道")};

}  // namespace

class TestPrintPdf : public QObject {
    Q_OBJECT
    pw::test::DbWorld world;
    std::unique_ptr<dbtools::RecordGridModel> model;
    std::unique_ptr<QTableView> view;

private slots:
    void initTestCase() {
        QVERIFY(world.createAndOpen());
        for (int i = 1; i <= 500; ++i) {
            pw::test::insertRecord(
                *world.store, i, i % 3 == 0 ? 1 : 0, i % 2,
                {QStringLiteral("user%1@example.jp").arg(i, 3, 10, QLatin1Char('0')),
                 kFamily[i % 5] + QStringLiteral(" ") + kGiven[i % 4], kCity[i % 3],
                 QStringLiteral("%1").arg((i * 37) % 500, 3, 10, QLatin1Char('0')),
                 QStringLiteral("UNCHOSEN%1").arg(i)});
        }
        model = std::make_unique<dbtools::RecordGridModel>(*world.store, world.ui);
        QAbstractItemModelTester tester(model.get(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        // what the editor's filter and sort leave: no one in Osaka, by field4 descending
        model->list().AddFilter({2, QStringLiteral("大阪府"), db::FilterKind::Exclude});
        model->list().SetOrder({db::SortKey::Field, 3, db::SortDirection::Descending});
        model->list().Refresh();
        model->list().FetchAll();  // the list is read in batches
        view = std::make_unique<QTableView>();
        view->setModel(model.get());
        view->setColumnWidth(2, 200);  // the user widened the address column
        QCOMPARE(model->rowCount(), 500 - 167);
    }

    void pdfHoldsTheGridAsShown() {
        TableViewPrintGrid grid(*view, [this] { model->list().FetchAll(); });
        NoChoosers choosers;
        GridPrinting printing(grid, world.ui, choosers, nullptr);
        // Sent, Mail Address, Name, field3, field4; not Select, not field5 and beyond
        std::vector<bool> choice(22, false);
        for (int c : {0, 2, 3, 4, 5}) {
            choice[static_cast<size_t>(c)] = true;
        }
        printing.setColumnChoice(choice);
        grid.fetchAll();
        const QString pdf = qEnvironmentVariableIsSet("PW_KEEP_PDF")
                                ? qEnvironmentVariable("PW_KEEP_PDF")
                                : world.env.root() + QStringLiteral("grid.pdf");
        QVERIFY(printing.writePdf(pdf));
        QVERIFY(world.ui.asked().isEmpty());
        const GridLayout& layout = printing.view().layout();
        QVERIFY(layout.pageCount > 1);
        QCOMPARE(layout.columnBands(), 1);  // fit to width by column widths, the default

        const QString info = run(QStringLiteral("pdfinfo"), {pdf});
        QVERIFY(info.contains(
            QRegularExpression(QStringLiteral("Pages:\\s+%1\\n").arg(layout.pageCount))));

        const QString text =
            run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
        for (const char* header : {"Sent", "Mail Address", "Name", "field3", "field4"}) {
            QCOMPARE(text.count(QLatin1String(header)), layout.pageCount);
        }
        QVERIFY(!text.contains(QLatin1String("Select")));
        QVERIFY(!text.contains(QLatin1String("field5")));
        QVERIFY(!text.contains(QLatin1String("UNCHOSEN")));
        QVERIFY(!text.contains(QStringLiteral("大阪府")));
        // every row, in grid order, each on one line with its name and city
        QStringList expected;
        for (int r = 0; r < model->rowCount(); ++r) {
            expected << grid.cellText(r, 2);
        }
        QStringList printed;
        const QStringList lines = text.split(QLatin1Char('\n'));
        for (const QString& line : lines) {
            const auto m =
                QRegularExpression(QStringLiteral("user\\d{3}@example\\.jp")).match(line);
            if (m.hasMatch()) {
                printed << m.captured();
                const int i = m.captured().mid(4, 3).toInt();
                QVERIFY2(line.contains(kFamily[i % 5]) && line.contains(kCity[i % 3]),
                         qPrintable(line));
            }
        }
        QCOMPARE(printed, expected);

        const QString fonts = run(QStringLiteral("pdffonts"), {pdf});
        QVERIFY2(QRegularExpression(QStringLiteral("IPA\\S*Gothic\\s.*\\byes\\b"))
                     .match(fonts)
                     .hasMatch(),
                 qPrintable(fonts));
    }

    void rulingIsWhereTheLayoutPutsIt() {
        TableViewPrintGrid grid(*view, [this] { model->list().FetchAll(); });
        NoChoosers choosers;
        GridPrinting printing(grid, world.ui, choosers, nullptr);
        std::vector<bool> choice(22, false);
        choice[0] = choice[2] = choice[3] = true;
        printing.setColumnChoice(choice);
        const QString pdf = world.env.root() + QStringLiteral("ruling.pdf");
        QVERIFY(printing.writePdf(pdf));
        const QString png = world.env.root() + QStringLiteral("page");
        const int dpi = 150;
        run(QStringLiteral("pdftoppm"),
            {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-f"), QStringLiteral("1"),
             QStringLiteral("-l"), QStringLiteral("1"), QStringLiteral("-gray"),
             QStringLiteral("-png"), QStringLiteral("-singlefile"), pdf, png});
        const QImage image(png + QStringLiteral(".png"));
        QVERIFY(!image.isNull());

        const GridLayout& l = printing.view().layout();
        const DeviceMetrics d = printing.view().deviceMetrics(printing.printer());
        QVERIFY(!l.scaled);
        // device units to pixels of the rendered page (the layout is relative to the
        // printable area, which starts at the printer's offset on the paper)
        auto px = [&](int x) { return qRound((x + d.offsetX) * double(dpi) / d.dpiX); };
        auto py = [&](int y) { return qRound((y + d.offsetY) * double(dpi) / d.dpiY); };
        auto dark = [&](int x, int y) {
            for (int dx = -1; dx <= 1; ++dx) {
                for (int dy = -1; dy <= 1; ++dy) {
                    if (qGray(image.pixel(x + dx, y + dy)) < 160) {
                        return true;
                    }
                }
            }
            return false;
        };
        auto gray = [&](int x, int y) { return qGray(image.pixel(x, y)); };
        const PagePlan plan = planPage(l, 1);
        const PageCell& sent = plan.cells.front();  // the "Sent" box of the first row
        const int midY = py((sent.cell.top + sent.cell.bottom) / 2);
        QVERIFY(dark(px(sent.cell.left), midY));
        QVERIFY(dark(px(sent.cell.right), midY));
        QCOMPARE(gray(px(sent.cell.left) + 4, midY), 255);  // white between rule and box
        const PageCell& head = plan.header[1];
        const int headerMid = py((head.cell.top + head.cell.bottom) / 2);
        QVERIFY(dark(px(head.cell.right), headerMid));
        QVERIFY(dark(px((head.cell.left + head.cell.right) / 2), py(head.cell.bottom)));
        QVERIFY(dark(px((head.cell.left + head.cell.right) / 2), py(head.cell.top)));
        // the header's shade ("Colored"), and none in the rows
        QVERIFY(qAbs(gray(px(head.cell.right) - 4, headerMid) - 0xE8) < 8);
        const PageCell& last = plan.cells.back();
        QCOMPARE(gray(px(last.cell.right) - 4, py(last.cell.bottom) - 4), 255);
        // nothing below the last row of the page
        QCOMPARE(gray(px(last.cell.right) - 4, py(last.cell.bottom) + 6), 255);
    }

    void unwritableFileIsReported() {
        TableViewPrintGrid grid(*view, [this] { model->list().FetchAll(); });
        NoChoosers choosers;
        GridPrinting printing(grid, world.ui, choosers, nullptr);
        printing.setColumnChoice(std::vector<bool>(22, true));
        world.ui.clear();
        QVERIFY(!printing.writePdf(world.env.root() + QStringLiteral("no/such/folder/x.pdf")));
        QCOMPARE(world.ui.asked().size(), 1);
        QVERIFY(world.ui.asked().front().text.contains(QLatin1String("no/such/folder")));
    }
};

QTEST_MAIN(TestPrintPdf)
#include "test_print_pdf.moc"
