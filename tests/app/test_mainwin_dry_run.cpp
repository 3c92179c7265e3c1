// What the main window makes goes out as the window showed it: a project saved by the
// window's own Save, sent by "postwick --send <project> --dry-run <folder>" in a process of its
// own, and the written messages read back by Python's email package. The wizard's result of
// every shipped template, and a caption renamed in "Edit Field Names".

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>

#include "MainWindowFixture.h"
#include "WizardSteps.h"
#include "compose/TemplateLibrary.h"
#include "compose/TemplateMarkup.h"
#include "compose/gui/ColorChooser.h"
#include "compose/gui/d_HTMLTempSelect.h"
#include "resources/Strings.h"
#include "test_mime_python.h"
#include "test_send_world.h"

using namespace pw;
using pw::test::MainWindowFixture;

namespace {

const QString kLibrary = QStringLiteral(POSTWICK_SOURCE_DIR "/data/HTML TEMPLATE/");

QStringList shippedTemplates() {
    QStringList names;
    for (const LibraryNode& n : scanLibrary(kLibrary).children) {
        if (n.isTemplate)
            names << n.name;
    }
    return names;
}

// The saved project sent as a dry run by the program itself, in the fixture's folders (the
// test environment's variables reach the child); the messages written, in recipient order.
QStringList dryRun(MainWindowFixture& f, const QString& project) {
    const QString folder = f.env.root() + "dry run";
    QProcess p;
    p.start(QStringLiteral(POSTWICK_PROGRAM), {"--send", project, "--dry-run", folder});
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning("dry run: %s", p.readAllStandardError().constData());
        return {};
    }
    QStringList files = QDir(folder).entryList({"*.eml"}, QDir::Files, QDir::Name);
    for (QString& name : files)
        name = folder + '/' + name;
    return files;
}

QString saved(MainWindowFixture& f) {
    const QString project = f.env.root() + "mailing.pzy";
    return f.window->SaveProjectAs(project) ? project : QString();
}

}  // namespace

class TestMainWindowDryRun : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { setLanguage(Language::English); }

    void wizardResultGoesOutAsEdited_data() {
        QTest::addColumn<QString>("name");
        for (const QString& n : shippedTemplates())
            QTest::newRow(qPrintable(n)) << n;
    }
    void wizardResultGoesOutAsEdited() {
        QFETCH(QString, name);
        MainWindowFixture f(test::sendingSettings(1));
        QVERIFY(QFile::link(kLibrary, f.folders.programFolder + "HTML TEMPLATE"));
        QVERIFY(f.open());
        f.addRecipients(2);
        f.find<QLineEdit>("recipient")->setText("[[Mail Address]]");
        f.find<QLineEdit>("subject")->setText("Our news");

        QImage source(400, 300, QImage::Format_RGB32);
        source.fill(Qt::magenta);
        const QString picture = f.env.makeFolder("pictures") + "photo.png";
        QVERIFY(source.save(picture));
        setColorChooser([](const QColor&, QWidget*) { return QColor(0x20, 0x40, 0x60); });
        QList<TagKind> kinds;
        for (const TagProp& page : scanTemplate(readHtmlFile(kLibrary + name + "/index.html").text))
            kinds << page.kind;
        MainWindowFixture::whenModal("d_HTMLTempSelect", [&](QWidget* d) {
            auto* chooser = static_cast<d_HTMLTempSelect*>(d);
            if (chooser->selectTemplate(name))
                chooser->onNext();
        });
        test::WizardSteps steps;
        MainWindowFixture::whenModal("d_FormEdit", [&](QWidget* d) {
            steps = test::stepThroughWizard(
                *static_cast<d_FormEdit*>(d), f.ui, [&](int page) { return kinds.value(page); },
                "Changed for [[Name]]", picture);
        });
        f.command(app::cmd::kSelectHtmlTemplate)->trigger();
        setColorChooser({});
        QVERIFY(steps.all());
        const QString project = saved(f);
        QVERIFY(!project.isEmpty());

        const QStringList messages = dryRun(f, project);
        QCOMPARE(messages.size(), 2);
        for (int i = 0; i < messages.size(); ++i) {
            const auto tree = test::describeMime(test::readFile(messages[i]));
            QVERIFY2(tree.error.isEmpty(), qPrintable(tree.error));
            QString html;
            QSet<QString> pictures;  // the Content-IDs of the attached pictures
            for (const QJsonObject& node : test::flattenMime(tree.tree)) {
                const QString type = node.value("type").toString();
                if (type == "text/html")
                    html = node.value("text").toString();
                const QString cid = node.value("cid").toString();
                if (type.startsWith("image/") && !cid.isEmpty())
                    pictures << cid.mid(1, cid.size() - 2);
            }
            QVERIFY2(html.contains(QStringLiteral("Changed for Person %1").arg(i + 1)),
                     qPrintable(html));
            static const QRegularExpression reference(QStringLiteral("[\"'(]cid:([^\"')]*)"));
            QSet<QString> referenced;
            for (auto it = reference.globalMatch(html); it.hasNext();)
                referenced << it.next().captured(1);
            QVERIFY(referenced.size() >= 2);  // the edited picture and the background at least
            for (const QString& cid : referenced)
                QVERIFY2(pictures.contains(cid), qPrintable(cid));
        }
    }

    // The merge follows the caption the user gave the field, not the one it had.
    void renamedCaptionMergesInTheNextDryRun() {
        MainWindowFixture f(test::sendingSettings(1));
        QVERIFY(f.open());
        f.addRecipients(2);
        MainWindowFixture::whenModal("d_FieldsNameEdit", [](QWidget* d) {
            d->findChildren<QLineEdit*>().value(1)->setText("Customer");
            static_cast<QDialog*>(d)->accept();
        });
        f.command(app::cmd::kEditFieldName)->trigger();
        QCOMPARE(f.session->store().FieldCaptions().Captions()[1], QStringLiteral("Customer"));
        f.find<QLineEdit>("recipient")->setText("[[Mail Address]]");
        f.find<QLineEdit>("subject")->setText("For [[Customer]]");
        f.find<QPlainTextEdit>("textBody")->setPlainText("Dear [[Customer]], not [[Name]].");
        const QString project = saved(f);
        QVERIFY(!project.isEmpty());

        const QJsonArray parsed = test::parseMessages(dryRun(f, project));
        QCOMPARE(parsed.size(), 2);
        for (int i = 0; i < parsed.size(); ++i) {
            const QJsonObject m = parsed[i].toObject();
            QCOMPARE(m["subject"].toString(), QStringLiteral("For Person %1").arg(i + 1));
            QVERIFY2(m["text"].toString().startsWith(
                         QStringLiteral("Dear Person %1, not [[Name]].").arg(i + 1)),
                     qPrintable(m["text"].toString()));
        }
    }
};

QTEST_MAIN(TestMainWindowDryRun)
#include "test_mainwin_dry_run.moc"
