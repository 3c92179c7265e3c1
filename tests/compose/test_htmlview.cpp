// The HTML view of mail content: files shown as they are now, no scripts, and links that
// leave for the desktop's browser instead of moving the view.

#include <QSignalSpy>
#include <QtTest>

#include "TestEnv.h"
#include "compose/gui/CWebBrowser.h"

using namespace pw;

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

bool showAndWait(CWebBrowser& view, const QString& target) {
    QSignalSpy loaded(&view, &QWebEngineView::loadFinished);
    view.navigate(target);
    return loaded.wait(20000) && loaded.first().first().toBool();
}

QString pageHtml(CWebBrowser& view) {
    QString html;
    bool done = false;
    view.page()->toHtml([&](const QString& h) {
        html = h;
        done = true;
    });
    (void)QTest::qWaitFor([&] { return done; }, 10000);
    return html;
}

// a link covering the whole page, so a click anywhere follows it
QByteArray pageWithLink(const QByteArray& href, const QByteArray& target) {
    return "<html><body style='margin:0'><a href='" + href + "' target='" + target +
           "' style='display:block;width:100%;height:400px'>x</a></body></html>";
}

}  // namespace

class TestHtmlView : public QObject {
    Q_OBJECT

private slots:
    void rewrittenFileShowsNewContentAndBlankIsEmpty() {
        test::TestEnv env;
        const QString file = env.root() + "Temp.html";
        CWebBrowser view;
        view.resize(400, 300);
        view.show();
        writeFile(file, "<html><head><title>one</title></head><body>first</body></html>");
        QVERIFY(showAndWait(view, file));
        QCOMPARE(view.title(), QStringLiteral("one"));
        writeFile(file, "<html><head><title>two</title></head><body>second</body></html>");
        QVERIFY(showAndWait(view, file));
        QCOMPARE(view.title(), QStringLiteral("two"));
        QVERIFY(pageHtml(view).contains("second"));

        // a file without a declared charset is the program's own UTF-8
        writeFile(file, "<html><head><title>\xE6\x97\xA5\xE6\x9C\xAC</title></head></html>");
        QVERIFY(showAndWait(view, file));
        QCOMPARE(view.title(), QString::fromUtf8("\xE6\x97\xA5\xE6\x9C\xAC"));

        QVERIFY(showAndWait(view, "about:blank"));
        QCOMPARE(view.url(), QUrl("about:blank"));
        QVERIFY(!pageHtml(view).contains("second"));
    }

    void scriptsDoNotRun() {
        test::TestEnv env;
        const QString file = env.root() + "index.html";
        writeFile(file,
                  "<html><head><title>before</title></head><body>"
                  "<script>document.title='ran';</script></body></html>");
        CWebBrowser view;
        view.show();
        QVERIFY(showAndWait(view, file));
        // a script in the page would have run before the load finished
        QVERIFY(pageHtml(view).contains("<title>before</title>"));
        QCOMPARE(view.title(), QStringLiteral("before"));
    }

    void clickedLinksGoToTheLauncher_data() {
        QTest::addColumn<QByteArray>("href");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QString>("launched");
        QTest::newRow("web link") << QByteArray("https://example.org/a") << QByteArray("_self")
                                  << "https://example.org/a";
        QTest::newRow("new window link")
            << QByteArray("http://example.org/b") << QByteArray("_blank") << "http://example.org/b";
        QTest::newRow("mail address") << QByteArray("mailto:shop@example.org")
                                      << QByteArray("_self") << "mailto:shop@example.org";
        QTest::newRow("local file is not opened")
            << QByteArray("other.html") << QByteArray("_self") << QString();
    }

    void clickedLinksGoToTheLauncher() {
        QFETCH(QByteArray, href);
        QFETCH(QByteArray, target);
        QFETCH(QString, launched);
        test::TestEnv env;
        const QString file = env.root() + "index.html";
        writeFile(file, pageWithLink(href, target));
        writeFile(env.root() + "other.html", "<html><body>other</body></html>");
        QList<QUrl> opened;
        CWebBrowser view;
        view.setLinkLauncher([&](const QUrl& url) { opened << url; });
        view.resize(400, 400);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QVERIFY(showAndWait(view, file));
        // the render widget appears with the first paint
        QTRY_VERIFY_WITH_TIMEOUT(view.focusProxy() != nullptr, 10000);
        QWidget* surface = view.focusProxy();
        QSignalSpy refused(&view, &CWebBrowser::navigationRefused);
        QTest::mouseClick(surface, Qt::LeftButton, {}, QPoint(50, 50));
        // the launcher has been called, or not, once the view refused to follow the link
        QTRY_VERIFY_WITH_TIMEOUT(!refused.isEmpty(), 10000);
        if (launched.isEmpty()) {
            QVERIFY(opened.isEmpty());
        } else {
            QCOMPARE(opened.size(), 1);
            QCOMPARE(opened.first(), QUrl(launched));
        }
        QCOMPARE(view.url(), QUrl::fromLocalFile(file));
    }

    void refreshDoesNotCarryTheViewAway() {
        test::TestEnv env;
        const QString file = env.root() + "index.html";
        writeFile(file,
                  "<html><head><meta http-equiv='refresh' content='0; url=http://127.0.0.1:9/'>"
                  "</head><body>mail</body></html>");
        int launches = 0;
        CWebBrowser view;
        view.setLinkLauncher([&](const QUrl&) { ++launches; });
        view.show();
        QSignalSpy refused(&view, &CWebBrowser::navigationRefused);
        QVERIFY(showAndWait(view, file));
        QTRY_VERIFY_WITH_TIMEOUT(!refused.isEmpty(), 10000);
        QCOMPARE(refused.first().first().toUrl(), QUrl("http://127.0.0.1:9/"));
        QCOMPARE(view.url(), QUrl::fromLocalFile(file));
        QCOMPARE(launches, 0);
    }
};

QTEST_MAIN(TestHtmlView)
#include "test_htmlview.moc"
