#include "app/SendCommand.h"

#include "app/Keyring.h"

#include <pthread.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <thread>

#include "app/AppFolders.h"
#include "app/BounceCommand.h"
#include "app/IniFile.h"
#include "app/RunRecovery.h"
#include "app/ScheduledSend.h"
#include "app/SendSettings.h"
#include "app/Settings.h"
#include "app/StopSignals.h"
#include "db/TDbData.h"
#include "resources/Strings.h"
#include "send/DeliverabilityCheck.h"
#include "send/DnsLookup.h"
#include "send/RunMarker.h"
#include "send/SendClock.h"
#include "send/SendFlow.h"
#include "send/SendLog.h"
#include "serversettings/CertificateTrust.h"

namespace pw::app {
namespace {

// Lines to the terminal from both threads, never interleaved. Output into a file or a pipe
// goes out in blocks (a run writes several lines per mail, and the send log has each line at
// once), before every line to standard error so that the order stays.
class Console {
public:
    void out(const QString& line) {
        QMutexLocker lock(&m_mutex);
        const QByteArray bytes = line.toLocal8Bit() + '\n';
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        if (m_outIsTerminal)
            std::fflush(stdout);
    }
    void err(const QString& line) {
        QMutexLocker lock(&m_mutex);
        std::fflush(stdout);
        const QByteArray bytes = line.toLocal8Bit() + '\n';
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        std::fflush(stderr);
    }
    // Asks on the terminal; the first letter of the reply, or 0 at the end of input.
    char ask(const QString& text, const QString& choices) {
        QMutexLocker lock(&m_mutex);
        std::fflush(stdout);
        const QByteArray bytes = (text + QLatin1Char('\n') + choices).toLocal8Bit();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        std::fflush(stderr);
        char line[256];
        if (!std::fgets(line, sizeof line, stdin))
            return 0;
        for (const char* p = line; *p; ++p) {
            if (*p != ' ' && *p != '\t')
                return char(std::tolower(static_cast<unsigned char>(*p)));
        }
        return '\n';
    }

    // What was written goes out now (a wait follows).
    void flush() {
        QMutexLocker lock(&m_mutex);
        std::fflush(stdout);
    }
    ~Console() { std::fflush(stdout); }

private:
    QMutex m_mutex;
    const bool m_outIsTerminal = ::isatty(STDOUT_FILENO) != 0;
};

// The progress display of the command line: status changes and the counter as lines.
class ConsoleProgress : public send::ISendProgress {
public:
    ConsoleProgress(Console& console, bool interactive)
        : m_console(console), m_interactive(interactive) {}

    void setStatus(const QString& text) override {
        if (text == m_lastStatus)
            return;
        m_lastStatus = text;
        m_console.out(QStringLiteral("status: ") + text.trimmed());
    }
    void setCounter(int current, int total) override {
        m_console.out(QStringLiteral("mail: ") + send::counterText(current, total));
    }
    void setRange(int total) override {
        m_console.out(QStringLiteral("mails: ") + QString::number(total));
    }
    void step() override {}

    Answer prompt(send::SendPrompt kind, const QString& caption, const QString& text) override {
        m_console.err(caption + QStringLiteral(": ") + text);
        switch (kind) {
            case send::SendPrompt::RetryMail: {
                if (!m_interactive)
                    return Answer::No;
                for (;;) {
                    const char c = m_console.ask(QString(), str(ids::kCliAnswerRetry));
                    if (c == 'y')
                        return Answer::Yes;
                    if (c == 'n')
                        return Answer::No;
                    if (c == 'c' || c == 0)
                        return Answer::Cancel;
                }
            }
            case send::SendPrompt::AddressSkipped: {
                if (!m_interactive)
                    return Answer::Ok;
                for (;;) {
                    const char c = m_console.ask(QString(), str(ids::kCliAnswerSkip));
                    if (c == 'o' || c == '\n')
                        return Answer::Ok;
                    if (c == 'c' || c == 0)
                        return Answer::Cancel;
                }
            }
            case send::SendPrompt::ReconnectFailed:
            case send::SendPrompt::EscapedFailure:
                return Answer::Ok;
        }
        return Answer::Ok;
    }

private:
    Console& m_console;
    bool m_interactive;
    QString m_lastStatus;
};

// Messages of the store and the project reader, on standard error.
class ConsoleInteraction : public IUserInteraction {
public:
    explicit ConsoleInteraction(Console& console) : m_console(console) {}
    Answer message(const QString& caption, const QString& text, MessageKind kind) override {
        m_console.err(caption + QStringLiteral(": ") + text);
        switch (kind) {
            case MessageKind::Information:
                return Answer::Ok;
            case MessageKind::YesNo:
            case MessageKind::YesNoCancelDefaultNo:
                return Answer::No;  // never replace or discard anything unasked
            case MessageKind::YesNoCancel:
            case MessageKind::OkCancel:
                return Answer::Cancel;
        }
        return Answer::Cancel;
    }
    std::unique_ptr<IProgress> createProgress() override {
        return std::make_unique<SilentProgress>();
    }

private:
    Console& m_console;
};

// Removes a folder of this command's own and everything in it.
void removeFolder(const QString& folder) {
    if (!folder.isEmpty())
        QDir(folder).removeRecursively();
}

}  // namespace

SendExit exitStatusOf(const send::RunRefusal& refusal) {
    switch (refusal.reason) {
        case send::RefusalReason::None:
        case send::RefusalReason::NoData:  // nobody to send to is no failure
        case send::RefusalReason::NoneMarked:
        case send::RefusalReason::NothingUnsent:
            return SendExit::Complete;
        case send::RefusalReason::ProjectNotWritable:
            return SendExit::NotRecorded;
        default:
            return SendExit::Unusable;
    }
}

bool isSendCommandLine(const QStringList& arguments) {
    return arguments.contains(QStringLiteral("--send"));
}

SendCommandLine parseSendCommandLine(const QStringList& arguments) {
    SendCommandLine cl;
    bool sendSeen = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        const auto value = [&](QString& into) {
            if (i + 1 >= arguments.size() || arguments.at(i + 1).startsWith(QLatin1String("--"))) {
                cl.error = a + QStringLiteral(": a value is missing");
                return false;
            }
            into = arguments.at(++i);
            return true;
        };
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            cl.help = true;
        } else if (a == QLatin1String("--send")) {
            sendSeen = true;
            if (i + 1 < arguments.size() && !arguments.at(i + 1).startsWith(QLatin1String("--")))
                cl.projectPath = arguments.at(++i);
        } else if (a == QLatin1String("--selection")) {
            QString v;
            if (!value(v))
                return cl;
            if (v == QLatin1String("all")) {
                cl.selection = SendCommandLine::Selection::All;
            } else if (v == QLatin1String("selected")) {
                cl.selection = SendCommandLine::Selection::Selected;
            } else if (v == QLatin1String("unsent")) {
                cl.selection = SendCommandLine::Selection::Unsent;
            } else {
                cl.error = QStringLiteral("--selection: all, selected or unsent, not ") + v;
                return cl;
            }
        } else if (a == QLatin1String("--force")) {
            cl.force = true;
        } else if (a == QLatin1String("--test")) {
            cl.test = true;
        } else if (a == QLatin1String("--check")) {
            cl.check = true;
        } else if (a == QLatin1String("--dry-run")) {
            if (!value(cl.dryRunFolder))
                return cl;
        } else if (a == QLatin1String("--database")) {
            if (!value(cl.database))
                return cl;
            if (!db::IsServerConnection(cl.database)) {
                cl.error = QStringLiteral(
                               "--database: HOST/PORT:PATH or HOST:ALIAS of a Firebird "
                               "server, not ") +
                           cl.database;
                return cl;
            }
        } else if (cl.projectPath.isEmpty() && sendSeen && !a.startsWith(QLatin1String("--"))) {
            cl.projectPath = a;
        } else {
            cl.error = QStringLiteral("unknown argument: ") + a;
            return cl;
        }
    }
    if (!cl.help && cl.projectPath.isEmpty())
        cl.error = QStringLiteral("--send needs a project file");
    return cl;
}

int runSendCommand(const QStringList& arguments) {
    std::unique_ptr<QCoreApplication> ownApp;
    static int argc = 1;
    static char name[] = "postwick";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        ownApp = std::make_unique<QCoreApplication>(argc, argv);

    // SIGTERM, SIGHUP and Ctrl+C: an orderly cancel that lets the mail being transmitted
    // finish; a second one stops at once, a third Ctrl+C ends the process.
    CStopSignals stops(CStopSignals::SecondInterrupt::EndProcess, int(SendExit::Cancelled));
    Console console;
    const SendCommandLine cl = parseSendCommandLine(arguments);
    if (cl.help) {
        console.out(str(ids::kCliUsage));
        return int(SendExit::Complete);
    }
    if (!cl.error.isEmpty()) {
        console.err(str(ids::kCliBadArguments) + QLatin1Char(' ') + cl.error);
        console.err(str(ids::kCliUsage));
        return int(SendExit::Unusable);
    }

    // ---- folders and settings ----
    const QString exeFolder = QCoreApplication::applicationDirPath();
    const AppFolders folders = DetermineFolders(exeFolder + QLatin1Char('/'));
    if (folders.tempFolder.isEmpty())
        return int(SendExit::Unusable);
    (void)CreateFolder(folders.userDataFolder);
    (void)CreateFolder(folders.workingCopyFolder);
    const QString exeName = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    const QString settingsPath =
        folders.settingsPath(exeName.isEmpty() ? QStringLiteral("postwick") : exeName);
    CIniFile ini(settingsPath);
    (void)ini.Load();  // a missing file gives the defaults, as at start-up
    Settings settings = ReadSettings(ini);
    ApplyShareListsChoice(settings);
    LoadSecrets(settings, processKeyring());  // the window's keyring, the same entries

    send::CSendLog log;  // this command's own: it outlives the flow declared below
    // A dry run keeps its log with its messages; the real run's log stays as it was.
    log.setPath(cl.dryRunFolder.isEmpty()
                    ? folders.logFilePath()
                    : QDir(cl.dryRunFolder).absoluteFilePath(QLatin1String(send::kDryRunLogName)));
    // A run that failed for its connection or sign-in says why on standard error too (a cron
    // job's mail), also when the server went away or the sign-in died part-way.
    QStringList connectFailures;
    log.setView(
        [&console, &connectFailures](const QString& line) {
            console.out(line);
            if (line.contains(str(ids::kLogUnableToConnect)))
                connectFailures << line;
        },
        {});
    log.setViewReady(true);
    log.setLogView(true);

    ConsoleInteraction ui(console);
    const QString projectPath = QFileInfo(cl.projectPath).absoluteFilePath();
    // What the database engine says about a damaged project goes into the log (the flow's
    // store tells it there); the terminal gets the program's own message.
    log.setActive();

    RemoveStaleSendFolders(folders.tempFolder);
    // A preview folder of this command's own: a window open at the same time keeps its files.
    const QString preview =
        PrivateFolder(folders.tempFolder,
                      QStringLiteral("PostwickSend-%1").arg(QCoreApplication::applicationPid()));
    if (preview.isEmpty())
        return int(SendExit::Unusable);
    struct FolderGuard {
        QString folder;
        ~FolderGuard() { removeFolder(folder); }
    } previewGuard{preview};

    send::SendFlowSettings flowSettings = sendFlowSettingsFrom(
        settings, db::DbFolders{folders.userDataFolder, folders.workingCopyFolder}, preview,
        [&console](const QString&, TokenKept kept) {
            // nobody saves this command's settings: a token not kept is lost for the next run
            if (kept == TokenKept::NotStored)
                console.err(str(ids::kCliTokenNotStored));
        });
    const bool interactive = ::isatty(STDIN_FILENO) != 0;
    if (!interactive && flowSettings.pacing.errorPolicy == send::ErrorPolicy::Ask)
        flowSettings.pacing.errorPolicy = send::ErrorPolicy::Continue;
    flowSettings.dryRunFolder = cl.dryRunFolder;
    send::CSendFlow flow(std::move(flowSettings), log);

    // Bad settings and folders are refused before the project is touched, the files of its
    // mail once it is read: the same checks as the window's, before the first mail.
    if (const send::RunRefusal early = flow.checkFilesAndFolders(); !early.ok()) {
        console.err(flow.refusalText(early));
        return int(exitStatusOf(early));
    }
    // A run the timer started waits for another run of the project, or a window that shows
    // it, to end (bounded): it must neither send the same recipients again nor leave them
    // for a day.
    if (const QByteArray wait = qgetenv(kScheduledWaitVariable);
        !wait.isEmpty() && cl.dryRunFolder.isEmpty()) {
        const std::shared_ptr<send::ISendClock> clock = send::systemClock();
        const QDateTime until = clock->now().addSecs(std::max(0, wait.toInt()));
        const std::atomic<bool> never{false};
        bool told = false;
        send::ProjectLockResult why = send::ProjectLockResult::Held;
        const auto inUse = [&] {
            return projectOpenInWindow(folders.workingCopyFolder, projectPath) ||
                   (!send::CProjectLock::acquire(projectPath, &why) &&
                    why == send::ProjectLockResult::Busy);
        };
        while (inUse()) {
            const QString at = until.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            if (!told) {
                log.append(send::formatMessageText(str(ids::kCliScheduledWaits), {at}));
                console.flush();
            }
            told = true;
            if (clock->now() >= until || CStopSignals::count() > 0) {
                log.append(send::formatMessageText(str(ids::kCliScheduledGivesUp), {at}));
                console.err(str(ids::kCliProjectBusy) + QLatin1Char(' ') + projectPath);
                return int(SendExit::Unusable);
            }
            clock->sleep(500, never);
        }
    }
    if (!cl.database.isEmpty()) {
        const QString user = serverListUser({});
        flow.useServerList({cl.database, user, serverListPassword(cl.database, user)});
    }
    // the server the project remembers, where the command line names none
    flow.useServerPasswords(&serverListPassword);
    switch (flow.openProject(projectPath, ui)) {
        case send::OpenResult::Unreadable:
        case send::OpenResult::Damaged:
            console.err(str(ids::kCliProjectUnreadable) + QLatin1Char(' ') + projectPath +
                        (flow.openFailure().isEmpty()
                             ? QString()
                             : QStringLiteral(" (") + flow.openFailure() + ')'));
            return int(SendExit::Unusable);
        case send::OpenResult::Busy:
            console.err(str(ids::kCliProjectBusy) + QLatin1Char(' ') + projectPath);
            return int(SendExit::Unusable);
        case send::OpenResult::Resumed:
            console.out(str(ids::kCliRecovered) + QLatin1Char(' ') + flow.resumedWorkingCopy());
            for (const QString& who : flow.inFlightOfKilledRun())
                console.out(send::formatMessageText(str(ids::kLogPossiblyDeliveredTo), {who}));
            break;
        case send::OpenResult::Opened:
        case send::OpenResult::NoDatabase:
            break;
    }

    // The outcomes of a resumed run go back into the project even when nothing is sent.
    const auto endWithoutRun = [&](int exitCode) {
        const send::WriteBack w = flow.close();
        if (w.status == send::WriteBackStatus::Failed) {
            console.err(str(ids::kCliWriteBackFailed) + QLatin1Char(' ') + w.workingCopy);
            if (exitCode == int(SendExit::Complete))
                exitCode = int(SendExit::NotRecorded);
        }
        return exitCode;
    };

    // A refusal before the first mail: told as the window tells it, on standard output when
    // there is just nobody to send to.
    const auto refuse = [&](const send::RunRefusal& refusal) {
        const SendExit exit = exitStatusOf(refusal);
        if (exit == SendExit::Complete)
            console.out(flow.refusalText(refusal));
        else
            console.err(flow.refusalText(refusal));
        return endWithoutRun(int(exit));
    };
    if (const send::RunRefusal checked =
            flow.check(cl.test ? send::SendKind::Test : send::SendKind::Send);
        !checked.ok())
        return refuse(checked);
    if (flow.mode() == send::SendMode::Merge) {
        if (const send::RunRefusal chosen =
                flow.chooseSelection(static_cast<db::SendSelectionMode>(cl.selection));
            !chosen.ok())
            return refuse(chosen);
    }

    // The check reads the recipients chosen and one merged message; it sends nothing and
    // leaves the project as it was.
    if (cl.check) {
        console.out(send::formatMessageText(str(ids::kCliCheckHeading), {projectPath}));
        send::CDnsResolver dns = send::CDnsResolver::fromEnvironment();
        const std::vector<send::Finding> findings =
            send::checkDeliverability(send::deliverabilityInput(flow), dns);
        for (const QString& line : send::findingLines(findings))
            console.out(line);
        return endWithoutRun(send::worstLevel(findings) == send::FindingLevel::Problem
                                 ? int(SendExit::CheckFoundProblem)
                                 : int(SendExit::Complete));
    }

    // Bad settings, files or folders, the questions (answered beforehand here: characters the
    // charset cannot carry are told, UTF-8 is a setting away), the project's lock and the
    // write-back: refused before the first mail, naming what was found.
    const send::RunQuestions questions{send::Asking::NoOne, cl.force
                                                                ? send::OverInterrupted::SendAll
                                                                : send::OverInterrupted::Refuse};
    const send::RunRefusal prepared = flow.prepare(ui, questions);
    for (const QString& warning : flow.warnings())
        console.err(warning);
    if (!prepared.ok())
        return refuse(prepared);

    // ---- the run ----
    ConsoleProgress progress(console, interactive);
    int stopRequests = 0;
    const auto stop = [&](int signalNumber) {
        // The first request lets the mail being transmitted finish; the second stops at once.
        ++stopRequests;
        if (stopRequests == 1)
            console.err(
                str(signalNumber == SIGINT ? ids::kCliCancelRequested : ids::kCliStopRequested));
        else if (stopRequests == 2)
            console.err(str(ids::kCliStopAtOnce));
        flow.cancel();
    };
    QObject::connect(&stops, &CStopSignals::stopRequested, &stops, stop);
    for (int i = 0; i < std::min(CStopSignals::count(), 2); ++i)
        stop(CStopSignals::lastSignal());  // it came while the project was being read
    const send::SendSummary summary = flow.runToEnd(progress);

    int exitCode = int(SendExit::Complete);
    if (!summary.refusal.ok())
        return refuse(summary.refusal);
    switch (summary.status) {
        case send::RunStatus::Cancelled:
            exitCode = int(SendExit::Cancelled);
            break;
        case send::RunStatus::Failed:
            exitCode =
                summary.everConnected ? int(SendExit::WithErrors) : int(SendExit::NoConnection);
            break;
        default:
            break;
    }
    console.out(send::summaryText(summary));
    if (summary.status == send::RunStatus::Failed) {
        for (const QString& line : connectFailures)
            console.err(line);
    }
    if (const QString failed = countRunRefusals(summary, folders.userDataFolder, settingsPath);
        !failed.isEmpty())
        console.err(failed);
    if (summary.certificateRefused && summary.status != send::RunStatus::Cancelled) {
        // no one to ask here: what the window would ask, and how to say yes for the next run
        const send::CertificateRefusal& c = *summary.certificateRefused;
        console.err(
            serversettings::certificateDescription(c.certificate, c.reason, c.host, c.port));
        console.err(serversettings::trustInstructions(c, settingsPath));
    }
    if (!summary.logFailure.isEmpty())
        console.err(str(ids::kCliLogUnwritable) + QLatin1Char(' ') + summary.logFailure);
    if (summary.outcomeLost) {
        console.err(str(ids::kCliOutcomesNotRecorded) + QLatin1Char(' ') +
                    (summary.writeBack.status == send::WriteBackStatus::Written
                         ? projectPath
                         : summary.writeBack.workingCopy));
        exitCode = int(SendExit::NotRecorded);
    }
    if (summary.writeBack.status == send::WriteBackStatus::Failed) {
        console.err(str(ids::kCliWriteBackFailed) + QLatin1Char(' ') +
                    summary.writeBack.workingCopy +
                    (summary.writeBack.message.isEmpty()
                         ? QString()
                         : QStringLiteral(" (") + summary.writeBack.message + ')'));
        exitCode = int(SendExit::NotRecorded);
    }
    return exitCode;
}

}  // namespace pw::app
