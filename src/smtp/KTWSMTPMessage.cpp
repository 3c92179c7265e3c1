#include "smtp/KTWSMTPMessage.h"

#include "smtp/Charsets.h"
#include "smtp/MimeEncoding.h"

#include <QUuid>

#include <algorithm>
#include <cstdlib>

namespace pw::smtp {
namespace {

const QString kMimePreamble = QStringLiteral("This is a multi-part message in MIME format");

// Readers stop at 75 characters per encoded word (and lines have a hard limit), so a word
// that would be longer is cut between characters into several words.
constexpr int kMaxEncodedWord = 75;

QList<QByteArray> encodedWords(QStringView text, const QString& charset, int codePage) {
    QList<QByteArray> words;
    const int room = kMaxEncodedWord - static_cast<int>(charset.toUtf8().size()) - 7;
    const qsizetype maxBytes = std::max(3, room / 4 * 3);
    qsizetype start = 0;
    while (start < text.size()) {
        QStringView rest = text.mid(start);
        QByteArray bytes = textToBytes(rest, charset, codePage);
        qsizetype take = rest.size();
        if (bytes.size() > maxBytes) {
            // the longest prefix of whole characters that fits, at least one character
            qsizetype lo = 1;
            qsizetype hi = rest.size() - 1;
            while (lo < hi) {
                const qsizetype mid = (lo + hi + 1) / 2;
                if (textToBytes(rest.first(mid), charset, codePage).size() <= maxBytes) {
                    lo = mid;
                } else {
                    hi = mid - 1;
                }
            }
            take = lo;
            if (take < rest.size() && rest[take - 1].isHighSurrogate()) {
                take = take > 1 ? take - 1 : take + 1;
            }
            bytes = textToBytes(rest.first(take), charset, codePage);
        }
        words.append(encodedWord(charset, bytes));
        start += take;
    }
    return words;
}

// Words of a subject: cut after each run of blanks, the blanks staying with the word
// before them.
QList<QStringView> blankSeparatedWords(QStringView text) {
    QList<QStringView> words;
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == '\t') {
            while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
                ++i;
            }
            words.append(text.mid(start, i - start));
            start = i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) {
        words.append(text.mid(start));
    }
    return words;
}

bool isPlainAscii(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() >= 0x7F) {
            return false;
        }
    }
    return true;
}

QByteArray mailboxForHeader(const CKTWSMTPAddress& address, const QString& charset, int codePage) {
    if (address.name().isEmpty()) {
        return address.address().toUtf8();
    }
    QByteArray out;
    if (isPlainAscii(address.name())) {
        QString name = address.name();
        name.replace('\\', QLatin1StringView("\\\\")).replace('"', QLatin1StringView("\\\""));
        out = '"' + name.toUtf8() + '"';
    } else {
        // a raw 8-bit name would reach the reader in the wrong code page
        out = encodedWords(address.name(), charset, codePage).join("\r\n ");
    }
    return out + " <" + address.address().toUtf8() + '>';
}

QByteArray addressListHeader(const char* field, const QList<CKTWSMTPAddress>& list,
                             const QString& charset, int codePage) {
    QByteArray out = field;
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (i > 0) {
            out += ",\r\n ";
        }
        out += mailboxForHeader(list[i], charset, codePage);
    }
    return out + "\r\n";
}

QByteArray dateLine(const QDateTime& when) {
    static constexpr const char* kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDate d = when.date();
    const QTime t = when.time();
    const int offsetMinutes = when.offsetFromUtc() / 60;
    const int absolute = std::abs(offsetMinutes);
    return QByteArray("Date: ") + kDays[d.dayOfWeek() - 1] + ", " + QByteArray::number(d.day()) +
           ' ' + kMonths[d.month() - 1] + ' ' +
           QByteArray::number(d.year()).rightJustified(4, '0') + ' ' +
           QByteArray::number(t.hour()).rightJustified(2, '0') + ':' +
           QByteArray::number(t.minute()).rightJustified(2, '0') + ':' +
           QByteArray::number(t.second()).rightJustified(2, '0') + ' ' +
           (offsetMinutes < 0 ? '-' : '+') +
           QByteArray::number(absolute / 60).rightJustified(2, '0') +
           QByteArray::number(absolute % 60).rightJustified(2, '0') + "\r\n";
}

}  // namespace

CKTWSMTPMessage::CKTWSMTPMessage()
    : m_xMailer(QStringLiteral("CKTWSMTPConnection v3.01")),
      m_root(std::make_unique<CKTWSMTPBodyPart>()) {}

void CKTWSMTPMessage::setRootPart(const CKTWSMTPBodyPart& part) {
    m_root = std::make_unique<CKTWSMTPBodyPart>(part);
}

void CKTWSMTPMessage::setMimeMode(bool on) {
    if (on == m_mimeMode) {
        return;
    }
    m_mimeMode = on;
    if (on) {
        const QString oldText = m_root->text();
        m_root->setText(kMimePreamble);
        m_root->setContentType(QStringLiteral("multipart/mixed"));
        if (!oldText.isEmpty()) {
            addTextBody(oldText, QStringLiteral("multipart/mixed"));
        }
    } else {
        m_root->removeAllChildren();
    }
}

void CKTWSMTPMessage::setCharset(const QString& charset) {
    m_root->setCharset(charset);
}

void CKTWSMTPMessage::addTextBody(const QString& text, const QString& rootContentType) {
    if (!m_mimeMode) {
        m_root->setText(text);
        return;
    }
    if (CKTWSMTPBodyPart* existing = m_root->findFirstPart(u"text/plain")) {
        existing->setText(text);
        return;
    }
    m_root->setText(kMimePreamble);
    m_root->setContentType(rootContentType);
    CKTWSMTPBodyPart part;
    part.setCharset(m_root->charset());
    part.setText(text);
    m_root->addChild(part);
}

void CKTWSMTPMessage::addHtmlBody(const QString& html, const QString& rootContentType) {
    if (CKTWSMTPBodyPart* existing = m_root->findFirstPart(u"text/html")) {
        existing->setText(html);
        existing->setContentType(QStringLiteral("text/html"));
        return;
    }
    m_root->setBoundary(QUuid::createUuid().toString(QUuid::WithoutBraces));
    m_root->setText(kMimePreamble);
    m_root->setContentType(rootContentType);
    CKTWSMTPBodyPart part;
    part.setCharset(m_root->charset());
    part.setText(html);
    part.setContentType(QStringLiteral("text/html"));
    m_root->addChild(part);
}

int CKTWSMTPMessage::addMultipleAttachments(const QString& list) {
    QStringList paths;
    for (const QString& raw : list.split(';')) {
        const QString path = raw.trimmed();
        if (!path.isEmpty()) {
            paths.append(path);
        }
    }
    if (paths.isEmpty()) {
        return 0;
    }
    // MIME mode first, so that a text of the root goes before the files, not after them
    setMimeMode(true);
    for (const QString& path : paths) {
        addAttachment(path);
    }
    return static_cast<int>(paths.size());
}

CKTWSMTPBodyPart* CKTWSMTPMessage::addAttachment(const QString& path) {
    setMimeMode(true);
    CKTWSMTPBodyPart part;
    part.setCharset(m_root->charset());
    part.setFileName(path);
    return m_root->addChild(part);
}

QByteArray CKTWSMTPMessage::header() const {
    const QString& charset = m_root->charset();
    const int codePage = m_root->codePage();
    QByteArray out;
    out.reserve(512);

    out += "From: ";
    if (m_from.name().isEmpty()) {
        out += m_from.address().toUtf8();
    } else {
        out += encodedWords(m_from.name(), charset, codePage).join("\r\n ");
        out += " <" + m_from.address().toUtf8() + '>';
    }
    out += "\r\n";

    if (m_to.isEmpty()) {
        // a header without any recipient is malformed; say so the standard way
        out += "To: undisclosed-recipients:;\r\n";
    } else {
        out += addressListHeader("To: ", m_to, charset, codePage);
    }
    if (!m_cc.isEmpty()) {
        out += addressListHeader("Cc: ", m_cc, charset, codePage);
    }

    out += "Subject: ";
    bool first = true;
    for (QStringView word : blankSeparatedWords(m_subject)) {
        for (const QByteArray& encoded : encodedWords(word, charset, codePage)) {
            if (!first) {
                out += "\r\n ";
            }
            out += encoded;
            first = false;
        }
    }
    out += "\r\n";

    if (!m_xMailer.isEmpty()) {
        out += "X-Mailer: " + m_xMailer.toUtf8() + "\r\n";
    }

    if (!m_mimeMode) {
        out += "Content-Type: " + m_root->contentType().toUtf8() +
               ";\r\n\tcharset=" + charset.toUtf8() + "\r\n";
    } else if (m_root->childCount() > 0) {
        out += "MIME-Version: 1.0\r\nContent-Type: " + m_root->contentType().toUtf8() +
               "; boundary=\"" + m_root->boundary().toUtf8() + "\"\r\n";
    } else {
        out += "MIME-Version: 1.0\r\nContent-Type: " + m_root->contentType().toUtf8() + "\r\n";
    }

    out += dateLine(m_date.isValid() ? m_date : QDateTime::currentDateTime());

    for (const QString& line : m_customHeaders) {
        out += line.toUtf8() + "\r\n";
    }
    return out;
}

void CKTWSMTPMessage::writeBody(const ByteSink& sink) const {
    if (!m_mimeMode && m_root->childCount() == 0) {
        sink(dotFix(textToBytes(m_root->text(), m_root->charset(), m_root->codePage())));
        return;
    }
    m_root->writeTree(sink, CKTWSMTPBodyPart::OwnHeader::Skip);
}

QByteArray CKTWSMTPMessage::body() const {
    QByteArray out;
    writeBody([&out](QByteArrayView bytes) { out.append(bytes); });
    return out;
}

}  // namespace pw::smtp
