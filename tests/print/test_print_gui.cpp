// The page settings dialog, the column choice and the preview window, driven offscreen.

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QtTest>
#include <functional>

#include "FakeGrid.h"
#include "ScriptedUserInteraction.h"
#include "WidgetTestSupport.h"
#include "print/gui/CPrintDBGrid.h"
#include "print/gui/CPrintDBGridPVw.h"
#include "print/gui/GridPrinting.h"
#include "print/gui/PrintChoosers.h"
#include "print/gui/d_DBPrintSelectForm.h"
#include "print/gui/d_PrinterSetup.h"
#include "resources/Strings.h"

using namespace pw;
using namespace pw::print;
using pw::print::test::FakeGrid;

using pw::test::child;
using pw::test::whenModal;

namespace {

// The system dialogs, answered from the script: printing goes to a PDF file.
struct ScriptedChoosers : IPrintChoosers {
    QString printTo;  // empty: the print dialog is cancelled
    std::optional<QString> face;
    int printDialogs = 0;
    int printerSetups = 0;
    bool printDialog(QPrinter& printer, QWidget*) override {
        ++printDialogs;
        if (printTo.isEmpty()) {
            return false;
        }
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(printTo);
        return true;
    }
    bool printerSetup(QPrinter&, QWidget*) override {
        ++printerSetups;
        return true;
    }
    std::optional<QString> fontFace(const QString&, QWidget*) override { return face; }
};

// Runs act on the next modal dialog as soon as it is shown.
void accept(QDialog* d) {
    child<QDialogButtonBox>(d, "buttonBox")->button(QDialogButtonBox::Ok)->click();
}

int pdfPages(const QString& pdf) {
    QProcess p;
    p.start(QStringLiteral("pdfinfo"), {pdf});
    p.waitForFinished(30000);
    const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)"))
                       .match(QString::fromUtf8(p.readAllStandardOutput()));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

FakeGrid sampleGrid(int rows) {
    FakeGrid g = FakeGrid::withColumns(6, 80);
    g.headers[0] = QStringLiteral("Sent");
    g.headers[1] = QStringLiteral("Select");
    g.addRows(rows, QStringLiteral("山田 太郎"));
    return g;
}

}  // namespace

class TestPrintGui : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void setupDialogShowsAndStoresTheSettings() {
        PrintSettings settings;
        QPrinter printer;
        ScriptedChoosers choosers;
        choosers.face = QStringLiteral("IPAMincho");
        d_PrinterSetup dialog(settings, printer, choosers);
        QCOMPARE(child<QLineEdit>(&dialog, "left_1028")->text(), QStringLiteral("1"));
        QCOMPARE(child<QLineEdit>(&dialog, "bottom_1005")->text(), QStringLiteral("1"));
        QVERIFY(child<QGroupBox>(&dialog, "fitWidth_1141")->isChecked());
        QVERIFY(child<QRadioButton>(&dialog, "changeWidth_1040")->isChecked());
        QVERIFY(!child<QCheckBox>(&dialog, "optimalWidth_1042")->isChecked());
        QVERIFY(child<QCheckBox>(&dialog, "stretch_1076")->isChecked());
        QVERIFY(child<QCheckBox>(&dialog, "colored_1140")->isChecked());
        QCOMPARE(child<QLineEdit>(&dialog, "left_1028")->accessibleName(), QStringLiteral("Left"));

        child<QLineEdit>(&dialog, "left_1028")->setText(QStringLiteral("abc"));
        child<QLineEdit>(&dialog, "top_1004")->setText(QStringLiteral("3"));
        child<QRadioButton>(&dialog, "scaleGrid_1039")->setChecked(true);
        child<QCheckBox>(&dialog, "stretch_1076")->setChecked(false);
        child<QPushButton>(&dialog, "fontButton_1007")->click();
        QCOMPARE(child<QLineEdit>(&dialog, "fontName_1047")->text(), QStringLiteral("IPAMincho"));
        child<QPushButton>(&dialog, "printerSetup_1006")->click();
        QCOMPARE(choosers.printerSetups, 1);
        QCOMPARE(settings, PrintSettings{});  // nothing stored before OK
        accept(&dialog);
        QCOMPARE(settings.marginLeft, 0);
        QCOMPARE(settings.marginTop, 3);
        QCOMPARE(settings.fitMethod, FitMethod::ScaleWholeGrid);
        QVERIFY(!settings.stretchLongLines);
        QCOMPARE(settings.fontName, QStringLiteral("IPAMincho"));
    }

    void setupDialogCancelAndFontCancel() {
        PrintSettings settings;
        settings.fontName = QStringLiteral("IPAGothic");
        QPrinter printer;
        ScriptedChoosers choosers;  // the font dialog is cancelled
        d_PrinterSetup dialog(settings, printer, choosers);
        child<QPushButton>(&dialog, "fontButton_1007")->click();
        QCOMPARE(child<QLineEdit>(&dialog, "fontName_1047")->text(), QStringLiteral("IPAGothic"));
        child<QLineEdit>(&dialog, "right_1029")->setText(QStringLiteral("5"));
        dialog.reject();
        QCOMPARE(settings.marginRight, 1);
    }

    void columnChoiceCopiesTheCheckMarks() {
        std::vector<bool> choice;
        d_DBPrintSelectForm dialog(
            {QStringLiteral("Sent"), QStringLiteral("Select"), QStringLiteral("Mail Address")},
            choice);
        auto* list = child<QListWidget>(&dialog, "columnList");
        QCOMPARE(list->count(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(list->item(i)->checkState(), Qt::Checked);
        }
        list->item(1)->setCheckState(Qt::Unchecked);
        accept(&dialog);
        QCOMPARE(choice, (std::vector<bool>{true, false, true}));
    }

    void previewPagesZoomAndPrint() {
        FakeGrid grid = sampleGrid(300);
        pw::test::ScriptedUserInteraction ui;
        ScriptedChoosers choosers;
        QWidget editor;
        editor.show();
        GridPrinting printing(grid, ui, choosers, &editor);
        whenModal<QDialog>([](QDialog* d) {
            child<QListWidget>(d, "columnList")->item(1)->setCheckState(Qt::Unchecked);
            accept(d);
        });
        printing.print();
        QCOMPARE(grid.fetchAllCalls, 1);
        QVERIFY(printing.isPreviewOpen());
        CPrintDBGrid* frame = printing.frame();
        QVERIFY(frame->isVisible());
        QCOMPARE(frame->windowTitle(), QStringLiteral("Preview - Tabular information"));
        QCOMPARE(printing.columnChoice(), (std::vector<bool>{true, false, true, true, true, true}));
        CPrintDBGridPVw* pvw = frame->previewView();
        const int pages = printing.view().layout().pageCount;
        QVERIFY(pages >= 3);
        QCOMPARE(pvw->pageCount(), pages);
        QCOMPARE(pvw->currentPage(), 1);
        QCOMPARE(pvw->zoom(), CPrintDBGridPVw::Zoom::WholePage);
        QCOMPARE(pvw->previewWidget()->zoomMode(), QPrintPreviewWidget::FitInView);

        auto* previous = child<QAction>(pvw, "previous");
        auto* next = child<QAction>(pvw, "next");
        QVERIFY(!previous->isEnabled());
        QVERIFY(next->isEnabled());
        next->trigger();
        QCOMPARE(pvw->currentPage(), 2);
        QVERIFY(previous->isEnabled());
        previous->trigger();
        QCOMPARE(pvw->currentPage(), 1);
        pvw->showPage(pages);
        QVERIFY(!next->isEnabled());

        child<QAction>(pvw, "zoom200")->trigger();
        QCOMPARE(pvw->previewWidget()->zoomMode(), QPrintPreviewWidget::CustomZoom);
        QCOMPARE(pvw->previewWidget()->zoomFactor(), 2.0);
        QVERIFY(child<QAction>(pvw, "zoom200")->isChecked());
        child<QAction>(pvw, "zoomPageWidth")->trigger();
        QCOMPARE(pvw->previewWidget()->zoomMode(), QPrintPreviewWidget::FitToWidth);

        // "Print..." while the preview is open only brings it forward
        printing.print();
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QVERIFY(printing.isPreviewOpen());

        // "Print": the preview ends, the print dialog prints the pages anew
        choosers.printTo = dir.filePath(QStringLiteral("printed.pdf"));
        child<QAction>(pvw, "print")->trigger();
        QVERIFY(!printing.isPreviewOpen());
        QVERIFY(!frame->isVisible());
        QCOMPARE(choosers.printDialogs, 1);
        QCOMPARE(pdfPages(choosers.printTo), pages);

        // the frame is kept and shown again by the next "Print..."
        whenModal<QDialog>(accept);
        printing.print();
        QCOMPARE(printing.frame(), frame);
        QVERIFY(frame->isVisible());
        frame->close();  // the close box ends the preview without destroying the frame
        QVERIFY(!printing.isPreviewOpen());
        QVERIFY(!frame->isVisible());
        QCOMPARE(printing.frame(), frame);
        QVERIFY(ui.asked().isEmpty());
    }

    void pdfFromThePreviewToolbar() {
        FakeGrid grid = sampleGrid(40);
        pw::test::ScriptedUserInteraction ui;
        ScriptedChoosers choosers;
        GridPrinting printing(grid, ui, choosers, nullptr);
        whenModal<QDialog>(accept);
        printing.print();
        QAction* pdf = child<QAction>(printing.frame()->previewView(), "pdf");
        const QString path = dir.filePath(QStringLiteral("toolbar"));
        ui.scriptFiles({{path}, {}});
        pdf->trigger();
        QCOMPARE(pdfPages(path + QStringLiteral(".pdf")), 1);
        QVERIFY(printing.isPreviewOpen());  // a PDF copy leaves the preview open
        pdf->trigger();                     // the chooser cancelled: nothing more is written
        QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("toolbar*")}).size(), 1);
        printing.endPreview();
        QVERIFY(ui.asked().isEmpty());
    }

    void cancelledPrintoutLeavesNoFile() {
        FakeGrid grid = sampleGrid(300);
        pw::test::ScriptedUserInteraction ui;
        ScriptedChoosers choosers;
        GridPrinting printing(grid, ui, choosers, nullptr);
        printing.setColumnChoice(std::vector<bool>(6, true));
        ui.cancelProgressAt(1);  // Cancel in the progress display after the second page
        const QString path = dir.filePath(QStringLiteral("cancelled.pdf"));
        QVERIFY(!printing.writePdf(path));
        QVERIFY(!QFile::exists(path));
        QVERIFY(ui.progressLog().contains(QStringLiteral("cancellable")));
        QVERIFY(ui.asked().isEmpty());  // the user's own cancel needs no message
    }

    void pageSettingsApplyToTheNextPreview() {
        FakeGrid grid = sampleGrid(10);
        pw::test::ScriptedUserInteraction ui;
        ScriptedChoosers choosers;
        auto printing = std::make_unique<GridPrinting>(grid, ui, choosers, nullptr);
        whenModal<QDialog>([](QDialog* d) {
            child<QLineEdit>(d, "left_1028")->setText(QStringLiteral("4"));
            child<QGroupBox>(d, "fitWidth_1141")->setChecked(false);
            accept(d);
        });
        printing->pageSetting();
        QCOMPARE(printing->settings().marginLeft, 4);
        whenModal<QDialog>(accept);
        printing->print();
        const GridLayout& layout = printing->view().layout();
        const DeviceMetrics d = printing->view().deviceMetrics(printing->printer());
        QCOMPARE(layout.box.left, qRound(d.dpiX * 4 / 2.54) - d.offsetX);
        QVERIFY(!printing->view().settings().fitWidth);
        printing->endPreview();
        // the editor opened again starts from the defaults
        printing = std::make_unique<GridPrinting>(grid, ui, choosers, nullptr);
        QCOMPARE(printing->settings(), PrintSettings{});
    }

    void refusedLayoutsTellTheUser_data() {
        QTest::addColumn<int>("margin");
        QTest::addColumn<QString>("font");
        QTest::addColumn<int>("message");
        QTest::addColumn<bool>("previewOpens");
        QTest::addColumn<int>("columns");
        QTest::newRow("margins larger than the page")
            << 40 << QString() << ids::PRINT_NO_ROOM << false << 6;
        QTest::newRow("a font that is not installed")
            << 1 << QStringLiteral("No Such Font 1234") << ids::PRINT_FONT_MISSING << true << 6;
        QTest::newRow("no column to print")
            << 1 << QString() << ids::PRINT_COMMAND_FAILED << false << 0;
    }
    void refusedLayoutsTellTheUser() {
        QFETCH(int, margin);
        QFETCH(QString, font);
        QFETCH(int, message);
        QFETCH(int, columns);
        FakeGrid grid = columns == 6 ? sampleGrid(10) : FakeGrid::withColumns(columns, 80);
        pw::test::ScriptedUserInteraction ui;
        ScriptedChoosers choosers;
        GridPrinting printing(grid, ui, choosers, nullptr);
        printing.settings().marginLeft = printing.settings().marginRight = margin;
        printing.settings().fontName = font;
        whenModal<QDialog>(accept);
        printing.print();
        QCOMPARE(ui.asked().size(), 1);
        const QString expected = str(message).section(QLatin1Char('%'), 0, 0);
        QVERIFY(ui.asked().front().text.startsWith(expected));
        QTEST(printing.isPreviewOpen(), "previewOpens");
        if (printing.isPreviewOpen()) {
            QCOMPARE(printing.view().printFont().family(), grid.fontSpec.family);
            printing.endPreview();
        }
    }

    void cancelledColumnChoiceDoesNothing() {
        FakeGrid grid = sampleGrid(10);
        pw::test::ScriptedUserInteraction ui;
        ScriptedChoosers choosers;
        GridPrinting printing(grid, ui, choosers, nullptr);
        whenModal<QDialog>([](QDialog* d) { d->reject(); });
        printing.print();
        QVERIFY(!printing.isPreviewOpen());
        QVERIFY(printing.frame() == nullptr);
        QCOMPARE(grid.fetchAllCalls, 0);
    }

    void realFontBreaksByWholeCharacters_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("wrap");
        QTest::newRow("Japanese without spaces wraps") << QString(40, QChar(0x5c71)) << 1;
        QTest::newRow("surrogate pairs wrap") << QStringLiteral("\U0002000B").repeated(30) << 1;
        QTest::newRow("surrogate pairs cut") << QStringLiteral("\U0002000B").repeated(30) << 0;
        QTest::newRow("combining marks cut") << QStringLiteral("e\u0301").repeated(40) << 0;
    }
    void realFontBreaksByWholeCharacters() {
        QFETCH(QString, text);
        QFETCH(int, wrap);
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        QFont font = resolvePrintFont({QStringLiteral("DejaVu Sans"), 12, 400, false}, {}).font;
        font.setPixelSize(150);
        const CellTextBreaker breaker(font, &printer);
        const QStringList lines =
            breaker.lines(text, 1000, wrap ? Wrap::AtWords : Wrap::SingleLine);
        QVERIFY(lines.size() > (wrap ? 1 : 0));
        for (const QString& line : lines) {
            QVERIFY(breaker.width(line) <= 1000);
            QVERIFY(!line.isEmpty() && !line.back().isHighSurrogate() &&
                    !line.front().isLowSurrogate() && !line.front().isMark());
        }
        QCOMPARE(wrap ? lines.join(QString()) : text.left(lines.front().size()),
                 wrap ? text : lines.front());
    }

    // Run with LANG=ja_JP.UTF-8 by its own test entry.
    void japaneseTexts() {
        if (languageFromLocaleEnvironment() != Language::Japanese) {
            QSKIP("needs LANG=ja_JP.UTF-8");
        }
        PrintSettings settings;
        QPrinter printer;
        ScriptedChoosers choosers;
        d_PrinterSetup setup(settings, printer, choosers);
        QCOMPARE(setup.windowTitle(), QStringLiteral("印刷の設定"));
        QCOMPARE(child<QCheckBox>(&setup, "stretch_1076")->text(),
                 QStringLiteral("長い行を折り返す"));
        std::vector<bool> choice;
        d_DBPrintSelectForm select({QStringLiteral("Sent")}, choice);
        QCOMPARE(select.windowTitle(), QStringLiteral("印刷する列の選択 ..."));
        FakeGrid grid = sampleGrid(5);
        pw::test::ScriptedUserInteraction ui;
        GridPrinting printing(grid, ui, choosers, nullptr);
        whenModal<QDialog>(accept);
        printing.print();
        QCOMPARE(printing.frame()->windowTitle(), QStringLiteral("プレビュー - 表形式の情報"));
        CPrintDBGridPVw* pvw = printing.frame()->previewView();
        QCOMPARE(child<QAction>(pvw, "next")->text(), QStringLiteral("次へ"));
        QCOMPARE(child<QAction>(pvw, "zoomWholePage")->text(), QStringLiteral("ページ全体"));
        printing.endPreview();
    }
};

QTEST_MAIN(TestPrintGui)
#include "test_print_gui.moc"
