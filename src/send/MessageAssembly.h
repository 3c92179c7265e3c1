#pragma once
// Assembly: one recipient's message from the mail job — the merge of the recipient's
// values into the texts, the body preparation, the picture references of the HTML part
// rewritten to inline parts, the MIME structure, Message-ID and X-Mailer.

#include "send/MailJob.h"
#include "send/RecipientPages.h"
#include "send/RunTypes.h"
#include "smtp/KTWSMTPAddress.h"
#include "smtp/KTWSMTPMessage.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

namespace pw::db {
struct SendSelection;
}

namespace pw::send {

// The lines as the main window's text editor displays them, soft-wrapped lines included;
// the main window implements it.
class IDisplayedLines {
public:
    virtual ~IDisplayedLines() = default;
    [[nodiscard]] virtual QStringList displayedLines() const = 0;
};

// The plain-text body of a run from the editor's text: the automatic wrap when it is on,
// else the displayed lines when "length" is set (and lines are given), else the text.
[[nodiscard]] QString prepareBodyText(const QString& editorText, const AutoWrapSetting& wrap,
                                      bool wrapToDisplayedLines, int charsetRow,
                                      const IDisplayedLines* lines);
// Breaks lines before the character that would make a line longer than lineLength bytes
// of the code page; existing line breaks stay, LF starts a new count.
[[nodiscard]] QString wrapByBytes(const QString& text, int lineLength, int codePage);

// Every placeholder "[[" + caption + "]]" replaced by the value of its field, the search
// going on after each inserted value (so a value holding a placeholder is inserted once).
[[nodiscard]] QString merge(const QString& text, const FieldTexts& captions,
                            const FieldTexts& values);
// The same by replace-all, field by field; without values (an empty selection) every
// placeholder becomes the empty text.
[[nodiscard]] QString mergeAll(const QString& text, const FieldTexts& captions,
                               const FieldTexts* values);

// The placeholders "[[...]]" of the texts that name no field (nor the unsubscribe link),
// each once, in the order they are first met: they would go out as written.
[[nodiscard]] QStringList unmatchedPlaceholders(const QStringList& texts,
                                                const FieldTexts& captions);
// The text with every placeholder of a field whose caption changed from `before` to `after`
// written with the new caption (swapped captions too).
[[nodiscard]] QString renamePlaceholders(const QString& text, const FieldTexts& before,
                                         const FieldTexts& after);
// The question (or warning) naming the unmatched placeholders and the fields that exist.
[[nodiscard]] QString unmatchedPlaceholdersText(const QStringList& unmatched,
                                                const FieldTexts& captions);

// The recipients of a merge send: the recipient text is cut into addresses before the values
// go in, so that each merged value stays whole. A value that is no mail address (a blank or
// a comma inside) is rejected as it is, never split into a name and another address.
struct MergedRecipients {
    smtp::CKTWSMTPAddress::RecipientList list;
    bool valueRejected = false;  // a rejected item holds a merged value
};
[[nodiscard]] MergedRecipients mergedRecipients(const QString& text, const FieldTexts& captions,
                                                const FieldTexts& values);

// img src, IMG SRC, background and BACKGROUND references turned into "cid:" ones, web
// references left as they are.
[[nodiscard]] QString rewritePictureReferences(const QString& html);

// "Message-ID: <" + local time stamp + "." + UUID hex + "@" + domain + ">"; with a tracking
// identifier, the identifier stands in for the UUID (it is as unique and survives in bounces
// that return only the Message-ID).
[[nodiscard]] QString messageIdHeader(const QDateTime& now, const QString& domain,
                                      const QString& tracking = {});

// Whether a file of the HTML part or the attachment list is a working file of the program
// rather than a part of the mail ("buffile.html", "Thumbs.db", "tegbuf.html", "log.txt").
[[nodiscard]] bool isSkippedFileName(const QString& name);

inline constexpr const char* kPostwickXMailer = "Postwick Dezo Version 7";

// A file the messages of a job read, found as buildMessage finds it.
struct JobFile {
    enum class Role { Html, Picture, Attachment };
    QString path;
    Role role = Role::Attachment;
};
// Every file the job's messages read: the HTML part, its pictures and the attachments (a
// folder among the attachments too, which buildMessage would leave out without a word).
[[nodiscard]] std::vector<JobFile> filesOfJob(const MailJob& job);

// What the files of a run were found to be by its first message: the HTML part's text and
// which attachment entries are folders. A run reads and checks each file once, not once per
// recipient.
struct RunFiles {
    QHash<QString, QString> htmlText;  // by path; read without error
    QHash<QString, bool> isFolder;     // by attachment entry
};

// The message of one recipient: texts already merged; values is the recipient's row of the
// selection for a merge send (the HTML part is merged with it), null for a single send.
// Files are not opened except the HTML part's "index.html"; one that cannot be read gives
// no message and the error. With `files`, what an earlier message of the run found is taken
// from there.
[[nodiscard]] BuiltMessage buildMessage(const MailJob& job, const MailTexts& texts,
                                        const FieldTexts* values, RunFiles* files = nullptr);

// The characters of a run that its charset cannot carry (they would arrive as "?"): in the
// subject, the sender's and recipients' names, the text, the HTML and the merged values.
struct CharsetShortfall {
    int characters = 0;
    QString samples;  // a few of them, each once, separated by blanks
};

// The send run's message source over a job and the loaded selection.
class CMessageAssembly : public IMessageSource {
public:
    // selection may be empty (a single send).
    CMessageAssembly(MailJob job, std::vector<FieldTexts> rows);
    CMessageAssembly(MailJob job, const db::SendSelection& selection);
    // The rows as the run reads them (in pages).
    CMessageAssembly(MailJob job, std::shared_ptr<IRecipientRows> rows);

    [[nodiscard]] MailTexts texts() const override;
    [[nodiscard]] RowState rowState(int row) override { return m_rows->state(row); }
    [[nodiscard]] MailTexts merged(int row) const override;
    [[nodiscard]] BuiltMessage build(const MailTexts& texts, int row) override;

    [[nodiscard]] const MailJob& job() const { return m_job; }
    // Counted over every recipient of the selection (the job's texts alone for a single send).
    [[nodiscard]] CharsetShortfall charsetShortfall() const;
    // How many recipients' mails hold characters the JIS charset of the job carries only as
    // Windows codes (what becomes of them is the job's setting); 0 for other charsets.
    [[nodiscard]] int recipientsWithJisExtras() const;
    // What recipientsWithJisExtras() means for this job's setting; empty when none is affected.
    [[nodiscard]] QString jisNotice() const;
    // Placeholders of the mail (texts, HTML, unsubscribe texts) that name no field.
    [[nodiscard]] QStringList unmatchedPlaceholders() const;
    [[nodiscard]] int rowCount() const { return m_rows->count(); }
    // Every recipient's address as the run would send to it (the job's own for a single send).
    [[nodiscard]] QStringList recipientAddresses() const;

private:
    MailJob m_job;
    std::shared_ptr<IRecipientRows> m_rows;
    RunFiles m_files;
};

}  // namespace pw::send
