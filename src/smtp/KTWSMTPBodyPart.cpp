#include "smtp/KTWSMTPBodyPart.h"

#include "smtp/Charsets.h"
#include "smtp/EncodedFileCache.h"
#include "smtp/MimeEncoding.h"

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

// A title goes into a quoted parameter: anything that cannot stand there as it is (non-
// ASCII, quotes, backslashes, control characters) sends it as an encoded word instead.
bool titleNeedsEncoding(const QString& title) {
    for (const QChar c : title) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u >= 0x7F || u == '"' || u == '\\') {
            return true;
        }
    }
    return false;
}

}  // namespace

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
    m_contentType = QStringLiteral("application/octet-stream");
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

QByteArray CKTWSMTPBodyPart::header(const QString& parentBoundary) const {
    QByteArray out;
    out.reserve(256);
    out += m_attachment ? "\r\n\r\n--" : "\r\n--";
    out += parentBoundary.toUtf8();
    out += "\r\nContent-Type: ";
    out += m_contentType.toUtf8();
    QByteArray title;
    if (!m_title.isEmpty()) {
        title = titleNeedsEncoding(m_title)
                    ? encodedWord(m_charset, textToBytes(m_title, m_charset, m_codePage))
                    : m_title.toUtf8();
        out += "; name=\"" + title + '"';
    } else {
        out += "; charset=" + m_charset.toUtf8();
    }
    if (!m_children.empty()) {
        out += "; Boundary=\"" + m_boundary.toUtf8() + '"';
    }
    out += "\r\n";
    if (m_encoding == TransferEncoding::Base64) {
        out += "Content-Transfer-Encoding: base64\r\n";
    } else if (m_encoding == TransferEncoding::QuotedPrintable) {
        out += "Content-Transfer-Encoding: quoted-printable\r\n";
    }
    if (m_attachment) {
        out += "Content-Disposition: attachment; filename=\"" +
               (m_title.isEmpty() ? QByteArray() : title) + "\"\r\n";
    }
    if (!m_contentId.isEmpty()) {
        out += "Content-ID: " + m_contentId.toUtf8() + "\r\n";
    }
    out += "\r\n";
    return out;
}

void CKTWSMTPBodyPart::writeBody(const ByteSink& sink, DotFix fix) const {
    if (!m_fileName.isEmpty()) {
        const QByteArray encoded = EncodedFileCache::encodedFile(m_fileName, m_encoding);
        if (m_encoding != TransferEncoding::Base64 && fix == DotFix::On) {
            sink(dotFix(encoded));
        } else {
            sink(encoded);
        }
        return;
    }
    const QByteArray bytes = textToBytes(m_text, m_charset, m_codePage);
    switch (m_encoding) {
        case TransferEncoding::Base64:
            sink(base64Lines(bytes));
            return;
        case TransferEncoding::QuotedPrintable:
            sink(fix == DotFix::On ? dotFix(quotedPrintable(bytes)) : quotedPrintable(bytes));
            return;
        case TransferEncoding::None:
            break;
    }
    sink(fix == DotFix::On ? dotFix(bytes) : bytes);
}

QByteArray CKTWSMTPBodyPart::body(DotFix fix) const {
    QByteArray out;
    writeBody([&out](QByteArrayView bytes) { out.append(bytes); }, fix);
    return out;
}

QByteArray CKTWSMTPBodyPart::footer() const {
    return "\r\n--" + m_boundary.toUtf8() + "--";
}

void CKTWSMTPBodyPart::writeTree(const ByteSink& sink, OwnHeader ownHeader) const {
    if (ownHeader == OwnHeader::Write) {
        sink(header(m_parent != nullptr ? m_parent->m_boundary : QString()));
    }
    writeBody(sink, DotFix::On);
    for (const auto& child : m_children) {
        child->writeTree(sink, OwnHeader::Write);
    }
    if (!m_children.empty()) {
        sink(footer());
    }
}

}  // namespace pw::smtp
