#include "app/SendCommand.h"

#include <pthread.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>

#include "app/AppFolders.h"
#include "app/IniFile.h"
#include "app/RunRecovery.h"
#include "app/Settings.h"
#include "compose/MailFile.h"
#include "db/TDbData.h"
#include "resources/Strings.h"
#include "send/MailJob.h"
#include "send/MailSendThread.h"
#include "send/MessageAssembly.h"
#include "send/RunMarker.h"
#include "send/SendLog.h"

namespace pw::app {
namespace {

std::atomic<int> g_interrupts{0};

// Ctrl+C is taken by a thread of its own that waits for it: SIGINT is blocked in every other
// thread (the database engine's included, which would otherwise treat it as its own
// shutdown request). The second Ctrl+C ends the process.
void startInterruptWatcher() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set] {
        for (;;) {
            int sig = 0;
            if (sigwait(&set, &sig) != 0)
                return;
            if (g_interrupts.fetch_add(1) >= 1)
                std::_Exit(int(SendExit::Cancelled));
        }
    }).detach();
}

// Lines to the terminal from both threads, never interleaved.
class Console {
public:
    void out(const QString& line) {
        QMutexLocker lock(&m_mutex);
        const QByteArray bytes = line.toLocal8Bit() + '\n';
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fflush(stdout);
    }
    void err(const QString& line) {
        QMutexLocker lock(&m_mutex);
        const QByteArray bytes = line.toLocal8Bit() + '\n';
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        std::fflush(stderr);
    }
    // Asks on the terminal; the first letter of the reply, or 0 at the end of input.
    char ask(const QString& text, const QString& choices) {
        QMutexLocker lock(&m_mutex);
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

private:
    QMutex m_mutex;
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
                return Answer::Cancel;
        }
        return Answer::Cancel;
    }
    std::unique_ptr<IProgress> createProgress() override { return std::make_unique<NoProgress>(); }

private:
    class NoProgress : public IProgress {
    public:
        void setCaption(const QString&) override {}
        void setText(const QString&) override {}
        void setRange(int, int) override {}
        void setPosition(int) override {}
        void show() override {}
        void hide() override {}
    };
    Console& m_console;
};

bool containsPlaceholder(const QString& text,
                         const std::array<QString, db::kFieldCount>& captions) {
    for (const QString& caption : captions) {
        if (text.contains(QStringLiteral("[[") + caption + QStringLiteral("]]")))
            return true;
    }
    return false;
}

send::ServerRecord standardServer(const Settings& s) {
    send::ServerRecord r;
    r.smtpServer = s.smtpServer;
    r.popServer = s.popServer;
    r.userId = s.userId;
    r.password = s.password;
    r.authType = s.authType;
    r.smtpPort = s.smtpPort;
    r.smtpVerifMethod = s.smtpVerifMethod;
    r.smtpAuthType = s.smtpAuthType;
    r.smtpUserName = s.smtpUserName;
    r.smtpPassword = s.smtpPassword;
    r.smtpConnectionType = s.smtpConnectionType;
    r.acceptUnverifiedCertificate = s.smtpAcceptUnverifiedCert != 0;
    return r;
}

send::ServerRecord projectServer(const ProjectSettings& p) {
    send::ServerRecord r;
    r.smtpServer = p.smtpServer;
    r.popServer = p.popServer;
    r.userId = p.userId;
    r.password = p.password;
    return r;
}


// Removes a folder of this command's own and everything in it.
void removeFolder(const QString& folder) {
    if (!folder.isEmpty())
        QDir(folder).removeRecursively();
}

}  // namespace

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
        } else if (a == QLatin1String("--test")) {
            cl.test = true;
        } else if (a == QLatin1String("--dry-run")) {
            if (!value(cl.dryRunFolder))
                return cl;
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

    startInterruptWatcher();
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
    const QString exeName = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    CIniFile ini(folders.settingsPath(exeName.isEmpty() ? QStringLiteral("postwick") : exeName));
    (void)ini.Load();  // a missing file gives the defaults, as at start-up
    Settings settings = ReadSettings(ini);

    send::CSendLog& log = send::CSendLog::instance();
    log.setPath(folders.logFilePath());
    log.setView([&console](const QString& line) { console.out(line); }, {});
    log.setViewReady(true);
    log.setLogView(true);

    ConsoleInteraction ui(console);
    const QString projectPath = QFileInfo(cl.projectPath).absoluteFilePath();

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

    db::TDbData store(db::DbFolders{folders.userDataFolder, folders.workingCopyFolder}, ui);
    store.SetStrFieldSize(settings.strFieldSize);

    // ---- the project, and the working copy of an interrupted run of it ----
    std::optional<send::InterruptedRun> interrupted =
        cl.dryRunFolder.isEmpty() ? send::findInterruptedRun(folders.workingCopyFolder, projectPath)
                                  : std::nullopt;
    if (interrupted && !interrupted->projectUnchanged()) {
        // The project was saved since: its outcomes are newer than the copy's.
        interrupted.reset();
    }

    const CodePage textCodePage = MailCodePage(settings.encode);
    MailFileReadOptions readOptions;
    readOptions.previewFolder = preview;
    readOptions.currentCodePage = textCodePage;
    QString extractedCopy;
    readOptions.databaseTarget = [&]() -> QString {
        if (interrupted)
            return {};
        extractedCopy = store.MakeWorkingCopyPath();
        return extractedCopy;
    };
    const MailFileReadResult read = readMailFile(projectPath, readOptions, nullptr);
    if (!read.ok() || read.contents->kind != MailFileKind::Project) {
        console.err(
            str(ids::kCliProjectUnreadable) + QLatin1Char(' ') + projectPath +
            (read.failure.isEmpty() ? QString() : QStringLiteral(" (") + read.failure + ')'));
        if (!extractedCopy.isEmpty())
            QFile::remove(extractedCopy);
        return int(SendExit::Unusable);
    }
    const MailFileContents& contents = *read.contents;
    if (!contents.complete) {
        // Writing outcomes back into a project that was read only in part would cut off its
        // damaged rest for good, and its mail may lack files: send nothing.
        console.err(str(ids::kCliProjectUnreadable) + QLatin1Char(' ') + projectPath);
        if (!extractedCopy.isEmpty())
            QFile::remove(extractedCopy);
        return int(SendExit::Unusable);
    }
    const MailDocument& document = contents.document;

    bool opened = false;
    if (interrupted) {
        opened = store.OpenInPlace(interrupted->workingCopy);
        if (opened)
            console.out(str(ids::kCliRecovered) + QLatin1Char(' ') + interrupted->workingCopy);
    } else if (contents.database == DatabaseOutcome::Written) {
        opened = store.Open();
    }
    if (opened)
        store.LoadCaptions();

    // ---- the kind of send ----
    send::SendRun run;
    run.server =
        send::effectiveServer(standardServer(settings), projectServer(document.projectSettings));
    run.pacing = {settings.oneTimeSend, settings.sendWait, settings.connectWait,
                  settings.sendContinue};
    const bool interactive = ::isatty(STDIN_FILENO) != 0;
    if (!interactive &&
        send::errorPolicyFromSetting(run.pacing.sendContinue) == send::ErrorPolicy::Ask)
        run.pacing.sendContinue = int(send::ErrorPolicy::Continue);

    std::array<QString, db::kFieldCount> captions;
    for (int k = 0; k < db::kFieldCount; ++k)
        captions[size_t(k)] = opened ? store.Captions()[size_t(k)] : db::DefaultCaption(k);

    QString recipientField = document.recipientText;
    if (cl.test) {
        if (settings.testEmailAddress.isEmpty()) {
            console.err(str(ids::kNoTestAddress));
            store.Close(interrupted ? db::CloseMode::KeepWorkingCopy
                                    : db::CloseMode::DeleteWorkingCopy);
            return int(SendExit::Unusable);
        }
        recipientField = settings.testEmailAddress;
        run.mode = send::SendMode::Single;
    } else if (recipientField.trimmed().isEmpty()) {
        console.err(str(ids::kCliNoRecipient));
        store.Close(interrupted ? db::CloseMode::KeepWorkingCopy
                                : db::CloseMode::DeleteWorkingCopy);
        return int(SendExit::Unusable);
    } else {
        run.mode = containsPlaceholder(recipientField, captions) ? send::SendMode::Merge
                                                                 : send::SendMode::Single;
    }

    db::SendSelection selection;
    if (run.mode == send::SendMode::Merge) {
        if (!opened) {
            console.err(str(ids::kCliDatabaseUnusable));
            if (!extractedCopy.isEmpty())
                QFile::remove(extractedCopy);
            return int(SendExit::Unusable);
        }
        selection = store.LoadSendSelection(static_cast<db::SendSelectionMode>(cl.selection));
        if (selection.count == 0) {
            console.out(str(ids::kNoDataInDatabase));
            store.Close(interrupted ? db::CloseMode::KeepWorkingCopy
                                    : db::CloseMode::DeleteWorkingCopy);
            if (interrupted) {
                // Nothing is left to send, but the project still lacks the recovered outcomes.
            } else {
                return int(SendExit::Complete);
            }
        }
        run.recordIds = selection.ids;
    }

    // ---- the run ----
    std::unique_ptr<send::ISendTransport> transport;
    if (!cl.dryRunFolder.isEmpty()) {
        if (!QDir().mkpath(cl.dryRunFolder)) {
            console.err(str(ids::kCliDryRunFolder) + QLatin1Char(' ') + cl.dryRunFolder);
            store.Close(db::CloseMode::DeleteWorkingCopy);
            return int(SendExit::Unusable);
        }
        transport = std::make_unique<send::CDryRunTransport>(cl.dryRunFolder);
    } else {
        transport = std::make_unique<send::CSmtpTransport>(run.server.acceptUnverifiedCertificate);
    }

    const bool recordsOutcomes = run.mode == send::SendMode::Merge && cl.dryRunFolder.isEmpty();
    std::unique_ptr<send::CRunMarker> marker;
    int exitCode = int(SendExit::Complete);
    if (run.recordIds.empty() && run.mode == send::SendMode::Merge) {
        // Only the write-back of a recovered run is left.
    } else {
        if (recordsOutcomes) {
            marker = send::CRunMarker::begin(store.WorkingCopyPath(), projectPath);
            if (!marker) {
                console.err(str(ids::kCliDatabaseUnusable));
                store.Close(interrupted ? db::CloseMode::KeepWorkingCopy
                                        : db::CloseMode::DeleteWorkingCopy);
                return int(SendExit::Unusable);
            }
        }
        send::OutcomeRecorder recorder;
        if (recordsOutcomes) {
            recorder = [&store](int id, send::Outcome outcome) {
                (void)store.SetSentFlag(id, int(outcome));
            };
        }

        send::MailJob job;
        job.senderAddress = document.senderAddress;
        job.senderName = document.senderName;
        job.subject = document.subject;
        job.recipientText = recipientField;
        // No editor here: the body goes as the project stores it.
        job.bodyText = document.textBody;
        job.htmlFileName = document.htmlTemplateName;
        job.htmlFiles = document.pictureList;
        job.mainPreviewFolder = preview;
        job.attachments = document.attachments;
        job.charsetRow = settings.encode;
        job.addrSetType = send::addrSetTypeFromSetting(settings.addrSetType);
        for (int k = 0; k < db::kFieldCount; ++k)
            job.captions[size_t(k)] = captions[size_t(k)];
        job.messageIdDomain = run.server.smtpServer;
        std::unique_ptr<send::IMessageSource> source =
            run.mode == send::SendMode::Merge
                ? std::make_unique<send::CMessageAssembly>(std::move(job), selection)
                : std::make_unique<send::CMessageAssembly>(std::move(job),
                                                           std::vector<send::FieldTexts>{});

        log.setActive();
        ConsoleProgress progress(console, interactive);
        send::CMailSendThread worker(std::move(run), std::move(source), std::move(transport),
                                     recorder, progress, log);

        QEventLoop loop;
        QTimer poll;
        bool cancelAsked = false;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (g_interrupts.load() > 0 && !cancelAsked) {
                cancelAsked = true;
                console.err(str(ids::kCliCancelRequested));
                worker.cancel();
            }
        });
        QObject::connect(&worker, &QThread::finished, &loop, &QEventLoop::quit);
        poll.start(100);
        worker.start();
        if (!worker.isFinished())
            loop.exec();
        worker.wait();
        poll.stop();

        switch (worker.status()) {
            case send::RunStatus::Cancelled:
                exitCode = int(SendExit::Cancelled);
                console.out(str(ids::kSummaryCancelled));
                break;
            case send::RunStatus::Failed:
                exitCode = worker.everConnected() ? int(SendExit::WithErrors)
                                                  : int(SendExit::NoConnection);
                console.out(str(ids::kSummaryErrors));
                break;
            default:
                exitCode = int(SendExit::Complete);
                console.out(str(ids::kSummaryComplete));
                break;
        }
    }

    // ---- the outcomes back into the project ----
    if (recordsOutcomes || interrupted) {
        if (store.IsOpen()) {
            (void)store.Save(db::SaveMode::Ending);
            store.Close(db::CloseMode::KeepWorkingCopy);
        }
        const QString copy = interrupted ? interrupted->workingCopy : store.WorkingCopyPath();
        ProjectWriteOptions writeOptions;
        writeOptions.previewFolder = preview;
        writeOptions.workingCopyPath = copy;
        writeOptions.currentCodePage = textCodePage;
        MailDocument toWrite = document;
        toWrite.projectFilePath = projectPath;
        const WriteResult written =
            writeProjectFile(projectPath, toWrite, contents.scheduled.value_or(ScheduledSending{}),
                             writeOptions, nullptr);
        if (!written.ok()) {
            // The copy and its marker stay, so the next --send of this project picks them up.
            console.err(str(ids::kCliWriteBackFailed) + QLatin1Char(' ') + copy +
                        (written.message.isEmpty() ? QString()
                                                   : QStringLiteral(" (") + written.message + ')'));
            if (exitCode == int(SendExit::Complete))
                exitCode = int(SendExit::WithErrors);
            return exitCode;
        }
        if (marker)
            marker->finish();
        if (interrupted)
            send::discardMarker(*interrupted);
        QFile::remove(copy);
    } else {
        store.Close(db::CloseMode::DeleteWorkingCopy);
    }
    return exitCode;
}

}  // namespace pw::app
