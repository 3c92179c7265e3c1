#include "smtp/KTWSMTPBodyPart.h"

#include "smtp/Charsets.h"
#include "smtp/EncodedFileCache.h"
#include "smtp/MimeEncoding.h"

#include <QMimeDatabase>
#include <QUuid>

#include <algorithm>

namespace pw::smtp {
namespace {

QString newBoundary() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString normalisedLineEnds(const QString& text) {
    QString out;
    out.reserve(text.size() + text.size() / 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == '\r') {
            out += QLatin1StringView("\r\n");
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else if (c == '\n') {
            out += QLatin1StringView("\r\n");
        } else {
            out += c;
        }
    }
    return out;
}

// A file name that can stand in a quoted parameter as it is: short printable ASCII without
// quotes, backslashes or what a reader would take for an encoded word.
bool isPlainTitle(const QString& title) {
    if (title.size() > 60 || title.contains(QLatin1StringView("=?"))) {
        return false;
    }
    for (const QChar c : title) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u >= 0x7F || u == '"' || u == '\\') {
            return false;
        }
    }
    return true;
}

// The legacy form of a file name for readers without RFC 2231: encoded words inside the
// quotes, in the mail's charset when it holds the name, else in UTF-8, folded between words.
QByteArray legacyTitle(const QString& title, const QString& charset, int codePage) {
    int lost = 0;
    (void)textToBytes(title, charset, codePage, &lost);
    const bool own = lost == 0 && codePage != 0;
    // short enough that ` name="` and the closing quote stay within a line of 78
    constexpr int kWord = 68;
    const QList<QByteArray> words = own ? encodedWords(title, charset, codePage, kWord)
                                        : encodedWords(title, QStringLiteral("UTF-8"), 0, kWord);
    return words.join("\r\n ");
}

// `parameter*=UTF-8''...` for a file name in UTF-8, cut into numbered sections of a line
// each, between characters (readers decode each section alone).
QByteArray rfc2231Parameter(const char* parameter, const QString& title) {
    constexpr qsizetype kSection = 60;
    QList<QByteArray> sections{"UTF-8''"};
    for (qsizetype i = 0; i < title.size();) {
        const qsizetype n = title[i].isHighSurrogate() && i + 1 < title.size() ? 2 : 1;
        const QByteArray piece = percentEncoded(QStringView(title).mid(i, n).toUtf8());
        i += n;
        if (sections.last().size() + piece.size() > kSection) {
            sections.append(QByteArray());
        }
        sections.last() += piece;
    }
    if (sections.size() == 1) {
        return QByteArray(parameter) + "*=" + sections[0];
    }
    QByteArray out;
    for (qsizetype k = 0; k < sections.size(); ++k) {
        if (k > 0) {
            out += ";\r\n ";
        }
        out += QByteArray(parameter) + '*' + QByteArray::number(k) + "*=" + sections[k];
    }
    return out;
}

}  // namespace

QString mediaTypeForFileName(const QString& name) {
    static const QMimeDatabase database;
    const QMimeType type = database.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault()) {
        return QStringLiteral("application/octet-stream");
    }
    return type.name();
}

CKTWSMTPBodyPart::CKTWSMTPBodyPart()
    : m_codePage(1252),
      m_contentType(QStringLiteral("text/plain")),
      m_charset(QStringLiteral("iso-8859-1")),
      m_boundary(newBoundary()) {}

CKTWSMTPBodyPart::CKTWSMTPBodyPart(const CKTWSMTPBodyPart& other)
    : m_codePage(other.m_codePage),
      m_fileName(other.m_fileName),
      m_title(other.m_title),
      m_contentType(other.m_contentType),
      m_charset(other.m_charset),
      m_contentId(other.m_contentId),
      m_text(other.m_text),
      m_boundary(other.m_boundary),
      m_attachment(other.m_attachment),
      m_disposition(other.m_disposition),
      m_encoding(other.m_encoding) {
    m_children.reserve(other.m_children.size());
    for (const auto& child : other.m_children) {
        addChild(*child);
    }
}

CKTWSMTPBodyPart& CKTWSMTPBodyPart::operator=(const CKTWSMTPBodyPart& other) {
    if (this != &other) {
        CKTWSMTPBodyPart copy(other);
        m_codePage = copy.m_codePage;
        m_fileName = std::move(copy.m_fileName);
        m_title = std::move(copy.m_title);
        m_contentType = std::move(copy.m_contentType);
        m_charset = std::move(copy.m_charset);
        m_contentId = std::move(copy.m_contentId);
        m_text = std::move(copy.m_text);
        m_boundary = std::move(copy.m_boundary);
        m_attachment = copy.m_attachment;
        m_disposition = copy.m_disposition;
        m_encoding = copy.m_encoding;
        m_children = std::move(copy.m_children);
        for (auto& child : m_children) {
            child->m_parent = this;
        }
        // the parent stays: assigning content does not move a part in its tree
    }
    return *this;
}

CKTWSMTPBodyPart::~CKTWSMTPBodyPart() = default;

void CKTWSMTPBodyPart::setText(const QString& text) {
    m_text = normalisedLineEnds(text);
    m_contentType = QStringLiteral("text/plain");
}

void CKTWSMTPBodyPart::setFileName(const QString& path) {
    m_fileName = path;
    qsizetype cut = path.lastIndexOf('/');
#ifdef Q_OS_WIN
    cut = std::max(cut, path.lastIndexOf('\\'));
#endif
    m_title = path.mid(cut + 1);
    m_contentType = mediaTypeForFileName(m_title);
    m_encoding = TransferEncoding::Base64;
    m_attachment = true;
}

void CKTWSMTPBodyPart::setCharset(const QString& charset) {
    m_charset = charset;
    m_codePage = codePageForCharset(charset);
}

CKTWSMTPBodyPart* CKTWSMTPBodyPart::addChild(const CKTWSMTPBodyPart& part) {
    auto copy = std::make_unique<CKTWSMTPBodyPart>(part);
    copy->m_parent = this;
    m_children.push_back(std::move(copy));
    return m_children.back().get();
}

void CKTWSMTPBodyPart::removeAllChildren() {
    m_children.clear();
}

CKTWSMTPBodyPart* CKTWSMTPBodyPart::findFirstPart(QStringView contentType) {
    for (const auto& child : m_children) {
        if (child->m_contentType.compare(contentType, Qt::CaseInsensitive) == 0) {
            return child.get();
        }
    }
    return nullptr;
}

QByteArray CKTWSMTPBodyPart::header(const QString& parentBoundary, BodyTransport transport) const {
    QByteArray out;
    out.reserve(256);
    out += "\r\n--";
    out += parentBoundary.toUtf8();
    out += "\r\nContent-Type: ";
    out += m_contentType.toUtf8();
    if (!m_children.empty()) {
        out += ";\r\n boundary=\"" + m_boundary.toUtf8() + "\"\r\n";
    } else if (!m_fileName.isEmpty() || m_attachment) {
        const bool plain = isPlainTitle(m_title);
        if (!m_title.isEmpty()) {
            out += ";\r\n name=\"" +
                   (plain ? m_title.toUtf8() : legacyTitle(m_title, m_charset, m_codePage)) + '"';
        }
        out += "\r\n";
        if (m_encoding == TransferEncoding::Base64) {
            out += "Content-Transfer-Encoding: base64\r\n";
        } else if (m_encoding == TransferEncoding::QuotedPrintable) {
            out += "Content-Transfer-Encoding: quoted-printable\r\n";
        }
        out += m_disposition == Disposition::Inline ? "Content-Disposition: inline"
                                                    : "Content-Disposition: attachment";
        if (!m_title.isEmpty()) {
            out += ";\r\n " + (plain ? "filename=\"" + m_title.toUtf8() + '"'
                                     : rfc2231Parameter("filename", m_title));
        }
        out += "\r\n";
    } else {
        out += "; charset=" + m_charset.toUtf8() + "\r\n";
        out += QByteArray("Content-Transfer-Encoding: ") +
               textEncodingName(textEncoding(transport)) + "\r\n";
    }
    if (!m_contentId.isEmpty()) {
        out += "Content-ID: " + m_contentId.toUtf8() + "\r\n";
    }
    out += "\r\n";
    return out;
}

QByteArray CKTWSMTPBodyPart::textBytes() const {
    return textToBytes(m_text, m_charset, m_codePage);
}

TextEncoding CKTWSMTPBodyPart::textEncoding(BodyTransport transport) const {
    if (m_encoding == TransferEncoding::Base64) {
        return TextEncoding::Base64;
    }
    return textEncodingFor(textBytes(), transport);
}

void CKTWSMTPBodyPart::writeBody(const ByteSink& sink, DotFix fix, BodyTransport transport) const {
    if (!m_fileName.isEmpty()) {
        const QByteArray encoded = EncodedFileCache::encodedFile(m_fileName, m_encoding);
        if (m_encoding != TransferEncoding::Base64 && fix == DotFix::On) {
            sink(dotFix(encoded));
        } else {
            sink(encoded);
        }
        return;
    }
    if (!m_children.empty()) {
        // the preamble, which readers do not show: 7-bit whatever it holds
        QByteArray bytes = m_text.toLatin1();
        for (char& c : bytes) {
            if (static_cast<unsigned char>(c) >= 0x80 || c == 0) {
                c = '?';
            }
        }
        sink(fix == DotFix::On ? dotFix(bytes) : bytes);
        return;
    }
    const QByteArray bytes = textBytes();
    const TextEncoding encoding = m_encoding == TransferEncoding::Base64
                                      ? TextEncoding::Base64
                                      : textEncodingFor(bytes, transport);
    const QByteArray encoded = encodeText(bytes, encoding);
    sink(fix == DotFix::On && encoding != TextEncoding::Base64 ? dotFix(encoded) : encoded);
}

QByteArray CKTWSMTPBodyPart::body(DotFix fix, BodyTransport transport) const {
    QByteArray out;
    writeBody([&out](QByteArrayView bytes) { out.append(bytes); }, fix, transport);
    return out;
}

QByteArray CKTWSMTPBodyPart::footer() const {
    return "\r\n--" + m_boundary.toUtf8() + "--";
}

void CKTWSMTPBodyPart::writeTree(const ByteSink& sink, OwnHeader ownHeader,
                                 BodyTransport transport) const {
    if (ownHeader == OwnHeader::Write) {
        sink(header(m_parent != nullptr ? m_parent->m_boundary : QString(), transport));
    }
    writeBody(sink, DotFix::On, transport);
    for (const auto& child : m_children) {
        child->writeTree(sink, OwnHeader::Write, transport);
    }
    if (!m_children.empty()) {
        sink(footer());
    }
}

}  // namespace pw::smtp
