#include "send/PreviewSource.h"

#include "compose/CodePage.h"
#include "resources/Strings.h"
#include "send/SendFlow.h"
#include "send/SendRules.h"
#include "smtp/Charsets.h"

namespace pw::send {

using smtp::CKTWSMTPBodyPart;

namespace {

// Characters the charset lacks go out as "?": the preview shows them so.
QString throughCharset(const QString& text, const QString& charset) {
    const int cp = smtp::codePageForCharset(charset);
    const QByteArray bytes = smtp::textToBytes(text, charset, cp);
    if (charset.compare(QLatin1StringView("utf-8"), Qt::CaseInsensitive) == 0) {
        return QString::fromUtf8(bytes);
    }
    const auto codePage = CodePage::fromName(charset.toLatin1());
    return codePage ? codePage->decode(bytes) : text;
}

QString encodingName(smtp::TransferEncoding e) {
    switch (e) {
        case smtp::TransferEncoding::QuotedPrintable:
            return QStringLiteral("quoted-printable");
        case smtp::TransferEncoding::Base64:
            return QStringLiteral("base64");
        case smtp::TransferEncoding::None:
            break;
    }
    return QStringLiteral("7bit");
}

void walk(const CKTWSMTPBodyPart& part, PreviewMessage& out, bool root) {
    const QString type = part.contentType().section(u';', 0, 0).trimmed().toLower();
    if (!part.fileName().isEmpty()) {
        QString id = part.contentId();
        if (id.startsWith(u'<') && id.endsWith(u'>')) {
            id = id.mid(1, id.size() - 2);
        }
        if (!id.isEmpty()) {
            out.inlineParts.append({id, part.fileName()});
        }
    } else if (type == u"text/html") {
        out.hasHtml = true;
        out.html = throughCharset(part.text(), part.charset());
    } else if (type == u"text/plain" && (root || !part.text().isEmpty()) && out.body.isEmpty()) {
        out.body = throughCharset(part.text(), part.charset());
        // as nearly every server (one offering 8BITMIME) receives it, not as configured
        out.transferEncoding = QString::fromLatin1(
            smtp::textEncodingName(part.textEncoding(smtp::BodyTransport::EightBit)));
    }
    for (int i = 0; i < part.childCount(); ++i) {
        walk(*part.child(i), out, false);
    }
}

}  // namespace

PreviewMessage describeForPreview(const smtp::CKTWSMTPMessage& message) {
    PreviewMessage out;
    out.charset = message.charset();
    out.senderName = throughCharset(message.from().name(), out.charset);
    out.senderAddress = message.from().address();
    out.subject = throughCharset(message.subject(), out.charset);
    for (const auto& a : message.to()) {
        out.to << a.address();
    }
    for (const auto& a : message.cc()) {
        out.cc << a.address();
    }
    for (const auto& a : message.bcc()) {
        out.bcc << a.address();
    }
    for (const QString& h : message.customHeaders()) {
        if (h.startsWith(QLatin1StringView("Message-ID:"), Qt::CaseInsensitive)) {
            out.messageIdHeader = h;
        }
    }
    const CKTWSMTPBodyPart& root = message.rootPart();
    if (!message.mimeMode()) {
        out.body = throughCharset(root.text(), root.charset());
        out.transferEncoding = encodingName(smtp::TransferEncoding::None);
    } else {
        walk(root, out, true);
    }
    if (out.transferEncoding.isEmpty()) {
        out.transferEncoding = encodingName(smtp::TransferEncoding::QuotedPrintable);
    }
    return out;
}

CAssemblyPreviewSource::CAssemblyPreviewSource(std::unique_ptr<CMessageAssembly> assembly,
                                               SendMode mode)
    : m_assembly(std::move(assembly)), m_mode(mode) {
    if (m_mode == SendMode::Merge && m_assembly->rowCount() == 0) {
        // no records: the texts with every placeholder emptied
        m_assembly =
            std::make_unique<CMessageAssembly>(m_assembly->job(), std::vector<FieldTexts>(1));
        m_empty = true;
    }
}

int CAssemblyPreviewSource::count() const {
    if (m_mode != SendMode::Merge) {
        return 1;
    }
    return m_empty ? 0 : m_assembly->rowCount();
}

PreviewMessage CAssemblyPreviewSource::message(int index) {
    const int row = m_mode == SendMode::Merge ? index : -1;
    const MailTexts texts = row >= 0 ? m_assembly->merged(row) : m_assembly->texts();
    BuiltMessage built = m_assembly->build(texts, row);
    if (!built.message) {
        PreviewMessage failed;
        failed.error = built.error;
        failed.senderName = texts.senderName;
        failed.senderAddress = texts.senderAddress;
        failed.subject = texts.subject;
        failed.body = texts.body;
        return failed;
    }
    return describeForPreview(*built.message);
}

QStringList CAssemblyPreviewSource::notices() const {
    QStringList out;
    const QStringList unmatched = m_assembly->unmatchedPlaceholders();
    if (!unmatched.isEmpty()) {
        const FieldTexts& captions = m_assembly->job().captions;
        out << formatMessageText(
            pw::str(ids::kUnmatchedPlaceholdersWarning),
            {unmatched.join(QLatin1StringView(", ")),
             QStringList(captions.begin(), captions.end()).join(QLatin1StringView(", "))});
    }
    if (const QString jis = m_assembly->jisNotice(); !jis.isEmpty())
        out << jis;
    return out;
}

std::unique_ptr<IPreviewSource> previewOfSend(CSendFlow& flow, db::SendSelectionMode selection) {
    (void)flow.check(SendKind::Send);
    (void)flow.chooseSelection(selection);
    return std::make_unique<CAssemblyPreviewSource>(flow.messageAssembly(), flow.mode());
}

}  // namespace pw::send
