// Printing the mail from the window to a PDF printer: the text body and the HTML page, with
// Japanese text, read back by pdftotext.

#include <QPrinter>
#include <QProcess>
#include <QTabWidget>
#include <QWebEngineView>

#include "MainWindowFixture.h"
#include "resources/Strings.h"

using namespace pw;
using namespace pw::app;
using pw::test::MainWindowFixture;

namespace {

QString pdfText(const QString& pdf) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"),
            {QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdf, QStringLiteral("-")});
    if (!p.waitForFinished(60000))
        return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

bool printToPdf(CPZPtestDlg& w, const QString& pdf) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    bool done = false, ok = false;
    w.PrintCurrentTab(&printer, [&](bool result) {
        done = true;
        ok = result;
    });
    return QTest::qWaitFor([&] { return done; }, 60000) && ok && QFileInfo(pdf).size() > 0;
}

}  // namespace

class TestMainWindowPrint : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { setLanguage(Language::English); }

    void printsTheTextBody() {
        MainWindowFixture f;
        QVERIFY(f.open());
        QString body;
        for (int i = 1; i <= 120; ++i)
            body += QStringLiteral("Line %1 いつもご利用ありがとうございます\n").arg(i);
        f.find<QPlainTextEdit>("textBody")->setPlainText(body);
        const QString pdf = f.env.root() + "text.pdf";
        QVERIFY(printToPdf(*f.window, pdf));
        const QString text = pdfText(pdf);
        QVERIFY2(text.contains(QStringLiteral("Line 1 いつもご利用ありがとうございます")),
                 qPrintable(text.left(300)));
        // long mails go on over several pages
        QVERIFY(text.contains(QStringLiteral("Line 120")));
        QVERIFY(text.count(QLatin1Char('\f')) >= 2);
    }

    void printsTheHtmlPage() {
        MainWindowFixture f;
        QVERIFY(f.open());
        QVERIFY(test::writeFile(
            f.folders.mainPreviewFolder() + "index.html",
            QStringLiteral("<html><head><meta charset=\"utf-8\"><title>Spring</title></head><body>"
                           "<h1>Spring Sale</h1><p>春のセールのお知らせ</p>"
                           "</body></html>")
                .toUtf8()));
        f.session->document().htmlTemplateName = QStringLiteral("Seasonal");
        f.find<QTabWidget>("mailTabs")->setCurrentIndex(1);
        auto* view = f.find<QWebEngineView>("htmlView");
        QVERIFY(view);
        // the mail's page, not the empty one the view started with, has to be loaded
        bool loaded = false;
        connect(view, &QWebEngineView::loadFinished, this, [&](bool ok) {
            loaded = loaded || (ok && view->title() == QLatin1String("Spring"));
        });
        f.window->ShowHtmlMail();
        QTRY_VERIFY_WITH_TIMEOUT(loaded, 60000);
        const QString pdf = f.env.root() + "html.pdf";
        QVERIFY(printToPdf(*f.window, pdf));
        const QString text = pdfText(pdf);
        QVERIFY2(text.contains(QStringLiteral("Spring Sale")), qPrintable(text.left(300)));
        QVERIFY(text.contains(QStringLiteral("春のセールのお知らせ")));
    }
};

QTEST_MAIN(TestMainWindowPrint)
#include "test_mainwin_print.moc"
