#pragma once
// The campaign history: every run of every project of this user, its recipients with their
// outcomes, and what the bounce mailbox said of them later. A Firebird database of its own in
// the user data folder, beside the suppression list, made by the first run that records; never
// inside a project's database. Each reader attaches, reads and detaches, so that the window, a
// command-line run and the bounce reader can use it together; a run's writer too, which writes
// its recipients in groups.

#include <QString>
#include <memory>
#include <vector>

namespace pw::db {

// "history.pzb" in the user data folder.
inline constexpr const char* kHistoryFileName = "history.pzb";

enum class CampaignKind { Send = 0, Test = 1, DryRun = 2 };

// What became of one recipient of a run.
enum class HistoryOutcome {
    Sent = 1,
    Failed = 2,             // refused or failed for good; the reply says why
    Suppressed = 3,         // left out for the suppression list
    PossiblyDelivered = 4,  // the data went out, no reply came: counted as sent
    Unsent = 5,             // left for "not yet sent" (a cancel, a refusal for now, a stop)
};

// What the bounce mailbox said later of a recipient (the last word counts).
enum class HistoryEvent { None = 0, Bounced = 1, Complaint = 2, Unsubscribed = 3 };

// How a run ended, as the run tells it (the send layer's status); Running while it has not
// ended (or the program was killed).
enum class CampaignEnd { Running = 1, Failed = 2, Cancelled = 3, Completed = 4 };

struct CampaignStart {
    QString runId;
    CampaignKind kind = CampaignKind::Send;
    QString project;  // the project file, or empty for an unsaved mail
    QString subject;
    QString sender;
    QString server;
    QString account;
    QString charset;
    qint64 startedMs = 0;  // UTC milliseconds
};

struct CampaignRow : CampaignStart {
    int id = 0;
    qint64 endedMs = 0;  // 0: did not end
    CampaignEnd end = CampaignEnd::Running;
    int recipients = 0;
    // The outcomes part the recipients: sent + possiblyDelivered + failed + suppressed +
    // unsent = recipients.
    int sent = 0;
    int failed = 0;
    int suppressed = 0;
    int possiblyDelivered = 0;
    int unsent = 0;
    int bounced = 0;
    int complaints = 0;
    int unsubscribed = 0;
};

struct HistoryRecipient {
    int position = 0;  // 1 based, in the order of the run
    QString address;
    HistoryOutcome outcome = HistoryOutcome::Sent;
    QString reply;
    qint64 atMs = 0;
    HistoryEvent event = HistoryEvent::None;
    QString eventReason;
    qint64 eventAtMs = 0;
};

// One campaign a recipient was in.
struct AddressCampaign {
    CampaignRow campaign;
    HistoryRecipient recipient;
};

// A later word of the bounce mailbox. A report that carries no run (an unsubscribe request)
// goes to the latest campaign (no test, no dry run) that mailed the address.
struct HistoryNote {
    QString runId;
    QString address;
    HistoryEvent event = HistoryEvent::Bounced;
    QString reason;
    qint64 atMs = 0;
};

// Which recipients of a campaign a reader wants.
struct RecipientFilter {
    int outcome = 0;  // 0: all, else a HistoryOutcome
    QString text;     // part of the address or the reply, any case
};

enum class HistoryRead { Read, Missing, Failed };

// A run's writes, each attaching and detaching again; used from one thread at a time.
class CHistoryWriter {
public:
    virtual ~CHistoryWriter() = default;
    // The new campaign's number, 0 when it could not be written.
    [[nodiscard]] virtual int BeginCampaign(const CampaignStart& start) = 0;
    // The rows in one transaction through one prepared statement.
    [[nodiscard]] virtual bool AddRecipients(int campaign,
                                             const std::vector<HistoryRecipient>& rows) = 0;
    // The end and the figures, counted from the rows written.
    [[nodiscard]] virtual bool EndCampaign(int campaign, CampaignEnd end, qint64 endedMs) = 0;
    // The last rows and the end, in one go: a run's end waits for one attachment, not two.
    [[nodiscard]] virtual bool FinishCampaign(int campaign,
                                              const std::vector<HistoryRecipient>& rows,
                                              CampaignEnd end, qint64 endedMs) {
        const bool added = AddRecipients(campaign, rows);
        return EndCampaign(campaign, end, endedMs) && added;
    }
    [[nodiscard]] virtual QString LastError() const = 0;
};

class CHistoryStore {
public:
    // folder ends in '/'.
    explicit CHistoryStore(QString userDataFolder);

    [[nodiscard]] QString FilePath() const;
    // The file is made when missing; null when it cannot be (LastError says why).
    [[nodiscard]] std::unique_ptr<CHistoryWriter> OpenWriter();

    // Newest first: at most `limit` campaigns numbered below `beforeId` (0: from the newest).
    [[nodiscard]] HistoryRead ReadCampaigns(std::vector<CampaignRow>& rows, int beforeId = 0,
                                            int limit = 1000) const;
    [[nodiscard]] HistoryRead ReadCampaign(int id, CampaignRow& row) const;
    // In the order of the run: at most `limit` rows after position `afterPosition`.
    [[nodiscard]] HistoryRead ReadRecipients(int campaign, const RecipientFilter& filter,
                                             std::vector<HistoryRecipient>& rows,
                                             int afterPosition = 0, int limit = 1000) const;
    // Every campaign the address was in, newest first.
    [[nodiscard]] HistoryRead ReadAddress(const QString& address,
                                          std::vector<AddressCampaign>& rows) const;
    // Notes whose campaign and recipient are found are written (the campaign's figures
    // counted again); the number written, -1 when the file cannot be written.
    [[nodiscard]] int AddNotes(const std::vector<HistoryNote>& notes);

    [[nodiscard]] const QString& LastError() const { return m_lastError; }

private:
    QString m_folder;
    mutable QString m_lastError;
};

}  // namespace pw::db
