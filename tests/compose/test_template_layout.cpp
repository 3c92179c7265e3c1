// The shipped templates as mail clients show them: at 1024 and at 360 pixels wide nothing
// needs scrolling sideways; every tag that needs closing is closed; every block kind is used.

#include <QSignalSpy>
#include <QWebEngineScript>
#include <QtTest>

#include "TestEnv.h"
#include "compose/TemplateLibrary.h"
#include "compose/TemplateMarkup.h"
#include "compose/gui/CWebBrowser.h"

using namespace pw;

namespace {

// Python's own HTML parser: every element that is not void must be closed in order.
const char* kBalance =
    "\n"
    "import sys\n"
    "from html.parser import HTMLParser\n"
    "VOID = "
    "{\"area\",\"base\",\"br\",\"col\",\"embed\",\"hr\",\"img\",\"input\",\"link\",\"meta\","
    "\"source\",\"track\",\"wbr\"}\n"
    "class P(HTMLParser):\n"
    "    def __init__(self):\n"
    "        super().__init__()\n"
    "        self.stack = []\n"
    "        self.faults = []\n"
    "    def handle_starttag(self, tag, attrs):\n"
    "        if tag not in VOID:\n"
    "            self.stack.append((tag, self.getpos()))\n"
    "    def handle_endtag(self, tag):\n"
    "        if tag in VOID:\n"
    "            return\n"
    "        if not self.stack or self.stack[-1][0] != tag:\n"
    "            self.faults.append(\"unexpected </%s> at %s\" % (tag, self.getpos()))\n"
    "            return\n"
    "        self.stack.pop()\n"
    "p = P()\n"
    "p.feed(open(sys.argv[1], encoding=\"utf-8\").read())\n"
    "p.close()\n"
    "p.faults += [\"unclosed <%s> from %s\" % (t, pos) for t, pos in p.stack]\n"
    "print(\"\\n\".join(p.faults))\n"
    "sys.exit(1 if p.faults else 0)\n"
    "\n";

QStringList shippedTemplates() {
    QStringList names;
    for (const LibraryNode& n : scanLibrary(QStringLiteral(POSTWICK_TEMPLATES)).children) {
        if (n.isTemplate) {
            names << n.name;
        }
    }
    return names;
}

}  // namespace

class TestTemplateLayout : public QObject {
    Q_OBJECT

private slots:
    void fitsAndIsWellFormed_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("width");
        for (const QString& n : shippedTemplates()) {
            for (int w : {1024, 360}) {
                QTest::newRow(qPrintable(n + QStringLiteral(" at %1").arg(w))) << n << w;
            }
        }
    }

    void fitsAndIsWellFormed() {
        QFETCH(QString, name);
        QFETCH(int, width);
        const QString index = QStringLiteral(POSTWICK_TEMPLATES) + name + "/index.html";
        CWebBrowser view;
        view.resize(width, 700);
        view.show();
        QSignalSpy loaded(&view, &QWebEngineView::loadFinished);
        view.navigate(index);
        QVERIFY(loaded.wait(20000));
        QVERIFY(loaded.first().first().toBool());
        // measured in the page, where the load has ended with every picture in (the view
        // learns the size later); the page's own scripts stay off
        QVariantList size;
        view.page()->runJavaScript(
            "const e = document.scrollingElement; [e.scrollWidth, e.scrollHeight, "
            "Array.from(document.images).every(i => i.complete)]",
            QWebEngineScript::ApplicationWorld, [&](const QVariant& v) { size = v.toList(); });
        QTRY_COMPARE_WITH_TIMEOUT(size.size(), 3, 10000);
        QVERIFY(size[2].toBool());
        QVERIFY(size[1].toInt() > 300);
        QVERIFY2(size[0].toInt() <= width,
                 qPrintable(QStringLiteral("%1 pixels wide").arg(size[0].toInt())));

        if (width == 360) {
            const test::ProcessResult r = test::runPython(QString::fromUtf8(kBalance), {index});
            QVERIFY2(r.exitCode == 0, r.out.constData());
            const QList<TagProp> pages = scanTemplate(readHtmlFile(index).text);
            QSet<int> kinds;
            for (const TagProp& t : pages) {
                kinds << int(t.kind);
            }
            QCOMPARE(kinds.size(), 4);
        }
    }
};

QTEST_MAIN(TestTemplateLayout)
#include "test_template_layout.moc"
