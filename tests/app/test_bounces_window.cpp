// The "Bounces and Replies" window over a bounce record made by the reader itself: what it
// lists, the report shown, undo, and reading without a mailbox.
#include "app/gui/BouncesWindow.h"
#include "bounces/BounceReport.h"
#include "db/HistoryStore.h"
#include "db/SuppressionList.h"
#include "send/Tracking.h"

#include "ScriptedUserInteraction.h"

#include <QAbstractItemModelTester>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

using namespace pw::bounces;

namespace {

QByteArray dsn(const QString& rcpt, const QString& id, const QString& status,
               const QString& words) {
    return QStringLiteral(
               "From: MAILER-DAEMON@mx.example.jp\nTo: shop@example.jp\n"
               "Date: Thu, 10 Dec 2026 12:00:00 +0900\nSubject: Undelivered Mail\n"
               "MIME-Version: 1.0\nContent-Type: multipart/report; "
               "report-type=delivery-status; boundary=\"B\"\n\n--B\n"
               "Content-Type: message/delivery-status\n\nReporting-MTA: dns; mx\n\n"
               "Final-Recipient: rfc822; %1\nAction: failed\nStatus: %2\n"
               "Diagnostic-Code: smtp; %4\n--B\n"
               "Content-Type: text/rfc822-headers\n\nX-Postwick-ID: %3\nTo: %1\n--B--\n")
        .arg(rcpt, status, id, words)
        .toUtf8();
}

}  // namespace

class TestBouncesWindow : public QObject {
    Q_OBJECT
private slots:
    void window_data();
    void window();
};

enum class Step { Look, Undo, UndoDeclined, ReadWithoutMailbox, LookWithHistory };
Q_DECLARE_METATYPE(Step)

void TestBouncesWindow::window_data() {
    QTest::addColumn<Step>("step");
    QTest::addColumn<int>("row");             // row of the report list clicked
    QTest::addColumn<QString>("shownPart");   // in the report text shown
    QTest::addColumn<bool>("undoEnabled");    // after the click
    QTest::addColumn<QStringList>("listed");  // the suppression list at the end
    QTest::addColumn<QString>("firstAction");
    QTest::addColumn<QString>("asked");  // part of the last message, empty: none
    const QStringList both{"kaori@example.net"};
    // newest first: the soft bounce, then the hard one
    QTest::newRow("soft bounce: counted, report shown")
        << Step::Look << 0 << "4.2.2" << true << both << "Counted"
        << "";
    QTest::newRow("hard bounce: suppressed")
        << Step::Look << 1 << "5.1.1" << true << both << "Counted"
        << "";
    QTest::newRow("auto-reply: nothing to undo")
        << Step::Look << 2 << "Out of office" << false << both << "Counted"
        << "";
    QTest::newRow("undo a hard bounce")
        << Step::Undo << 1 << "5.1.1" << false << QStringList{} << "Counted"
        << "kaori@example.net";
    QTest::newRow("undo declined")
        << Step::UndoDeclined << 1 << "5.1.1" << true << both << "Counted"
        << "kaori@example.net";
    QTest::newRow("read without a mailbox")
        << Step::ReadWithoutMailbox << 1 << "" << false << both << "Counted"
        << "No mailbox is set";
    QTest::newRow("campaign named from the history")
        << Step::LookWithHistory << 1 << "5.1.1" << true << both << "Counted"
        << "";
}

void TestBouncesWindow::window() {
    QFETCH(Step, step);
    QFETCH(int, row);
    QFETCH(QString, shownPart);
    QFETCH(bool, undoEnabled);
    QFETCH(QStringList, listed);
    QFETCH(QString, firstAction);
    QFETCH(QString, asked);
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    const QByteArray key = pw::send::trackingKey(folder);
    const pw::send::RunTracking run{key, pw::send::newRunId()};
    {
        CBounceBook book(folder);
        pw::db::CSuppressionList list(folder);
        const QDateTime now = QDateTime::currentDateTime();
        const auto id = [&](const char* a) { return pw::send::trackingId(run, a); };
        for (const QByteArray& mail :
             {QByteArray("From: saburo@example.net\nSubject: Out of office\n"
                         "Auto-Submitted: auto-replied\nIn-Reply-To: <1." +
                         id("saburo@example.net").toUtf8() + "@x>\n\nAway.\n"),
              QByteArray("From: friend@example.org\nSubject: lunch\n\nAt noon?\n"),
              dsn("kaori@example.net", id("kaori@example.net"), "5.1.1", "550 5.1.1 no such user"),
              dsn("jiro@example.net", id("jiro@example.net"), "4.2.2", "452 4.2.2 mailbox full")})
            QCOMPARE(book.apply(readReport(mail), key, list, now).list, Applied::List::Written);
        QCOMPARE(book.save(), BookSaved::Saved);
    }
    if (step == Step::LookWithHistory) {
        pw::db::CHistoryStore history(folder);
        const auto writer = history.OpenWriter();
        QVERIFY2(writer, qPrintable(history.LastError()));
        pw::db::CampaignStart start;
        start.runId = run.runId;
        start.subject = "Winter news";
        start.startedMs = QDateTime(QDate(2026, 12, 1), QTime(9, 30)).toMSecsSinceEpoch();
        QVERIFY(writer->BeginCampaign(start) > 0);
    }
    pw::test::ScriptedUserInteraction ui;
    pw::app::d_Bounces window(folder, {}, {}, ui);
    QAbstractItemModelTester reportsTester(&window.reports(),
                                           QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester otherTester(&window.unrecognised(),
                                         QAbstractItemModelTester::FailureReportingMode::QtTest);
    for (QWidget* w : window.findChildren<QWidget*>())
        if (qobject_cast<QPushButton*>(w) || qobject_cast<QTableView*>(w))
            QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
    QCOMPARE(window.reports().rowCount(), 3);
    QCOMPARE(window.unrecognised().rowCount(), 1);
    QCOMPARE(window.unrecognised().index(0, BounceListModel::ActionColumn).data().toString(),
             "Not a report: left alone");

    auto* reports = window.findChild<QTableView*>("reports");
    auto* undo = window.findChild<QPushButton*>("undoButton");
    reports->setCurrentIndex(window.reports().index(row, 0));
    QVERIFY(window.findChild<QPlainTextEdit*>("reportText")->toPlainText().contains(shownPart));
    // the campaign the history keeps for the run, not its identifier; none without a history
    QCOMPARE(window.reports().index(row, BounceListModel::CampaignColumn).data().toString(),
             step == Step::LookWithHistory ? "Winter news (2026-12-01 09:30)" : "");
    if (step == Step::Undo || step == Step::UndoDeclined) {
        ui.script({step == Step::Undo ? pw::Answer::Yes : pw::Answer::No});
        undo->click();
        if (step == Step::Undo) {
            // the row stays, marked as taken back
            QCOMPARE(window.reports().index(1, BounceListModel::ActionColumn).data().toString(),
                     "Undone");
            QCOMPARE(window.reports().index(1, BounceListModel::KindColumn).data().toString(),
                     "Permanent bounce");
        }
    } else if (step == Step::ReadWithoutMailbox) {
        window.findChild<QPushButton*>("readButton")->click();
        QVERIFY(ui.progressLog().contains("caption: Bounces and Replies"));
    }
    QCOMPARE(undo->isEnabled(), undoEnabled);
    QCOMPARE(window.reports().index(0, BounceListModel::ActionColumn).data().toString(),
             firstAction);
    QHash<QString, QString> reasons;
    QCOMPARE(pw::db::CSuppressionList(folder).ReadReasons(reasons), pw::db::ListRead::Read);
    QCOMPARE(reasons.keys(), listed);
    if (asked.isEmpty())
        QVERIFY(ui.asked().isEmpty());
    else
        QVERIFY2(ui.asked().last().text.contains(asked), qPrintable(ui.askedTexts().join('|')));
}

QTEST_MAIN(TestBouncesWindow)
#include "test_bounces_window.moc"
