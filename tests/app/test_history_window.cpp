// The "Campaign History" window over a history the run's writer made: the table, the report
// page of the charts tab, a campaign's recipients filtered and exported, the PDF report, and
// one address's campaigns.
#include "app/gui/HistoryWindow.h"
#include "db/HistoryStore.h"
#include "resources/Strings.h"

#include "EngineLockFolder.h"
#include "ScriptedUserInteraction.h"
#include "TestEnv.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QtTest>

using namespace pw;

class TestHistoryWindow : public QObject {
    Q_OBJECT
    test::TestEnv m_env;
    QString m_folder;

private slots:
    void initTestCase() {
        setLanguage(Language::English);
        QVERIFY(test::ensureProcessLockFolder());
        m_folder = m_env.makeFolder(QStringLiteral("user"));
        db::CHistoryStore store(m_folder);
        std::unique_ptr<db::CHistoryWriter> writer = store.OpenWriter();
        QVERIFY(writer);
        for (int week = 0; week < 3; ++week) {
            db::CampaignStart start;
            start.subject = QStringLiteral("Week %1").arg(week + 1);
            start.startedMs = 1'700'000'000'000 + week * 604'800'000LL;
            const int id = writer->BeginCampaign(start);
            std::vector<db::HistoryRecipient> rows;
            for (int p = 1; p <= 40; ++p) {
                db::HistoryRecipient r;
                r.position = p;
                r.address = QStringLiteral("r%1@example.jp").arg(p);
                r.outcome = p <= week ? db::HistoryOutcome::Failed : db::HistoryOutcome::Sent;
                rows.push_back(r);
            }
            QVERIFY(writer->AddRecipients(id, rows));
            QVERIFY(writer->EndCampaign(id, db::CampaignEnd::Completed, start.startedMs + 61000));
        }
    }

    void window_data() {
        QTest::addColumn<int>("outcome");  // index of the outcome filter
        QTest::addColumn<QString>("find");
        QTest::addColumn<int>("shown");
        QTest::newRow("everyone") << 0 << "" << 40;
        QTest::newRow("failed only") << 3 << "" << 2;  // the newest campaign: week 3
        QTest::newRow("an address") << 0 << "R4@" << 1;
    }
    void window() {
        QFETCH(int, outcome);
        QFETCH(QString, find);
        QFETCH(int, shown);
        test::ScriptedUserInteraction ui;
        app::d_History history(m_folder, ui);
        auto* table = history.findChild<QTableView*>("campaigns");
        QVERIFY(table);
        QCOMPARE(table->model()->rowCount(), 3);
        QCOMPARE(table->model()->index(0, 3).data().toString(), QStringLiteral("Week 3"));
        QCOMPARE(table->model()->index(0, 13).data().toString(), QStringLiteral("0:01:01"));
        const QByteArray page = test::readFile(history.reportPath());
        QCOMPARE(page.count("class=\"mark\""), 3 * 5 + 3 * 2);

        auto* open = history.findChild<QPushButton*>("openCampaign");
        QVERIFY(!open->isEnabled());  // no campaign chosen yet
        table->setCurrentIndex(table->model()->index(0, 0));
        QVERIFY(open->isEnabled());
        const db::CampaignRow* newest = history.campaigns().campaign(0);
        app::d_CampaignRecipients recipients(m_folder, *newest, ui);
        recipients.findChild<QComboBox*>("outcomeFilter")->setCurrentIndex(outcome);
        recipients.findChild<QLineEdit*>("textFilter")->setText(find);
        QCOMPARE(recipients.findChild<QTableView*>("recipients")->model()->rowCount(), shown);
        // every control speaks: the forms' own buttons, tables and filters
        for (QWidget* w : history.findChildren<QWidget*>() + recipients.findChildren<QWidget*>())
            if ((qobject_cast<QPushButton*>(w) && !qobject_cast<QDialogButtonBox*>(w->parent())) ||
                qobject_cast<QTableView*>(w) || qobject_cast<QComboBox*>(w) ||
                qobject_cast<QLineEdit*>(w) || qobject_cast<QTabWidget*>(w) ||
                qobject_cast<QDialogButtonBox*>(w) || w->objectName() == "charts")
                QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
        const QString csv = m_env.root() + QStringLiteral("shown.csv");
        ui.scriptFiles({{csv}});
        recipients.exportCsv();
        QCOMPARE(int(test::readFile(csv).count("\r\n")), shown + 1);
    }

    void pdfReport() {
        test::ScriptedUserInteraction ui;
        app::d_History history(m_folder, ui);
        const QString pdf = m_env.root() + QStringLiteral("report.pdf");
        QSignalSpy loaded(history.findChild<QWidget*>("charts"), SIGNAL(loadFinished(bool)));
        QVERIFY(loaded.wait(20000));
        QSignalSpy written(&history, &app::d_History::pdfWritten);
        ui.scriptFiles({{pdf}});
        QCOMPARE(history.exportPdf(), pdf);
        QVERIFY(written.wait(30000));
        QCOMPARE(written.first().at(1).toBool(), true);
        QVERIFY(test::readFile(pdf).startsWith("%PDF"));
    }

    void addressHistory() {
        app::d_AddressHistory mine(m_folder, QStringLiteral("R2@EXAMPLE.JP"));
        QCOMPARE(mine.campaigns().rowCount(), 3);
        QCOMPARE(mine.campaigns().index(0, 3).data().toString(), QStringLiteral("Failed"));
        QCOMPARE(mine.campaigns().index(2, 3).data().toString(), QStringLiteral("Sent"));
    }
};

QTEST_MAIN(TestHistoryWindow)
#include "test_history_window.moc"
