// The tool dialogs on real widgets, and under Japanese the Japanese texts of the wizard, the
// template tools and the text tools.

#include <QCheckBox>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "ScriptedUserInteraction.h"
#include "TestEnv.h"
#include "WidgetTestSupport.h"
#include "compose/TemplatePlaces.h"
#include "compose/TemplateWizard.h"
#include "compose/gui/TextToolDialogs.h"
#include "compose/gui/d_FormEdit.h"
#include "compose/gui/d_GraphicEdit.h"
#include "compose/gui/d_HTMLTempSelect.h"
#include "compose/gui/d_TextStyle.h"
#include "compose/gui/d_UrlSetting.h"
#include "resources/Strings.h"

using namespace pw;

using pw::test::whenModal;

namespace {

void touch(const QString& path) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
}

// Every path below a folder with its mode and bytes: shipped data must come out as it went in.
QStringList snapshot(const QString& folder) {
    QStringList out;
    for (QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                         QDirIterator::Subdirectories);
         it.hasNext();) {
        const QFileInfo info(it.next());
        out << QStringLiteral("%1 %2 %3")
                   .arg(info.filePath())
                   .arg(int(info.permissions()))
                   .arg(QString::fromLatin1(test::readFile(info.filePath()).toHex()));
    }
    out.sort();
    return out;
}

// A mail template file, or an HTML template folder.
void addTemplate(const QString& kind, const QString& folder, const QString& name) {
    if (kind == QLatin1String("mail")) {
        QVERIFY(test::writeFile(folder + name + ".pzt", name.toUtf8()));
    } else {
        QVERIFY(QDir().mkpath(folder + name));
        QVERIFY(test::writeFile(folder + name + "/index.html", name.toUtf8()));
    }
}

QStringList listed(const QString& kind, const TemplatePlaces& places) {
    if (kind == QLatin1String("mail")) {
        return mailTemplateNames(places);
    }
    QStringList names;
    for (const LibraryNode& n : scanLibraries(places).children) {
        names << n.name;
    }
    return names;
}

}  // namespace

class TestToolDialogs : public QObject {
    Q_OBJECT

private slots:
    void init() { setLanguage(Language::English); }
    void cleanup() { setLanguage(Language::English); }

    void countShowsCharactersAndBytes() {
        d_CountCharacters d({3, 6});
        QCOMPARE(d.findChild<QLabel*>("characters")->text(), QStringLiteral("3 Characters"));
        QCOMPARE(d.findChild<QLabel*>("bytes")->text(), QStringLiteral("6 Bytes"));
    }

    void autoWrapKeepsOpenOnABadLength() {
        test::ScriptedUserInteraction ui;
        AutoWrapState state;
        d_AutoWrap d(state, ui);
        d.show();
        QCOMPARE(d.findChild<QLineEdit*>("length")->text(), QStringLiteral("0"));
        d.findChild<QCheckBox*>("on")->setChecked(true);
        d.findChild<QLineEdit*>("length")->setText("1");
        d.accept();
        QVERIFY(d.isVisible());
        QCOMPARE(ui.askedTexts(), QStringList{str(ids::kAutoWrapInvalid)});
        QVERIFY(!state.on());
        d.findChild<QLineEdit*>("length")->setText("76");
        d.accept();
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QVERIFY(state.on());
        d_AutoWrap again(state, ui);
        QCOMPARE(again.findChild<QLineEdit*>("length")->text(), QStringLiteral("76"));
        QVERIFY(again.findChild<QCheckBox*>("on")->isChecked());
    }

    void autoLineInsertsAtTheSelectionAndRemembers() {
        QPlainTextEdit editor;
        editor.setPlainText("hello world");
        QTextCursor c = editor.textCursor();
        c.setPosition(6);
        c.setPosition(11, QTextCursor::KeepAnchor);
        editor.setTextCursor(c);
        AutoLineMemory memory;
        whenModal<d_AutoLine>([](d_AutoLine* d) {
            d->findChild<QLineEdit*>("lineText")->setText("=-");
            d->findChild<QLineEdit*>("length")->setText("5");
            d->accept();
        });
        QVERIFY(runAutoLine(editor, memory, nullptr));
        QCOMPARE(editor.toPlainText(), QStringLiteral("hello =-=-=world"));
        QCOMPARE(editor.textCursor().selectedText(), QStringLiteral("world"));
        QCOMPARE(memory.lineText, QStringLiteral("=-"));
        d_AutoLine next(memory);
        QCOMPARE(next.findChild<QLineEdit*>("length")->text(), QStringLiteral("5"));
    }

    void autoFrameFramesTheSelectedLines() {
        QPlainTextEdit editor;
        editor.setPlainText("ab\nabcd");
        QTextCursor c = editor.textCursor();
        c.select(QTextCursor::Document);
        editor.setTextCursor(c);
        QString memory = "*";
        whenModal<d_AutoFrame>([](d_AutoFrame* d) { d->accept(); });
        QVERIFY(runAutoFrame(editor, memory, nullptr));
        QCOMPARE(editor.toPlainText(), QStringLiteral("******\n*ab  *\n*abcd*\n******"));
        QCOMPARE(memory, QStringLiteral("*"));
    }

    void selectTemplateDeletesAndKeepsThePosition() {
        test::TestEnv env;
        test::ScriptedUserInteraction ui;
        const QString folder = env.makeFolder("Template");
        touch(folder + "a.pzt");
        touch(folder + "b.pzt");
        touch(folder + "c.pzt");
        touch(folder + "notes.txt");
        SelTemp d({folder, {}}, ui);
        auto* list = d.findChild<QListWidget*>("templates");
        auto* del = d.findChild<QPushButton*>("deleteTemplate");
        QCOMPARE(list->count(), 3);
        QVERIFY(!del->isEnabled());
        list->setCurrentRow(1);
        QVERIFY(del->isEnabled());
        ui.script({Answer::No});
        del->click();
        QCOMPARE(list->count(), 3);
        ui.script({Answer::Yes});
        del->click();
        QVERIFY(!QFile::exists(folder + "b.pzt"));
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->currentRow(), 1);
        QCOMPARE(ui.asked().last().caption, str(ids::kDeleteTemplateCaption));
        d.accept();
        QCOMPARE(d.templateName(), QStringLiteral("c"));
    }

    void ownAndShippedTemplates_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("own");
        QTest::addColumn<QStringList>("shipped");
        QTest::addColumn<QString>("remove");
        QTest::addColumn<bool>("ownBlocked");
        QTest::addColumn<QStringList>("listedAfter");
        QTest::addColumn<QStringList>("ownAfter");
        for (const QString kind : {"mail", "html"}) {
            const QByteArray k = kind.toLatin1() + ": ";
            QTest::newRow(k + "the user's first, each sorted")
                << kind << QStringList{"b", "a"} << QStringList{"d", "c"} << QString() << false
                << QStringList{"a", "b", "c", "d"} << QStringList{"a", "b"};
            QTest::newRow(k + "the user's hides a shipped one of its name")
                << kind << QStringList{"x"} << QStringList{"y", "x"} << QString() << false
                << QStringList{"x", "y"} << QStringList{"x"};
            QTest::newRow(k + "a deleted shipped one is hidden, its file stays")
                << kind << QStringList{} << QStringList{"x", "y"} << "x" << false
                << QStringList{"y"} << QStringList{};
            QTest::newRow(k + "deleting the user's removes its file")
                << kind << QStringList{"a"} << QStringList{"y"} << "a" << false << QStringList{"y"}
                << QStringList{};
            QTest::newRow(k + "deleting the user's does not bring the shipped one back")
                << kind << QStringList{"x"} << QStringList{"x", "y"} << "x" << false
                << QStringList{"y"} << QStringList{};
            QTest::newRow(k + "no place for the user's list: nothing changes")
                << kind << QStringList{} << QStringList{"x", "y"} << "x" << true
                << QStringList{"x", "y"} << QStringList{};
        }
    }

    void ownAndShippedTemplates() {
        QFETCH(QString, kind);
        QFETCH(QStringList, own);
        QFETCH(QStringList, shipped);
        QFETCH(QString, remove);
        QFETCH(bool, ownBlocked);
        QFETCH(QStringList, listedAfter);
        QFETCH(QStringList, ownAfter);
        test::TestEnv env;
        TemplatePlaces places{env.makeFolder("user/Template"), env.makeFolder("share/Template")};
        for (const QString& n : own) {
            addTemplate(kind, places.own, n);
        }
        for (const QString& n : shipped) {
            addTemplate(kind, places.shipped, n);
        }
        if (ownBlocked) {
            // a file where the user's folder should be: even root cannot make it
            QVERIFY(QDir(places.own).removeRecursively());
            QVERIFY(test::writeFile(env.root() + "user/Template", "in the way"));
        }
        const QStringList before = snapshot(places.shipped);
        if (!remove.isEmpty()) {
            TemplateRemoval r = TemplateRemoval::Failed;
            if (kind == QLatin1String("mail")) {
                r = removeMailTemplate(places, remove);
            } else {
                const LibraryNode library = scanLibraries(places);
                const LibraryNode* node = findTemplate(library, remove);
                QVERIFY(node);
                r = removeHtmlTemplate(places, *node);
            }
            QCOMPARE(r, ownBlocked ? TemplateRemoval::Failed : TemplateRemoval::Removed);
        }
        QCOMPARE(listed(kind, places), listedAfter);
        QCOMPARE(snapshot(places.shipped), before);
        QStringList ownLeft = listed(kind, {places.own, {}});
        ownLeft.sort();
        QCOMPARE(ownLeft, ownAfter);
        if (kind == QLatin1String("mail") && !listedAfter.isEmpty()) {
            // the listed name opens the user's file where there is one
            const QString first = listedAfter.first();
            QCOMPARE(mailTemplatePath(places, first),
                     (own.contains(first) ? places.own : places.shipped) + first + ".pzt");
        }
    }

    void textStyleHandsBackTheChoice() {
        TextStyle in;
        in.face = "no such font at all";
        in.sizeStep = 5;
        in.bold = true;
        d_TextStyle d(in, d_TextStyle::Mode::Text);
        const TextStyle out = d.style();
        QCOMPARE(out.face, QString());  // "None" stands for an unknown face
        QCOMPARE(out.sizeStep, 5);
        QVERIFY(out.bold && !out.italic);
        d_TextStyle colorOnly(in, d_TextStyle::Mode::ColorOnly);
        QVERIFY(!colorOnly.findChild<QWidget*>("font")->isEnabled());
        QVERIFY(colorOnly.findChild<QWidget*>("color")->isEnabled());
    }

    void texts_data() {
        QTest::addColumn<int>("language");
        QTest::newRow("English") << int(Language::English);
        QTest::newRow("Japanese") << int(Language::Japanese);
    }

    void texts() {
        QFETCH(int, language);
        const Language lang = Language(language);
        setLanguage(lang);
        test::TestEnv env;
        test::ScriptedUserInteraction ui;
        const QString wizardFolder = env.makeFolder("w");
        QFile index(wizardFolder + "index.html");
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write("<!string=\"p\">x<!string-end><!string=\"q\">y<!string-end>");
        index.close();
        CTemplateWizard wizard({wizardFolder, env.makeFolder("m"), {}, "t", {}, {"Sans", 10}});
        wizard.open();
        d_FormEdit form(wizard, ui);
        QCOMPARE(form.windowTitle(), str(ids::kWizardTitle, lang));
        QCOMPARE(form.findChild<QPushButton*>("next")->text(), str(ids::kWizardNextPage, lang));
        QCOMPARE(form.findChild<QPushButton*>("select")->text(), str(ids::kWizardSelect, lang));
        d_HTMLTempSelect chooser({env.makeFolder("lib"), env.root(), wizardFolder, {}}, {}, ui);
        QCOMPARE(chooser.windowTitle(), str(ids::kChooserTitle, lang));
        d_GraphicEdit graphic(QString(), {260, 195}, wizardFolder, ui);
        QCOMPARE(graphic.windowTitle(), str(ids::kGraphicEditTitle, lang));
        QCOMPARE(graphic.findChild<QLabel*>("paneHint")->text(), str(ids::kGraphicHint, lang));
        d_TextStyle style({}, d_TextStyle::Mode::Text);
        QCOMPARE(style.windowTitle(), str(ids::kTextStyleTitle, lang));
        d_UrlSetting url("x");
        QCOMPARE(url.findChild<QLabel*>("urlLabel")->text(), str(ids::kUrlSettingLabel, lang));
        d_CountCharacters count({0, 0});
        QCOMPARE(count.findChild<QLabel*>("label")->text(), str(ids::kCountLabel, lang));
        AutoWrapState state;
        d_AutoWrap wrap(state, ui);
        QCOMPARE(wrap.windowTitle(), str(ids::kAutoWrapTitle, lang));
        SelTemp sel({env.root(), {}}, ui);
        QCOMPARE(sel.windowTitle(), str(ids::kSelectTemplateTitle, lang));
        if (lang == Language::Japanese) {
            QVERIFY(form.windowTitle() != str(ids::kWizardTitle, Language::English));
            QCOMPARE(count.findChild<QLabel*>("label")->text(),
                     QString::fromUtf8("文字数 (改行を含む):"));
        }
    }
};

QTEST_MAIN(TestToolDialogs)
#include "test_tool_dialogs.moc"
