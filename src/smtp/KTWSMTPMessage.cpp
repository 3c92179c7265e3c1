#include "smtp/KTWSMTPMessage.h"

#include "smtp/Charsets.h"
#include "smtp/MimeEncoding.h"

#include <QUuid>

#include <algorithm>
#include <cstdlib>

namespace pw::smtp {
namespace {

const QString kMimePreamble = QStringLiteral("This is a multi-part message in MIME format");

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

// Text that can stand in a header as it is: printable ASCII, short enough for a line, and
// nothing a reader would take for an encoded word.
bool isPlainHeaderText(QStringView text) {
    if (text.size() > 60 || text.contains(u"=?")) {
        return false;
    }
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() >= 0x7F) {
            return false;
        }
    }
    return true;
}

// A header value being written: pieces joined by their whitespace, which becomes a fold
// where the line would grow past 76 characters (unfolding gives the whitespace back).
class FoldedValue {
public:
    explicit FoldedValue(int column) : m_column(column) {}
    // `blanks` is the whitespace before the piece: significant between plain words, "" or
    // " " between encoded words (whitespace there is dropped by readers).
    void add(QByteArrayView blanks, QByteArrayView piece) {
        const QByteArrayView space = blanks.isEmpty() ? QByteArrayView(" ") : blanks;
        if (m_column + space.size() + piece.size() > 76 && m_column > 0) {
            m_out += "\r\n";
            m_column = 0;
        }
        append(space);
        append(piece);
    }
    void addFirst(QByteArrayView piece) { append(piece); }
    [[nodiscard]] const QByteArray& bytes() const { return m_out; }

private:
    void append(QByteArrayView piece) {
        m_out.append(piece);
        m_column += static_cast<int>(piece.size());
    }
    QByteArray m_out;
    int m_column;
};

void addEncoded(FoldedValue& value, QByteArrayView blanks, QStringView text, const QString& charset,
                int codePage, bool first) {
    // 66: with "Subject: " in front the line stays within 78
    const QList<QByteArray> words = encodedWords(text, charset, codePage, 66);
    for (qsizetype i = 0; i < words.size(); ++i) {
        if (i == 0 && first) {
            value.addFirst(words[i]);
        } else {
            value.add(i == 0 ? blanks : QByteArrayView(" "), words[i]);
        }
    }
}

// Which words of a header value may stand as they are.
enum class PlainWords {
    // short printable ASCII that cannot be taken for an encoded word
    Subject,
    // any printable ASCII: the program's own header lines carry long URLs and encoded words
    // it made itself, which must reach the reader as they are
    AnyAscii,
};

bool isPrintableAscii(QStringView text) {
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7F; });
}

// A header value: plain words as they are, the others as encoded words; a run of blanks
// between two encoded words travels inside the first of them, since readers drop the
// whitespace between encoded words. `value` holds what stands before it on the line.
void addWords(FoldedValue& value, QStringView text, const QString& charset, int codePage,
              PlainWords rule) {
    const QList<QStringView> tokens = blankSeparatedWords(text);
    auto coreOf = [](QStringView token) {
        qsizetype end = token.size();
        while (end > 0 && (token[end - 1] == ' ' || token[end - 1] == '\t')) {
            --end;
        }
        return token.first(end);
    };
    // a plain word keeps a short run of blanks after it as the fold; a long run would make a
    // long line, so such a word travels encoded, its blanks inside
    auto isPlain = [&](qsizetype i) {
        const QStringView core = coreOf(tokens[i]);
        const bool plain =
            rule == PlainWords::Subject ? isPlainHeaderText(core) : isPrintableAscii(core);
        return plain && tokens[i].size() - core.size() <= 20;
    };
    QByteArray blanks;
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const QStringView core = coreOf(tokens[i]);
        const QStringView trailing = tokens[i].mid(core.size());
        const bool last = i + 1 == tokens.size();
        if (isPlain(i)) {
            QByteArray piece = core.toUtf8();
            if (last) {
                piece += trailing.toUtf8();
            }
            if (i == 0) {
                value.addFirst(piece);
            } else {
                value.add(blanks, piece);
            }
            blanks = trailing.toUtf8();
            continue;
        }
        // Before a plain word one blank stays outside, as the space readers show between an
        // encoded word and text; before another encoded word all go inside.
        const bool nextPlain = !last && isPlain(i + 1);
        const QStringView text = nextPlain ? tokens[i].chopped(1) : tokens[i];
        addEncoded(value, blanks, text, charset, codePage, i == 0);
        blanks = nextPlain ? tokens[i].last(1).toUtf8() : QByteArray();
    }
}

QByteArray subjectValue(QStringView subject, const QString& charset, int codePage) {
    FoldedValue value(9);  // "Subject: "
    addWords(value, subject, charset, codePage, PlainWords::Subject);
    return value.bytes();
}

bool hasLineBreak(QStringView line) {
    return line.contains(u'\r') || line.contains(u'\n');
}

// "Name: value", the value encoded and folded as the other header lines are. A line break
// never gets through: the caller refuses such a line before, and a blank keeps it harmless
// should one come here all the same.
QByteArray customHeaderLine(const QString& line, const QString& charset, int codePage) {
    QString clean = line;
    clean.replace(u'\r', u' ').replace(u'\n', u' ');
    const qsizetype colon = clean.indexOf(u':');
    if (colon < 0) {
        return clean.toUtf8() + "\r\n";
    }
    QStringView rest = QStringView(clean).mid(colon + 1);
    while (!rest.isEmpty() && (rest.front() == u' ' || rest.front() == u'\t')) {
        rest = rest.mid(1);
    }
    // the first word stays beside the name, as readers that look for "Name: value" expect
    const QByteArray name = QStringView(clean).first(colon + 1).toUtf8() + ' ';
    FoldedValue value(static_cast<int>(name.size()));
    addWords(value, rest, charset, codePage, PlainWords::AnyAscii);
    return name + value.bytes() + "\r\n";
}

// "name <address>": a plain name quoted, any other as encoded words (a raw 8-bit name would
// reach the reader in the wrong code page, a long one would make an overlong line).
QByteArray mailboxForHeader(const CKTWSMTPAddress& address, const QString& charset, int codePage,
                            int column) {
    if (address.name().isEmpty()) {
        return address.address().toUtf8();
    }
    FoldedValue value(column);
    if (isPlainHeaderText(address.name())) {
        QString name = address.name();
        name.replace('\\', QLatin1StringView("\\\\")).replace('"', QLatin1StringView("\\\""));
        value.addFirst('"' + name.toUtf8() + '"');
    } else {
        addEncoded(value, " ", address.name(), charset, codePage, true);
    }
    value.add(" ", '<' + address.address().toUtf8() + '>');
    return value.bytes();
}

QByteArray addressListHeader(const char* field, const QList<CKTWSMTPAddress>& list,
                             const QString& charset, int codePage) {
    QByteArray out = field;
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (i > 0) {
            out += ",\r\n ";
        }
        out += mailboxForHeader(list[i], charset, codePage, i == 0 ? int(qstrlen(field)) : 1);
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

QString CKTWSMTPMessage::customHeaderWithLineBreak() const {
    const auto it = std::find_if(m_customHeaders.cbegin(), m_customHeaders.cend(),
                                 [](const QString& line) { return hasLineBreak(line); });
    return it == m_customHeaders.cend() ? QString() : *it;
}

QByteArray CKTWSMTPMessage::rootText() const {
    if (m_root->childCount() > 0 ||
        (m_mimeMode && m_root->contentType().startsWith(u"multipart/"))) {
        return {};
    }
    return textToBytes(m_root->text(), m_root->charset(), m_root->codePage());
}

TextEncoding CKTWSMTPMessage::rootTextEncoding(BodyTransport transport) const {
    return textEncodingFor(rootText(), transport);
}

QByteArray CKTWSMTPMessage::header(BodyTransport transport) const {
    const QString& charset = m_root->charset();
    const int codePage = m_root->codePage();
    QByteArray out;
    out.reserve(512);

    out += "From: " + mailboxForHeader(m_from, charset, codePage, 6) + "\r\n";

    if (m_to.isEmpty()) {
        // a header without any recipient is malformed; say so the standard way
        out += "To: undisclosed-recipients:;\r\n";
    } else {
        out += addressListHeader("To: ", m_to, charset, codePage);
    }
    if (!m_cc.isEmpty()) {
        out += addressListHeader("Cc: ", m_cc, charset, codePage);
    }

    out += "Subject: " + subjectValue(m_subject, charset, codePage) + "\r\n";

    if (!m_xMailer.isEmpty()) {
        out += "X-Mailer: " + m_xMailer.toUtf8() + "\r\n";
    }

    // Every message declares MIME, so that its charset and transfer encoding count; a root
    // without children is a text part whatever the mode, since a multipart without a
    // boundary is no message.
    out += "MIME-Version: 1.0\r\n";
    if (m_root->childCount() > 0) {
        out += "Content-Type: " + m_root->contentType().toUtf8() + ";\r\n boundary=\"" +
               m_root->boundary().toUtf8() + "\"\r\n";
    } else {
        const QByteArray type = m_root->contentType().startsWith(u"multipart/")
                                    ? QByteArray("text/plain")
                                    : m_root->contentType().toUtf8();
        out += "Content-Type: " + type + ";\r\n\tcharset=" + charset.toUtf8() + "\r\n";
        out += QByteArray("Content-Transfer-Encoding: ") +
               textEncodingName(rootTextEncoding(transport)) + "\r\n";
    }

    out += dateLine(m_date.isValid() ? m_date : QDateTime::currentDateTime());

    for (const QString& line : m_customHeaders) {
        out += customHeaderLine(line, charset, codePage);
    }
    return out;
}

void CKTWSMTPMessage::writeBody(const ByteSink& sink, BodyTransport transport) const {
    if (m_root->childCount() == 0) {
        const QByteArray bytes = rootText();
        const TextEncoding encoding = textEncodingFor(bytes, transport);
        const QByteArray encoded = encodeText(bytes, encoding);
        sink(encoding == TextEncoding::Base64 ? encoded : dotFix(encoded));
        return;
    }
    m_root->writeTree(sink, CKTWSMTPBodyPart::OwnHeader::Skip, transport);
}

QByteArray CKTWSMTPMessage::body(BodyTransport transport) const {
    QByteArray out;
    writeBody([&out](QByteArrayView bytes) { out.append(bytes); }, transport);
    return out;
}

}  // namespace pw::smtp
