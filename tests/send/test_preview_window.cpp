// The preview window on real widgets: the buttons follow the position, Next shows the next
// recipient in every view, closing removes the merged page; its texts in both languages.

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QtTest>

#include "TestEnv.h"
#include "compose/gui/CWebBrowser.h"
#include "compose/gui/d_Preview.h"
#include "resources/Strings.h"
#include "send/PreviewSource.h"

using namespace pw;
using namespace pw::send;

namespace {

std::unique_ptr<CMailPreview> makePreview(const QString& folder, int recipients) {
    QFile html(folder + "index.html");
    if (html.open(QIODevice::WriteOnly)) {
        html.write("<html><body><p>Dear [[Name]]</p></body></html>");
    }
    MailJob j;
    j.senderAddress = "shop@example.org";
    j.subject = "For [[Name]]";
    j.recipientText = "[[Mail Address]]";
    j.bodyText = "Hello [[Name]], this line is longer than ten characters.\r\n";
    j.htmlFileName = "t";
    j.htmlFiles = {"index.html"};
    j.mainPreviewFolder = folder;
    j.charsetOverride = "utf-8";
    j.captions[0] = "Mail Address";
    j.captions[1] = "Name";
    std::vector<FieldTexts> rows(static_cast<size_t>(recipients));
    for (int i = 0; i < recipients; ++i) {
        rows[size_t(i)][0] = QStringLiteral("r%1@example.org").arg(i);
        rows[size_t(i)][1] = QStringLiteral("Reader %1").arg(i);
    }
    return std::make_unique<CMailPreview>(
        std::make_unique<CAssemblyPreviewSource>(std::make_unique<CMessageAssembly>(j, rows),
                                                 SendMode::Merge),
        folder);
}

}  // namespace

class TestPreviewWindow : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { setLanguage(Language::English); }

    void stepsAndCloses() {
        test::TestEnv env;
        const QString folder = env.makeFolder("PostwickMainPreview");
        d_Preview window(makePreview(folder, 3), QFont());
        window.show();
        auto* next = window.findChild<QPushButton*>("next");
        auto* previous = window.findChild<QPushButton*>("previous");
        auto* position = window.findChild<QLabel*>("position");
        auto* text = window.findChild<QPlainTextEdit*>("text");
        auto* phone = window.findChild<QPlainTextEdit*>("phoneText");
        auto* html = window.findChild<CWebBrowser*>("html");
        QVERIFY(next && previous && position && text && phone && html);
        QCOMPARE(position->text(), QStringLiteral("1/3"));
        QVERIFY(!previous->isEnabled());
        QVERIFY(next->isEnabled());
        QVERIFY(text->toPlainText().contains("Subject: For Reader 0"));
        QVERIFY(phone->toPlainText().contains("Subject: F\nor Reader 0"));
        QTRY_COMPARE_WITH_TIMEOUT(html->url(), QUrl::fromLocalFile(folder + "index.htm"), 10000);

        next->click();
        next->click();
        QCOMPARE(position->text(), QStringLiteral("3/3"));
        QVERIFY(!next->isEnabled());
        QVERIFY(previous->isEnabled());
        QVERIFY(text->toPlainText().contains("Hello Reader 2"));
        QFile page(folder + "index.htm");
        QVERIFY(page.open(QIODevice::ReadOnly));
        QVERIFY(page.readAll().contains("Dear Reader 2"));
        page.close();

        window.findChild<QPushButton*>("close")->click();
        QVERIFY(!QFile::exists(folder + "index.htm"));
        QVERIFY(QFile::exists(folder + "index.html"));
    }

    void texts_data() {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("nextText");
        QTest::newRow("English") << int(Language::English) << "Preview"
                                 << "Next";
        QTest::newRow("Japanese") << int(Language::Japanese) << QString::fromUtf8("プレビュー")
                                  << QString::fromUtf8("次へ");
    }

    void texts() {
        QFETCH(int, language);
        QFETCH(QString, title);
        QFETCH(QString, nextText);
        setLanguage(Language(language));
        test::TestEnv env;
        d_Preview window(makePreview(env.makeFolder("p"), 1), QFont());
        QCOMPARE(window.windowTitle(), title);
        QCOMPARE(window.findChild<QPushButton*>("next")->text(), nextText);
        QCOMPARE(window.findChild<QTabWidget*>("tabs")->tabText(0),
                 str(ids::kPreviewTextTab, Language(language)));
    }
};

QTEST_MAIN(TestPreviewWindow)
#include "test_preview_window.moc"
