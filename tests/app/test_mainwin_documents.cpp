// The File commands on the real window: a project with text, HTML and attachments through
// Save As, New, Open and Save; the save question's three answers; the overwrite question;
// mail templates; deleting the HTML mail; a list on a server and the recent list. The title
// follows every step.

#include <QDialogButtonBox>
#include <QListWidget>
#include <QSpinBox>

#include "FirebirdTestServer.h"
#include "MainWindowFixture.h"
#include "resources/Strings.h"

using namespace pw;
using namespace pw::app;
using pw::test::MainWindowFixture;

namespace {

// A mail with everything a project carries.
void compose(MainWindowFixture& f, const QString& attachment) {
    f.type("senderAddress", "shop@example.jp");
    f.type("senderName", QStringLiteral("山田商店"));
    f.type("recipient", "[[Mail Address]]");
    f.type("subject", QStringLiteral("春のセール [[Name]]"));
    f.find<QPlainTextEdit>("textBody")
        ->setPlainText(QStringLiteral("いつもありがとうございます。\nSpring sale"));
    QVERIFY(f.window->AddAttachments({attachment}));
    QVERIFY(test::writeFile(f.folders.mainPreviewFolder() + "index.html",
                            "<html><body><img src=\"logo.png\">Sale</body></html>"));
    QVERIFY(test::writeFile(f.folders.mainPreviewFolder() + "logo.png", QByteArray(300, 'p')));
    f.session->document().htmlTemplateName = "Seasonal";
    f.window->ShowHtmlMail();
    f.addRecipients(3);
}

}  // namespace

class TestMainWindowDocuments : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { setLanguage(Language::English); }

    void projectRoundTripsThroughTheFileCommands() {
        MainWindowFixture f;
        QVERIFY(f.open());
        const QString attachment = f.env.root() + "coupon.pdf";
        QVERIFY(test::writeFile(attachment, "%PDF coupon"));
        compose(f, attachment);
        QVERIFY(f.command(cmd::kDeleteHtmlTemplate)->isEnabled());
        QVERIFY(f.shownTitle().endsWith('*'));

        // Save As with another extension writes ".pzy"
        const QString project = f.env.root() + "spring.pzy";
        f.ui.scriptFiles({{f.env.root() + "spring.txt"}});
        f.command(cmd::kSaveAs)->trigger();
        QVERIFY(QFile::exists(project));
        QCOMPARE(f.shownTitle(), QStringLiteral("Postwick - spring.pzy"));
        QVERIFY(!f.window->DocumentModified());

        // New on a saved document asks nothing and clears the mail
        f.ui.clear();
        f.command(cmd::kNew)->trigger();
        QVERIFY(f.ui.asked().isEmpty());
        QCOMPARE(f.find<QLineEdit>("subject")->text(), QString());
        QCOMPARE(f.find<QListWidget>("attachmentList")->count(), 0);
        QCOMPARE(f.shownTitle(), QStringLiteral("Postwick - Untitled"));
        QVERIFY(!f.command(cmd::kDeleteHtmlTemplate)->isEnabled());
        QVERIFY(!QFile::exists(f.folders.mainPreviewFolder() + "index.html"));
        QCOMPARE(f.session->store().Records().CountRecords(), 0);
        // the sender stays
        QCOMPARE(f.find<QLineEdit>("senderAddress")->text(), QStringLiteral("shop@example.jp"));

        // Open brings everything back
        f.ui.scriptFiles({{project}});
        f.command(cmd::kOpen)->trigger();
        QCOMPARE(f.find<QLineEdit>("senderName")->text(), QStringLiteral("山田商店"));
        QCOMPARE(f.find<QLineEdit>("subject")->text(), QStringLiteral("春のセール [[Name]]"));
        QCOMPARE(f.find<QPlainTextEdit>("textBody")->toPlainText(),
                 QStringLiteral("いつもありがとうございます。\nSpring sale"));
        QCOMPARE(f.window->Attachments(), QStringList{attachment});
        QCOMPARE(test::readFile(f.folders.mainPreviewFolder() + "logo.png"), QByteArray(300, 'p'));
        QVERIFY(f.command(cmd::kDeleteHtmlTemplate)->isEnabled());
        QCOMPARE(f.session->store().Records().CountRecords(), 3);
        QCOMPARE(f.shownTitle(), QStringLiteral("Postwick - spring.pzy"));
        QVERIFY(!f.window->DocumentModified());

        // Save writes to the same file without asking
        f.type("subject", "Changed");
        QVERIFY(f.window->DocumentModified());
        f.ui.clear();
        f.command(cmd::kSave)->trigger();
        QVERIFY(f.ui.asked().isEmpty());
        QVERIFY(f.ui.filesAsked().isEmpty());
        QVERIFY(!f.window->DocumentModified());
        QCOMPARE(f.shownTitle(), QStringLiteral("Postwick - spring.pzy"));

        // Delete HTML Template: the HTML mail goes, the text mail stays
        f.ui.script({Answer::Yes});
        f.command(cmd::kDeleteHtmlTemplate)->trigger();
        QCOMPARE(f.ui.asked().last().caption, str(ids::kDeleteHtmlMailCaption));
        QVERIFY(QDir(f.folders.mainPreviewFolder()).entryList(QDir::Files).isEmpty());
        QVERIFY(!f.command(cmd::kDeleteHtmlTemplate)->isEnabled());
        QVERIFY(f.window->DocumentModified());
        QCOMPARE(f.find<QLineEdit>("subject")->text(), QStringLiteral("Changed"));
    }

    void saveQuestionAnswers_data() {
        QTest::addColumn<int>("answer");
        QTest::newRow("Yes saves, then the new document") << int(Answer::Yes);
        QTest::newRow("No drops the changes") << int(Answer::No);
        QTest::newRow("Cancel keeps everything") << int(Answer::Cancel);
    }
    void saveQuestionAnswers() {
        QFETCH(int, answer);
        MainWindowFixture f;
        QVERIFY(f.open());
        const QString project = f.env.root() + "letter.pzy";
        f.type("subject", "First");
        QVERIFY(f.window->SaveProjectAs(project));
        const QByteArray saved = test::readFile(project);
        f.type("subject", "Second");
        f.ui.clear();
        f.ui.script({Answer(answer)});
        f.command(cmd::kNew)->trigger();
        QCOMPARE(f.ui.asked().size(), 1);
        QCOMPARE(f.ui.asked()[0].caption, str(ids::kConfirmSaveCaption));
        QCOMPARE(f.ui.asked()[0].kind, MessageKind::YesNoCancel);
        switch (Answer(answer)) {
            case Answer::Yes:
                QVERIFY(test::readFile(project).contains("Second"));
                QCOMPARE(f.shownTitle(), QStringLiteral("Postwick - Untitled"));
                QCOMPARE(f.find<QLineEdit>("subject")->text(), QString());
                break;
            case Answer::No:
                QCOMPARE(test::readFile(project), saved);
                QCOMPARE(f.shownTitle(), QStringLiteral("Postwick - Untitled"));
                QCOMPARE(f.find<QLineEdit>("subject")->text(), QString());
                break;
            default:
                QCOMPARE(test::readFile(project), saved);
                QCOMPARE(f.shownTitle(), QStringLiteral("Postwick - letter.pzy*"));
                QCOMPARE(f.find<QLineEdit>("subject")->text(), QStringLiteral("Second"));
                break;
        }
    }

    void overwriteQuestionOfSaveAs() {
        MainWindowFixture f;
        QVERIFY(f.open());
        const QString existing = f.env.root() + "taken.pzy";
        QVERIFY(test::writeFile(existing, "someone else's"));
        f.type("subject", "Mine");
        // Cancel: nothing written, path and title as they were
        f.ui.script({Answer::Cancel});
        QVERIFY(!f.window->SaveProjectAs(existing));
        QCOMPARE(f.ui.asked().last().kind, MessageKind::YesNoCancelDefaultNo);
        QCOMPARE(test::readFile(existing), QByteArray("someone else's"));
        QCOMPARE(f.shownTitle(), QStringLiteral("Postwick - Untitled*"));
        QVERIFY(f.session->document().projectFilePath.isEmpty());
        // No: the dialog again, where another name is given
        const QString other = f.env.root() + "other.pzy";
        f.ui.script({Answer::No});
        f.ui.scriptFiles({{other}});
        QVERIFY(f.window->SaveProjectAs(existing));
        QCOMPARE(test::readFile(existing), QByteArray("someone else's"));
        QVERIFY(QFile::exists(other));
        QCOMPARE(f.shownTitle(), QStringLiteral("Postwick - other.pzy"));
    }

    // A list on a server opened through "Open Database on Server...", then again from the
    // recent list beside a project; a project file gone since is told and taken off.
    void serverListThroughTheDialogAndTheRecentList() {
        MainWindowFixture f;
        QVERIFY(f.open());
        test::FirebirdTestServer server(f.env.makeFolder("fbserver"));
        QVERIFY2(server.start({{"ANN", "sesame"}}), qPrintable(server.errorText()));
        const QString list = server.createDatabase("office.fdb", {"ANN", "sesame"});
        QVERIFY2(!list.isEmpty(), qPrintable(server.errorText()));
        const QString project = f.env.root() + "letter.pzy";
        QVERIFY(f.window->SaveProjectAs(project));

        // what the dialog showed when it came up: host, database, user
        QStringList shown;
        const auto signIn = [&](bool fill) {
            return MainWindowFixture::whenModal("d_ServerDatabase", [&shown, list,
                                                                     fill](QWidget* d) {
                const auto field = [d](const char* name) {
                    return d->findChild<QLineEdit*>(QLatin1String(name));
                };
                shown = QStringList{field("host")->text(), field("database")->text(),
                                    field("user")->text()};
                if (fill) {
                    field("host")->setText("127.0.0.1");
                    d->findChild<QSpinBox*>("port")->setValue(
                        list.section(':', 0, 0).section('/', 1).toInt());
                    field("database")->setText(list.section(':', 1));
                    field("user")->setText("ANN");
                }
                field("password")->setText("sesame");
                d->findChild<QDialogButtonBox*>("buttons")->button(QDialogButtonBox::Ok)->click();
            });
        };
        const auto recent = [&](int index) {
            auto* menu = f.find<QMenu>("menuRecent");
            emit menu->aboutToShow();
            return menu->findChild<QAction*>(QStringLiteral("recentEntry%1").arg(index));
        };

        QPointer<QTimer> watch = signIn(true);
        f.command(cmd::kOpenServerDatabase)->trigger();
        delete watch;
        QCOMPARE(shown, (QStringList{"", "", ""}));
        QCOMPARE(f.session->store().Kind(), db::StoreKind::Server);
        QCOMPARE(f.session->store().ServerConnection(), list);
        QVERIFY2(f.ui.asked().isEmpty(), qPrintable(f.ui.askedTexts().join('\n')));
        QVERIFY(recent(0)->text().contains(list + " as ANN"));
        QVERIFY(recent(1)->text().endsWith("letter.pzy"));

        f.command(cmd::kNew)->trigger();
        QCOMPARE(f.session->store().Kind(), db::StoreKind::WorkingCopy);
        watch = signIn(false);
        recent(0)->trigger();
        delete watch;
        QCOMPARE(shown, (QStringList{"127.0.0.1", list.section(':', 1), "ANN"}));
        QCOMPARE(f.session->store().ServerConnection(), list);

        QVERIFY(QFile::remove(project));
        f.ui.clear();
        recent(1)->trigger();
        QCOMPARE(f.ui.askedTexts(),
                 QStringList{str(ids::kRecentMissing).arg(QDir::toNativeSeparators(project))});
        QCOMPARE(f.session->store().Kind(), db::StoreKind::Server);
        QVERIFY(!recent(1));
        QVERIFY(recent(0));
        f.command(cmd::kNew)->trigger();  // off the server before it stops
    }
};

QTEST_MAIN(TestMainWindowDocuments)
#include "test_mainwin_documents.moc"
