// The main window on real widgets: title, the Exit command and what closing leaves behind.

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

#include "AppTestFolders.h"
#include "MainWindowFixture.h"
#include "RawStatement.h"
#include "ScriptedUserInteraction.h"
#include "TestEnv.h"
#include "app/AppSession.h"
#include "app/ProjectStore.h"
#include "app/RunRecovery.h"
#include "app/gui/CPZPtestDlg.h"
#include "resources/Strings.h"

using namespace pw;
using namespace pw::app;
using pw::test::MainWindowFixture;

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { setLanguage(Language::English); }

    void startsOnAFreshDocumentAndExitCleansUp() {
        test::TestEnv env;
        const AppFolders f = test::appFoldersIn(env);
        test::ScriptedUserInteraction ui;
        CAppSession session(f, f.settingsPath("postwick"), ui);
        QCOMPARE(session.Start(), CAppSession::StartResult::Ready);

        CPZPtestDlg window(session, QString());
        QSignalSpy started(&window, &CPZPtestDlg::started);
        // no settings file: Getting Started comes after the fresh database, and nothing else
        bool databaseReadyAtGettingStarted = false;
        QPointer<QTimer> gettingStarted =
            MainWindowFixture::whenModal("d_StartForm", [&](QWidget* d) {
                databaseReadyAtGettingStarted = session.store().IsOpen();
                d->findChild<QCheckBox*>("displayNextTime")->setChecked(false);
                QTest::mouseClick(d, Qt::LeftButton, {}, QPoint(2, 2));  // outside every choice
            });
        window.show();
        QVERIFY(started.wait(20000));
        QTRY_VERIFY(!gettingStarted);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QVERIFY(databaseReadyAtGettingStarted);
        QVERIFY(!session.settings().startShortcut);
        QCOMPARE(window.windowTitle(), QStringLiteral("Postwick - Untitled[*]"));
        QVERIFY(!window.isWindowModified());
        QVERIFY(session.store().IsOpen());
        const QString workingCopy = session.store().WorkingCopyPath();
        QVERIFY(QFile::exists(workingCopy));
        QVERIFY(test::writeFile(f.mainPreviewFolder() + "index.html", "<html/>"));

        auto* exit = window.findChild<QAction*>(QStringLiteral("actionExit"));
        QVERIFY(exit);
        exit->trigger();
        QVERIFY(!window.isVisible());
        QVERIFY(ui.asked().isEmpty());
        QVERIFY(!QFile::exists(workingCopy));
        QVERIFY(QDir(f.mainPreviewFolder()).entryList(QDir::Files).isEmpty());
        QVERIFY(QDir(f.userDataFolder).entryList({"*.pzb"}, QDir::Files).isEmpty());
        CIniFile ini(f.settingsPath("postwick"));
        QVERIFY(ini.Load());
        QCOMPARE(ini.GetText("SETUP", "StrFieldSize", "?"), QStringLiteral("100"));
        QVERIFY(ini.FindKey(ini.FindSection("WINDOW"), "MainForm") >= 0);
        QVERIFY(ini.FindKey(ini.FindSection("WINDOW"), "ShowFieldWnd") >= 0);
    }

    void projectOnTheCommandLineIsOpenedInsteadOfAFreshDocument_data() {
        QTest::addColumn<bool>("damaged");
        QTest::newRow("good project") << false;
        QTest::newRow("damaged project") << true;
    }
    void projectOnTheCommandLineIsOpenedInsteadOfAFreshDocument() {
        QFETCH(bool, damaged);
        test::TestEnv env;
        const AppFolders f = test::appFoldersIn(env);
        test::ScriptedUserInteraction ui;
        const QString project = env.root() + "mailing.pzy";
        {
            CAppSession maker(f, f.settingsPath("postwick"), ui);
            QCOMPARE(maker.Start(), CAppSession::StartResult::Ready);
            QCOMPARE(maker.PrepareFreshDocument(), CAppSession::FreshResult::Ready);
            pw::test::execute(maker.store(),
                              "insert into MAILS (ID, SENDED, SENDING, ADDRESS) values (7, 0, 1, "
                              "'x@example.com')");
            MailDocument doc;
            doc.subject = "Spring sale";
            QVERIFY(saveProject(project, doc, {}, f.mainPreviewFolder(), maker.store(),
                                MailCodePage(0), nullptr)
                        .ok());
            QCOMPARE(maker.Close(false, {}, {}), CAppSession::CloseResult::Closed);
        }
        if (damaged)
            QVERIFY(test::writeFile(project, test::readFile(project).left(40)));
        ui.clear();
        QVERIFY(test::writeFile(f.settingsPath("postwick"), "[SETUP]\r\nStartShortcut=0\r\n"));
        CAppSession session(f, f.settingsPath("postwick"), ui);
        QCOMPARE(session.Start(), CAppSession::StartResult::Ready);
        CPZPtestDlg window(session, project);
        QSignalSpy started(&window, &CPZPtestDlg::started);
        window.show();
        QVERIFY(started.wait(20000));
        QVERIFY(session.store().IsOpen());
        if (damaged) {
            QCOMPARE(ui.askedTexts().size(), 1);
            QCOMPARE(window.windowTitle(), QStringLiteral("Postwick - Untitled[*]"));
            QVERIFY(!window.isWindowModified());
            QCOMPARE(session.store().Records().CountRecords(), 0);
        } else {
            QVERIFY(ui.asked().isEmpty());
            QCOMPARE(window.windowTitle(), QStringLiteral("Postwick - mailing.pzy[*]"));
            QCOMPARE(session.document().subject, QStringLiteral("Spring sale"));
            QCOMPARE(session.store().Records().CountRecords(), 1);
        }
        window.close();
    }

    void windowComesBackWhereItWasLeft() {
        test::TestEnv env;
        const AppFolders f = test::appFoldersIn(env);
        QDir().mkpath(f.userDataFolder);
        QVERIFY(test::writeFile(f.settingsPath("postwick"),
                                "[WINDOW]\r\nMainForm=40,50,700,500,1\r\n"));
        test::ScriptedUserInteraction ui;
        CAppSession session(f, f.settingsPath("postwick"), ui);
        QCOMPARE(session.Start(), CAppSession::StartResult::Ready);
        CPZPtestDlg window(session, QString());
        QCOMPARE(window.size(), QSize(700, 500));
        QCOMPARE(window.pos(), QPoint(40, 50));
    }

    // Start after start the window keeps its place and size: it must not grow by its frame.
    void placementIsStableFromStartToStart_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QByteArray>("kept");
        QTest::newRow("as left") << QByteArray("40,50,800,600,1") << QByteArray("40,50,800,600,1");
        QTest::newRow("below the minimum size, grown once")
            << QByteArray("40,50,300,200,1") << QByteArray("40,50,560,440,1");
    }
    void placementIsStableFromStartToStart() {
        QFETCH(QByteArray, stored);
        QFETCH(QByteArray, kept);
        MainWindowFixture f("[SETUP]\r\nStartShortcut=0\r\n[WINDOW]\r\nMainForm=" + stored +
                            "\r\n");
        for (int start = 1; start <= 3; ++start) {
            QVERIFY(f.open());
            QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
            f.window->close();
            f.window.reset();
            CIniFile ini(f.settingsPath);
            QVERIFY(ini.Load());
            QCOMPARE(ini.GetText("WINDOW", "MainForm", "?").toUtf8(), kept);
        }
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
