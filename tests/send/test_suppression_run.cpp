// The suppression list from its entries to the run: the editor command and an imported list
// fill it, the send run skips its addresses before the first mail, logs and counts them,
// records them so that "not yet sent" leaves them alone; the list outlives the project and
// the program. Also the unsubscribe settings kept with the project's database and the
// footer in the preview and the dry-run messages.
#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include "EngineLockFolder.h"
#include "QuietSendProgress.h"
#include "db/ProjectOptions.h"
#include "db/SuppressionList.h"
#include "dbtools/SuppressionTools.h"
#include "exchange/AddressListImport.h"
#include "resources/Strings.h"
#include "send/PreviewSource.h"
#include "send/SendFlow.h"
#include "send/Unsubscribe.h"
#include "test_send_world.h"

using namespace pw;
using namespace pw::send;

namespace {

struct World {
    test::SendWorld world;
    CSendLog log;
    QString logPath;
    std::unique_ptr<test::CaptureServer> server;
    MailDocument document;

    World() {
        logPath = world.folders.userDataFolder + QStringLiteral("log.txt");
        log.setPath(logPath);
        server =
            std::make_unique<test::CaptureServer>(world.env.makeFolder(QStringLiteral("mail")));
        document.senderAddress = QStringLiteral("shop@example.jp");
        document.subject = QStringLiteral("Hello [[Name]]");
        document.recipientText = QStringLiteral("[[Mail Address]]");
        document.textBody = QStringLiteral("Your code is [[field3]].");
    }
    SendFlowSettings settings() const {
        SendFlowSettings s;
        s.folders = world.folders;
        s.previewFolder = world.env.root() + QStringLiteral("preview/");
        s.standardServer.smtpServer = QStringLiteral("127.0.0.1");
        s.standardServer.smtpPort = server->port();
        s.pacing = {100, 0, 0, ErrorPolicy::Continue};
        s.testEmailAddress = QStringLiteral("rcpt1@example.jp");
        return s;
    }
    std::unique_ptr<CSendFlow> flow(const SendFlowSettings& s) {
        auto f = std::make_unique<CSendFlow>(s, log);
        f->useDocument(document, *world.store, document.textBody);
        return f;
    }
};

}  // namespace

class TestSuppressionRun : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        setLanguage(Language::English);
        QVERIFY(test::ensureProcessLockFolder());
    }

    void normalisedAddresses_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("normal");
        QTest::newRow("domain lower-cased") << "Ann.Lee@Example.COM"
                                            << "Ann.Lee@example.com";
        QTest::newRow("local part as written") << "ANN@example.com"
                                               << "ANN@example.com";
        QTest::newRow("blanks and brackets") << "  Ann <ann@EXAMPLE.jp> "
                                             << "ann@example.jp";
        QTest::newRow("mailto form") << "mailto:ann@Example.jp"
                                     << "ann@example.jp";
        QTest::newRow("last @ splits") << "\"a@b\"@Example.jp"
                                       << "\"a@b\"@example.jp";
        QTest::newRow("no @") << "ann.example.jp"
                              << "";
        QTest::newRow("empty local part") << "@example.jp"
                                          << "";
        QTest::newRow("blank inside") << "ann lee@example.jp"
                                      << "";
        QTest::newRow("two addresses") << "a@x.jp,b@x.jp"
                                       << "";
        QTest::newRow("longer than SMTP allows") << QString(320, 'a') + "@x.jp"
                                                 << "";
    }
    void normalisedAddresses() {
        QFETCH(QString, input);
        QFETCH(QString, normal);
        QCOMPARE(db::NormalizeAddress(input), normal);
    }

    // 100 recipients, 8 of them on the list: 3 by the editor command, 5 by an imported list
    // whose addresses are written in other cases, the local part too (an unsubscribe request
    // in capitals means the same mailbox).
    void hundredWithSevenSuppressed() {
        World w;
        QVERIFY(w.world.createDatabase(100));
        QVERIFY(w.server->start());

        // the editor command on the grid's rows 0, 1 and 2, with a reason
        {
            dbtools::EditorSession session(*w.world.store, w.world.ui, {});
            session.open();
            w.world.ui.scriptTexts({QStringLiteral("asked to be removed")});
            QCOMPARE(dbtools::AddRowsToSuppressionList(session, {0, 1, 2}),
                     dbtools::AddOutcome::Added);
            QVERIFY(w.world.ui.askedTexts().last().startsWith("3 addresses were added"));
        }
        // an imported list through the import readers
        const QString file = w.world.env.root() + QStringLiteral("unsubscribed.csv");
        QVERIFY(test::writeFile(file,
                                "rcpt20@EXAMPLE.jp\r\nx,rcpt30@Example.JP\r\n"
                                "rcpt40@example.JP\r\nrcpt50@EXAMPLE.JP,bounced\r\n"
                                "Rcpt60@example.jp\r\nno address here\r\n"));
        const exchange::AddressListRead read = exchange::readAddressList(file, w.world.ui);
        QVERIFY(read.ok);
        QCOMPARE(read.addresses.size(), 5);
        db::CSuppressionList list(w.world.folders.userDataFolder);
        QCOMPARE(
            dbtools::AddAddressesToSuppressionList(list, w.world.ui, read.addresses, "imported"),
            dbtools::AddOutcome::Added);
        QCOMPARE(w.world.store->Save(db::SaveMode::Retaining), true);

        auto flow = w.flow(w.settings());
        QCOMPARE(flow->check(SendKind::Send).reason, RefusalReason::None);
        QCOMPARE(flow->countSelection(db::SendSelectionMode::All), 92);  // the dialog's count
        QVERIFY(flow->chooseSelection(db::SendSelectionMode::All).ok());
        QCOMPARE(flow->selectedCount(), 92);
        QCOMPARE(flow->suppressedCount(), 8);
        QuietSendProgress progress;
        const SendSummary summary = flow->runToEnd(progress);
        QCOMPARE(summary.sent, 92);
        QCOMPARE(summary.suppressed, 8);
        QCOMPARE(progress.suppressed.load(), 8);
        QCOMPARE(w.server->count(), 92);
        const QString log = QString::fromUtf8(test::readFile(w.logPath));
        QCOMPARE(log.count("is on the suppression list"), 8);
        QVERIFY(
            log.contains("Not sent: rcpt1@example.jp is on the suppression list (asked to be "
                         "removed)."));
        QVERIFY(log.contains("rcpt50@example.jp is on the suppression list (imported)"));
        // logged before the first mail
        QVERIFY(log.indexOf("suppression list") < log.indexOf("Mail transmission completed."));
        const QList<int> flags = w.world.sentFlags();
        QCOMPARE(flags.count(1), 92);
        QCOMPARE(flags.count(2), 8);
        for (int i : {0, 1, 2, 19, 29, 39, 49, 59})  // Rcpt60 on the list too
            QCOMPARE(flags[i], 2);
        flow.reset();

        // "not yet sent" sends nobody
        flow = w.flow(w.settings());
        QCOMPARE(flow->check(SendKind::Send).reason, RefusalReason::None);
        QCOMPARE(flow->chooseSelection(db::SendSelectionMode::NotSent).reason,
                 RefusalReason::NothingUnsent);
        flow.reset();

        // a new project and a restart: a new store and a new list read the same file
        test::SendWorld other;
        other.folders.userDataFolder = w.world.folders.userDataFolder;
        other.store = std::make_unique<db::TDbData>(other.folders);
        QVERIFY(other.createDatabase(100));
        CSendFlow fresh(w.settings(), w.log);
        fresh.useDocument(w.document, *other.store, w.document.textBody);
        QCOMPARE(fresh.check(SendKind::Send).reason, RefusalReason::None);
        QVERIFY(fresh.chooseSelection(db::SendSelectionMode::All).ok());
        QCOMPARE(fresh.selectedCount(), 92);
        std::vector<db::SuppressedEntry> entries;
        QCOMPARE(db::CSuppressionList(w.world.folders.userDataFolder).Read(entries),
                 db::ListRead::Read);
        QCOMPARE(int(entries.size()), 8);
    }

    // The window's list: a search over address and reason, a removal that asks first, an
    // export of what is shown.
    void listSearchRemoveExport_data() {
        QTest::addColumn<QString>("search");
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("left");
        QTest::newRow("all, removal declined") << "" << Answer::No << 3 << 3;
        QTest::newRow("by address, any case") << "ANN" << Answer::Yes << 1 << 2;
        QTest::newRow("by reason") << "bounced" << Answer::Yes << 2 << 1;
        QTest::newRow("nothing found") << "zzz" << Answer::Yes << 0 << 3;
    }
    void listSearchRemoveExport() {
        QFETCH(QString, search);
        QFETCH(Answer, answer);
        QFETCH(int, shown);
        QFETCH(int, left);
        World w;
        db::CSuppressionList list(w.world.folders.userDataFolder);
        QCOMPARE(list.Add({"ann@x.jp", "bob@x.jp"}, "bounced").added, 2);
        QCOMPARE(list.Add({"carl@x.jp"}, "asked, by phone").added, 1);
        dbtools::SuppressionListModel model(list, w.world.ui);
        QAbstractItemModelTester tester(&model);
        model.reload();
        model.setSearch(search);
        QCOMPARE(model.rowCount(), shown);
        QCOMPARE(model.totalCount(), 3);
        const QString file = w.world.env.root() + QStringLiteral("out.csv");
        QVERIFY(model.exportTo(file));
        const QByteArray exported = test::readFile(file);
        QCOMPARE(exported.count("\r\n"), shown);
        if (search.isEmpty())
            QVERIFY(exported.contains("carl@x.jp,\"asked, by phone\","));
        w.world.ui.script({answer});
        QList<int> rows;
        for (int r = 0; r < shown; ++r)
            rows << r;
        QCOMPARE(model.removeRows(rows), shown > 0 && answer == Answer::Yes);
        std::vector<db::SuppressedEntry> entries;
        QCOMPARE(list.Read(entries), db::ListRead::Read);
        QCOMPARE(int(entries.size()), left);
    }

    // A test send (or a single send) to an address on the list is refused before anything
    // is sent; a list that cannot be read stops every send.
    void singleSendsToSuppressedAreRefused_data() {
        QTest::addColumn<bool>("test");
        QTest::addColumn<QString>("recipient");
        QTest::addColumn<bool>("broken");
        QTest::addColumn<RefusalReason>("result");
        QTest::newRow("test address on the list")
            << true << "" << false << RefusalReason::TestAddressSuppressed;
        QTest::newRow("literal recipient on the list, other case")
            << false << "a@x.jp, rcpt1@EXAMPLE.jp" << false << RefusalReason::AddressSuppressed;
        QTest::newRow("literal recipient on the list, written in capitals")
            << false << "RCPT1@EXAMPLE.JP" << false << RefusalReason::AddressSuppressed;
        QTest::newRow("literal recipient not on the list")
            << false << "rcpt2@example.jp" << false << RefusalReason::None;
        QTest::newRow("list unreadable")
            << true << "" << true << RefusalReason::SuppressionUnreadable;
    }
    void singleSendsToSuppressedAreRefused() {
        QFETCH(bool, test);
        QFETCH(QString, recipient);
        QFETCH(bool, broken);
        QFETCH(RefusalReason, result);
        World w;
        db::CSuppressionList list(w.world.folders.userDataFolder);
        if (broken)
            QVERIFY(test::writeFile(list.FilePath(), "not a database"));
        else
            QVERIFY(!list.Add({QStringLiteral("rcpt1@example.jp")}, {}).failed);
        w.document.recipientText = recipient;
        auto flow = w.flow(w.settings());
        const RunRefusal checked = flow->check(test ? SendKind::Test : SendKind::Send);
        QCOMPARE(checked.reason, result);
        if (result == RefusalReason::AddressSuppressed ||
            result == RefusalReason::TestAddressSuppressed)
            QCOMPARE(db::SuppressionKey(checked.subject), "rcpt1@example.jp");
        QuietSendProgress progress;
        if (result != RefusalReason::None)
            QCOMPARE(flow->start(progress).reason, RefusalReason::NotChecked);
    }

    // The settings are the project's: kept in its database (an older database without them
    // reads as none), and the footer shows in the preview and in the dry-run messages in the
    // user's language.
    void footerInPreviewAndDryRun_data() {
        QTest::addColumn<Language>("language");
        QTest::addColumn<QString>("footer");
        QTest::newRow("English") << Language::English
                                 << "You receive this mail at rcpt1@example.jp";
        QTest::newRow("Japanese") << Language::Japanese
                                  << QString::fromUtf8("このメールは rcpt1@example.jp 宛に");
    }
    void footerInPreviewAndDryRun() {
        QFETCH(Language, language);
        QFETCH(QString, footer);
        World w;
        QVERIFY(w.world.createDatabase(2));
        QCOMPARE(loadUnsubscribeSettings(*w.world.store), UnsubscribeSettings{});
        UnsubscribeSettings s;
        s.url = QStringLiteral("ftp://example.jp/");
        QCOMPARE(saveUnsubscribeSettings(*w.world.store, s), UnsubscribeCheck::NotHttps);
        s.url = QStringLiteral("https://example.jp/u?e=[[Mail Address]]");
        s.footer = FooterChoice::On;
        QCOMPARE(saveUnsubscribeSettings(*w.world.store, s), UnsubscribeCheck::Ok);
        QVERIFY(w.world.store->IsModified());
        QVERIFY(w.world.store->Save(db::SaveMode::Retaining));
        QCOMPARE(loadUnsubscribeSettings(*w.world.store), s);

        setLanguage(language);
        SendFlowSettings settings = w.settings();
        settings.dryRunFolder = w.world.env.root() + QStringLiteral("dry/");
        auto flow = w.flow(settings);
        const std::unique_ptr<IPreviewSource> preview =
            previewOfSend(*flow, db::SendSelectionMode::All);
        const PreviewMessage shown = preview->message(0);
        QuietSendProgress progress;
        flow = w.flow(settings);
        QCOMPARE(flow->check(SendKind::Send).reason, RefusalReason::None);
        QVERIFY(flow->chooseSelection(db::SendSelectionMode::All).ok());
        QCOMPARE(flow->selectedCount(), 2);
        QCOMPARE(flow->runToEnd(progress).sent, 2);
        setLanguage(Language::English);
        QVERIFY2(shown.body.contains(footer), qPrintable(shown.body));
        QVERIFY(shown.body.contains("https://example.jp/u?e=rcpt1%40example.jp"));
        QStringList files;
        for (const QString& name : QDir(settings.dryRunFolder).entryList({"*.eml"}, QDir::Files))
            files.append(settings.dryRunFolder + name);
        QCOMPARE(files.size(), 2);
        const QJsonArray parsed = test::parseMessages(files);
        QString texts;
        for (const QJsonValue& m : parsed)
            texts += m.toObject().value("text").toString();
        QVERIFY2(texts.contains(footer), qPrintable(texts));
    }
};

QTEST_GUILESS_MAIN(TestSuppressionRun)
#include "test_suppression_run.moc"
