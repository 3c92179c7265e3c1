#pragma once
// The mail preview without its window: one recipient's message as the send run would send it
// (the message source builds it with the message assembly itself), the text block with its
// header lines, the narrow phone form of it, the HTML page with its pictures, and stepping
// through the recipients.

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <memory>

namespace pw {

// What the preview shows of one assembled message: its texts as they read after the trip
// through the mail's charset.
struct PreviewMessage {
    QString senderName;
    QString senderAddress;
    QString subject;
    QStringList to, cc, bcc;
    QString charset;           // the MIME name
    QString transferEncoding;  // of the text part, e.g. "quoted-printable"
    QString messageIdHeader;   // "Message-ID: <...>" as the message carries it
    QString body;              // the text/plain part; empty when there is none
    bool hasHtml = false;
    QString html;  // the text/html part, its pictures as "cid:" references
    QList<QPair<QString, QString>> inlineParts;  // Content-ID without brackets, file path
    QString error;  // not empty: no message can be made for this recipient
};

class IPreviewSource {
public:
    virtual ~IPreviewSource() = default;
    // The recipients the run would send to (0 for a merge send without records).
    [[nodiscard]] virtual int count() const = 0;
    // The message of recipient i (0 <= i < max(count, 1)).
    [[nodiscard]] virtual PreviewMessage message(int index) = 0;
    // What the user should know of the whole mailing before it goes (shown above the text).
    [[nodiscard]] virtual QStringList notices() const { return {}; }
};

// The header block and the body: From, Subject, the To/Cc/Bcc lines, the MIME and mailer
// lines, the Message-ID, the date line and an empty line; every line ends in CR LF.
[[nodiscard]] QString previewTextBlock(const PreviewMessage& m, const QDateTime& now);
// Every line longer than ten characters that is followed by a line break gets one after its
// tenth character; a last line without a break stays whole.
[[nodiscard]] QString mobilePhoneText(const QString& block);
// The HTML page of the message with each "cid:" reference turned into its picture's file,
// so that a view shows it as the recipient's mail client would.
[[nodiscard]] QString displayableHtml(const PreviewMessage& m);

class CMailPreview {
public:
    // previewFolder: where "index.htm" is written (the main preview folder).
    CMailPreview(std::unique_ptr<IPreviewSource> source, QString previewFolder);
    ~CMailPreview();

    [[nodiscard]] int count() const { return m_count; }
    [[nodiscard]] int index() const { return m_index; }
    [[nodiscard]] bool canGoBack() const { return m_index > 0; }
    [[nodiscard]] bool canGoOn() const { return m_index + 1 < m_count; }
    // "1/3"; "1/0" without recipients.
    [[nodiscard]] QString positionText() const;

    // Builds the display of the current recipient.
    void build(const QDateTime& now = QDateTime::currentDateTime());
    bool next();
    bool previous();

    [[nodiscard]] const PreviewMessage& message() const { return m_message; }
    [[nodiscard]] const QString& text() const { return m_text; }
    [[nodiscard]] const QString& mobileText() const { return m_mobile; }
    // "index.htm" of the preview folder, or "about:blank" for a mail without HTML.
    [[nodiscard]] const QString& htmlTarget() const { return m_htmlTarget; }
    [[nodiscard]] QString htmlFile() const { return m_folder + QStringLiteral("index.htm"); }
    [[nodiscard]] QStringList notices() const { return m_source->notices(); }

    // Deletes "index.htm" (the window closes).
    void close();

private:
    std::unique_ptr<IPreviewSource> m_source;
    QString m_folder;
    int m_count = 0;
    int m_index = 0;
    PreviewMessage m_message;
    QString m_text;
    QString m_mobile;
    QString m_htmlTarget;
};

}  // namespace pw
