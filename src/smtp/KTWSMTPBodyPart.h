#pragma once
// One MIME part. Parts form a tree: a part owns its children and renders its own header,
// body and footer; a file part reads its file only when it is rendered.

#include "smtp/MimeEncoding.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <functional>
#include <memory>
#include <vector>

namespace pw::smtp {

// Where rendered bytes go: the SMTP session's socket, a buffer, or nothing (benchmarks).
using ByteSink = std::function<void(QByteArrayView)>;

enum class TransferEncoding : int { None = 0, Base64 = 1, QuotedPrintable = 2 };

// Whether a body is prepared for the inside of DATA ("." at a line start doubled).
enum class DotFix { Off, On };

// How a file part is shown: as an attachment, or in place (a picture the HTML refers to).
enum class Disposition { Attachment, Inline };

// The media type of a file by its name's extension ("image/png", "application/pdf"),
// "application/octet-stream" for names the system does not know.
[[nodiscard]] QString mediaTypeForFileName(const QString& name);

class CKTWSMTPBodyPart {
public:
    // A text/plain part in "iso-8859-1" with a fresh boundary.
    CKTWSMTPBodyPart();
    // Copies are deep: the children are copied too, and belong to the copy.
    CKTWSMTPBodyPart(const CKTWSMTPBodyPart& other);
    CKTWSMTPBodyPart& operator=(const CKTWSMTPBodyPart& other);
    ~CKTWSMTPBodyPart();

    // Line ends (CR LF, lone CR, lone LF) become CR LF; the content type becomes text/plain.
    void setText(const QString& text);
    [[nodiscard]] const QString& text() const { return m_text; }

    // Makes this a base64 attachment of the file at path, typed by its extension; the file
    // is not touched here.
    void setFileName(const QString& path);
    [[nodiscard]] const QString& fileName() const { return m_fileName; }
    void setTitle(const QString& title) { m_title = title; }
    [[nodiscard]] const QString& title() const { return m_title; }

    // Also sets the code page that turns the part's texts into bytes.
    void setCharset(const QString& charset);
    [[nodiscard]] const QString& charset() const { return m_charset; }
    [[nodiscard]] int codePage() const { return m_codePage; }

    void setContentType(const QString& type) { m_contentType = type; }
    [[nodiscard]] const QString& contentType() const { return m_contentType; }
    void setContentId(const QString& id) { m_contentId = id; }
    [[nodiscard]] const QString& contentId() const { return m_contentId; }
    void setBoundary(const QString& boundary) { m_boundary = boundary; }
    [[nodiscard]] const QString& boundary() const { return m_boundary; }
    void setAttachment(bool attachment) { m_attachment = attachment; }
    [[nodiscard]] bool isAttachment() const { return m_attachment; }
    void setDisposition(Disposition disposition) { m_disposition = disposition; }
    [[nodiscard]] Disposition disposition() const { return m_disposition; }
    void setEncoding(TransferEncoding encoding) { m_encoding = encoding; }
    [[nodiscard]] TransferEncoding encoding() const { return m_encoding; }

    // Appends a copy of part whose parent is this part; returns the copy.
    CKTWSMTPBodyPart* addChild(const CKTWSMTPBodyPart& part);
    void removeAllChildren();
    [[nodiscard]] int childCount() const { return static_cast<int>(m_children.size()); }
    [[nodiscard]] CKTWSMTPBodyPart* child(int index) { return m_children.at(index).get(); }
    [[nodiscard]] const CKTWSMTPBodyPart* child(int index) const {
        return m_children.at(index).get();
    }
    [[nodiscard]] CKTWSMTPBodyPart* parent() const { return m_parent; }
    // The first direct child of this content type (compared without regard to case).
    [[nodiscard]] CKTWSMTPBodyPart* findFirstPart(QStringView contentType);

    // The part's header lines below a parent with this boundary, ending in the empty line.
    // A text part declares the transfer encoding its text needs on this transport; a
    // container declares none (multiparts may only be 7bit, 8bit or binary).
    [[nodiscard]] QByteArray header(const QString& parentBoundary,
                                    BodyTransport transport = BodyTransport::SevenBit) const;
    // The body bytes: the file (read now) or the text, transfer-encoded. Throws
    // CKTWSMTPException with the system error code when the file cannot be read (2 when
    // it is missing).
    void writeBody(const ByteSink& sink, DotFix dotFix,
                   BodyTransport transport = BodyTransport::SevenBit) const;
    [[nodiscard]] QByteArray body(DotFix dotFix,
                                  BodyTransport transport = BodyTransport::SevenBit) const;
    // The text's bytes in the part's charset and the encoding they need on this transport.
    [[nodiscard]] QByteArray textBytes() const;
    [[nodiscard]] TextEncoding textEncoding(BodyTransport transport) const;
    // "\r\n--boundary--" with the part's own boundary.
    [[nodiscard]] QByteArray footer() const;
    // Header (unless skipped), body, every child the same way, then the footer when there
    // are children: how the part travels inside DATA.
    enum class OwnHeader { Write, Skip };
    void writeTree(const ByteSink& sink, OwnHeader ownHeader,
                   BodyTransport transport = BodyTransport::SevenBit) const;

private:
    int m_codePage;
    QString m_fileName;
    QString m_title;
    QString m_contentType;
    QString m_charset;
    QString m_contentId;
    QString m_text;
    std::vector<std::unique_ptr<CKTWSMTPBodyPart>> m_children;
    CKTWSMTPBodyPart* m_parent = nullptr;
    QString m_boundary;
    bool m_attachment = false;
    Disposition m_disposition = Disposition::Attachment;
    TransferEncoding m_encoding = TransferEncoding::QuotedPrintable;
};

}  // namespace pw::smtp
