#pragma once
// The message the send run assembles and the SMTP session transmits: its addresses, the
// body-part tree and the header, rendered as 8-bit lines ending in CR LF.

#include "smtp/KTWSMTPAddress.h"
#include "smtp/KTWSMTPBodyPart.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

namespace pw::smtp {

class CKTWSMTPMessage {
public:
    CKTWSMTPMessage();

    // Bcc is used only for RCPT TO and never written into the header.
    QList<CKTWSMTPAddress>& to() { return m_to; }
    QList<CKTWSMTPAddress>& cc() { return m_cc; }
    QList<CKTWSMTPAddress>& bcc() { return m_bcc; }
    [[nodiscard]] const QList<CKTWSMTPAddress>& to() const { return m_to; }
    [[nodiscard]] const QList<CKTWSMTPAddress>& cc() const { return m_cc; }
    [[nodiscard]] const QList<CKTWSMTPAddress>& bcc() const { return m_bcc; }

    void setFrom(const CKTWSMTPAddress& from) { m_from = from; }
    [[nodiscard]] const CKTWSMTPAddress& from() const { return m_from; }
    void setSubject(const QString& subject) { m_subject = subject; }
    [[nodiscard]] const QString& subject() const { return m_subject; }
    void setXMailer(const QString& xMailer) { m_xMailer = xMailer; }
    [[nodiscard]] const QString& xMailer() const { return m_xMailer; }

    [[nodiscard]] CKTWSMTPBodyPart& rootPart() { return *m_root; }
    [[nodiscard]] const CKTWSMTPBodyPart& rootPart() const { return *m_root; }
    // Replaces the body with a copy of part.
    void setRootPart(const CKTWSMTPBodyPart& part);

    // A complete header line without CR LF, e.g. "Message-ID: <...>"; its value is encoded
    // and folded like the others.
    void addCustomHeader(const QString& line) { m_customHeaders.append(line); }
    [[nodiscard]] const QStringList& customHeaders() const { return m_customHeaders; }
    // The first custom header line holding a CR or LF, empty when none: such a line would end
    // the header or start a header of its own, so no mail may be made with it.
    [[nodiscard]] QString customHeaderWithLineBreak() const;

    // On: the root becomes a "multipart/mixed" container whose former text (if any) moves
    // into a text part. Off: the root loses its children.
    void setMimeMode(bool on);
    [[nodiscard]] bool mimeMode() const { return m_mimeMode; }

    // The root's charset: the charset of the header words and of new parts.
    void setCharset(const QString& charset);
    [[nodiscard]] const QString& charset() const { return m_root->charset(); }

    void addTextBody(const QString& text, const QString& rootContentType = "multipart/mixed");
    void addHtmlBody(const QString& html, const QString& rootContentType = "multipart/mixed");
    // ";"-separated file paths, each one attachment; switches to MIME mode. Returns the
    // number of parts added.
    int addMultipleAttachments(const QString& list);
    // One file part for exactly this path (which may hold a ";"); switches to MIME mode.
    CKTWSMTPBodyPart* addAttachment(const QString& path);

    // The moment written into "Date:"; unset, the clock at the time of rendering.
    void setDate(const QDateTime& date) { m_date = date; }
    [[nodiscard]] const QDateTime& date() const { return m_date; }

    // The header lines (From, To, Cc, Subject, X-Mailer, content header, Date, custom
    // headers), each ending in CR LF, without the empty line that ends the header. The
    // transport decides whether text may go as 8bit; header and body must be rendered for
    // the same one.
    [[nodiscard]] QByteArray header(BodyTransport transport = BodyTransport::SevenBit) const;
    // What follows the header's empty line inside DATA: dot-fixed, without the final
    // ".". Files are read now; a file that cannot be read throws CKTWSMTPException.
    void writeBody(const ByteSink& sink, BodyTransport transport = BodyTransport::SevenBit) const;
    [[nodiscard]] QByteArray body(BodyTransport transport = BodyTransport::SevenBit) const;

private:
    // The text of a root without children, in its charset (empty for an empty container).
    [[nodiscard]] QByteArray rootText() const;
    [[nodiscard]] TextEncoding rootTextEncoding(BodyTransport transport) const;

    QList<CKTWSMTPAddress> m_to;
    QList<CKTWSMTPAddress> m_cc;
    QList<CKTWSMTPAddress> m_bcc;
    CKTWSMTPAddress m_from;
    QString m_subject;
    QString m_xMailer;
    std::unique_ptr<CKTWSMTPBodyPart> m_root;
    QStringList m_customHeaders;
    bool m_mimeMode = false;
    QDateTime m_date;
};

}  // namespace pw::smtp
