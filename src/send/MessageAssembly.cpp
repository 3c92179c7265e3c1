#include "send/MessageAssembly.h"

#include "db/TDbData.h"
#include "resources/Strings.h"
#include "smtp/Charsets.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>

namespace pw::send {

using smtp::CKTWSMTPAddress;
using smtp::CKTWSMTPBodyPart;
using smtp::CKTWSMTPMessage;

namespace {

const QString kPreamble = QStringLiteral("This is a multi-part message in MIME format");

// The name of a path: the text after its last separator. Lists saved on Windows use
// backslashes, so both count.
QString fileNameOf(const QString& path) {
    const qsizetype cut = std::max(path.lastIndexOf('/'), path.lastIndexOf('\\'));
    return path.mid(cut + 1);
}

bool isBareName(const QString& path) {
    return !path.contains('/') && !path.contains('\\');
}

QString placeholder(const QString& caption) {
    return QStringLiteral("[[") + caption + QStringLiteral("]]");
}

// The HTML file read as 8-bit text of the system code page, merged for a merge send and
// with its picture references rewritten; nullopt-like empty error on success.
QString readHtml(const QString& path, const MailJob& job, const FieldTexts* values,
                 QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = pw::str(ids::kAssemblyHtmlUnreadable).replace(QLatin1StringView("%1"), path);
        return {};
    }
    QString html = QString::fromUtf8(file.readAll());
    if (file.error() != QFileDevice::NoError) {
        *error = pw::str(ids::kAssemblyHtmlUnreadable).replace(QLatin1StringView("%1"), path);
        return {};
    }
    if (values != nullptr) {
        html = mergeAll(html, job.captions, values);
    }
    return rewritePictureReferences(html);
}

}  // namespace

AddrSetType addrSetTypeFromSetting(int value) {
    switch (value) {
        case 1:
            return AddrSetType::RestCc;
        case 2:
            return AddrSetType::RestBcc;
        default:
            return AddrSetType::AllTo;
    }
}

QString wrapByBytes(const QString& text, int lineLength, int codePage) {
    QString out;
    out.reserve(text.size() + text.size() / std::max(1, lineLength) * 2 + 2);
    int count = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype length =
            (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ? 2
                                                                                               : 1;
        const QStringView character = QStringView(text).mid(i, length);
        i += length;
        if (character == u"\n") {
            out += character;
            count = 0;
            continue;
        }
        const int weight = smtp::byteWeight(character, codePage);
        if (count + weight > lineLength) {
            out += QLatin1StringView("\r\n");
            count = weight;
        } else {
            count += weight;
        }
        out += character;
    }
    return out;
}

QString prepareBodyText(const QString& editorText, const AutoWrapSetting& wrap,
                        bool wrapToDisplayedLines, int charsetRow, const IDisplayedLines* lines) {
    if (wrap.active()) {
        return wrapByBytes(editorText, wrap.lineLength,
                           smtp::charsetRow(charsetRow).windowsCodePage);
    }
    if (wrapToDisplayedLines && lines != nullptr) {
        return lines->displayedLines().join(QLatin1StringView("\r\n"));
    }
    return editorText;
}

QString merge(const QString& text, const FieldTexts& captions, const FieldTexts& values) {
    QString out = text;
    for (int k = 0; k < kMergeFieldCount; ++k) {
        const QString key = placeholder(captions[static_cast<size_t>(k)]);
        const QString& value = values[static_cast<size_t>(k)];
        qsizetype from = 0;
        while ((from = out.indexOf(key, from)) >= 0) {
            out.replace(from, key.size(), value);
            from += value.size();
        }
    }
    return out;
}

QString mergeAll(const QString& text, const FieldTexts& captions, const FieldTexts* values) {
    QString out = text;
    for (int k = 0; k < kMergeFieldCount; ++k) {
        out.replace(placeholder(captions[static_cast<size_t>(k)]),
                    values != nullptr ? (*values)[static_cast<size_t>(k)] : QString());
    }
    return out;
}

QString rewritePictureReferences(const QString& html) {
    QString out = html;
    out.replace(QLatin1StringView("<img src=\""), QLatin1StringView("<img src=\"cid:"));
    out.replace(QLatin1StringView("<IMG SRC=\""), QLatin1StringView("<IMG SRC=\"cid:"));
    out.replace(QLatin1StringView("background=\""), QLatin1StringView("background=\"cid:"));
    out.replace(QLatin1StringView("BACKGROUND=\""), QLatin1StringView("BACKGROUND=\"cid:"));
    out.replace(QLatin1StringView("cid:http:"), QLatin1StringView("http:"));
    return out;
}

QString messageIdHeader(const QDateTime& now, const QString& domain) {
    const QDate d = now.date();
    const QTime t = now.time();
    const QString stamp = QStringLiteral("%1%2%3%4%5%6%7.")
                              .arg(d.year(), 4, 10, QLatin1Char('0'))
                              .arg(d.month(), 2, 10, QLatin1Char('0'))
                              .arg(d.day(), 2, 10, QLatin1Char('0'))
                              .arg(t.hour(), 2, 10, QLatin1Char('0'))
                              .arg(t.minute(), 2, 10, QLatin1Char('0'))
                              .arg(t.second(), 2, 10, QLatin1Char('0'))
                              .arg(t.msec(), 4, 10, QLatin1Char('0'));
    const QString id = QUuid::createUuid().toString(QUuid::Id128).toUpper();
    return QStringLiteral("Message-ID: <") + stamp + id + QLatin1Char('@') + domain +
           QLatin1Char('>');
}

bool isSkippedFileName(const QString& name) {
    return name == u"buffile.html" || name == u"Thumbs.db" || name == u"tegbuf.html" ||
           name == u"log.txt";
}

BuiltMessage buildMessage(const MailJob& job, const MailTexts& texts, const FieldTexts* values) {
    BuiltMessage built;
    auto message = std::make_unique<CKTWSMTPMessage>();
    const QString charset = job.charsetOverride.isEmpty()
                                ? QString::fromLatin1(smtp::charsetRow(job.charsetRow).mimeName)
                                : job.charsetOverride;

    // 1-2: MIME mode, charset, sender, subject
    message->setMimeMode(true);
    message->setCharset(charset);
    message->setFrom(CKTWSMTPAddress(texts.senderName, texts.senderAddress));
    message->setSubject(texts.subject);

    // 3: recipients, split by AddrSetType
    QString field = texts.recipientField;
    field.replace(QLatin1Char(' '), QLatin1Char(','));
    message->to() = CKTWSMTPAddress::parseList(field);
    if (job.addrSetType != AddrSetType::AllTo) {
        auto& rest = job.addrSetType == AddrSetType::RestCc ? message->cc() : message->bcc();
        while (message->to().size() > 1) {
            rest.append(message->to().takeAt(1));
        }
    }
    QStringList entries;
    for (const auto& a : message->to()) {
        entries += QStringLiteral("(To:)") + a.address();
    }
    for (const auto& a : message->cc()) {
        entries += QStringLiteral("(Cc:)") + a.address();
    }
    for (const auto& a : message->bcc()) {
        entries += QStringLiteral("(Bcc:)") + a.address();
    }
    built.logEntries.append(pw::str(ids::kLogRecipient) + QLatin1Char(' ') +
                            entries.join(QLatin1StringView(" / ")));

    // 4-5
    message->setXMailer(QString::fromLatin1(kPostwickXMailer));
    message->addCustomHeader(messageIdHeader(QDateTime::currentDateTime(), job.messageIdDomain));

    // 6-7: the HTML body and its pictures
    QString html;
    bool hasHtml = false;
    QStringList inlineFiles;
    QString error;
    if (!job.htmlFileName.isEmpty()) {
        for (const QString& entry : job.htmlFiles) {
            const QString name = fileNameOf(entry);
            if (name == u"index.html") {
                html = readHtml(job.mainPreviewFolder + QStringLiteral("index.html"), job, values,
                                &error);
                if (!error.isEmpty()) {
                    built.error = error;
                    return built;
                }
                hasHtml = true;
            } else if (!entry.contains(QLatin1StringView("http:")) && !isSkippedFileName(name) &&
                       !name.isEmpty()) {
                inlineFiles.append(isBareName(entry) ? job.mainPreviewFolder + entry : entry);
            }
        }
    }
    QStringList attachments;
    for (const QString& entry : job.attachments) {
        const QString name = fileNameOf(entry);
        if (job.htmlFileName.isEmpty() && name == u"index.html") {
            html = readHtml(entry, job, values, &error);
            if (!error.isEmpty()) {
                built.error = error;
                return built;
            }
            hasHtml = true;
            continue;
        }
        // 8: regular attachments
        if (entry.trimmed().isEmpty() || entry.contains(QLatin1StringView("http:")) ||
            isSkippedFileName(name) || QFileInfo(entry).isDir()) {
            continue;
        }
        attachments.append(entry);
    }

    // 10: the structure
    const bool hasText = !texts.body.isEmpty();
    CKTWSMTPBodyPart& root = message->rootPart();
    if (hasHtml) {
        message->addHtmlBody(html, QStringLiteral("multipart/mixed"));
        for (const QString& path : inlineFiles) {
            message->addAttachment(path);
        }
        for (int i = 0; i < root.childCount(); ++i) {
            CKTWSMTPBodyPart* part = root.child(i);
            if (!part->fileName().isEmpty() && inlineFiles.contains(part->fileName())) {
                part->setContentId(QLatin1Char('<') + fileNameOf(part->fileName()) +
                                   QLatin1Char('>'));
            }
        }
        root.setContentType(QStringLiteral("multipart/related"));
        if (hasText) {
            CKTWSMTPBodyPart* container = root.findFirstPart(u"text/html");
            const CKTWSMTPBodyPart htmlCopy(*container);
            container->setText(QString());
            container->setContentType(QStringLiteral("multipart/alternative"));
            CKTWSMTPBodyPart text;
            text.setCharset(charset);
            text.setEncoding(smtp::TransferEncoding::QuotedPrintable);
            text.setText(texts.body);
            container->addChild(text);
            container->addChild(htmlCopy);
            root.setContentType(
                QStringLiteral("multipart/related; type=\"multipart/alternative\""));
        }
    } else if (hasText) {
        if (attachments.isEmpty()) {
            // the single-part message: no MIME, no transfer encoding
            message->setMimeMode(false);
            root.setText(texts.body);
            root.setContentType(QStringLiteral("text/plain"));
        } else {
            message->addTextBody(texts.body, QStringLiteral("multipart/mixed"));
        }
    }
    if (!attachments.isEmpty()) {
        if (root.contentType() != u"multipart/mixed") {
            CKTWSMTPBodyPart wrapper;
            wrapper.setText(kPreamble);
            wrapper.setContentType(QStringLiteral("multipart/mixed"));
            wrapper.setCharset(charset);
            wrapper.addChild(root);
            message->setRootPart(wrapper);
        }
        // one part per entry, so that a ";" in a file name cannot split it
        for (const QString& path : attachments) {
            message->addAttachment(path);
        }
    }
    // A character the charset lacks goes out as "?": the log says so, so it is not lost
    // unnoticed.
    const int codePage = smtp::codePageForCharset(charset);
    int substituted = 0;
    for (const QString* t : std::initializer_list<const QString*>{&texts.senderName, &texts.subject,
                                                                  &texts.body, &html}) {
        int n = 0;
        (void)smtp::textToBytes(*t, charset, codePage, &n);
        substituted += n;
    }
    if (substituted > 0) {
        built.logEntries.append(pw::str(ids::kAssemblySubstituted)
                                    .replace(QLatin1StringView("%1"), QString::number(substituted))
                                    .replace(QLatin1StringView("%2"), charset));
    }
    built.message = std::move(message);
    return built;
}

CMessageAssembly::CMessageAssembly(MailJob job, std::vector<FieldTexts> rows)
    : m_job(std::move(job)), m_rows(std::move(rows)) {}

CMessageAssembly::CMessageAssembly(MailJob job, const db::SendSelection& selection)
    : m_job(std::move(job)) {
    m_rows.resize(static_cast<size_t>(std::max(0, selection.count)));
    for (size_t row = 0; row < m_rows.size(); ++row) {
        for (size_t k = 0; k < static_cast<size_t>(kMergeFieldCount); ++k) {
            const auto& column = selection.fields[k];
            m_rows[row][k] = row < column.size() ? column[row] : QString();
        }
    }
}

MailTexts CMessageAssembly::texts() const {
    return MailTexts{m_job.senderName, m_job.senderAddress, m_job.recipientText, m_job.subject,
                     m_job.bodyText};
}

MailTexts CMessageAssembly::merged(int row) const {
    MailTexts t = texts();
    if (row < 0 || row >= rowCount()) {
        return t;
    }
    const FieldTexts& values = m_rows[static_cast<size_t>(row)];
    t.senderName = merge(t.senderName, m_job.captions, values);
    t.senderAddress = merge(t.senderAddress, m_job.captions, values);
    t.recipientField = merge(t.recipientField, m_job.captions, values);
    t.subject = merge(t.subject, m_job.captions, values);
    t.body = merge(t.body, m_job.captions, values);
    return t;
}

BuiltMessage CMessageAssembly::build(const MailTexts& texts, int row) {
    const FieldTexts* values =
        row >= 0 && row < rowCount() ? &m_rows[static_cast<size_t>(row)] : nullptr;
    return buildMessage(m_job, texts, values);
}

}  // namespace pw::send
