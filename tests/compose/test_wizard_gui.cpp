// The chooser and the wizard on real widgets: each shipped template chosen, one text typed,
// one picture through Graphic Edit, one background and one colour changed, finished. Also
// the picture editor's arithmetic and a picture that cannot be read.

#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include "ScriptedUserInteraction.h"
#include "TestEnv.h"
#include "WidgetTestSupport.h"
#include "WizardSteps.h"
#include "compose/GraphicPlacement.h"
#include "compose/MailDocument.h"
#include "compose/TemplateLibrary.h"
#include "compose/TemplateWizard.h"
#include "compose/gui/ColorChooser.h"
#include "compose/gui/d_FormEdit.h"
#include "compose/gui/d_GraphicEdit.h"
#include "compose/gui/d_HTMLTempSelect.h"
#include "compose/gui/d_TextStyle.h"
#include "resources/Strings.h"

using namespace pw;

using pw::test::child;
using pw::test::whenModal;

namespace {

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

class TestWizardGui : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { setLanguage(Language::English); }

    void everyTemplateEndToEnd_data() {
        QTest::addColumn<QString>("name");
        for (const QString& n : shippedTemplates()) {
            QTest::newRow(qPrintable(n)) << n;
        }
    }

    void everyTemplateEndToEnd() {
        QFETCH(QString, name);
        test::TestEnv env;
        test::ScriptedUserInteraction ui;
        const QString wizardFolder = env.makeFolder("PostwickWizardPreview");
        const QString mainFolder = env.makeFolder("PostwickMainPreview");
        const QString library = QStringLiteral(POSTWICK_TEMPLATES);

        d_HTMLTempSelect chooser({library, mainFolder, wizardFolder, {}}, QString(), ui);
        chooser.show();
        auto* next = child<QPushButton>(&chooser, "next");
        QVERIFY(!next->isEnabled());
        QVERIFY(chooser.selectTemplate(name));
        QVERIFY(next->isEnabled());
        next->click();
        QCOMPARE(chooser.result(), int(QDialog::Accepted));
        QCOMPARE(chooser.templateName(), name);

        QImage source(400, 300, QImage::Format_RGB32);
        source.fill(Qt::magenta);
        const QString picture = env.makeFolder("pictures") + "photo.png";
        QVERIFY(source.save(picture));
        setColorChooser([](const QColor&, QWidget*) { return QColor(0x20, 0x40, 0x60); });

        CTemplateWizard wizard({wizardFolder, mainFolder, chooser.templateFolder(), name,
                                chooser.pictureList(), TextDefaults{"Sans", 10}});
        wizard.open();
        d_FormEdit form(wizard, ui);
        form.show();
        auto* nextPage = child<QPushButton>(&form, "next");
        QString editedName;
        const test::WizardSteps steps = test::stepThroughWizard(
            form, ui, [&](int) { return wizard.page()->kind; }, "Typed by the test", picture,
            [&](TagKind kind, bool changed) {
                if (changed && kind == TagKind::Image) {
                    editedName = wizard.newValue();
                    QVERIFY(editedName.endsWith(".jpg"));
                } else if (changed && kind == TagKind::Back) {
                    QCOMPARE(wizard.oldValue(), QStringLiteral("photo.png"));
                } else if (changed && kind == TagKind::BgColor) {
                    QCOMPARE(wizard.document().value(wizard.currentPage()),
                             QStringLiteral("#204060"));
                }
                const bool last = wizard.controls().last;
                QCOMPARE(nextPage->text(),
                         last ? QStringLiteral("Done") : QStringLiteral("Next>>"));
            });
        setColorChooser({});
        QVERIFY(steps.all());
        QCOMPARE(form.result(), int(QDialog::Accepted));

        const QString html = readHtmlFile(mainFolder + "index.html").text;
        QVERIFY(html.contains("Typed by the test"));
        QVERIFY(html.contains("\"" + editedName + "\""));
        QVERIFY(html.contains("background=\"photo.png\""));
        QVERIFY(html.contains("bgcolor=\"#204060\""));
        QVERIFY(QFile::exists(mainFolder + editedName));
        QVERIFY(filesInFolder(wizardFolder).isEmpty());
        for (const QString& p : wizard.pictureList()) {
            QVERIFY2(QFile::exists(mainFolder + p), qPrintable(p));
        }
        QVERIFY(ui.asked().isEmpty());
    }

    void unreadablePictureIsReportedAndTheWizardGoesOn_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("damaged png") << QByteArray("\x89PNG\r\n\x1a\nbroken") << "png";
        QTest::newRow("not a picture") << QByteArray("hello") << "jpg";
        // a valid header that claims 60000 x 60000 pixels
        QByteArray huge("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\xea\x60\0\0\xea\x60\x08\x02\0\0\0", 29);
        QTest::newRow("huge dimensions") << huge + QByteArray(4, '\0') << "png";
    }

    void unreadablePictureIsReportedAndTheWizardGoesOn() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, suffix);
        test::TestEnv env;
        test::ScriptedUserInteraction ui;
        const QString wizard = env.makeFolder("w");
        QFile index(wizard + "index.html");
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write("<!image=\"p\"><img src=\"a.jpg\"><!image-end>");
        index.close();
        const QString bad = env.makeFolder("in") + "bad." + suffix;
        QFile f(bad);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        CTemplateWizard w({wizard, env.makeFolder("m"), {}, "t", filesInFolder(wizard), {}});
        w.open();
        d_FormEdit form(w, ui);
        ui.scriptFiles({{bad}});
        form.show();
        child<QPushButton>(&form, "select")->click();
        QCOMPARE(ui.filesAsked().size(), 1);
        QCOMPARE(ui.filesAsked().first().mode, FileChoice::OpenFile);
        QCOMPARE(ui.filesAsked().first().preview, FilePreview::Picture);
        QCOMPARE(ui.asked().size(), 1);
        QVERIFY(ui.asked().first().text.contains(bad));
        QCOMPARE(w.newValue(), QStringLiteral("a.jpg"));
        QVERIFY(child<QPushButton>(&form, "next")->isEnabled());
    }

    void placementArithmetic() {
        GraphicPlacement p;
        p.setPictureSize({260, 195});
        QCOMPARE(p.target(), QRect(0, 1, 260, 195));
        for (int i = 0; i < 20; ++i) {
            p.magnify();
        }
        QCOMPARE(p.scale(), 300);
        for (int i = 0; i < 40; ++i) {
            p.shrink();
        }
        QCOMPARE(p.scale(), 30);
        p.drag({5, -3});
        QCOMPARE(p.offsetText(), QStringLiteral("5x-3"));
        p.revert();
        QCOMPARE(p.scaleText(), QStringLiteral("100%"));
        QCOMPARE(p.offset(), QPoint(0, 0));
    }

    void editedPicturesOfOneSecondKeepApart() {
        test::TestEnv env;
        const QString folder = env.makeFolder("w");
        const QDateTime t(QDate(2026, 12, 9), QTime(10, 0, 0));
        const QString first = editedPicturePath(folder, t);
        QCOMPARE(first, folder + "20261209100000.jpg");
        QFile f(first);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QCOMPARE(editedPicturePath(folder, t), folder + "20261209100000-2.jpg");
    }

    void graphicEditWritesTheFrame() {
        test::TestEnv env;
        test::ScriptedUserInteraction ui;
        QImage source(260, 195, QImage::Format_RGB32);
        source.fill(Qt::red);
        const QString path = env.root() + "red.png";
        QVERIFY(source.save(path));
        const QString folder = env.makeFolder("w");
        d_GraphicEdit d(path, source.size(), folder, ui);
        QCOMPARE(child<QLabel>(&d, "paneSize")->text(), QStringLiteral("260x195"));
        child<QPushButton>(&d, "shrink")->click();
        QCOMPARE(child<QLabel>(&d, "paneScale")->text(), QStringLiteral("90%"));
        d.accept();
        QVERIFY(d.writtenPath().startsWith(folder));
        const QImage written(d.writtenPath());
        QCOMPARE(written.size(), QSize(260, 195));
        // shrunk: white frame at the corner, red in the middle
        QVERIFY(qRed(written.pixel(1, 1)) > 200 && qGreen(written.pixel(1, 1)) > 200);
        QVERIFY(qRed(written.pixel(130, 98)) > 200 && qGreen(written.pixel(130, 98)) < 60);
    }
};

QTEST_MAIN(TestWizardGui)
#include "test_wizard_gui.moc"
