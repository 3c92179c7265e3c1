#include "send/SendFlow.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QSysInfo>
#include <QTemporaryFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "compose/MailFile.h"
#include "db/SharedLists.h"
#include "db/StoreError.h"
#include "db/SuppressionList.h"
#include "resources/Strings.h"
#include "send/MailSendThread.h"
#include "send/MessageAssembly.h"
#include "send/OutcomeWriteBack.h"
#include "send/RunHistory.h"
#include "send/Unsubscribe.h"
#include "smtp/Charsets.h"
#include "smtp/KTWSMTPAddress.h"

namespace pw::send {
namespace {

// Who sends, as the other desktops are told: the user and the machine.
QString runLockHolder() {
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = qEnvironmentVariable("LOGNAME");
    return user + QLatin1Char('@') + QSysInfo::machineHostName();
}

QString withSlash(QString folder);

bool containsPlaceholder(const QString& text, const FieldTexts& captions) {
    for (const QString& caption : captions) {
        if (text.contains(QStringLiteral("[[") + caption + QStringLiteral("]]")))
            return true;
    }
    return false;
}

// The first address a recipient's mail would go to that is on the list (as the assembly
// parses the merged field), or nothing.
QString suppressedAddressOf(const FieldTexts& values, const QString& recipientField,
                            const FieldTexts& captions, const QHash<QString, QString>& reasons) {
    for (const smtp::CKTWSMTPAddress& a :
         smtp::CKTWSMTPAddress::parseRecipientText(merge(recipientField, captions, values))
             .addresses) {
        if (reasons.contains(db::SuppressionKey(a.address())))
            return a.address();
    }
    return {};
}

}  // namespace

CSendFlow::CSendFlow(SendFlowSettings settings, CSendLog& log, QObject* parent)
    : QObject(parent),
      m_settings(std::move(settings)),
      m_log(log),
      m_charsetRow(m_settings.charsetRow) {
    for (int k = 0; k < db::kFieldCount; ++k)
        m_captions[size_t(k)] = db::DefaultCaption(k);
}

CSendFlow::~CSendFlow() {
    if (m_state == FlowState::Running) {
        // The worker never waits for this thread once cancelled, so this wait ends; nobody is
        // left to see the run end, so it is not waited for.
        m_worker->cancel();
        m_worker->cancel();
        m_worker->wait();
        m_state = FlowState::Ended;
        if (m_runDb)
            m_runDb->Detach();
        m_summary.writeBack = endRun();
    } else if (m_state != FlowState::Closed) {
        (void)close();
    }
}

void CSendFlow::useDocument(const MailDocument& document, db::TDbData& store,
                            const QString& preparedBody) {
    m_document = document;
    m_body = preparedBody;
    m_store = &store;
    m_outcomesGo = OutcomesGo::IntoStore;
    m_projectPath = document.projectFilePath.isEmpty()
                        ? QString()
                        : QFileInfo(document.projectFilePath).absoluteFilePath();
}

OpenResult CSendFlow::openProject(const QString& projectPath, IUserInteraction& ui) {
    m_projectPath = QFileInfo(projectPath).absoluteFilePath();
    m_outcomesGo = m_serverList ? OutcomesGo::IntoStore : OutcomesGo::IntoProject;
    m_ownStore = std::make_unique<db::TDbData>(m_settings.folders);
    m_ownStore->SetStrFieldSize(m_settings.strFieldSize);
    m_ownStore->SetPageCache(db::PageCache::Bounded);  // nothing but the run reads it
    // The engine's words go into the log only: the front end tells its own message.
    CSendLog* log = &m_log;
    m_ownStore->SetDiagnostics(
        [log](const QString& text) { log->append(text, CSendLog::View::NotShown); });
    m_store = m_ownStore.get();

    // Taken before the file is read: a run that ends meanwhile must not leave this one with
    // outcomes older than the file's.
    if (m_settings.dryRunFolder.isEmpty()) {
        ProjectLockResult locked = ProjectLockResult::Held;
        m_projectLock = CProjectLock::acquire(m_projectPath, &locked);
        if (!m_projectLock) {
            m_store = nullptr;
            return locked == ProjectLockResult::Busy ? OpenResult::Busy : OpenResult::Unreadable;
        }
    }

    // A dry run changes nothing, so it neither continues nor settles an interrupted run.
    // A list on a server keeps its outcomes itself: nothing of the project's copy to pick up.
    if (m_settings.dryRunFolder.isEmpty() && !m_serverList)
        m_interrupted = findInterruptedRun(m_settings.folders.workingCopyFolder, m_projectPath);
    if (m_interrupted && !m_interrupted->projectUnchanged()) {
        // The project was saved since: its outcomes are newer than the copy's.
        m_interrupted.reset();
    }

    MailFileReadOptions options;
    options.previewFolder = m_settings.previewFolder;
    options.currentCodePage = m_settings.textCodePage;
    options.databaseTarget = [this]() -> QString {
        if (m_interrupted || m_serverList)
            return {};
        m_extractedCopy = m_store->MakeWorkingCopyPath();
        return m_extractedCopy;
    };
    const MailFileReadResult read = readMailFile(m_projectPath, options, nullptr);
    const bool isProject = read.ok() && read.contents->kind == MailFileKind::Project;
    if (!isProject || !read.contents->complete) {
        // Writing outcomes back into a project that was read only in part would cut off its
        // damaged rest for good, and its mail may lack files: nothing is sent.
        if (!m_extractedCopy.isEmpty())
            QFile::remove(m_extractedCopy);
        m_extractedCopy.clear();
        m_interrupted.reset();
        m_store = nullptr;
        m_openFailure = read.failure;
        return isProject ? OpenResult::Damaged : OpenResult::Unreadable;
    }
    m_document = read.contents->document;
    m_body = m_document.textBody;  // no editor here: the body goes as the project stores it
    m_scheduled = read.contents->scheduled;

    if (!m_serverList && !read.contents->serverList.isEmpty()) {
        const QString& connection = read.contents->serverList;
        const QString user = read.contents->serverUser.isEmpty() ? qEnvironmentVariable("ISC_USER")
                                                                 : read.contents->serverUser;
        m_serverList = db::ServerLogin{
            connection, user, m_serverPassword ? m_serverPassword(connection, user) : QString()};
        m_outcomesGo = OutcomesGo::IntoStore;
        m_interrupted.reset();
    }
    bool opened = false;
    if (m_serverList) {
        const db::ServerOpenResult server = m_store->OpenServer(*m_serverList);
        if (!server)
            inform(ui, server.failure);
        opened = server.opened();
    } else if (m_interrupted) {
        // the mail a kill cut off after its data went out: not to be sent again
        if (const QString who = settleInFlight(m_interrupted->workingCopy); !who.isEmpty())
            m_inFlightOfKilledRun << who;
        opened = m_store->OpenInPlace(m_interrupted->workingCopy);
        m_resumeFailed = !opened;
    } else if (read.contents->database == DatabaseOutcome::Written) {
        opened = m_store->Open();
    } else if (read.contents->database == DatabaseOutcome::WriteFailed) {
        // not "cannot be opened": the copy could not be made, and room is what the user can make
        const QString folder = m_settings.folders.workingCopyFolder;
        QString why = QString::fromLocal8Bit(std::strerror(ENOSPC));
        QTemporaryFile probe(withSlash(folder) + QStringLiteral(".postwick-probe-XXXXXX"));
        if (!probe.open())
            why = probe.errorString();
        else if (QStorageInfo(folder).bytesAvailable() >= QFileInfo(m_projectPath).size())
            why.clear();
        if (!why.isEmpty())
            m_openFailure = formatMessageText(str(ids::kWorkingCopyNotWritten),
                                              {QDir::toNativeSeparators(folder), why});
    }
    if (!opened)
        return OpenResult::NoDatabase;
    return m_interrupted ? OpenResult::Resumed : OpenResult::Opened;
}

QString CSendFlow::resumedWorkingCopy() const {
    return m_interrupted ? m_interrupted->workingCopy : QString();
}

RunRefusal CSendFlow::check(SendKind kind) {
    step(FlowState::Unchecked);
    m_suppressed.clear();
    m_addressesUnused = false;
    const bool open = m_store && m_store->IsOpen();
    if (open) {
        m_store->FieldCaptions().LoadCaptions();
        for (int k = 0; k < db::kFieldCount; ++k)
            m_captions[size_t(k)] = m_store->FieldCaptions().Captions()[size_t(k)];
        m_unsubscribe = loadUnsubscribeSettings(*m_store);
    }

    // A single mail goes to the addresses as typed: one on the suppression list refuses it.
    const auto singleChecked = [this, kind]() {
        QHash<QString, QString> reasons;
        if (RunRefusal unreadable = readSuppression(reasons); !unreadable.ok())
            return unreadable;
        for (const smtp::CKTWSMTPAddress& a :
             smtp::CKTWSMTPAddress::parseRecipientText(m_recipientField).addresses) {
            if (reasons.contains(db::SuppressionKey(a.address())))
                return RunRefusal{kind == SendKind::Test ? RefusalReason::TestAddressSuppressed
                                                         : RefusalReason::AddressSuppressed,
                                  a.address(),
                                  {}};
        }
        return RunRefusal{};
    };

    m_kind = kind;
    if (kind == SendKind::Test) {
        if (m_settings.testEmailAddress.isEmpty())
            return RunRefusal{RefusalReason::NoTestAddress, {}, {}};
        m_recipientField = m_settings.testEmailAddress;
        m_mode = SendMode::Single;
        RunRefusal r = singleChecked();
        if (r.ok())
            step(FlowState::Checked);
        return r;
    }

    m_recipientField = m_document.recipientText;
    if (m_recipientField.trimmed().isEmpty())
        return RunRefusal{RefusalReason::NoRecipient, {}, {}};
    m_mode = containsPlaceholder(m_recipientField, m_captions) ? SendMode::Merge : SendMode::Single;
    if (m_mode == SendMode::Merge) {
        const int records = open ? countRecords() : -1;
        if (records < 0)  // why the project's database could not be opened, when known
            return RunRefusal{RefusalReason::DatabaseUnusable, {}, m_openFailure};
        if (records == 0)
            return RunRefusal{RefusalReason::NoData, {}, {}};
        step(FlowState::Checked);
        return {};
    }
    if (RunRefusal r = singleChecked(); !r.ok())
        return r;
    step(FlowState::Checked);
    m_addressesUnused = open && countRecords() > 0;
    return {};
}

db::CSuppressionList CSendFlow::suppressionList() const {
    // the store's own when its list shares it on the server, the user's file otherwise
    if (m_store && db::SharedListsServer(*m_store))
        return db::CSuppressionList(*m_store);
    return db::CSuppressionList(m_settings.folders.userDataFolder);
}

QString CSendFlow::readSuppressionReasons(QHash<QString, QString>& reasons) const {
    const auto failure = [](const db::CSuppressionList& list) {
        return list.LastError().isEmpty() ? list.FilePath() : list.LastError();
    };
    const db::CSuppressionList list = suppressionList();
    if (list.ReadReasons(reasons) == db::ListRead::Failed)
        return failure(list);
    if (list.FilePath() == db::CSuppressionList(m_settings.folders.userDataFolder).FilePath())
        return {};
    // Beside a shared list the user's own file still holds: what this desktop suppressed
    // before sharing, and what its bounce reader adds there.
    const db::CSuppressionList own(m_settings.folders.userDataFolder);
    QHash<QString, QString> ownReasons;
    if (own.ReadReasons(ownReasons) == db::ListRead::Failed)
        return failure(own);
    for (auto it = ownReasons.cbegin(); it != ownReasons.cend(); ++it)
        reasons.insert(it.key(), it.value());
    return {};
}

RunRefusal CSendFlow::readSuppression(QHash<QString, QString>& reasons) const {
    const QString failure = readSuppressionReasons(reasons);
    if (failure.isEmpty())
        return {};
    return {RefusalReason::SuppressionUnreadable, {}, failure};
}

void CSendFlow::leaveOutSuppressed(const QHash<QString, QString>& reasons) {
    if (reasons.isEmpty())
        return;
    auto kept = std::make_shared<std::vector<int>>();
    kept->reserve(m_ids->size());
    const std::shared_ptr<IRecipientRows> rows = selectionRows();
    for (int i = 0; i < rows->count(); ++i) {
        const int id = (*m_ids)[size_t(i)];
        const FieldTexts* values = rows->values(i);
        if (!values) {
            kept->push_back(id);  // gone or unreadable: the run finds it so in its turn
            continue;
        }
        const QString hit = suppressedAddressOf(*values, m_recipientField, m_captions, reasons);
        if (!hit.isEmpty()) {
            m_suppressed.push_back({id, hit, reasons.value(db::SuppressionKey(hit))});
            continue;
        }
        kept->push_back(id);
    }
    m_ids = std::move(kept);
}

std::shared_ptr<IRecipientRows> CSendFlow::selectionRows() const {
    return std::make_shared<CPagedRows>(m_reader, m_ids);
}

int CSendFlow::countRecords() {
    try {
        return m_store->Records().CountRecordsOrNone();
    } catch (const db::StoreError& e) {
        m_store->ReportDroppedError("Counting the recipients", e);
        return -1;
    }
}

RunRefusal CSendFlow::chooseSelection(db::SendSelectionMode mode) {
    if (!checked() || m_mode != SendMode::Merge || !m_store || !m_store->IsOpen())
        return {RefusalReason::NotChecked, {}, {}};
    m_suppressed.clear();
    QHash<QString, QString> reasons;
    if (RunRefusal unreadable = readSuppression(reasons); !unreadable.ok()) {
        step(FlowState::Checked);
        return unreadable;
    }
    // Only the IDs are kept: the values are read a page at a time by whatever needs them.
    if (!m_reader || m_reader->workingCopy() != m_store->WorkingCopyPath())
        m_reader = std::make_shared<db::CRunAttachment>(
            m_store->WorkingCopyPath(),
            [](const QString& text) { qWarning("Postwick database: %s", qPrintable(text)); });
    std::optional<std::vector<int>> ids = m_reader->SelectionIds(mode);
    m_selectionMode = mode;
    step(ids ? FlowState::Chosen : FlowState::Checked);
    m_ids = std::make_shared<const std::vector<int>>(ids ? std::move(*ids) : std::vector<int>{});
    if (!ids)
        return {RefusalReason::DatabaseUnreadable, {}, {}};
    leaveOutSuppressed(reasons);
    if (selectedCount() > 0)
        return {};
    switch (mode) {
        case db::SendSelectionMode::NotSent: {
            // those whose mail failed for good are reached by another choice
            const int failed = failedCount();
            return {
                RefusalReason::NothingUnsent, failed > 0 ? QString::number(failed) : QString(), {}};
        }
        case db::SendSelectionMode::Marked:
            return {RefusalReason::NoneMarked, {}, {}};
        case db::SendSelectionMode::All:
            break;
    }
    return {RefusalReason::NoData, {}, {}};
}

bool CSendFlow::useTestRecipient(int position) {
    m_testSample.reset();
    if (!checked() || m_mode != SendMode::Single || !m_store || !m_store->IsOpen() || position < 0)
        return false;
    auto reader = std::make_shared<db::CRunAttachment>(
        m_store->WorkingCopyPath(),
        [](const QString& text) { qWarning("Postwick database: %s", qPrintable(text)); });
    const std::optional<std::vector<int>> ids = reader->SelectionIds(db::SendSelectionMode::All);
    if (!ids || size_t(position) >= ids->size())
        return false;
    CPagedRows rows(reader, std::make_shared<const std::vector<int>>(1, (*ids)[size_t(position)]));
    const FieldTexts* values = rows.values(0);
    if (values)
        m_testSample = *values;
    reader->Detach();
    return m_testSample.has_value();
}

bool CSendFlow::mailHasPlaceholders() const {
    if (!m_store || !m_store->IsOpen())
        return false;
    const MailJob job = makeJob();
    QString html;
    if (!job.htmlFileName.isEmpty()) {
        QFile file(job.mainPreviewFolder + QStringLiteral("index.html"));
        if (file.open(QIODevice::ReadOnly))
            html = QString::fromUtf8(file.readAll());
    }
    for (const QString& t : {job.senderAddress, job.senderName, job.subject, job.bodyText, html}) {
        if (containsPlaceholder(t, m_captions))
            return true;
    }
    return false;
}

TestMerge askTestRecipient(CSendFlow& flow, IUserInteraction& ui) {
    if (!flow.mailHasPlaceholders())
        return TestMerge::Unmerged;
    ChoiceRequest request;
    request.caption = str(ids::kSendCaptionBox);
    request.text = str(ids::kTestMergeQuestion);
    request.buttons = {str(ids::kTestMergeFirst), str(ids::kTestMergeOther),
                       str(ids::kTestMergeNone), str(ids::kTestMergeCancel)};
    request.icon = ChoiceIcon::Question;
    switch (ui.choose(request)) {
        case 0:
            return flow.useTestRecipient(0) ? TestMerge::Merged : TestMerge::Unmerged;
        case 1: {
            const std::optional<QString> number = ui.askText(
                {str(ids::kSendCaptionBox), str(ids::kTestMergeNumber), QStringLiteral("1")});
            if (!number)
                return TestMerge::Cancelled;
            bool ok = false;
            const int n = number->trimmed().toInt(&ok);
            if (ok && flow.useTestRecipient(n - 1))
                return TestMerge::Merged;
            inform(ui, formatMessageText(str(ids::kTestMergeNoSuchRecipient), {number->trimmed()}));
            return TestMerge::Cancelled;
        }
        case 2:
            return TestMerge::Unmerged;
        default:
            return TestMerge::Cancelled;
    }
}

int CSendFlow::countSelection(db::SendSelectionMode mode) const {
    if (!checked() || m_mode != SendMode::Merge || !m_store || !m_store->IsOpen())
        return 0;
    const int count = m_store->SendRun().CountSendSelection(mode);
    QHash<QString, QString> reasons;
    if (count <= 0 || !readSuppressionReasons(reasons).isEmpty() || reasons.isEmpty())
        return count;
    // what the run would send: the suppressed are left out of it
    auto reader = std::make_shared<db::CRunAttachment>(
        m_store->WorkingCopyPath(),
        [](const QString& text) { qWarning("Postwick database: %s", qPrintable(text)); });
    std::optional<std::vector<int>> ids = reader->SelectionIds(mode);
    if (!ids)
        return count;
    CPagedRows rows(reader, std::make_shared<const std::vector<int>>(std::move(*ids)));
    int suppressed = 0;
    for (int i = 0; i < rows.count(); ++i) {
        const FieldTexts* values = rows.values(i);
        if (values &&
            !suppressedAddressOf(*values, m_recipientField, m_captions, reasons).isEmpty())
            ++suppressed;
    }
    reader->Detach();
    return count - suppressed;
}

SendingProfile CSendFlow::sendingProfile() const {
    const ServerRecord server =
        effectiveServer(m_settings.standardServer, m_document.projectSettings);
    const QString key = accountKey(server.smtpServer, server.smtpUserName);
    return m_settings.sendingProfiles.value(key, presetProfile(presetForHost(server.smtpServer)));
}

std::unique_ptr<CSendLimiter> CSendFlow::makeLimiter() const {
    const ServerRecord server =
        effectiveServer(m_settings.standardServer, m_document.projectSettings);
    // the account's own ledger, shared by every project that sends through it (and by the
    // colleagues on a shared list)
    const QString account = accountKey(server.smtpServer, server.smtpUserName);
    const std::optional<db::ServerLogin> shared =
        m_store ? db::SharedListsServer(*m_store) : std::nullopt;
    auto ledger = shared
                      ? std::make_unique<CSendLedger>(*shared, account)
                      : std::make_unique<CSendLedger>(m_settings.folders.userDataFolder, account);
    return std::make_unique<CSendLimiter>(sendingProfile(), std::move(ledger),
                                          QDateTime::currentDateTime());
}

QString CSendFlow::estimateText(int recipients) const {
    const std::unique_ptr<CSendLimiter> limiter = makeLimiter();
    return sendEstimateText(recipients, limiter->profile(),
                            limiter->usedInDay(QDateTime::currentDateTime()));
}

QDateTime CSendFlow::nextAllowedSend() const {
    const QDateTime now = QDateTime::currentDateTime();
    return makeLimiter()->nextSlot(now);
}

int CSendFlow::failedCount() const {
    if (!m_store || !m_store->IsOpen())
        return 0;
    int failed = 0;
    try {
        m_store->Records().ForEachRecord(db::RecordView::MainTransaction, db::RecordOrder::Stored,
                                         0, [&failed](const db::StoredRecord& r) {
                                             failed += r.sent == int(Outcome::NotSent) ? 1 : 0;
                                             return true;
                                         });
    } catch (const db::StoreError&) {
        return -1;
    }
    return failed;
}

bool CSendFlow::lastRunUnfinished() const {
    if (m_interrupted)
        return true;
    return !m_projectPath.isEmpty() &&
           send::lastRunUnfinished(m_settings.folders.workingCopyFolder, m_projectPath);
}

bool CSendFlow::projectWritable() const {
    // The write-back writes a new file beside the project and renames it into place.
    const QFileInfo project(m_projectPath);
    if (!project.isWritable())
        return false;
    QTemporaryFile probe(project.absolutePath() + QStringLiteral("/.postwick-XXXXXX"));
    return probe.open();
}

bool CSendFlow::recordsOutcomes() const {
    return m_mode == SendMode::Merge && m_settings.dryRunFolder.isEmpty();
}

MailJob CSendFlow::makeJob() const {
    MailJob job;
    job.senderAddress = m_document.senderAddress;
    job.senderName = m_document.senderName;
    job.subject = m_document.subject;
    job.recipientText = m_recipientField;
    job.bodyText = m_body;
    job.htmlFileName = m_document.htmlTemplateName;
    job.htmlFiles = m_document.pictureList;
    job.mainPreviewFolder = m_settings.previewFolder;
    job.attachments = m_document.attachments;
    job.charsetRow = m_charsetRow;
    job.addrSetType = m_settings.addrSetType;
    job.japaneseExtras = m_settings.japaneseExtras;
    job.captions = m_captions;
    job.unsubscribe = m_unsubscribe;
    if (m_testSample && m_mode == SendMode::Single) {
        // the test mail as this recipient's would read; it still goes to the test address
        for (QString* t : {&job.senderAddress, &job.senderName, &job.subject, &job.bodyText})
            *t = merge(*t, m_captions, *m_testSample);
        job.testSample = m_testSample;
    }
    job.messageIdDomain =
        effectiveServer(m_settings.standardServer, m_document.projectSettings).smtpServer;
    if (!m_settings.folders.userDataFolder.isEmpty())
        job.tracking = {trackingKey(m_settings.folders.userDataFolder), m_runId};
    return job;
}

CharsetShortfall CSendFlow::charsetShortfall() const {
    return messageAssembly()->charsetShortfall();
}

ServerRecord CSendFlow::serverRecord() const {
    return effectiveServer(m_settings.standardServer, m_document.projectSettings);
}

std::unique_ptr<CMessageAssembly> CSendFlow::messageAssembly() const {
    if (m_mode == SendMode::Merge)
        return std::make_unique<CMessageAssembly>(makeJob(), selectionRows());
    return std::make_unique<CMessageAssembly>(makeJob(), std::vector<FieldTexts>{});
}

namespace {

QString withSlash(QString folder) {
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

// The folder as the file system resolves it, links included; a folder still to be made is
// resolved through the nearest part of it that exists.
QString resolvedFolder(const QString& folder) {
    QString existing = QFileInfo(folder).absoluteFilePath();
    QString rest;
    while (!existing.isEmpty() && !QFileInfo::exists(existing)) {
        const qsizetype slash = existing.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0)
            break;
        rest = existing.mid(slash) + rest;
        existing = existing.left(slash);
    }
    const QString canonical = QFileInfo(existing).canonicalFilePath();
    return withSlash((canonical.isEmpty() ? existing : canonical) + rest);
}

RunRefusal problem(RefusalReason r, QString subject, QString detail = {}) {
    return {r, std::move(subject), std::move(detail)};
}

RunRefusal checkFile(const QString& path, qint64 limit) {
    const QFileInfo info(path);
    if (!info.exists())
        return problem(RefusalReason::FileMissing, path);
    if (!info.isFile())
        return problem(RefusalReason::FileNotRegular, path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return problem(RefusalReason::FileUnreadable, path, file.errorString());
    char byte = 0;
    if (file.size() > 0 && file.read(&byte, 1) != 1)
        return problem(RefusalReason::FileUnreadable, path, file.errorString());
    // A file of the kernel's (/proc, /sys) says it is empty and is not: its text would change
    // between the check and every mail, which the encoder refuses.
    if (file.size() == 0 && file.read(&byte, 1) == 1)
        return problem(RefusalReason::FileNotRegular, path);
    if (limit > 0 && info.size() > limit)
        return problem(RefusalReason::FileTooLarge, path,
                       QString::number(double(info.size()) / (1024.0 * 1024.0), 'f', 1));
    return {};
}

// The log can take the run's entries: an existing file writable, or a new one can be made.
RunRefusal checkLog(const QString& path) {
    if (path.isEmpty())
        return {};
    const QFileInfo info(path);
    if (info.exists()) {
        if (!info.isFile())
            return problem(RefusalReason::LogUnwritable, path,
                           QString::fromLocal8Bit(std::strerror(EISDIR)));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
            return problem(RefusalReason::LogUnwritable, path, file.errorString());
        return {};
    }
    if (!QFileInfo::exists(info.absolutePath()))
        return {};  // a dry run's folder, made at the start
    QTemporaryFile probe(withSlash(info.absolutePath()) + QStringLiteral(".postwick-probe-XXXXXX"));
    if (!probe.open())
        return problem(RefusalReason::LogUnwritable, path, probe.errorString());
    return {};
}

}  // namespace

RunRefusal CSendFlow::prepare(IUserInteraction& ui, const RunQuestions& questions) {
    m_warnings.clear();
    if (RunRefusal p = checkFilesAndFolders(); !p.ok())
        return p;
    if (RunRefusal asked = askQuestions(ui, questions); !asked.ok())
        return asked;
    return holdProject();
}

RunRefusal CSendFlow::askQuestions(IUserInteraction& ui, const RunQuestions& questions) {
    RunRefusal result;
    const bool merge = m_mode == SendMode::Merge;
    // Nothing to ask before the mail and its recipients are known.
    if (!(merge ? m_state == FlowState::Chosen : checked()))
        return result;
    // the last run stopped part-way: "all" would send the mail again to those who have it
    if (merge && m_selectionMode == db::SendSelectionMode::All && lastRunUnfinished()) {
        if (questions.asking == Asking::NoOne) {
            if (questions.overInterrupted == OverInterrupted::Refuse)
                return problem(RefusalReason::AllOverInterrupted, m_projectPath);
        } else if (ui.message(str(ids::kSendCaptionBox), str(ids::kSendAllOverInterrupted),
                              MessageKind::YesNo) != Answer::Yes) {
            return problem(RefusalReason::Declined, {});
        }
    }
    if (questions.asking == Asking::NoOne) {
        const QStringList unmatched = messageAssembly()->unmatchedPlaceholders();
        if (!unmatched.isEmpty())
            m_warnings << formatMessageText(
                str(ids::kUnmatchedPlaceholdersWarning),
                {unmatched.join(QLatin1StringView(", ")),
                 QStringList(m_captions.begin(), m_captions.end()).join(QLatin1StringView(", "))});
    } else if (!askAboutUnmatchedPlaceholders(ui)) {
        return problem(RefusalReason::Declined, {});
    }
    // told, not asked: the setting already says what becomes of those mails
    if (const QString jis = messageAssembly()->jisNotice(); !jis.isEmpty())
        m_warnings << jis;
    const int row = m_charsetRow;
    if (row == smtp::utf8CharsetRow())
        return result;
    const CharsetShortfall shortfall = charsetShortfall();
    if (shortfall.characters == 0)
        return result;
    if (questions.asking == Asking::NoOne) {
        m_warnings << charsetShortfallWarning(shortfall, row);
        return result;
    }
    switch (askAboutCharsetShortfall(ui, shortfall, row)) {
        case CharsetChoice::UseUtf8:
            m_charsetRow = smtp::utf8CharsetRow();
            break;
        case CharsetChoice::KeepCharset:
            break;
        case CharsetChoice::Cancel:
            return problem(RefusalReason::Declined, {});
    }
    return result;
}

bool CSendFlow::askAboutUnmatchedPlaceholders(IUserInteraction& ui) {
    if (m_placeholdersAsked == PlaceholdersAsked::Yes)
        return true;
    m_placeholdersAsked = PlaceholdersAsked::Yes;
    const QStringList unmatched = messageAssembly()->unmatchedPlaceholders();
    if (unmatched.isEmpty())
        return true;
    return ui.message(str(ids::kSendCaptionBox), unmatchedPlaceholdersText(unmatched, m_captions),
                      MessageKind::YesNo) == Answer::Yes;
}

RunRefusal CSendFlow::holdProject() {
    if (!checked() || !recordsOutcomes())
        return {};
    if (m_outcomesGo == OutcomesGo::IntoProject && !projectWritable())
        return problem(RefusalReason::ProjectNotWritable, m_projectPath);
    // A project file that is gone has nobody else sending it; its save makes a new one.
    if (!m_projectPath.isEmpty() && !m_projectLock && QFileInfo::exists(m_projectPath)) {
        ProjectLockResult locked = ProjectLockResult::Held;
        m_projectLock = CProjectLock::acquire(m_projectPath, &locked);
        if (!m_projectLock && locked == ProjectLockResult::Busy)
            return problem(RefusalReason::ProjectBusy, m_projectPath);
    }
    return {};
}

RunRefusal CSendFlow::checkFilesAndFolders() const {
    if (!m_settings.settingsFailure.isEmpty())
        return problem(RefusalReason::SettingsUnreadable, m_settings.settingsFile,
                       m_settings.settingsFailure);
    const bool dryRun = !m_settings.dryRunFolder.isEmpty();
    if (!dryRun && !m_settings.badPortText.isEmpty())
        return problem(RefusalReason::BadPort, m_settings.badPortText);
    // without a host the connection would go to ":25" and ":26" of nowhere (known once the
    // mail is: a project may name its own server)
    if (!dryRun && m_store &&
        effectiveServer(m_settings.standardServer, m_document.projectSettings)
            .smtpServer.trimmed()
            .isEmpty())
        return problem(RefusalReason::NoServer, {});
    // read as row 0 it would send in Shift_JIS whatever the user chose
    if (!smtp::isCharsetRow(m_charsetRow))
        return problem(RefusalReason::BadCharset, QString::number(m_charsetRow));

    MailJob job = makeJob();
    for (const JobFile& f : filesOfJob(job)) {
        RunRefusal p = checkFile(f.path, m_settings.attachmentSizeLimit);
        // the HTML part is the mail's text, not an attachment: only its size is not limited
        if (!p.ok() && !(f.role == JobFile::Role::Html && p.reason == RefusalReason::FileTooLarge))
            return p;
    }

    if (dryRun) {
        const QString target = resolvedFolder(m_settings.dryRunFolder);
        for (const QString& own : m_settings.ownFolders) {
            if (own.isEmpty())
                continue;
            // the log and the working copies there would be replaced or mixed with the mails
            if (target.startsWith(resolvedFolder(own)))
                return problem(RefusalReason::DryRunOwnFolder, m_settings.dryRunFolder,
                               QDir::toNativeSeparators(own));
        }
        const QFileInfo info(m_settings.dryRunFolder);
        if (info.exists() && !info.isDir())
            return problem(RefusalReason::DryRunFolderUnusable, m_settings.dryRunFolder,
                           QString::fromLocal8Bit(std::strerror(ENOTDIR)));
        if (info.exists() && !info.isWritable())
            return problem(RefusalReason::DryRunFolderUnusable, m_settings.dryRunFolder,
                           QString::fromLocal8Bit(std::strerror(EACCES)));
        return checkLog(m_log.path());
    }

    {
        // the working copy of the recipients, the marker of a run and its outcomes live there
        const QString folder = m_settings.folders.workingCopyFolder;
        QTemporaryFile probe(withSlash(folder) + QStringLiteral(".postwick-probe-XXXXXX"));
        if (!probe.open())
            return problem(RefusalReason::StateFolderUnwritable, folder, probe.errorString());
    }
    return checkLog(m_log.path());
}

QString CSendFlow::refusalText(const RunRefusal& p) const {
    const QString subject = QDir::toNativeSeparators(p.subject);
    switch (p.reason) {
        case RefusalReason::None:
        case RefusalReason::Declined:
            return {};
        case RefusalReason::NoRecipient:
            return str(ids::kNoMailAddress);
        case RefusalReason::NoTestAddress:
            return str(ids::kNoTestAddress);
        case RefusalReason::NoData:
            return str(ids::kNoDataInDatabase);
        case RefusalReason::NoneMarked:
            return str(ids::kNoRecipientMarked);
        case RefusalReason::NothingUnsent:
            // those whose mail failed for good are told how to reach them
            return p.subject.isEmpty()
                       ? str(ids::kNothingLeftUnsent)
                       : formatMessageText(str(ids::kNothingLeftUnsentSomeFailed), {p.subject});
        case RefusalReason::DatabaseUnusable:
            return p.detail.isEmpty() ? str(ids::kCliDatabaseUnusable) : p.detail;
        case RefusalReason::DatabaseUnreadable:
            return str(ids::kSendDatabaseUnreadable);
        case RefusalReason::AddressSuppressed:
            return formatMessageText(str(ids::kAddressSuppressed), {p.subject});
        case RefusalReason::TestAddressSuppressed:
            return formatMessageText(str(ids::kTestAddressSuppressed), {p.subject});
        case RefusalReason::SuppressionUnreadable:
            return formatMessageText(str(ids::kSuppressionUnreadable), {p.detail});
        case RefusalReason::SettingsUnreadable:
            return formatMessageText(str(ids::kPrepareSettingsUnreadable), {subject, p.detail});
        case RefusalReason::BadPort:
            return formatMessageText(str(ids::kPrepareBadPort), {p.subject});
        case RefusalReason::NoServer:
            return str(ids::kPrepareNoServer);
        case RefusalReason::FileMissing:
            return formatMessageText(str(ids::kPrepareFileMissing), {subject});
        case RefusalReason::FileNotRegular:
            return formatMessageText(str(ids::kPrepareFileNotRegular), {subject});
        case RefusalReason::FileUnreadable:
            return formatMessageText(str(ids::kPrepareFileUnreadable), {subject, p.detail});
        case RefusalReason::FileTooLarge:
            return formatMessageText(
                str(ids::kPrepareFileTooLarge),
                {subject, p.detail, QString::number(m_settings.attachmentSizeLimit / (1024 * 1024)),
                 QDir::toNativeSeparators(m_settings.settingsFile)});
        case RefusalReason::DryRunOwnFolder:
            return formatMessageText(str(ids::kPrepareDryRunOwnFolder), {subject, p.detail});
        case RefusalReason::DryRunFolderUnusable:
            return formatMessageText(str(ids::kPrepareDryRunFolderUnusable), {subject, p.detail});
        case RefusalReason::DryRunFolderFailed:
            return str(ids::kCliDryRunFolder) + QLatin1Char(' ') + subject;
        case RefusalReason::StateFolderUnwritable:
            return formatMessageText(str(ids::kPrepareStateFolderUnwritable), {subject, p.detail});
        case RefusalReason::LogUnwritable:
            return formatMessageText(str(ids::kPrepareLogUnwritable), {subject, p.detail});
        case RefusalReason::BadCharset:
            return formatMessageText(str(ids::kCharsetBadSetting), {p.subject});
        case RefusalReason::AllOverInterrupted:
            return str(ids::kCliAllOverInterrupted);
        case RefusalReason::ProjectBusy:
            return str(ids::kSendProjectBusy);
        case RefusalReason::ProjectNotWritable:
            return str(ids::kCliNotWritable) + QLatin1Char(' ') + subject;
        case RefusalReason::MarkerFailed:
            return str(ids::kRunCannotStart);
        case RefusalReason::ListInUse:
            return str(ids::kSendListInUse).arg(p.subject);
        case RefusalReason::AlreadyRunning:
            return str(ids::kRunAlreadyInProgress);
        case RefusalReason::NotChecked:
            return str(ids::kRunNotChecked);
    }
    return {};
}

RunRefusal CSendFlow::refuseStart(RunRefusal refusal) {
    m_summary.refusal = refusal;
    return refusal;
}

RunRefusal CSendFlow::start(ISendProgress& progress, std::unique_ptr<ISendTransport> transport) {
    if (m_worker)
        return refuseStart({RefusalReason::AlreadyRunning, {}, {}});
    const bool mergeReady =
        m_mode != SendMode::Merge || (m_state == FlowState::Chosen && selectedCount() > 0);
    if (!checked() || !mergeReady)
        return refuseStart({RefusalReason::NotChecked, {}, {}});
    // Made again, without the questions: a file may have gone or the project been taken
    // since the preparation, and a front end may start without one.
    if (RunRefusal checkedAgain = checkFilesAndFolders(); !checkedAgain.ok())
        return refuseStart(checkedAgain);
    if (RunRefusal held = holdProject(); !held.ok())
        return refuseStart(held);

    std::function<std::unique_ptr<ISendTransport>()> moreConnections;
    if (!transport) {
        if (!m_settings.dryRunFolder.isEmpty()) {
            if (!QDir().mkpath(m_settings.dryRunFolder))
                return refuseStart(
                    {RefusalReason::DryRunFolderFailed, m_settings.dryRunFolder, {}});
            transport = std::make_unique<CDryRunTransport>(m_settings.dryRunFolder);
        } else {
            // the blanket accept and the certificates trusted per server
            transport = std::make_unique<CSmtpTransport>(m_settings.standardServer);
            moreConnections = [server = m_settings.standardServer] {
                return std::make_unique<CSmtpTransport>(server);
            };
        }
    }

    SendRun run;
    run.mode = m_mode;
    run.server = effectiveServer(m_settings.standardServer, m_document.projectSettings);
    if (!m_settings.dryRunFolder.isEmpty())
        run.server.tokens.reset();  // a dry run signs in nowhere, so it asks no token server
    run.pacing = m_settings.pacing;
    if (m_settings.dryRunFolder.isEmpty())
        run.limiter = makeLimiter();
    run.moreConnections = std::move(moreConnections);
    if (m_mode == SendMode::Merge) {
        run.recordIds = *m_ids;
        run.suppressed = m_suppressed;
    }
    run.inFlightOfKilledRun = std::exchange(m_inFlightOfKilledRun, {});

    // The run's own attachment: its pages and its outcomes, on the worker's thread. Its
    // database errors belong in the run's log.
    CSendLog* log = &m_log;
    std::shared_ptr<db::CRunAttachment> runDb;
    if (m_mode == SendMode::Merge)
        runDb = std::make_shared<db::CRunAttachment>(
            m_store->WorkingCopyPath(), [log](const QString& text) { log->append(text); });
    if (runDb) {
        // A list on a server is sent by one desktop at a time; the lock lasts as long as the
        // run's attachment, so a killed run frees it too.
        QString heldBy;
        const db::CRunAttachment::RunLock lock = runDb->TakeRunLock(runLockHolder(), &heldBy);
        if (lock == db::CRunAttachment::RunLock::Held ||
            lock == db::CRunAttachment::RunLock::Failed) {
            return refuseStart({RefusalReason::ListInUse, heldBy, {}});
        }
    }
    m_runDb = runDb;
    if (m_reader)
        m_reader->Detach();  // the run reads through its own from here
    OutcomeRecorder recorder;
    if (recordsOutcomes()) {
        // An earlier run's marker on this working copy already guards its outcomes, and
        // those of this run join them.
        const bool adopted =
            m_marker && m_marker->path() == markerPathFor(m_store->WorkingCopyPath());
        if (!m_projectPath.isEmpty() && !adopted) {
            m_marker = CRunMarker::begin(m_store->WorkingCopyPath(), m_projectPath);
            if (!m_marker)
                return refuseStart({RefusalReason::MarkerFailed, m_store->WorkingCopyPath(), {}});
        }
        if (m_marker)
            run.inFlight = CInFlightRecord::open(m_store->WorkingCopyPath());
        db::TDbData* store = m_store;
        clearEarlierOutcomes(*runDb);
        std::shared_ptr<std::atomic<int>> reached = m_reached;
        // Outcome 2 for the suppressed: "not yet sent" does not pick them again.
        for (const SuppressedRecipient& r : m_suppressed)
            (void)store->SendRun().SetSentFlag(r.recordId, int(Outcome::NotSent));
        recorder = [store, reached, runDb](int id, Outcome outcome) {
            if (outcome != Outcome::NotYetSent)
                reached->fetch_add(1);
            switch (runDb->WriteOutcome(id, int(outcome))) {
                case db::CRunAttachment::OutcomeWrite::Written:
                    store->SetModified();  // the window's save takes it into the user's file
                    return RecordResult::Recorded;
                case db::CRunAttachment::OutcomeWrite::Locked:
                    store->SendRun().DeferSentFlag(id, int(outcome));
                    return RecordResult::Recorded;
                case db::CRunAttachment::OutcomeWrite::RecordGone:
                    return RecordResult::RecordGone;
                case db::CRunAttachment::OutcomeWrite::Failed:
                    break;
            }
            return RecordResult::NotRecorded;
        };
    }

    m_history = beginHistory(run.server);
    run.observer = m_history;
    MailJob job = makeJob();
    std::unique_ptr<IMessageSource> source =
        m_mode == SendMode::Merge
            ? std::make_unique<CMessageAssembly>(std::move(job),
                                                 std::make_shared<CPagedRows>(runDb, m_ids))
            : std::make_unique<CMessageAssembly>(std::move(job), std::vector<FieldTexts>{});
    m_log.setActive();

    m_worker =
        std::make_unique<CMailSendThread>(std::move(run), std::move(source), std::move(transport),
                                          std::move(recorder), progress, m_log);
    connect(m_worker.get(), &QThread::finished, this, &CSendFlow::workerEnded,
            Qt::QueuedConnection);
    for (int i = 0; i < m_cancelRequests; ++i)
        m_worker->cancel();
    m_state = FlowState::Running;
    m_worker->start();
    return refuseStart({});
}

std::shared_ptr<CRunHistory> CSendFlow::beginHistory(const ServerRecord& server) const {
    db::CampaignStart campaign;
    campaign.runId = m_runId;
    campaign.kind = !m_settings.dryRunFolder.isEmpty() ? db::CampaignKind::DryRun
                    : m_kind == SendKind::Test         ? db::CampaignKind::Test
                                                       : db::CampaignKind::Send;
    campaign.project = m_projectPath.isEmpty() ? m_document.projectFilePath : m_projectPath;
    campaign.subject = m_document.subject;
    campaign.sender = m_document.senderName.isEmpty()
                          ? m_document.senderAddress
                          : m_document.senderName + QStringLiteral(" <") +
                                m_document.senderAddress + QLatin1Char('>');
    campaign.server = server.smtpServer + QLatin1Char(':') + QString::number(server.smtpPort);
    campaign.account = server.signsIn() ? server.smtpUserName : QString();
    campaign.charset = QString::fromLatin1(smtp::charsetRow(m_charsetRow).mimeName);
    campaign.startedMs = QDateTime::currentMSecsSinceEpoch();
    QStringList suppressed;
    for (const SuppressedRecipient& r : m_suppressed)
        suppressed.append(r.address);
    return std::make_shared<CRunHistory>(m_settings.folders.userDataFolder, std::move(campaign),
                                         m_mode == SendMode::Merge ? selectedCount() : 1,
                                         m_mode == SendMode::Merge ? suppressed : QStringList());
}

void CSendFlow::endHistory() {
    if (!m_history)
        return;
    // The rows the run never came to are read on this thread, after the worker's attachment.
    std::shared_ptr<IRecipientRows> rows;
    const auto addressOf = [this, &rows](int position) {
        if (m_mode != SendMode::Merge)
            return m_recipientField.simplified();
        if (!rows)
            rows = selectionRows();
        const FieldTexts* values = rows->values(position - 1);
        return values ? merge(m_recipientField, m_captions, *values).simplified() : QString();
    };
    m_history->finish(m_summary.status, addressOf);
    m_summary.historyCampaign = m_history->campaignId();
    m_history.reset();
}

void CSendFlow::clearEarlierOutcomes(db::CRunAttachment& runDb) {
    // The outcomes of an earlier run of the same recipients (last month's newsletter) would
    // keep this run's unreached ones out of "not yet sent": each run's outcomes are its own.
    // The project file keeps the old ones until it is saved.
    struct Detach {
        db::CRunAttachment& db;
        ~Detach() { db.Detach(); }  // the worker attaches again on its own thread
    } detach{runDb};
    if (runDb.ClearOutcomes(m_selectionMode) != db::CRunAttachment::OutcomeWrite::Locked)
        return;
    // A row holds an unsaved change of the window: one at a time, the locked ones kept
    // until its save, as the run's outcomes are.
    for (const int id : *m_ids) {
        if (runDb.WriteOutcome(id, int(Outcome::NotYetSent)) ==
            db::CRunAttachment::OutcomeWrite::Locked)
            m_store->SendRun().DeferSentFlag(id, int(Outcome::NotYetSent));
    }
}

SendSummary CSendFlow::runToEnd(ISendProgress& progress,
                                std::unique_ptr<ISendTransport> transport) {
    if (!start(progress, std::move(transport)).ok())
        return m_summary;
    QEventLoop loop;
    connect(this, &CSendFlow::finished, &loop, &QEventLoop::quit);
    if (m_state == FlowState::Running)
        loop.exec();
    return m_summary;
}

void CSendFlow::cancel() {
    ++m_cancelRequests;
    if (m_state == FlowState::Running)
        m_worker->cancel();
}

void CSendFlow::workerEnded() {
    if (m_state != FlowState::Running)
        return;
    m_worker->wait();  // it has left run(): this returns at once
    m_state = FlowState::Ended;
    if (m_runDb)
        m_runDb->Detach();  // before the write-back reads the working copy
    static_cast<RunReport&>(m_summary) = m_worker->report();
    if (m_mode == SendMode::Merge) {
        // those the run never came to (a stop, a lost server, a sign-in refused) stay at 0 too
        const int handled = m_summary.sent + m_summary.failed + m_summary.skipped + m_summary.later;
        m_summary.later += std::max(0, selectedCount() - handled);
    }
    m_summary.runId = m_runId;
    m_summary.suppressed = int(m_suppressed.size());
    m_summary.logFailure = m_log.writeFailure();
    endHistory();
    m_summary.writeBack = endRun();
    emit finished();
}

WriteBack CSendFlow::close() {
    if (m_state == FlowState::Closed || m_state == FlowState::Running)
        return {};
    return endRun();
}

WriteBack CSendFlow::endRun() {
    m_state = FlowState::Closed;
    m_log.closeFile();
    if (m_reader)
        m_reader->Detach();
    struct Unlock {
        std::unique_ptr<CProjectLock>& lock;
        ~Unlock() { lock.reset(); }  // the last step: after the note and the write-back
    } unlock{m_projectLock};
    if (m_worker && recordsOutcomes() && !m_projectPath.isEmpty()) {
        const QString& folder = m_settings.folders.workingCopyFolder;
        // Only a run that reached some but not all leaves recipients who have the mail
        // beside others who have not; one that reached nobody changes nothing.
        const int reached = m_reached->load();
        if (reached > 0 && reached < selectedCount())
            noteUnfinishedRun(folder, m_projectPath);
        else if (reached == selectedCount() && m_selectionMode != db::SendSelectionMode::Marked)
            clearUnfinishedRun(folder, m_projectPath);
    }
    WriteBack result;
    if (m_serverList) {
        // every outcome is on the server already: nothing waits for a save
        if (m_marker)
            m_marker->finish();
        m_marker.reset();
        if (m_ownStore)
            m_ownStore->Close(db::CloseMode::DeleteWorkingCopy);
        return result;
    }
    if (m_outcomesGo != OutcomesGo::IntoProject || !m_ownStore)
        return result;  // the window's store keeps the outcomes; the marker waits for its save

    db::TDbData& store = *m_ownStore;
    const bool ranWithOutcomes = m_worker && recordsOutcomes();
    if (m_resumeFailed && !ranWithOutcomes) {
        // An interrupted run's copy that cannot be opened is not written into the project.
        store.Close(db::CloseMode::KeepWorkingCopy);
        return result;
    }
    if (!ranWithOutcomes && !m_interrupted) {
        store.Close(db::CloseMode::DeleteWorkingCopy);
        if (!m_extractedCopy.isEmpty())
            QFile::remove(m_extractedCopy);
        return result;
    }

    if (store.IsOpen()) {
        (void)store.Save(db::SaveMode::Ending);
        store.Close(db::CloseMode::KeepWorkingCopy);
    }
    const QString copy = m_interrupted ? m_interrupted->workingCopy : store.WorkingCopyPath();
    const WriteResult written =
        writeOutcomesBack({m_projectPath, copy, m_settings.previewFolder, m_settings.textCodePage},
                          m_document, m_scheduled.value_or(ScheduledSending{}));
    if (!written.ok()) {
        // The copy and its marker stay, so the next run of this project picks them up.
        result.status = WriteBackStatus::Failed;
        result.workingCopy = copy;
        result.message = written.message;
        m_marker.reset();
        return result;
    }
    if (m_marker)
        m_marker->finish();
    m_marker.reset();
    if (m_interrupted)
        discardMarker(*m_interrupted);
    QFile::remove(copy);
    result.status = WriteBackStatus::Written;
    return result;
}

QString summaryText(const SendSummary& summary) {
    int ending = ids::kSummaryComplete;
    if (summary.status == RunStatus::Failed)
        ending = ids::kSummaryErrors;
    else if (summary.status == RunStatus::Cancelled)
        ending = ids::kSummaryCancelled;
    QString text = str(ending);
    if (summary.status == RunStatus::NotStarted)
        return text;
    text += QStringLiteral("\n\n") +
            formatMessageText(str(ids::kSummaryCounts),
                              {QString::number(summary.sent), QString::number(summary.failed),
                               QString::number(summary.skipped), QString::number(summary.later),
                               QString::number(summary.possiblyDelivered.size())});
    if (summary.suppressed > 0)
        text += QLatin1Char('\n') + formatMessageText(str(ids::kSummarySuppressed),
                                                      {QString::number(summary.suppressed)});
    if (!summary.possiblyDelivered.isEmpty()) {
        // a long list would push the box off the screen; the log names every one
        constexpr qsizetype kNamed = 20;
        QStringList named = summary.possiblyDelivered.mid(0, kNamed);
        if (summary.possiblyDelivered.size() > kNamed)
            named << formatMessageText(
                str(ids::kSummaryMore),
                {QString::number(summary.possiblyDelivered.size() - kNamed)});
        text += QStringLiteral("\n\n") + str(ids::kSummaryPossiblyDelivered) +
                QStringLiteral("\n") + named.join(QLatin1Char('\n'));
    }
    if (summary.signedInWithoutTls)
        text += QStringLiteral("\n\n") + str(ids::kLogClearTextSignIn);
    return text;
}

CharsetChoice askAboutCharsetShortfall(IUserInteraction& ui, const CharsetShortfall& shortfall,
                                       int row) {
    ChoiceRequest request;
    request.caption = productName();
    request.text = formatMessageText(
        str(ids::kCharsetShortfall),
        {QString::number(shortfall.characters), smtp::charsetDisplayName(row), shortfall.samples});
    request.buttons = {str(ids::kCharsetUseUtf8),
                       formatMessageText(str(ids::kCharsetKeep), {smtp::charsetDisplayName(row)}),
                       str(ids::kButtonCancel)};
    request.defaultButton = 0;
    request.escapeButton = 2;
    request.icon = ChoiceIcon::Warning;
    switch (ui.choose(request)) {
        case 0:
            return CharsetChoice::UseUtf8;
        case 1:
            return CharsetChoice::KeepCharset;
        default:
            return CharsetChoice::Cancel;
    }
}

QString charsetShortfallWarning(const CharsetShortfall& shortfall, int row) {
    return formatMessageText(str(ids::kCliCharsetShortfall),
                             {QString::number(shortfall.characters), smtp::charsetDisplayName(row),
                              shortfall.samples, QString::number(smtp::utf8CharsetRow())});
}

}  // namespace pw::send
