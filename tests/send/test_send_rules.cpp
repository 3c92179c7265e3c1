// The decisions of a send run that need no server, and the send log file.
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimeZone>

#include "ScriptedUserInteraction.h"
#include "TestEnv.h"
#include "resources/Strings.h"
#include "send/SendLedger.h"
#include "send/SendLimits.h"
#include "send/SendLog.h"
#include "send/SendProgress.h"
#include "send/SendRules.h"

using namespace pw;
using namespace pw::send;

class TestSendRules : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { setLanguage(Language::English); }

    void fallback_data() {
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("connectionType");
        QTest::addColumn<int>("authType");
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("plain no auth 2525: 25 then 26")
            << 2525 << 0 << 0 << QList<int>{2525, 25, 26};
        QTest::newRow("plain with auth 2525: 587") << 2525 << 0 << 5 << QList<int>{2525, 587};
        QTest::newRow("implicit tls 2525: 465") << 2525 << 1 << 0 << QList<int>{2525, 465};
        QTest::newRow("implicit tls with auth: 465") << 2525 << 1 << 4 << QList<int>{2525, 465};
        QTest::newRow("starttls no auth: 587") << 2525 << 2 << 0 << QList<int>{2525, 587};
        QTest::newRow("starttls with auth: 587") << 2525 << 2 << 5 << QList<int>{2525, 587};
        QTest::newRow("configured 25 is not tried twice") << 25 << 0 << 0 << QList<int>{25, 26};
        QTest::newRow("configured 26 falls back to 25 only") << 26 << 0 << 0 << QList<int>{26, 25};
        QTest::newRow("configured 587 with auth gives up") << 587 << 0 << 5 << QList<int>{587};
        QTest::newRow("configured 465 tls gives up") << 465 << 1 << 0 << QList<int>{465};
        QTest::newRow("unknown connection type is plain")
            << 2525 << 7 << 0 << QList<int>{2525, 25, 26};
    }
    void fallback() {
        QFETCH(int, port);
        QFETCH(int, connectionType);
        QFETCH(int, authType);
        QFETCH(QList<int>, expected);
        ServerRecord s;
        s.smtpPort = port;
        readStored(connectionType, s.smtpConnectionType);
        readStored(authType, s.smtpAuthType);
        QCOMPARE(fallbackSequence(s), expected);
    }

    void connectCall_data() {
        QTest::addColumn<int>("connectionType");
        QTest::addColumn<int>("authType");
        QTest::addColumn<int>("verifMethod");
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("authText");
        const int none = int(smtp::AuthMethod::None), login = int(smtp::AuthMethod::Login),
                  cram = int(smtp::AuthMethod::CramMd5),
                  automatic = int(smtp::AuthMethod::Automatic);
        QTest::newRow("tls no auth uses pop user") << 1 << 0 << 0 << none << "pop"
                                                   << "No Auth";
        QTest::newRow("tls auth is automatic") << 1 << 5 << 0 << automatic << "smtp"
                                               << "SMTP";
        QTest::newRow("plain no auth") << 0 << 0 << 1 << none << "pop"
                                       << "No Auth";
        QTest::newRow("plain verif 0 is login") << 0 << 5 << 0 << login << "smtp"
                                                << "SMTP";
        QTest::newRow("plain verif 1 is cram-md5") << 0 << 4 << 1 << cram << "smtp"
                                                   << "SMTP";
        QTest::newRow("plain verif -1 is automatic") << 0 << 5 << -1 << automatic << "smtp"
                                                     << "SMTP";
        QTest::newRow("starttls verif 0 is login") << 2 << 5 << 0 << login << "smtp"
                                                   << "SMTP";
    }
    void connectCall() {
        QFETCH(int, connectionType);
        QFETCH(int, authType);
        QFETCH(int, verifMethod);
        QFETCH(int, method);
        QFETCH(QString, user);
        QFETCH(QString, authText);
        ServerRecord s;
        s.smtpServer = QStringLiteral("mail.example.jp");
        s.userId = QStringLiteral("pop");
        s.password = QStringLiteral("poppw");
        s.smtpUserName = QStringLiteral("smtp");
        s.smtpPassword = QStringLiteral("smtppw");
        readStored(connectionType, s.smtpConnectionType);
        readStored(authType, s.smtpAuthType);
        readStored(verifMethod, s.smtpVerifMethod);
        const ConnectCall c = connectCallFor(s, 2525);
        QCOMPARE(int(c.method), method);
        QCOMPARE(c.userName, user);
        QCOMPARE(c.password,
                 user == QLatin1String("pop") ? QStringLiteral("poppw") : QStringLiteral("smtppw"));
        QCOMPARE(c.authText, authText);
        QCOMPARE(connectDetail(c), QStringLiteral(" ( mail.example.jp:2525 / ") + authText + " )");
    }

    void projectOverridesOnlyNonEmpty() {
        ServerRecord standard;
        standard.smtpServer = "std.smtp";
        standard.popServer = "std.pop";
        standard.userId = "stduser";
        standard.password = "stdpw";
        standard.smtpPort = 2525;
        standard.smtpUserName = "stdsmtp";
        ServerConfig project;
        project.smtpServer = "proj.smtp";
        project.password = "projpw";
        project.smtpPort = 9999;         // never taken from the project
        project.smtpUserName = "other";  // neither are the SMTP credentials
        const ServerRecord r = effectiveServer(standard, project);
        QCOMPARE(r.smtpServer, QStringLiteral("proj.smtp"));
        QCOMPARE(r.popServer, QStringLiteral("std.pop"));
        QCOMPARE(r.userId, QStringLiteral("stduser"));
        QCOMPARE(r.password, QStringLiteral("projpw"));
        QCOMPARE(r.smtpPort, 2525);
        QCOMPARE(r.smtpUserName, QStringLiteral("stdsmtp"));
    }

    void addressCheck_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<bool>("passes");
        QTest::newRow("empty") << QString() << true;
        QTest::newRow("ascii") << "taro@example.jp, hanako@example.jp" << true;
        QTest::newRow("half-width katakana") << QString::fromUtf8("ｱｲｳ <a@example.jp>") << true;
        QTest::newRow("full-width at sign") << QString::fromUtf8("taro＠example.jp") << false;
        QTest::newRow("kanji") << QString::fromUtf8("山田 <yamada@example.jp>") << false;
        QTest::newRow("latin-1 letter") << QString::fromUtf8("josé@example.com") << false;
        QTest::newRow("just above the half-width forms") << QString(QChar(0xFFA0)) << false;
        QTest::newRow("first half-width form") << QString(QChar(0xFF61)) << true;
    }
    void addressCheck() {
        QFETCH(QString, field);
        QFETCH(bool, passes);
        QCOMPARE(addressCheckPasses(field), passes);
    }

    void failureEntries_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("550 explained")
            << 550
            << QStringList{"A problem occurred during transmission. ( 550 )",
                           "Access refused by SMTP server.", "desc"};
        QTest::newRow("521 explained")
            << 521
            << QStringList{"A problem occurred during transmission. ( 521 )",
                           "SMTP server did not accept mail.", "desc"};
        QTest::newRow("451 description only")
            << 451 << QStringList{"A problem occurred during transmission. ( 451 )", "desc"};
        QTest::newRow("no response")
            << 0 << QStringList{"A problem occurred during transmission. ( 0 )", "desc"};
    }
    void failureEntries() {
        QFETCH(int, code);
        QFETCH(QStringList, entries);
        QCOMPARE(transmissionFailureEntries(code, QStringLiteral("desc")), entries);
    }

    void messageText() {
        const QString retry =
            formatMessageText(str(ids::kPromptRetry), {"7", "550", "Mailbox unavailable"});
        QCOMPARE(retry, QStringLiteral(
                            "Was unable to send mail number 7. \n[550]Mailbox unavailable\n\nWould "
                            "you like to try and send this mail again? \n(Clicking [No] will skip "
                            "this mail. Clicking [Cancel] will stop any further mails from being "
                            "sent.)"));
        const QString skipped = formatMessageText(str(ids::kPromptSkipped), {"0", "why"});
        QVERIFY(skipped.startsWith(
            "Was unable to send mail number 0. \nwhy\n\nThis mail was skipped."));
        // An argument that itself holds "%1" is not expanded again.
        QCOMPARE(formatMessageText("%1 and %2", {"%2", "x"}), QStringLiteral("%2 and x"));
        QCOMPARE(formatMessageText("%9 missing", {"a"}), QStringLiteral(" missing"));
    }

    void escapedText() {
        QCOMPARE(
            escapedFailureText(0x80040106u, "Bad reply", {}),
            QStringLiteral(
                "An error occurred sending the message, Error:80040106\nDescription:Bad reply"));
        // A description holding "%s" does not swallow the response.
        QCOMPARE(
            escapedFailureText(0x8007000Au, "a %s b", "554 no"),
            QStringLiteral("An error occurred sending the message, Error:8007000A\nDescription:a "
                           "%s b, Response:554 no"));
    }

    void pauseEndAddsSeconds() {
        const QDateTime start(QDate(2026, 12, 31), QTime(23, 59, 50));
        QCOMPARE(pauseEnd(start, 10), QDateTime(QDate(2027, 1, 1), QTime(0, 0, 0)));
        QCOMPARE(pauseEnd(start, 3600), start.addSecs(3600));
        QCOMPARE(pauseEnd(start, -5), start);
        QVERIFY(standingByText(start).startsWith("Standing by "));
        QVERIFY(standingByText(start).endsWith("23:59:50"));
    }

    // Code, stage and text together: the account's limit stops the run, a recipient's own
    // refusal fails that recipient only.
    void limitReplies_data() {
        QTest::addColumn<int>("stage");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        const auto row = [](const char* name, SmtpStage st, int code, const char* text,
                            LimitReply r) {
            QTest::newRow(name) << int(st) << code << QString::fromUtf8(text) << int(r);
        };
        row("ms365 day quota after data", SmtpStage::EndOfData, 554,
            "554 5.2.0 STOREDRV.Submission.Exception:SubmissionQuotaExceededException",
            LimitReply::Day);
        row("ms365 connections", SmtpStage::Connect, 432,
            "432 4.3.2 Concurrent connections limit exceeded", LimitReply::Rate);
        row("gmail daily at mail from", SmtpStage::MailFrom, 550,
            "550-5.4.5 Daily user sending limit exceeded.\r\n550 5.4.5 - gsmtp", LimitReply::Day);
        row("421 try again later", SmtpStage::Rcpt, 421,
            "421 4.7.0 Try again later, closing connection.", LimitReply::Rate);
        row("ses throttling", SmtpStage::EndOfData, 454,
            "454 Throttling failure: Maximum sending rate exceeded.", LimitReply::Rate);
        row("ses daily quota", SmtpStage::EndOfData, 454,
            "454 Throttling failure: Daily message quota exceeded.", LimitReply::Day);
        row("hosting text without a code", SmtpStage::MailFrom, 550,
            "550 Too many messages, sending limit exceeded", LimitReply::Day);
        row("ms365 server busy", SmtpStage::EndOfData, 451,
            "451 4.7.500 Server busy. Please try again later", LimitReply::Rate);
        row("unknown user is the recipient's", SmtpStage::Rcpt, 550, "550 5.1.1 User unknown",
            LimitReply::None);
        row("full mailbox over quota is the recipient's", SmtpStage::Rcpt, 552,
            "552 5.2.2 Mailbox full, over quota", LimitReply::None);
        row("greylisting is not a limit", SmtpStage::Rcpt, 451,
            "451 4.7.1 Greylisted, try again later", LimitReply::None);
        row("plain 451 stays a refusal for now", SmtpStage::EndOfData, 451, "451 Try again later",
            LimitReply::None);
        // at the greeting and the sign-in, as at the other stages
        row("ms365 concurrent connections at the greeting", SmtpStage::Connect, 432,
            "432 4.3.2 Concurrent connections limit exceeded. Visit "
            "https://aka.ms/concurrent_sending for more information.",
            LimitReply::Rate);
        row("a host going down is no limit", SmtpStage::Connect, 432,
            "432 4.3.2 System not accepting network messages", LimitReply::None);
        row("gmail 421 at the greeting", SmtpStage::Connect, 421,
            "421 4.7.0 Try again later, closing connection. (EHLO) - gsmtp", LimitReply::Rate);
        row("too many sign-ins", SmtpStage::Auth, 454,
            "454 4.7.0 Too many login attempts, please try again later. - gsmtp", LimitReply::Rate);
        row("day's quota at the sign-in", SmtpStage::Auth, 550,
            "550 5.4.5 Daily user sending limit exceeded.", LimitReply::Day);
        row("a wrong password is no limit", SmtpStage::Auth, 535,
            "535 5.7.8 Username and Password not accepted.", LimitReply::None);
        row("sign-in switched off is no limit", SmtpStage::Auth, 535,
            "535 5.7.139 Authentication unsuccessful, SmtpClientAuthentication is disabled",
            LimitReply::None);
    }
    void limitReplies() {
        QFETCH(int, stage);
        QFETCH(int, code);
        QFETCH(QString, text);
        QFETCH(int, expected);
        QCOMPARE(int(classifyRefusal(SmtpStage(stage), code, text)), expected);
    }

    void estimate_data() {
        QTest::addColumn<int>("recipients");
        QTest::addColumn<QString>("profile");
        QTest::addColumn<int>("used");
        QTest::addColumn<QString>("expected");
        QTest::newRow("the issue's example")
            << 12000 << "7,30,0,10000,1" << 0
            << "12,000 recipients, 30 a minute, 10,000 a day: about 6 h 40 min over 2 days";
        QTest::newRow("one day") << 100 << "1,30,0,10000,3" << 0
                                 << "100 recipients, 30 a minute, 10,000 a day: about 3 min";
        QTest::newRow("used today pushes to a second day")
            << 300 << "2,20,0,500,1" << 400
            << "300 recipients, 20 a minute, 500 a day: about 15 min over 2 days\n"
               "400 of the day's 500 were sent from this account in the last 24 hours.";
        QTest::newRow("no limits")
            << 50 << "0,0,0,0,1" << 0 << "50 recipients, no sending limits set for this server";
    }
    void estimate() {
        QFETCH(int, recipients);
        QFETCH(QString, profile);
        QFETCH(int, used);
        QFETCH(QString, expected);
        bool ok = false;
        const SendingProfile p = parseSendingProfile(profile, &ok);
        QVERIFY(ok);
        QCOMPARE(formatSendingProfile(p), profile);  // round trip
        QCOMPARE(sendEstimateText(recipients, p, used), expected);
    }

    void presets_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("preset");
        QTest::newRow("office365") << "smtp.office365.com" << int(ProfilePreset::Microsoft365);
        QTest::newRow("gmail") << "SMTP.gmail.com " << int(ProfilePreset::Gmail);
        QTest::newRow("workspace relay")
            << "smtp-relay.gmail.com" << int(ProfilePreset::GoogleWorkspace);
        QTest::newRow("ses") << "email-smtp.ap-northeast-1.amazonaws.com"
                             << int(ProfilePreset::Relay);
        QTest::newRow("sakura") << "example.sakura.ne.jp" << int(ProfilePreset::JapaneseHosting);
        QTest::newRow("look-alike is unknown")
            << "notgmail.com.evil.example" << int(ProfilePreset::NoLimits);
    }
    void presets() {
        QFETCH(QString, host);
        QFETCH(int, preset);
        QCOMPARE(int(presetForHost(host)), preset);
    }

    // The pace spreads mails evenly, the windows never hold more than their figures, a day's
    // refusal is learnt, and a second limiter on the same account starts from the ledger.
    void limiterAndLedger() {
        test::TestEnv env;
        const QString folder = env.makeFolder(QStringLiteral("data"));
        const QDateTime t0 = QDateTime::fromMSecsSinceEpoch(1'800'000'000'000LL, Qt::UTC);
        SendingProfile p = presetProfile(ProfilePreset::Microsoft365);
        p.perDay = 5;
        CSendLimiter limiter(p, std::make_unique<CSendLedger>(folder, QStringLiteral("a@h")), t0);
        QDateTime now = t0;
        for (int i = 0; i < 5; ++i) {
            now = limiter.nextSlot(now);
            QCOMPARE(now, t0.addSecs(2 * i));  // 30 a minute: every 2 s
            limiter.sent(now);
        }
        // a mail's own transmission does not slow the pace: slots count from each start
        CSendLimiter timed(presetProfile(ProfilePreset::Microsoft365), nullptr, t0);
        QDateTime at = t0;
        for (int i = 0; i < 3; ++i) {
            at = timed.nextSlot(at);
            QCOMPARE(at, t0.addSecs(2 * i));
            at = at.addMSecs(300);  // its transmission
            timed.sent(at);
        }
        QCOMPARE(limiter.nextSlot(now), t0.addDays(1));  // the first leaves the 24 hours
        QCOMPARE(limiter.nextSlot(now, 1), t0.addDays(1).addSecs(2));
        CSendLimiter again(p, std::make_unique<CSendLedger>(folder, QStringLiteral("a@h")),
                           now.addSecs(60));
        QCOMPARE(again.usedInDay(now.addSecs(60)), 5);
        QCOMPARE(again.nextSlot(now.addSecs(60)), t0.addDays(1));
        // no profile: the server's day refusal after three sets the day's figure to three
        CSendLimiter learner({}, std::make_unique<CSendLedger>(folder, QStringLiteral("b@h")), t0);
        for (int i = 0; i < 3; ++i)
            learner.sent(t0.addSecs(i));
        QCOMPARE(learner.nextSlot(t0.addSecs(3)), t0.addSecs(3));
        QCOMPARE(learner.afterLimitReply(LimitReply::Day, t0.addSecs(3)), t0.addDays(1).addSecs(1));
        QCOMPARE(learner.dayLimit(), 3);
        QCOMPARE(learner.afterLimitReply(LimitReply::Rate, t0), t0.addSecs(60));
        QCOMPARE(learner.afterLimitReply(LimitReply::Rate, t0), t0.addSecs(120));
        CSendLimiter relearnt({}, std::make_unique<CSendLedger>(folder, QStringLiteral("b@h")),
                              t0.addSecs(10));
        QCOMPARE(relearnt.dayLimit(), 3);
        // a run's own lines are not read back; another run's after them still count
        const auto ledgerC = [&] {
            return std::make_unique<CSendLedger>(folder, QStringLiteral("c@h"));
        };
        CSendLimiter mine({}, ledgerC(), t0);
        CSendLimiter theirs({}, ledgerC(), t0);
        mine.sent(t0);
        mine.sent(t0.addSecs(1));
        QCOMPARE(mine.usedInDay(t0.addSecs(2)), 2);
        theirs.sent(t0.addSecs(3));
        QCOMPARE(mine.usedInDay(t0.addSecs(4)), 3);
        mine.sent(t0.addSecs(5));
        QCOMPARE(mine.usedInDay(t0.addSecs(6)), 4);
        QCOMPARE(theirs.usedInDay(t0.addSecs(6)), 4);
    }

    // Two runs on one account at once: each sees what the other sends while it runs, not only
    // what was there when it started, and never counts its own mails twice.
    void ledgerSharedWhileRunning_data() {
        QTest::addColumn<int>("mine");      // sent by this run
        QTest::addColumn<int>("theirs");    // by the other run, after this one started
        QTest::addColumn<int>("theirDay");  // the day's limit the other run learnt; 0: none
        QTest::addColumn<int>("used");
        QTest::addColumn<int>("dayLimit");
        QTest::newRow("the other's mails count at once") << 0 << 3 << 0 << 3 << 10;
        QTest::newRow("both send, nobody twice") << 2 << 3 << 0 << 5 << 10;
        QTest::newRow("the other's day limit holds here") << 1 << 4 << 5 << 5 << 5;
    }
    void ledgerSharedWhileRunning() {
        QFETCH(int, mine);
        QFETCH(int, theirs);
        QFETCH(int, theirDay);
        QFETCH(int, used);
        QFETCH(int, dayLimit);
        test::TestEnv env;
        const QString folder = env.makeFolder(QStringLiteral("data"));
        const QDateTime t0 = QDateTime::fromMSecsSinceEpoch(1'800'000'000'000LL, Qt::UTC);
        SendingProfile p;
        p.perDay = 10;
        const auto ledger = [&] {
            return std::make_unique<CSendLedger>(folder, QStringLiteral("a@h"));
        };
        CSendLimiter run(p, ledger(), t0);
        CSendLimiter other(p, ledger(), t0);
        for (int i = 0; i < std::max(mine, theirs); ++i) {
            if (i < mine)
                run.sent(t0.addSecs(2 * i));
            if (i < theirs)
                other.sent(t0.addSecs(2 * i + 1));
        }
        if (theirDay > 0)
            QVERIFY(ledger()->appendDayLimit(t0.addSecs(60), theirDay));
        // a line the other run is still writing waits for its end
        QFile half(ledger()->path());
        QVERIFY(half.open(QIODevice::Append));
        QVERIFY(half.write("S 18000000") > 0);
        half.close();
        QCOMPARE(run.usedInDay(t0.addSecs(100)), used);
        QCOMPARE(run.dayLimit(), dayLimit);
        const QDateTime next = run.nextSlot(t0.addSecs(100));
        QCOMPARE(next, used >= dayLimit ? t0.addDays(1) : t0.addSecs(100));
    }

    // The day's window counts the mails sent, the slot another connection holds and the mails
    // pending before the one asked about, whichever of them the window's edge falls on.
    void dayWindowWithOtherConnections_data() {
        QTest::addColumn<int>("perDay");
        QTest::addColumn<int>("sent");      // at t0, t0 + 1 s, ...
        QTest::addColumn<bool>("held");     // connection 0 holds the slot at t0 + 5 s
        QTest::addColumn<int>("pending");   // connection 1's
        QTest::addColumn<int>("expected");  // seconds after t0 + 1 day; -1: at t0 + 5 s
        QTest::newRow("under the figure") << 3 << 1 << true << 0 << -1;
        QTest::newRow("the held slot fills it") << 3 << 2 << true << 0 << 0;
        QTest::newRow("a pending mail fills it") << 3 << 2 << false << 1 << 0;
        QTest::newRow("the edge on the held slot") << 2 << 1 << true << 1 << 5;
        QTest::newRow("the edge on a pending mail") << 2 << 0 << true << 2 << 5;
    }
    void dayWindowWithOtherConnections() {
        QFETCH(int, perDay);
        QFETCH(int, sent);
        QFETCH(bool, held);
        QFETCH(int, pending);
        QFETCH(int, expected);
        const QDateTime t0 = QDateTime::fromMSecsSinceEpoch(1'800'000'000'000LL, Qt::UTC);
        const QDateTime now = t0.addSecs(5);
        SendingProfile p;
        p.perDay = perDay;
        CSendLimiter limiter(p, nullptr, t0);
        for (int i = 0; i < sent; ++i)
            limiter.sent(t0.addSecs(i));
        if (held)
            QCOMPARE(limiter.nextSlot(now, 0, 0), now);
        QCOMPARE(limiter.nextSlot(now, pending, 1),
                 expected < 0 ? now : t0.addDays(1).addSecs(expected));
        // a connection's own slot never holds it back
        if (held && expected < 0)
            QCOMPARE(limiter.nextSlot(now, 0, 0), now);
    }

    void counter() { QCOMPARE(counterText(3, 50), QStringLiteral("3  /  50")); }

    // ---- the send log ----

    void logEntryFormat() {
        const QDateTime t(QDate(2026, 3, 4), QTime(5, 6, 7));
        QCOMPARE(CSendLog::formatEntry(t, "Mail transmission ended."),
                 QStringLiteral("04.03.2026 05:06:07 / Mail transmission ended."));
    }

    void logWritesOnlyWhileActive() {
        test::TestEnv env;
        CSendLog log;
        const QString path = env.root() + "log.txt";
        log.setPath(path);
        log.append("before any run");
        QVERIFY(!QFile::exists(path));
        log.setActive();
        log.append(QString::fromUtf8("宛先 one"));
        // a line break in a value (an address of the database) forges no entry of its own
        log.append("two\r\n01.01.2026 00:00:00 / forged");
        const QByteArray bytes = test::readFile(path);
        const QList<QByteArray> lines = bytes.split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(
            lines[0].endsWith(QByteArray(" / ") + QString::fromUtf8("宛先 one").toUtf8() + "\r"));
        QVERIFY(lines[1].endsWith(" / two  01.01.2026 00:00:00 / forged\r"));
        QVERIFY(lines[2].isEmpty());
        QVERIFY(!bytes.contains("before any run"));
    }

    // A new run starts a new log; the previous ones are kept under dated names, the newest
    // ten, and a link planted where the log goes is neither followed nor kept.
    void logResetKeepsPreviousRuns() {
        test::TestEnv env;
        CSendLog log;
        const QString path = env.root() + "log.txt";
        log.setPath(path);
        log.setActive();
        for (int run = 0; run < CSendLog::kKeptLogs + 3; ++run) {
            log.append(QStringLiteral("run %1").arg(run));
            // every run ends in another second of the file's time
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(QDateTime(QDate(2026, 12, 9), QTime(10, 0, run)),
                                  QFileDevice::FileModificationTime));
            f.close();
            log.reset();
            QVERIFY(!QFile::exists(path));
        }
        log.append("new run");
        QVERIFY(!test::readFile(path).contains("run 0"));
        const QStringList kept = CSendLog::keptLogs(path);
        QCOMPARE(kept.size(), CSendLog::kKeptLogs);
        QVERIFY(kept.first().endsWith("log-20261209-100003.txt"));
        QVERIFY(test::readFile(kept.first()).contains("run 3"));
        QVERIFY(test::readFile(kept.last())
                    .contains(QStringLiteral("run %1").arg(CSendLog::kKeptLogs + 2).toUtf8()));

        const QString elsewhere = env.root() + "not-the-log.txt";
        QVERIFY(test::writeFile(elsewhere, "someone else's"));
        QFile::remove(path);
        QVERIFY(QFile::link(elsewhere, path));
        log.reset();
        QCOMPARE(CSendLog::keptLogs(path), kept);
        QCOMPARE(test::readFile(elsewhere), QByteArray("someone else's"));
    }

    void logViewFedOnlyWhenReadyAndOn() {
        test::TestEnv env;
        CSendLog log;
        log.setPath(env.root() + "log.txt");
        log.setActive();
        QStringList lines;
        int clears = 0;
        log.setView([&](const QString& l) { lines << l; }, [&] { ++clears; });
        log.append("not ready");
        log.setViewReady(true);
        log.append("log view off");
        log.setLogView(true);
        log.append("shown");
        log.reset();
        log.setLogView(false);  // the user closed the log window
        log.append("after close");
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines[0].endsWith(" / shown"));
        QCOMPARE(clears, 1);
        // With the view off every entry still reaches the file.
        QVERIFY(test::readFile(env.root() + "log.txt").contains("after close"));
    }

    void logUnwritableLosesEntrySilently() {
        test::TestEnv env;
        CSendLog log;
        log.setPath(env.root() + "no/such/folder/log.txt");
        log.setActive();
        log.append("lost");  // must not crash or throw
        QVERIFY(!QFile::exists(env.root() + "no/such/folder/log.txt"));
    }

    void logFromTwoThreadsKeepsWholeLines() {
        test::TestEnv env;
        CSendLog log;
        const QString path = env.root() + "log.txt";
        log.setPath(path);
        log.setActive();
        auto writer = [&](char tag) {
            return QThread::create([&log, tag] {
                for (int i = 0; i < 200; ++i)
                    log.append(QString(40, QLatin1Char(tag)));
            });
        };
        std::unique_ptr<QThread> a(writer('a')), b(writer('b'));
        a->start();
        b->start();
        a->wait();
        b->wait();
        const QList<QByteArray> lines = test::readFile(path).split('\n');
        QCOMPARE(lines.size(), 401);
        for (int i = 0; i < 400; ++i) {
            const QByteArray tail = lines[i].mid(lines[i].indexOf(" / ") + 3);
            QVERIFY2(tail == QByteArray(40, 'a') + '\r' || tail == QByteArray(40, 'b') + '\r',
                     lines[i].constData());
        }
    }

    // ---- prompts from the worker thread reach the interface thread ----

    void relayBlocksForTheAnswer() {
        test::ScriptedUserInteraction ui;
        ui.script({Answer::No, Answer::Cancel});
        CSendProgressRelay relay(ui);
        QSignalSpy status(&relay, &CSendProgressRelay::statusChanged);
        Answer first = Answer::Ok, second = Answer::Ok;
        std::unique_ptr<QThread> worker(QThread::create([&] {
            relay.setStatus("Compiling mail.");
            first = relay.prompt(SendPrompt::RetryMail, "Transmission Error", "retry?");
            second = relay.prompt(SendPrompt::AddressSkipped, "Transmission Error", "skipped");
        }));
        worker->start();
        QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 5000);
        QCOMPARE(first, Answer::No);
        QCOMPARE(second, Answer::Cancel);
        QCOMPARE(ui.asked().size(), 2);
        QCOMPARE(ui.asked()[0].kind, MessageKind::YesNoCancel);
        QCOMPARE(ui.asked()[0].caption, QStringLiteral("Transmission Error"));
        QCOMPARE(status.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSendRules)
#include "test_send_rules.moc"
