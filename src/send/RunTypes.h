#pragma once
// What the parts of a send run share: the mail's texts and its message source, the pacing,
// the outcome recorder, the steps' refusal before the first mail and the worker's report at
// the end. The preview and the message assembly use these without the send thread.

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "send/RecipientPages.h"
#include "send/SendRules.h"
#include "send/SendTransport.h"
#include "smtp/KTWSMTPMessage.h"

namespace pw::send {

enum class SendMode {
    Single,  // one mail from the texts as typed; no record is touched
    Merge,   // one mail per recipient of the selection, merged with its values
};

// The settings of "SETUP" that pace a run.
struct SendPacing {
    int oneTimeSend = 1;  // mails per connection before a batch pause
    int sendWait = 0;     // seconds of the batch pause; 0: no batches at all
    int connectWait = 0;  // minutes of the pause after a mail finally failed
    ErrorPolicy errorPolicy = ErrorPolicy::Continue;  // when a mail finally fails
};

// The five texts of a mail that are merged per recipient.
struct MailTexts {
    QString senderName;
    QString senderAddress;
    QString recipientField;
    QString subject;
    QString body;
};

// One assembled message, or the reason it could not be made.
struct BuiltMessage {
    std::unique_ptr<smtp::CKTWSMTPMessage> message;
    QStringList logEntries;  // written after "Subject", in order (the "Recipient" entry)
    QString error;           // not empty: the mail cannot be sent
};

// Turns the job into messages: merges the texts of a row and assembles its message.
class IMessageSource {
public:
    virtual ~IMessageSource() = default;
    // The mail's texts as typed.
    [[nodiscard]] virtual MailTexts texts() const = 0;
    // Whether the record of selection row `row` is still there to be merged.
    [[nodiscard]] virtual RowState rowState(int row) = 0;
    // The texts merged with the values of selection row `row`.
    [[nodiscard]] virtual MailTexts merged(int row) const = 0;
    // The message of the (merged) texts; row -1 for a single send.
    [[nodiscard]] virtual BuiltMessage build(const MailTexts& texts, int row) = 0;
};

// Where outcomes go (the run's attachment to the working copy); not called for a single
// send. Anything but Recorded stops the run at once: going on would send mails whose
// outcomes are lost, and a later run would send them again.
enum class RecordResult {
    Recorded,     // written, or kept to be written after the window's next save
    RecordGone,   // the record is no longer in the database
    NotRecorded,  // a database error
};
using OutcomeRecorder = std::function<RecordResult(int recordId, Outcome outcome)>;

// A recipient the selection left out because an address of its mail is on the suppression
// list; the run logs it before its first mail.
struct SuppressedRecipient {
    int recordId = -1;
    QString address;
    QString reason;
};

// A mail the server refused for good: its recipients, and the reply in the server's words.
struct RecipientRefusal {
    QString addresses;
    QString reply;
};

// What the worker hands back when it has ended; every connection of the run adds its own.
struct RunReport {
    RunStatus status = RunStatus::NotStarted;
    int errors = 0;
    int sent = 0;
    int failed = 0;   // refused or failed for good (outcome 2 after a transmission)
    int skipped = 0;  // could not be made or skipped (outcome 2 without a try)
    int later = 0;    // left at 0 for "not yet sent" (a cancel, a refusal for now, a lost server)
    // The mails whose whole data went out without a reply, as "number address": counted as
    // sent, but nobody knows whether they arrived.
    QStringList possiblyDelivered;
    std::vector<RecipientRefusal> refusals;  // the mails refused for good, counted as bounces
    bool signedInWithoutTls = false;         // a password went in the clear
    bool everConnected = false;
    bool signInProblem = false;  // no token, or the server refused a fresh one
    bool outcomeLost = false;    // the run stopped because an outcome could not be recorded
    // The first connection of the run refused for the server's certificate, if one was.
    std::optional<CertificateRefusal> certificateRefused;

    // Takes in what a further connection of the same run counted.
    void add(const RunReport& other);
};

// Why a step before the first mail refuses the run (or has nothing to send).
enum class RefusalReason {
    None,
    // the recipients
    NoRecipient,            // the recipient text is empty
    NoTestAddress,          // a test send without "TestEmailAddress"
    NoData,                 // database mode with no records, or none in "all"
    NoneMarked,             // no record marked for "selected"
    NothingUnsent,          // everyone has the mail; subject: those failed for good, if any
    DatabaseUnusable,       // database mode without an open database; detail: why, if known
    DatabaseUnreadable,     // the records cannot be read (damaged)
    AddressSuppressed,      // subject: the address of a single send on the suppression list
    TestAddressSuppressed,  // subject: the test address, on the list
    SuppressionUnreadable,  // detail: why
    // the settings, files and folders
    SettingsUnreadable,     // subject: the file, detail: why
    BadPort,                // subject: the value as written
    NoServer,               // no SMTP server is set
    FileMissing,            // subject: the file of the mail
    FileNotRegular,         // a folder, a device, a pipe
    FileUnreadable,         // detail: why
    FileTooLarge,           // detail: its size in MB
    DryRunOwnFolder,        // subject: the folder, detail: the program's folder it is in
    DryRunFolderUnusable,   // subject: the folder, detail: why
    DryRunFolderFailed,     // subject: the folder, which could not be made
    StateFolderUnwritable,  // subject: the working-copy folder, detail: why
    LogUnwritable,          // subject: the log file, detail: why
    BadCharset,             // "Encode" names no row of the charset table; subject: its value
    // the questions
    // Sending to all after a run that stopped part-way, with no one to ask (the command line
    // without "--force").
    AllOverInterrupted,
    Declined,  // the user answered a question with No or Cancel: nothing to tell
    // the run
    ProjectBusy,         // subject: the project, which another run is sending
    ProjectNotWritable,  // subject: the project, which cannot take the outcomes back
    MarkerFailed,        // the crash marker cannot be written: the outcomes would not be safe
    ListInUse,           // subject: who sends to this list on its server, as that desktop said
    AlreadyRunning,
    NotChecked,  // the checks (and for a merge send the choice of recipients) did not pass
};

// A step's answer: RefusalReason::None lets the run go on.
struct RunRefusal {
    RefusalReason reason = RefusalReason::None;
    QString subject;
    QString detail;
    [[nodiscard]] bool ok() const { return reason == RefusalReason::None; }
};

}  // namespace pw::send
