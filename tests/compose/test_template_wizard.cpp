// A wizard run over each shipped template: one text, one picture, one background and one
// colour changed, finished into the main preview folder, and the mail made from it read
// back by Python's email package.

#include <QImage>
#include <QJsonArray>
#include <QRegularExpression>
#include <QtTest>

#include "TestEnv.h"
#include "compose/MailDocument.h"
#include "compose/MailFile.h"
#include "compose/TemplateLibrary.h"
#include "compose/TemplateWizard.h"
#include "send/MessageAssembly.h"
#include "test_mime_python.h"

using namespace pw;

namespace {

QStringList shippedTemplates() {
    QStringList names;
    const LibraryNode root = scanLibrary(QStringLiteral(POSTWICK_TEMPLATES));
    for (const LibraryNode& n : root.children) {
        if (n.isTemplate) {
            names << n.name;
        }
    }
    return names;
}

// every picture reference of a document: src and background values that are no web address
QSet<QString> referencedPictures(const QString& html) {
    QSet<QString> out;
    static const QRegularExpression ref(QStringLiteral("(?:src|background)=\"([^\"]*)\""),
                                        QRegularExpression::CaseInsensitiveOption);
    for (auto it = ref.globalMatch(html); it.hasNext();) {
        const QString v = it.next().captured(1);
        if (!v.isEmpty() && !v.contains(QLatin1StringView("http:"))) {
            out << v;
        }
    }
    return out;
}

int firstPage(const CTemplateWizard& w, TagKind kind) {
    for (int k = 0; k < w.pageCount(); ++k) {
        if (w.document().pages().at(k).kind == kind) {
            return k;
        }
    }
    return -1;
}

void goTo(CTemplateWizard& w, int page) {
    while (w.currentPage() < page) {
        w.next();
    }
    while (w.currentPage() > page) {
        w.back();
    }
}

}  // namespace

class TestTemplateWizard : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(shippedTemplates().size() >= 12); }

    void editAndFinish_data() {
        QTest::addColumn<QString>("name");
        for (const QString& n : shippedTemplates()) {
            QTest::newRow(qPrintable(n)) << n;
        }
    }

    void editAndFinish() {
        QFETCH(QString, name);
        test::TestEnv env;
        const QString wizardFolder = env.makeFolder("PostwickWizardPreview");
        const QString mainFolder = env.makeFolder("PostwickMainPreview");
        const QString library = QStringLiteral(POSTWICK_TEMPLATES);
        const QStringList pictures =
            prepareWizardFolder(library + name + u'/', name, QString(), mainFolder, wizardFolder);
        QVERIFY(pictures.contains("index.html"));

        CTemplateWizard w({wizardFolder, mainFolder, library + name + u'/', name, pictures,
                           TextDefaults{QStringLiteral("Sans"), 10}});
        w.open();
        // every page has its picture beside it; the pictures stay out of the mail's files
        QVERIFY(!pictures.contains("preview"));
        for (int k = 0; k < w.pageCount(); ++k) {
            goTo(w, k);
            QVERIFY2(!QImage(w.pagePreviewPicture()).isNull(), qPrintable(QString::number(k)));
        }
        goTo(w, 0);
        const int text = firstPage(w, TagKind::String);
        const int image = firstPage(w, TagKind::Image);
        const int back = firstPage(w, TagKind::Back);
        const int color = firstPage(w, TagKind::BgColor);
        QVERIFY(text >= 0 && image >= 0 && back >= 0 && color >= 0);

        const QString changed = QString::fromUtf8("Changed \xE6\x96\x87\xE5\xAD\x97 [[Name]]");
        goTo(w, text);
        StyledText styled;
        styled.text = changed;
        styled.formats.assign(size_t(changed.size()), w.defaults().plain());
        w.setStyledText(styled);

        goTo(w, image);
        const QString oldImage = w.oldValue();
        QImage picture(260, 195, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        const QString edited = wizardFolder + "20260101120000.jpg";
        QVERIFY(picture.save(edited, "JPEG"));
        w.takeEditedPicture(edited);
        QCOMPARE(w.newValue(), QStringLiteral("20260101120000.jpg"));

        goTo(w, back);
        const QString tile = env.makeFolder("mine") + "tile.png";
        QVERIFY(picture.scaled(16, 16).save(tile, "PNG"));
        QVERIFY(w.chooseBackgroundFile(tile));
        QCOMPARE(w.oldValue(), QStringLiteral("tile.png"));

        goTo(w, color);
        w.setCurrentColor(qRgb(0x12, 0x34, 0x56));
        w.applyPage();
        QCOMPARE(w.document().value(color), QStringLiteral("#123456"));

        goTo(w, w.pageCount() - 1);
        QVERIFY(w.controls().last);
        QVERIFY(w.finish());

        // the main preview folder: the edited document and exactly the pictures it refers to
        QVERIFY(filesInFolder(wizardFolder).isEmpty());
        const QString html = readHtmlFile(mainFolder + "index.html").text;
        QVERIFY(html.contains(changed));
        QVERIFY(html.contains("\"20260101120000.jpg\""));
        QCOMPARE(QFile::exists(mainFolder + oldImage), referencedPictures(html).contains(oldImage));
        QVERIFY(html.contains("background=\"tile.png\""));
        QVERIFY(html.contains("bgcolor=\"#123456\""));
        const QStringList inMain = filesInFolder(mainFolder);
        QSet<QString> files(inMain.cbegin(), inMain.cend());
        files.remove("index.html");
        QCOMPARE(files, referencedPictures(html));
        for (const QString& p : w.pictureList()) {
            QVERIFY2(QFile::exists(mainFolder + p), qPrintable(p));
        }

        // the mail made from it
        send::MailJob job;
        job.senderAddress = "shop@example.org";
        job.subject = "Test";
        job.recipientText = "taro@example.jp";
        job.bodyText = "Plain text";
        job.htmlFileName = name;
        job.htmlFiles = w.pictureList();
        job.mainPreviewFolder = mainFolder;
        job.charsetOverride = "utf-8";
        job.captions[1] = "Name";
        job.messageIdDomain = "mail.example.org";
        send::FieldTexts values;
        values[1] = QString::fromUtf8("\xE5\xB1\xB1\xE7\x94\xB0");
        const send::BuiltMessage built = send::buildMessage(
            job, {"", "shop@example.org", "taro@example.jp", "Test", "Text"}, &values);
        QVERIFY2(built.error.isEmpty(), qPrintable(built.error));
        const auto d = test::describeMime(built.message->header() + "\r\n" + built.message->body());
        QVERIFY2(d.error.isEmpty(), qPrintable(d.error));
        QString sentHtml;
        QSet<QString> cids;
        for (const QJsonObject& node : test::flattenMime(d.tree)) {
            if (node.value("type").toString() == "text/html") {
                sentHtml = node.value("text").toString();
            }
            const QString cid = node.value("cid").toString();
            if (!cid.isEmpty()) {
                cids << cid.mid(1, cid.size() - 2);
            }
        }
        QVERIFY(sentHtml.contains(
            QString::fromUtf8("Changed \xE6\x96\x87\xE5\xAD\x97 \xE5\xB1\xB1\xE7\x94\xB0")));
        static const QRegularExpression cidRef(QStringLiteral("\"cid:([^\"]*)\""));
        int references = 0;
        for (auto it = cidRef.globalMatch(sentHtml); it.hasNext(); ++references) {
            const QString ref = it.next().captured(1);
            QVERIFY2(cids.contains(ref), qPrintable(ref));
        }
        QVERIFY(references >= 2);
    }

    void unusedOldPictureGoesButASharedOneStays() {
        test::TestEnv env;
        const QString wizard = env.makeFolder("w");
        const QString main = env.makeFolder("m");
        const auto write = [](const QString& path, const QByteArray& bytes) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        };
        write(wizard + "index.html",
              "<!image=\"a\"><img src=\"one.png\"><!image-end><!image=\"b\"><img "
              "src=\"two.png\"><!image-end><img src=\"two.png\">");
        write(wizard + "one.png", "1");
        write(wizard + "two.png", "2");
        CTemplateWizard w({wizard, main, {}, "t", filesInFolder(wizard), {"Sans", 10}});
        w.open();
        w.setUrl("http://example.org/x.png");  // page 0: one.png is no longer used
        QVERIFY(!QFile::exists(wizard + "one.png"));
        QVERIFY(!w.pictureList().contains("one.png"));
        QVERIFY(w.pictureList().contains("http://example.org/x.png"));
        w.next();
        w.setUrl(QString());  // page 1: two.png is still used outside the block
        QVERIFY(QFile::exists(wizard + "two.png"));
        QVERIFY(w.document().text().contains("<img src=\"\">"));
    }

    void sameBackgroundFileAgainIsKept() {
        test::TestEnv env;
        const QString wizard = env.makeFolder("w");
        QFile f(wizard + "index.html");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("<!back=\"b\"><td background=\"bg.png\"><!back-end>");
        f.close();
        QFile g(wizard + "bg.png");
        QVERIFY(g.open(QIODevice::WriteOnly));
        g.write("picture");
        g.close();
        CTemplateWizard w({wizard, env.makeFolder("m"), {}, "t", filesInFolder(wizard), {}});
        w.open();
        QVERIFY(w.chooseBackgroundFile(wizard + "bg.png"));
        QFile again(wizard + "bg.png");
        QVERIFY(again.open(QIODevice::ReadOnly));
        QCOMPARE(again.readAll(), QByteArray("picture"));
        QCOMPARE(w.pictureList().count("bg.png"), 1);
    }

    void shippedDataIsFoundInBothTrees() {
        test::TestEnv env;
        const QString build = env.makeFolder("build/bin");
        QCOMPARE(shippedDataFolder(build, "HTML TEMPLATE"), build + "HTML TEMPLATE/");
        QVERIFY(QDir().mkpath(env.root() + "usr/share/postwick/HTML TEMPLATE"));
        const QString bin = env.makeFolder("usr/bin");
        QCOMPARE(shippedDataFolder(bin, "HTML TEMPLATE"),
                 env.root() + "usr/share/postwick/HTML TEMPLATE/");
        QVERIFY(QDir().mkpath(build + "HTML TEMPLATE"));
        QCOMPARE(shippedDataFolder(build, "HTML TEMPLATE"), build + "HTML TEMPLATE/");
    }

    void shippedMailTemplatesRead_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("codePage");
        QTest::addColumn<QString>("subject");
        QTest::newRow("English") << "Order Confirmation.pzt" << QByteArray("UTF-8")
                                 << "Your order at our shop";
        QTest::newRow("English in a Japanese charset")
            << "Thank You.pzt" << QByteArray("iso-2022-jp") << "Thank you, [[Name]]";
        QTest::newRow("Japanese") << QString::fromUtf8("ご注文確認.pzt")
                                  << QByteArray("iso-2022-jp")
                                  << QString::fromUtf8("ご注文ありがとうございます");
    }

    void shippedMailTemplatesRead() {
        QFETCH(QString, file);
        QFETCH(QByteArray, codePage);
        QFETCH(QString, subject);
        test::TestEnv env;
        MailFileReadOptions options;
        options.previewFolder = env.makeFolder("preview");
        options.currentCodePage = *CodePage::fromName(codePage);
        const MailFileReadResult r = readMailFile(
            QStringLiteral(POSTWICK_SOURCE_DIR "/data/Template/") + file, options, nullptr);
        QVERIFY2(r.ok(), qPrintable(r.failure));
        QCOMPARE(r.contents->kind, MailFileKind::Template);
        QCOMPARE(r.contents->document.subject, subject);
        QVERIFY(r.contents->document.textBody.contains("[["));
    }

    void encodingsOfIndexHtml_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("charset");
        const QString jp = QString::fromUtf8("\xE6\x97\xA5\xE6\x9C\xAC");
        QTest::newRow("utf-8") << jp.toUtf8() << jp << QByteArray("UTF-8");
        QTest::newRow("utf-8 with bom")
            << QByteArray("\xEF\xBB\xBF") + jp.toUtf8() << jp << QByteArray("UTF-8");
        QTest::newRow("shift_jis declared")
            << QByteArray("<meta charset=\"shift_jis\"><p>\x93\xFA\x96\x7B</p>")
            << QString("<p>") + jp + "</p>" << QByteArray("Shift_JIS");
        QTest::newRow("shift_jis undeclared")
            << QByteArray("\x93\xFA\x96\x7B") << jp << QByteArray("Shift_JIS");
        QTest::newRow("ascii declared legacy loses the declaration")
            << QByteArray(
                   "<meta http-equiv=\"Content-Type\" content=\"text/html; "
                   "charset=iso-8859-1\">x")
            << QString("x") << QByteArray("UTF-8");
        QTest::newRow("ends at a NUL")
            << QByteArray("ab\0cd", 5) << QString("ab") << QByteArray("UTF-8");
    }

    void encodingsOfIndexHtml() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QFETCH(QByteArray, charset);
        const HtmlText h = decodeHtml(bytes);
        QCOMPARE(h.text, text);
        QCOMPARE(h.sourceCharset.toLower(), charset.toLower());
    }
};

QTEST_GUILESS_MAIN(TestTemplateWizard)
#include "test_template_wizard.moc"
