// The document commands without the window, on the real embedded database: mail templates
// in and out, the HTML mail deleted, a save that settles the last run's marker.

#include <QFile>
#include <QtTest>

#include "AppTestFolders.h"
#include "app/DocumentController.h"
#include "resources/Strings.h"
#include "send/RunMarker.h"
#include "send/Unsubscribe.h"

using namespace pw;
using namespace pw::app;
using Saved = CDocumentController::TemplateSaved;

Q_DECLARE_METATYPE(Saved)

class TestDocumentController : public QObject {
    Q_OBJECT
    std::unique_ptr<test::AppTestBed> m_bed;
    std::unique_ptr<CAppSession> m_session;

    MailDocument& doc() { return m_session->document(); }

private slots:
    void initTestCase() { setLanguage(Language::English); }
    void init() {
        m_bed = std::make_unique<test::AppTestBed>();
        m_session = m_bed->startOnFreshDocument();
        QVERIFY(m_session);
        doc().subject = QStringLiteral("ご案内");
        doc().textBody = QStringLiteral("Body of the template");
    }
    void cleanup() {
        m_session.reset();
        m_bed.reset();
    }

    // Names that would leave the template folder never reach a file.
    void saveAsTemplate_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<Answer>("overwrite");  // the answer when the name is taken
        QTest::addColumn<Saved>("result");
        QTest::addColumn<QString>("file");  // what is there afterwards, under the data folder
        QTest::newRow("new name") << "notice" << Answer::Ok << Saved::Saved
                                  << "Template/notice.pzt";
        QTest::newRow("taken, Yes") << "kept" << Answer::Yes << Saved::Saved << "Template/kept.pzt";
        QTest::newRow("taken, No asks again") << "kept" << Answer::No << Saved::AskAgain << "";
        QTest::newRow("taken, Cancel") << "kept" << Answer::Cancel << Saved::Cancelled << "";
        QTest::newRow("slash") << "../../evil" << Answer::Ok << Saved::Refused << "";
        QTest::newRow("dot dot alone") << ".." << Answer::Ok << Saved::Refused << "";
        QTest::newRow("backslash") << "a\\b" << Answer::Ok << Saved::Refused << "";
        QTest::newRow("control character") << "a\nb" << Answer::Ok << Saved::Refused << "";
        QTest::newRow("cancelled dialog") << "" << Answer::Ok << Saved::Cancelled << "";
    }
    void saveAsTemplate() {
        QFETCH(QString, name);
        QFETCH(Answer, overwrite);
        QFETCH(QString, file);
        const QString kept = m_bed->folders.templateFolder() + "kept.pzt";
        QVERIFY(test::writeFile(kept, "someone's template"));
        m_bed->ui.script({overwrite});
        QTEST(CDocumentController(*m_session).saveAsTemplate(name), "result");
        const bool refused = !isTemplateName(name) && !name.isEmpty();
        QCOMPARE(m_bed->ui.askedTexts().contains(str(ids::kTemplateNameRefused)), refused);
        if (!file.isEmpty())
            QVERIFY(test::readFile(m_bed->folders.userDataFolder + file).size() > 100);
        else
            QCOMPARE(test::readFile(kept), QByteArray("someone's template"));
        QVERIFY(!QFile::exists(m_bed->env.root() + "evil.pzt"));
        QVERIFY(!doc().modified);
        QVERIFY(doc().projectFilePath.isEmpty());
    }

    // The template's mail replaces the whole document; a template that has gone changes
    // nothing but the modified flag.
    void applyTemplateClearsTheDocumentFirst() {
        CDocumentController documents(*m_session);
        QCOMPARE(documents.saveAsTemplate("notice"), Saved::Saved);
        doc().subject.clear();
        doc().attachments = {m_bed->env.root() + "price list.pdf"};
        doc().htmlTemplateName = QStringLiteral("Sale");
        doc().projectFilePath = m_bed->env.root() + "mail.pzy";
        QVERIFY(test::writeFile(m_bed->folders.mainPreviewFolder() + "index.html", "<html/>"));
        m_session->store().FieldCaptions().SetCaption(1, QStringLiteral("Kunde"));

        QCOMPARE(documents.applyTemplate("notice"), CDocumentController::TemplateApplied::Applied);
        QCOMPARE(doc().subject, QStringLiteral("ご案内"));
        QCOMPARE(doc().textBody, QStringLiteral("Body of the template"));
        QVERIFY(doc().attachments.isEmpty());
        QVERIFY(!doc().isHtmlMail());
        QVERIFY(doc().projectFilePath.isEmpty());
        QVERIFY(filesInFolder(m_bed->folders.mainPreviewFolder()).isEmpty());
        QCOMPARE(m_session->store().FieldCaptions().Captions()[1], QStringLiteral("Name"));
        QVERIFY(doc().modified);

        doc().modified = false;
        doc().attachments = {m_bed->env.root() + "price list.pdf"};
        QCOMPARE(documents.applyTemplate("gone"), CDocumentController::TemplateApplied::Unreadable);
        QVERIFY(m_bed->ui.asked().isEmpty());
        QCOMPARE(doc().attachments.size(), 1);
        QVERIFY(doc().modified);
    }

    void deleteHtmlMail_data() {
        QTest::addColumn<Answer>("answer");
        QTest::newRow("Yes") << Answer::Yes;
        QTest::newRow("No") << Answer::No;
    }
    void deleteHtmlMail() {
        QFETCH(Answer, answer);
        doc().htmlTemplateName = QStringLiteral("Sale");
        QVERIFY(test::writeFile(m_bed->folders.mainPreviewFolder() + "index.html", "<html/>"));
        m_bed->ui.script({answer});
        const bool yes = answer == Answer::Yes;
        QCOMPARE(CDocumentController(*m_session).deleteHtmlMail() ==
                     CDocumentController::HtmlMailDeleted::Deleted,
                 yes);
        QCOMPARE(m_bed->ui.asked().value(0).text, str(ids::kDeleteHtmlMailQuestion));
        QCOMPARE(doc().isHtmlMail(), !yes);
        QCOMPARE(filesInFolder(m_bed->folders.mainPreviewFolder()).isEmpty(), yes);
        QCOMPARE(doc().modified, yes);
    }

    // Renamed fields: the mail, its HTML and the unsubscribe link are written with the new
    // captions on Yes (swapped ones too), left as they were on No.
    void placeholdersFollowRenamedFields_data() {
        QTest::addColumn<Answer>("answer");
        QTest::newRow("Yes") << Answer::Yes;
        QTest::newRow("No") << Answer::No;
    }
    void placeholdersFollowRenamedFields() {
        QFETCH(Answer, answer);
        db::TDbData& store = m_session->store();
        const auto before = store.FieldCaptions().Captions();
        store.FieldCaptions().SetCaption(1, before[2]);
        store.FieldCaptions().SetCaption(2, before[1]);
        store.FieldCaptions().SetCaption(0, "Email");
        doc().subject = "[[Name]] [[field3]]";
        doc().htmlTemplateName = "Sale";
        const QString html = m_bed->folders.mainPreviewFolder() + "index.html";
        QVERIFY(test::writeFile(html, "<p>[[Name]]</p>"));
        send::UnsubscribeSettings u;
        u.url = "https://x.jp/u?e=[[Mail Address]]";
        QCOMPARE(send::saveUnsubscribeSettings(store, u), send::UnsubscribeCheck::Ok);
        m_bed->ui.script({answer});
        const bool yes = CDocumentController(*m_session).offerPlaceholderRewrite(before) ==
                         CDocumentController::PlaceholdersRewritten::Rewritten;
        QCOMPARE(yes, answer == Answer::Yes);
        QCOMPARE(doc().subject, yes ? "[[field3]] [[Name]]" : "[[Name]] [[field3]]");
        QCOMPARE(test::readFile(html), yes ? "<p>[[field3]]</p>" : "<p>[[Name]]</p>");
        QCOMPARE(send::loadUnsubscribeSettings(store).url.endsWith("[[Email]]"), yes);
    }

    // Once the project file has the run's outcomes, its marker goes.
    void saveSettlesTheRunMarker() {
        const QString project = m_bed->env.root() + "mail.pzy";
        db::TDbData& store = m_session->store();
        std::unique_ptr<send::CRunMarker> marker =
            send::CRunMarker::begin(store.WorkingCopyPath(), project);
        QVERIFY(marker);
        const QString markerFile = marker->path();
        store.SetWorkingCopyKept(true);
        QVERIFY(CDocumentController(*m_session).saveProject(project, marker));
        QVERIFY(!marker);
        QVERIFY(!QFile::exists(markerFile));
        QVERIFY(store.IsOpen());
        QVERIFY(QFile::exists(project));
    }
};

QTEST_GUILESS_MAIN(TestDocumentController)
#include "test_document_controller.moc"
