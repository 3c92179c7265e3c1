// The main window's send request and Test button: the checks, the Transmission dialog, the
// run with its progress window and log window, and the summary at the end. The steps from the
// document to the finished run are the send flow's, shared with the command line.

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextLayout>

#include "app/BounceCommand.h"
#include "app/Commands.h"
#include "app/SendSettings.h"
#include "app/gui/CPZPtestDlg.h"
#include "app/gui/SendWindows.h"
#include "app/gui/SettingsCommands.h"
#include "resources/Strings.h"
#include "send/DeliverabilityCheck.h"
#include "send/DnsLookup.h"
#include "send/MessageAssembly.h"
#include "send/RunMarker.h"
#include "send/SendFlow.h"
#include "send/SendLog.h"
#include "send/SendProgress.h"
#include "serversettings/CertificateTrust.h"
#include "ui_MailComposer.h"

namespace pw::app {

namespace {

constexpr char kTimeFormat[] = "yyyy-MM-dd HH:mm";
// A limit that frees the account sooner than this is waited for in the run, not scheduled.
constexpr qint64 kScheduleAfterSeconds = 10 * 60;

// The body's lines as the editor shows them, soft-wrapped lines included ("length").
class EditorLines : public send::IDisplayedLines {
public:
    explicit EditorLines(const QPlainTextEdit& editor) : m_editor(editor) {}
    QStringList displayedLines() const override { return DisplayedLines(m_editor); }

private:
    const QPlainTextEdit& m_editor;
};

// A refusal before the first mail, in the words the command line uses too.
void tellRefusal(IUserInteraction& ui, const send::CSendFlow& flow,
                 const send::RunRefusal& refusal) {
    // nobody to send to, and a question declined, are no errors
    switch (refusal.reason) {
        case send::RefusalReason::None:
        case send::RefusalReason::Declined:
            return;
        case send::RefusalReason::NoRecipient:
        case send::RefusalReason::NoData:
        case send::RefusalReason::NoneMarked:
        case send::RefusalReason::NothingUnsent:
        case send::RefusalReason::DatabaseUnreadable:
            (void)ui.message(str(ids::kSendCaptionBox), flow.refusalText(refusal),
                             MessageKind::Information);
            return;
        default:
            inform(ui, flow.refusalText(refusal));
            return;
    }
}

}  // namespace

QStringList DisplayedLines(const QPlainTextEdit& editor) {
    QStringList lines;
    // The editor lays out only the blocks it has shown; the others are laid out here the
    // same way, or they would go out unwrapped.
    auto* layouter = qobject_cast<QPlainTextDocumentLayout*>(editor.document()->documentLayout());
    for (QTextBlock b = editor.document()->begin(); b.isValid(); b = b.next()) {
        if (layouter)
            layouter->ensureBlockLayout(b);
        const QString text = b.text();
        const QTextLayout* layout = b.layout();
        if (!layout || layout->lineCount() <= 1) {
            lines.append(text);
            continue;
        }
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            lines.append(text.mid(line.textStart(), line.textLength()));
        }
    }
    return lines;
}

bool CPZPtestDlg::ChooseRecipients(send::CSendFlow& flow, db::SendSelectionMode mode) {
    const send::RunRefusal chosen = flow.chooseSelection(mode);
    if (!chosen.ok())
        tellRefusal(m_session.ui(), flow, chosen);
    return chosen.ok();
}

void CPZPtestDlg::EnsureLogWindow() {
    if (m_logWindow)
        return;
    m_logWindow = new CLogWindow(
        [this] {
            m_session.settings().logView = 0;
            m_session.sendLog().setLogView(false);
        },
        this);
    m_logWindow->setObjectName(QStringLiteral("d_log"));
}

void CPZPtestDlg::ShowLogWindow(bool show) {
    if (show) {
        EnsureLogWindow();
        m_logWindow->show();
    } else if (m_logWindow) {
        m_logWindow->hide();
    }
}

bool CPZPtestDlg::SendRunActive() const {
    return m_flow && m_flow->isRunning();
}

void CPZPtestDlg::OnSend() {
    StartSend(false);
}

void CPZPtestDlg::OnTest() {
    StartSend(true);
}

std::unique_ptr<send::CSendFlow> CPZPtestDlg::MakeSendFlow() {
    TakeFromWindow();
    const Settings& s = m_session.settings();
    MailDocument& doc = m_session.document();
    doc.pictureList =
        doc.isHtmlMail() ? filesInFolder(m_session.folders().mainPreviewFolder()) : QStringList();

    auto flow = std::make_unique<send::CSendFlow>(
        sendFlowSettingsFrom(
            s, m_session.store().Folders(), m_session.folders().mainPreviewFolder(),
            [this](const QString& token, TokenKept) {
                // the next run and the save at the end use the new one
                QMetaObject::invokeMethod(
                    this, [this, token] { m_session.settings().oauthRefreshToken = token; },
                    Qt::QueuedConnection);
            }),
        m_session.sendLog());
    const EditorLines lines(*m_ui->textBody);
    const send::AutoWrapSetting wrap{m_autoWrap.on(), m_autoWrap.lineLength};
    const QString body = send::prepareBodyText(doc.textBody, wrap, s.length, s.encode, &lines);
    flow->useDocument(doc, m_session.store(), body);
    return flow;
}

void CPZPtestDlg::StartSend(bool test) {
    IUserInteraction& ui = m_session.ui();
    if (m_flow || m_sendStarting) {
        // one run at a time; a second request while one is going (or while the dialog and
        // questions before it are open) does nothing else
        inform(ui, str(ids::kRunAlreadyInProgress));
        return;
    }
    m_sendStarting = true;
    struct Starting {
        bool& flag;
        ~Starting() { flag = false; }
    } starting{m_sendStarting};
    // The project's lock goes to the run (and comes back when none starts); what a run of
    // the command line recorded meanwhile is taken first, so that no choice offers its
    // recipients again.
    m_outcomesLock.reset();
    struct Hold {
        CPZPtestDlg& window;
        ~Hold() {
            if (!window.m_flow)
                window.HoldUnsavedOutcomes();
        }
    } hold{*this};
    (void)m_session.TakeOutcomesRecordedElsewhere(m_marker ? OwnOutcomes::Unsaved
                                                           : OwnOutcomes::Saved);
    std::unique_ptr<send::CSendFlow> flow = MakeSendFlow();

    if (const send::RunRefusal checked =
            flow->check(test ? send::SendKind::Test : send::SendKind::Send);
        !checked.ok()) {
        tellRefusal(ui, *flow, checked);
        return;
    }
    if (!test && flow->databaseAddressesUnused())
        inform(ui, str(ids::kDatabaseAddressesNotUsed));

    // a test of a mail with placeholders may read as one recipient's would
    if (test && send::askTestRecipient(*flow, ui) == send::TestMerge::Cancelled)
        return;

    // Files, settings and folders are told before the Transmission dialog; prepare() below
    // makes them again with the rest.
    if (const send::RunRefusal early = flow->checkFilesAndFolders(); !early.ok()) {
        tellRefusal(ui, *flow, early);
        return;
    }

    // a placeholder that names no field would go out as written: told before the counts
    if (!flow->askAboutUnmatchedPlaceholders(ui))
        return;

    bool minimize = false;
    if (!test) {
        // what the providers refuse or junk, told before the recipients are chosen
        if (m_session.settings().checkBeforeSending != 0) {
            if (flow->mode() == send::SendMode::Merge)
                (void)flow->chooseSelection(db::SendSelectionMode::All);
            std::vector<send::Finding> findings;
            {
                const std::unique_ptr<IProgress> progress = ui.createProgress();
                progress->setCaption(str(ids::kCheckCaption));
                progress->setText(str(ids::kCheckProgress));
                progress->show();
                send::CDnsResolver dns = send::CDnsResolver::fromEnvironment();
                findings = send::checkDeliverability(send::deliverabilityInput(*flow), dns);
            }
            if (!send::confirmDeliverability(ui, findings))
                return;
        }
        OfferScheduledCancel();
        CTransmissionDialog dialog(this);
        if (flow->mode() == send::SendMode::Merge)
            dialog.showRecipientCounts(flow->countSelection(db::SendSelectionMode::All),
                                       flow->countSelection(db::SendSelectionMode::Marked),
                                       flow->countSelection(db::SendSelectionMode::NotSent));
        dialog.showEstimate(
            [f = flow.get()](int recipients) { return f->estimateText(recipients); });
        const int chosen = dialog.exec();
        if (chosen == CTransmissionDialog::kSendLaterResult) {
            flow.reset();  // the project is saved next; no run holds it
            SendLater();
            return;
        }
        if (chosen != QDialog::Accepted)
            return;
        minimize = dialog.minimizeWhenSending();
        if (flow->mode() == send::SendMode::Merge &&
            !ChooseRecipients(*flow, dialog.selectionMode()))
            return;
    }

    // Every check before the first mail, and the questions: a file that has gone since it
    // was added would fail every recipient's mail.
    if (const send::RunRefusal prepared = flow->prepare(ui, {send::Asking::User}); !prepared.ok()) {
        tellRefusal(ui, *flow, prepared);
        return;
    } else if (!flow->warnings().isEmpty()) {
        // how many recipients' Japanese mails leave their charset
        inform(ui, flow->warnings().join(QLatin1StringView("\n\n")));
    }
    // UTF-8 taken for a charset that cannot carry some characters stays the document's
    // charset, so that the preview, the next run and the saved project agree with what was sent
    if (flow->charsetRow() != m_session.settings().encode) {
        OnCharset(flow->charsetRow());
        SetModified(true);  // the project file's texts are written in the charset's code page
    }

    m_relay = std::make_unique<send::CSendProgressRelay>(ui);
    EnsureLogWindow();
    send::CSendLog& log = m_session.sendLog();
    QPointer<CLogWindow> view = m_logWindow;
    log.setView(
        [view](const QString& line) {
            // written from the worker's thread: the window gets it through its event loop
            QMetaObject::invokeMethod(
                view,
                [view, line] {
                    if (!view)
                        return;
                    if (!view->isVisible())
                        view->show();
                    view->appendLine(line);
                },
                Qt::QueuedConnection);
        },
        [view] {
            QMetaObject::invokeMethod(
                view,
                [view] {
                    if (view)
                        view->clear();
                },
                Qt::QueuedConnection);
        });
    log.setViewReady(true);
    log.setLogView(m_session.settings().logView != 0);

    m_progress = new CSendProgressForm(
        *m_relay, [this] { CancelSendRun(); }, this);
    m_progress->setAttribute(Qt::WA_DeleteOnClose, false);

    m_flow = std::move(flow);
    connect(m_flow.get(), &send::CSendFlow::finished, this, &CPZPtestDlg::SendRunFinished,
            Qt::QueuedConnection);
    // The last run's outcomes, not yet saved, are guarded by its marker: this run goes on under
    // it rather than needing a save first.
    if (m_marker)
        m_flow->adoptMarker(std::move(m_marker));
    if (const send::RunRefusal started = m_flow->start(*m_relay); !started.ok()) {
        if (auto marker = m_flow->takeMarker())
            m_marker = std::move(marker);
        delete m_progress;
        const std::unique_ptr<send::CSendFlow> refused = std::move(m_flow);
        m_relay.reset();
        tellRefusal(ui, *refused, started);
        return;
    }
    commandAction(cmd::kSend)->setEnabled(false);
    m_ui->testButton->setEnabled(false);
    m_ui->sendButton->setEnabled(false);
    m_runState.setRunning(true);
    ApplyRunLock();
    emit runStateChanged(true);
    m_progress->show();
    if (minimize) {
        m_minimizedForRun = true;
        showMinimized();
    }
}

void CPZPtestDlg::CancelSendRun() {
    // the progress window tells what the cancel waits for, and offers to stop at once
    if (m_flow)
        m_flow->cancel();
}

void CPZPtestDlg::SendRunFinished() {
    if (!m_flow)
        return;
    if (m_relay && m_relay->asking()) {
        // A question of the run is still open, and its box's event loop brought the end:
        // the relay and the progress window go once it is closed, not under it.
        connect(m_relay.get(), &send::CSendProgressRelay::promptClosed, this,
                &CPZPtestDlg::SendRunFinished,
                Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
        return;
    }
    const send::SendSummary summary = m_flow->summary();
    const bool recorded = m_flow->mode() == send::SendMode::Merge;
    // Stopped by the account's limit with recipients left: they may go on by themselves.
    std::optional<QDateTime> limitEnds;
    int leftUnsent = 0;
    if (recorded && summary.status != send::RunStatus::NotStarted &&
        !m_flow->sendingProfile().limitsNothing()) {
        const QDateTime next = m_flow->nextAllowedSend();
        if (next > QDateTime::currentDateTime().addSecs(kScheduleAfterSeconds)) {
            leftUnsent = m_flow->countSelection(db::SendSelectionMode::NotSent);
            if (leftUnsent > 0)
                limitEnds = next;
        }
    }
    if (auto marker = m_flow->takeMarker())
        m_marker = std::move(marker);
    if (m_progress) {
        m_progress->hide();
        m_progress->deleteLater();
    }
    m_flow.reset();
    m_relay.reset();
    HoldUnsavedOutcomes();
    commandAction(cmd::kSend)->setEnabled(true);
    m_ui->testButton->setEnabled(true);
    m_ui->sendButton->setEnabled(true);
    m_runState.setRunning(false);
    ApplyRunLock();
    emit runStateChanged(false);
    if (m_minimizedForRun) {
        m_minimizedForRun = false;
        showNormal();
    }
    // the outcomes are in the working copy; the project file gets them when it is saved
    if (recorded && summary.status != send::RunStatus::NotStarted)
        SetModified(true);
    UpdateDocumentState();

    if (!summary.logFailure.isEmpty()) {
        // the log is where the user looks for what went wrong: not having one is news
        inform(m_session.ui(), str(ids::kSendLogUnwritable) + QLatin1Char('\n') +
                                   QDir::toNativeSeparators(summary.logFailure));
    }
    // a refusal for good counts as a bounce would
    if (const QString failed = countRunRefusals(summary, m_session.store().Folders().userDataFolder,
                                                m_session.settingsPath());
        !failed.isEmpty())
        inform(m_session.ui(), failed);
    // Refused for its certificate: the connection test's question. A yes holds for the next
    // run, which the user starts as any other (nothing went over the refused connection).
    if (summary.certificateRefused && summary.status != send::RunStatus::Cancelled &&
        !m_closeAfterRun) {
        if (const auto trusted = serversettings::askToTrust(
                m_session.ui(), str(ids::kSendCaptionBox), *summary.certificateRefused))
            TrustCertificate(m_session, *trusted);
    }
    if (!m_closeAfterRun) {
        ChoiceRequest request;
        request.caption = str(ids::kSummaryCaption);
        request.text = send::summaryText(summary);
        request.buttons = {str(ids::kButtonOk), str(ids::kMainButtonViewLog)};
        request.defaultButton = 1;
        request.escapeButton = 0;
        request.icon = ChoiceIcon::Information;
        if (m_session.ui().choose(request) == 1)
            OnOpenLogFile();
    }
    if (limitEnds && !m_closeAfterRun) {
        ChoiceRequest request;
        request.caption = str(ids::kSendCaptionBox);
        request.text = send::formatMessageText(
            str(ids::kContinueQuestion),
            {QString::number(leftUnsent), limitEnds->toLocalTime().toString(kTimeFormat)});
        request.buttons = {str(ids::kContinueAutomatically), str(ids::kNotNow)};
        request.escapeButton = 1;
        request.icon = ChoiceIcon::Question;
        if (m_session.ui().choose(request) == 0)
            ScheduleRest(*limitEnds);
    }
    emit sendRunEnded();
    if (m_closeAfterRun) {
        m_closeAfterRun = false;
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    }
}

}  // namespace pw::app

namespace pw::app {

void CPZPtestDlg::SetScheduler(QString unitFolder, SystemctlRunner systemctl) {
    m_unitFolder = std::move(unitFolder);
    m_systemctl = std::move(systemctl);
}

void CPZPtestDlg::ScheduleRest(const QDateTime& when) {
    IUserInteraction& ui = m_session.ui();
    const QString path = m_session.document().projectFilePath;
    if (path.isEmpty()) {
        inform(ui, str(ids::kSaveBeforeScheduling));
        return;
    }
    // the outcomes so far go into the file first: the timer's run must not send them again
    if (!SaveProjectTo(path))
        return;
    SetModified(false);
    const QString folder = m_unitFolder.isEmpty() ? userUnitFolder() : m_unitFolder;
    const ScheduleResult r = scheduleSend(folder, QCoreApplication::applicationFilePath(), path,
                                          when, m_systemctl ? m_systemctl : userSystemctl());
    inform(ui, r == ScheduleResult::Scheduled
                   ? send::formatMessageText(
                         str(ids::kScheduledDone),
                         {QFileInfo(path).fileName(), when.toLocalTime().toString(kTimeFormat)})
                   : str(ids::kScheduleFailed));
}

void CPZPtestDlg::SendLater() {
    TextRequest request;
    request.caption = str(ids::kSendCaptionBox);
    request.label = str(ids::kSendLaterAsk);
    request.text = QDateTime::currentDateTime().addSecs(3600).toString(kTimeFormat);
    const std::optional<QString> typed = m_session.ui().askText(request);
    if (!typed)
        return;
    const QDateTime when = QDateTime::fromString(typed->trimmed(), kTimeFormat);
    if (!when.isValid() || when <= QDateTime::currentDateTime()) {
        inform(m_session.ui(), send::formatMessageText(str(ids::kSendLaterBadTime), {*typed}));
        return;
    }
    ScheduleRest(when);
}

void CPZPtestDlg::OfferScheduledCancel() {
    const QString path = m_session.document().projectFilePath;
    if (path.isEmpty())
        return;
    const QString folder = m_unitFolder.isEmpty() ? userUnitFolder() : m_unitFolder;
    const std::optional<ScheduledSend> scheduled = scheduledSendOf(folder, path);
    if (!scheduled)
        return;
    ChoiceRequest request;
    request.caption = str(ids::kSendCaptionBox);
    request.text = send::formatMessageText(str(ids::kScheduledShown),
                                           {scheduled->when.toLocalTime().toString(kTimeFormat)});
    request.buttons = {str(ids::kScheduledCancel), str(ids::kScheduledKeep)};
    request.defaultButton = 1;
    request.escapeButton = 1;
    request.icon = ChoiceIcon::Question;
    if (m_session.ui().choose(request) == 0)
        (void)cancelScheduledSend(folder, scheduled->unit,
                                  m_systemctl ? m_systemctl : userSystemctl());
}

}  // namespace pw::app
