#include "send/MessageAssembly.h"

#include "db/TDbData.h"
#include "resources/Strings.h"
#include "send/SendRules.h"
#include "send/Unsubscribe.h"
#include "smtp/Charsets.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>
#include <QUuid>
#include <algorithm>
#include <optional>

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

// The right side of the Content-IDs: the Message-ID domain when it is a plain host name.
QString contentIdDomain(const QString& domain) {
    static const QRegularExpression host(
        QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?$"));
    return host.match(domain).hasMatch() ? domain : QStringLiteral("postwick.invalid");
}

// Every "cid:" reference whose (percent-decoded) value is the name of a picture now names its
// Content-ID; `referenced` receives the IDs that are used.
QString pointReferencesToContentIds(const QString& html, const QHash<QString, QString>& idOfName,
                                    QSet<QString>* referenced) {
    QString out;
    out.reserve(html.size() + 64);
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = html.indexOf(QLatin1StringView("cid:"), from);
        if (at < 0) {
            break;
        }
        const qsizetype start = at + 4;
        // a quoted value runs to its quote (file names may hold blanks), a bare one to a blank
        const QChar quote =
            at > 0 && (html[at - 1] == '"' || html[at - 1] == '\'') ? html[at - 1] : QChar();
        qsizetype end = start;
        while (end < html.size() &&
               (quote.isNull() ? !html[end].isSpace() && html[end] != '>' : html[end] != quote)) {
            ++end;
        }
        const QString value = html.mid(start, end - start);
        QString id = idOfName.value(value);
        if (id.isEmpty()) {
            id = idOfName.value(QUrl::fromPercentEncoding(value.toUtf8()));
        }
        out += QStringView(html).mid(from, start - from);
        if (id.isEmpty()) {
            out += value;
        } else {
            out += id;
            referenced->insert(id);
        }
        from = end;
    }
    out += QStringView(html).mid(from);
    return out;
}

bool isBareName(const QString& path) {
    return !path.contains('/') && !path.contains('\\');
}

QString placeholder(const QString& caption) {
    return QStringLiteral("[[") + caption + QStringLiteral("]]");
}

// The HTML part as the messages read it ("index.html" of the preview folder, or one among
// the attachments); empty when there is none or it cannot be read.
QString htmlOfJob(const MailJob& job) {
    QString path = job.htmlFileName.isEmpty()
                       ? QString()
                       : job.mainPreviewFolder + QStringLiteral("index.html");
    if (path.isEmpty()) {
        for (const QString& entry : job.attachments) {
            if (fileNameOf(entry) == u"index.html")
                path = entry;
        }
    }
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

// The HTML file read as 8-bit text of the system code page, merged for a merge send and
// with its picture references rewritten; nullopt-like empty error on success.
QString readHtml(const QString& path, const MailJob& job, const FieldTexts* values, QString* error,
                 RunFiles* files) {
    QString html;
    if (files && files->htmlText.contains(path)) {
        html = files->htmlText.value(path);
    } else {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            *error = pw::str(ids::kAssemblyHtmlUnreadable).replace(QLatin1StringView("%1"), path);
            return {};
        }
        html = QString::fromUtf8(file.readAll());
        if (file.error() != QFileDevice::NoError) {
            *error = pw::str(ids::kAssemblyHtmlUnreadable).replace(QLatin1StringView("%1"), path);
            return {};
        }
        if (files)
            files->htmlText.insert(path, html);
    }
    if (values != nullptr) {
        html = mergeAll(html, job.captions, values);
    }
    return rewritePictureReferences(html);
}

bool isFolder(const QString& entry, RunFiles* files) {
    if (!files)
        return QFileInfo(entry).isDir();
    auto it = files->isFolder.find(entry);
    if (it == files->isFolder.end())
        it = files->isFolder.insert(entry, QFileInfo(entry).isDir());
    return *it;
}

}  // namespace

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

QStringList unmatchedPlaceholders(const QStringList& texts, const FieldTexts& captions) {
    static const QRegularExpression any(QStringLiteral("\\[\\[([^\\[\\]]*)\\]\\]"));
    QStringList found;
    for (const QString& text : texts) {
        for (auto it = any.globalMatch(text); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            const QString name = m.captured(1);
            if (std::find(captions.begin(), captions.end(), name) != captions.end() ||
                m.captured(0) == u"[[Unsubscribe]]" || found.contains(m.captured(0)))
                continue;
            found.append(m.captured(0));
        }
    }
    return found;
}

QString renamePlaceholders(const QString& text, const FieldTexts& before, const FieldTexts& after) {
    // Through stand-ins, so that captions that swapped places are not renamed twice.
    constexpr char16_t kStandIn = 0xF8E0;
    QString out = text;
    for (size_t k = 0; k < before.size(); ++k) {
        if (before[k] != after[k] && !before[k].isEmpty())
            out.replace(placeholder(before[k]), QString(QChar(char16_t(kStandIn + k))));
    }
    for (size_t k = 0; k < before.size(); ++k) {
        if (before[k] != after[k] && !before[k].isEmpty())
            out.replace(QChar(char16_t(kStandIn + k)), placeholder(after[k]));
    }
    return out;
}

QString unmatchedPlaceholdersText(const QStringList& unmatched, const FieldTexts& captions) {
    QStringList fields;
    for (const QString& c : captions)
        fields << c;
    return formatMessageText(
        pw::str(ids::kUnmatchedPlaceholders),
        {unmatched.join(QLatin1StringView(", ")), fields.join(QLatin1StringView(", "))});
}

MergedRecipients mergedRecipients(const QString& text, const FieldTexts& captions,
                                  const FieldTexts& values) {
    // Each placeholder becomes one private-use character standing for its value: the cut
    // sees no blank or comma of a value.
    constexpr char16_t kFirstStandIn = 0xE000;
    constexpr qsizetype kStandIns = 0x1800;
    QString standIn = text;
    QStringList inserted;
    for (int k = 0; k < kMergeFieldCount; ++k) {
        const QString key = placeholder(captions[static_cast<size_t>(k)]);
        qsizetype from = 0;
        while (inserted.size() < kStandIns && (from = standIn.indexOf(key, from)) >= 0) {
            standIn.replace(from, key.size(), QChar(char16_t(kFirstStandIn + inserted.size())));
            inserted.append(values[static_cast<size_t>(k)]);
            ++from;
        }
    }
    bool holdsValue = false;
    const auto restore = [&](const QString& part) {
        QString out;
        for (const QChar c : part) {
            const qsizetype n = qsizetype(c.unicode()) - kFirstStandIn;
            if (n >= 0 && n < inserted.size()) {
                out += inserted[n];
                holdsValue = true;
            } else {
                out += c;
            }
        }
        return out;
    };
    MergedRecipients result;
    for (const CKTWSMTPAddress::RecipientItem& item :
         CKTWSMTPAddress::splitRecipientText(standIn)) {
        holdsValue = false;
        const QString address = CKTWSMTPAddress(QString(), restore(item.address)).address();
        const bool addressHoldsValue = holdsValue;
        if (CKTWSMTPAddress::looksLikeMailAddress(address)) {
            result.list.addresses.append(CKTWSMTPAddress(restore(item.name), address));
            continue;
        }
        result.valueRejected = result.valueRejected || addressHoldsValue;
        const QString written = restore(item.asWritten).trimmed();
        if (!written.isEmpty())
            result.list.rejected.append(written);
    }
    return result;
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

QString messageIdHeader(const QDateTime& now, const QString& domain, const QString& tracking) {
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
    const QString id =
        tracking.isEmpty() ? QUuid::createUuid().toString(QUuid::Id128).toUpper() : tracking;
    return QStringLiteral("Message-ID: <") + stamp + id + QLatin1Char('@') + domain +
           QLatin1Char('>');
}

bool isSkippedFileName(const QString& name) {
    return name == u"buffile.html" || name == u"Thumbs.db" || name == u"tegbuf.html" ||
           name == u"log.txt";
}

std::vector<JobFile> filesOfJob(const MailJob& job) {
    std::vector<JobFile> files;
    if (!job.htmlFileName.isEmpty()) {
        for (const QString& entry : job.htmlFiles) {
            const QString name = fileNameOf(entry);
            if (name == u"index.html")
                files.push_back(
                    {job.mainPreviewFolder + QStringLiteral("index.html"), JobFile::Role::Html});
            else if (!entry.contains(QLatin1StringView("http:")) && !isSkippedFileName(name) &&
                     !name.isEmpty())
                files.push_back({isBareName(entry) ? job.mainPreviewFolder + entry : entry,
                                 JobFile::Role::Picture});
        }
    }
    for (const QString& entry : job.attachments) {
        const QString name = fileNameOf(entry);
        if (entry.trimmed().isEmpty() || entry.contains(QLatin1StringView("http:")) ||
            isSkippedFileName(name))
            continue;
        const bool html = job.htmlFileName.isEmpty() && name == u"index.html";
        files.push_back({entry, html ? JobFile::Role::Html : JobFile::Role::Attachment});
    }
    return files;
}

namespace {

QString jobCharset(const MailJob& job) {
    return job.charsetOverride.isEmpty()
               ? QString::fromLatin1(smtp::charsetRow(job.charsetRow).mimeName)
               : job.charsetOverride;
}

// Whether this recipient's mail holds characters its JIS charset carries only as Windows codes
// (after the standard equivalents, when they are wanted).
bool leavesJisRepertoire(const MailJob& job, const MailTexts& texts, const FieldTexts* values,
                         const QString& charset, const QString& page, smtp::JapaneseExtras extras) {
    const QString html = values != nullptr ? mergeAll(page, job.captions, values) : page;
    const UnsubscribeSettings& u = job.unsubscribe;
    const QString footers = u.footer == FooterChoice::On ? u.footerText + u.footerHtml : QString();
    for (const QString* t :
         {&texts.senderName, &texts.recipientField, &texts.subject, &texts.body, &html, &footers}) {
        const QString text =
            extras == smtp::JapaneseExtras::Replace ? smtp::withStandardEquivalents(*t) : *t;
        if (smtp::jisExtensionCount(text, charset) > 0)
            return true;
    }
    return false;
}

}  // namespace

BuiltMessage buildMessage(const MailJob& job, const MailTexts& given, const FieldTexts* values,
                          RunFiles* files) {
    if (values == nullptr && job.testSample)
        values = &*job.testSample;
    BuiltMessage built;
    auto message = std::make_unique<CKTWSMTPMessage>();
    QString charset = jobCharset(job);
    MailTexts texts = given;
    const bool replace =
        job.japaneseExtras == smtp::JapaneseExtras::Replace && smtp::isJisCharset(charset);
    if (replace) {
        for (QString* t : {&texts.senderName, &texts.recipientField, &texts.subject, &texts.body})
            *t = smtp::withStandardEquivalents(*t);
    }
    // strict readers show the Windows codes as U+FFFD: such a mail goes in UTF-8
    if (job.japaneseExtras != smtp::JapaneseExtras::WindowsCodes && smtp::isJisCharset(charset) &&
        leavesJisRepertoire(job, texts, values, charset, htmlOfJob(job), job.japaneseExtras))
        charset = QStringLiteral("utf-8");

    // 1-2: MIME mode, charset, sender, subject
    message->setMimeMode(true);
    message->setCharset(charset);
    message->setFrom(CKTWSMTPAddress(texts.senderName, texts.senderAddress));
    message->setSubject(texts.subject);

    // 3: recipients, split by AddrSetType. The text is an address list ("Name <address>",
    // quotes, commas) that may also be plain addresses separated by blanks; what is no
    // address never becomes a recipient and is reported. In a merge send the text is cut
    // before the merge (when these texts are its merge), so a value is never split.
    MergedRecipients recipients;
    if (values != nullptr &&
        merge(job.recipientText, job.captions, *values) == texts.recipientField) {
        recipients = mergedRecipients(job.recipientText, job.captions, *values);
    } else {
        recipients.list = CKTWSMTPAddress::parseRecipientText(texts.recipientField);
    }
    const CKTWSMTPAddress::RecipientList& parsed = recipients.list;
    message->to() = parsed.addresses;
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
    for (const QString& item : parsed.rejected) {
        built.logEntries.append(formatMessageText(pw::str(ids::kLogNotAnAddress), {item}));
    }
    if (parsed.addresses.isEmpty()) {
        built.error =
            formatMessageText(pw::str(ids::kAssemblyNoAddress), {texts.recipientField.trimmed()});
        return built;
    }
    if (recipients.valueRejected) {
        // the record's own address is unusable: the others of the text do not get its mail
        built.error = formatMessageText(pw::str(ids::kAssemblyValueNoAddress),
                                        {texts.recipientField.trimmed()});
        return built;
    }

    // 4-5
    message->setXMailer(QString::fromLatin1(kPostwickXMailer));
    const QString tracking = trackingId(job.tracking, parsed.addresses.first().address());
    message->addCustomHeader(
        messageIdHeader(QDateTime::currentDateTime(), job.messageIdDomain, tracking));
    if (!tracking.isEmpty())
        message->addCustomHeader(QString::fromLatin1(kTrackingHeader) + QStringLiteral(": ") +
                                 tracking);
    const UnsubscribeParts unsubscribe =
        unsubscribeParts(job.unsubscribe, job.captions, values, parsed.addresses.first().address(),
                         texts.senderAddress, charset);
    for (const QString& line : unsubscribe.headers)
        message->addCustomHeader(line);
    if (const QString broken = message->customHeaderWithLineBreak(); !broken.isEmpty()) {
        // the line would end the header early or add one of its own to every mail
        built.error = formatMessageText(pw::str(ids::kAssemblyHeaderLineBreak),
                                        {broken.section(QLatin1Char(':'), 0, 0)});
        return built;
    }
    const QString body =
        withTextFooter(texts.body, replace ? smtp::withStandardEquivalents(unsubscribe.footerText)
                                           : unsubscribe.footerText);

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
                                &error, files);
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
            html = readHtml(entry, job, values, &error, files);
            if (!error.isEmpty()) {
                built.error = error;
                return built;
            }
            hasHtml = true;
            continue;
        }
        // 8: regular attachments
        if (entry.trimmed().isEmpty() || entry.contains(QLatin1StringView("http:")) ||
            isSkippedFileName(name) || isFolder(entry, files)) {
            continue;
        }
        attachments.append(entry);
    }

    // 10: the structure
    const bool hasText = !body.isEmpty();
    CKTWSMTPBodyPart& root = message->rootPart();
    if (hasHtml) {
        html = withHtmlFooter(html, unsubscribe.footerHtml);
        if (replace)
            html = smtp::withStandardEquivalents(html);
        message->addHtmlBody(html, QStringLiteral("multipart/mixed"));
        for (const QString& path : inlineFiles) {
            message->addAttachment(path);
        }
        // Every picture gets an ASCII Content-ID of its own, and the HTML's references to its
        // file name point to it: a name with blanks or non-ASCII characters cannot be one.
        const QString idBase = QUuid::createUuid().toString(QUuid::Id128);
        const QString idDomain = contentIdDomain(job.messageIdDomain);
        QHash<QString, QString> idOfName;
        int number = 0;
        for (int i = 0; i < root.childCount(); ++i) {
            CKTWSMTPBodyPart* part = root.child(i);
            if (part->fileName().isEmpty() || !inlineFiles.contains(part->fileName())) {
                continue;
            }
            const QString id = QStringLiteral("part%1.%2@%3").arg(++number).arg(idBase, idDomain);
            part->setContentId(QLatin1Char('<') + id + QLatin1Char('>'));
            const QString name = fileNameOf(part->fileName());
            if (!idOfName.contains(name)) {
                idOfName.insert(name, id);
            }
        }
        CKTWSMTPBodyPart* htmlPart = root.findFirstPart(u"text/html");
        QSet<QString> referenced;
        htmlPart->setText(pointReferencesToContentIds(htmlPart->text(), idOfName, &referenced));
        htmlPart->setContentType(QStringLiteral("text/html"));
        for (int i = 0; i < root.childCount(); ++i) {
            CKTWSMTPBodyPart* part = root.child(i);
            if (!part->contentId().isEmpty() &&
                referenced.contains(part->contentId().mid(1, part->contentId().size() - 2))) {
                part->setDisposition(smtp::Disposition::Inline);
            }
        }
        root.setContentType(QStringLiteral("multipart/related; type=\"text/html\""));
        if (hasText) {
            CKTWSMTPBodyPart* container = root.findFirstPart(u"text/html");
            const CKTWSMTPBodyPart htmlCopy(*container);
            container->setText(QString());
            container->setContentType(QStringLiteral("multipart/alternative"));
            CKTWSMTPBodyPart text;
            text.setCharset(charset);
            text.setEncoding(smtp::TransferEncoding::QuotedPrintable);
            text.setText(body);
            container->addChild(text);
            container->addChild(htmlCopy);
            root.setContentType(
                QStringLiteral("multipart/related; type=\"multipart/alternative\""));
        }
    } else if (hasText) {
        if (attachments.isEmpty()) {
            // the single-part message: no MIME, no transfer encoding
            message->setMimeMode(false);
            root.setText(body);
            root.setContentType(QStringLiteral("text/plain"));
        } else {
            message->addTextBody(body, QStringLiteral("multipart/mixed"));
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
    for (const QString* t :
         std::initializer_list<const QString*>{&texts.senderName, &texts.subject, &body, &html}) {
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
    : m_job(std::move(job)), m_rows(std::make_shared<CLoadedRows>(std::move(rows))) {}

CMessageAssembly::CMessageAssembly(MailJob job, const db::SendSelection& selection)
    : m_job(std::move(job)) {
    std::vector<FieldTexts> rows(static_cast<size_t>(std::max(0, selection.count)));
    for (size_t row = 0; row < rows.size(); ++row) {
        for (size_t k = 0; k < static_cast<size_t>(kMergeFieldCount); ++k) {
            const auto& column = selection.fields[k];
            rows[row][k] = row < column.size() ? column[row] : QString();
        }
    }
    m_rows = std::make_shared<CLoadedRows>(std::move(rows));
}

CMessageAssembly::CMessageAssembly(MailJob job, std::shared_ptr<IRecipientRows> rows)
    : m_job(std::move(job)),
      m_rows(rows ? std::move(rows) : std::make_shared<CLoadedRows>(std::vector<FieldTexts>{})) {}

namespace {

class ShortfallCounter {
public:
    explicit ShortfallCounter(const QString& charset)
        : m_charset(charset), m_codePage(smtp::codePageForCharset(charset)) {}

    // The characters of text the charset lacks, `times` over.
    void count(const QString& text, int times = 1) {
        if (text.isEmpty() || times <= 0) {
            return;
        }
        int lost = 0;
        (void)smtp::textToBytes(text, m_charset, m_codePage, &lost);
        if (lost == 0) {
            return;
        }
        m_result.characters += lost * times;
        if (m_seen.size() >= 8) {
            return;
        }
        for (qsizetype i = 0; i < text.size() && m_seen.size() < 8;) {
            const qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
            const QString character = text.mid(i, n);
            i += n;
            int one = 0;
            (void)smtp::textToBytes(character, m_charset, m_codePage, &one);
            if (one > 0 && !m_seen.contains(character)) {
                m_seen.insert(character);
                m_result.samples +=
                    (m_result.samples.isEmpty() ? QString() : QStringLiteral(" ")) + character;
            }
        }
    }
    [[nodiscard]] const CharsetShortfall& result() const { return m_result; }

private:
    QString m_charset;
    int m_codePage;
    QSet<QString> m_seen;
    CharsetShortfall m_result;
};

}  // namespace

CharsetShortfall CMessageAssembly::charsetShortfall() const {
    const QString charset = m_job.charsetOverride.isEmpty()
                                ? QString::fromLatin1(smtp::charsetRow(m_job.charsetRow).mimeName)
                                : m_job.charsetOverride;
    ShortfallCounter counter(charset);
    // The HTML as the messages carry it; one that cannot be read fails every mail anyway.
    const QString html = htmlOfJob(m_job);
    const QString* texts[] = {&m_job.senderName, &m_job.subject, &m_job.bodyText, &html};
    auto names = [&counter](const QString& recipientText) {
        for (const CKTWSMTPAddress& a :
             CKTWSMTPAddress::parseRecipientText(recipientText).addresses) {
            counter.count(a.name());
        }
    };
    if (rowCount() == 0) {
        for (const QString* t : texts) {
            counter.count(*t);
        }
        names(m_job.recipientText);
        return counter.result();
    }
    // The fixed texts once, then each recipient's values as often as their placeholders occur.
    std::array<int, kMergeFieldCount> uses{};
    for (const QString* t : texts) {
        counter.count(mergeAll(*t, m_job.captions, nullptr));
        for (int k = 0; k < kMergeFieldCount; ++k) {
            uses[size_t(k)] += int(t->count(placeholder(m_job.captions[size_t(k)])));
        }
    }
    // a page at a time: the check over a long list holds no more of it than the run does
    for (int row = 0; row < rowCount(); ++row) {
        const FieldTexts* values = m_rows->values(row);
        if (!values) {
            continue;
        }
        for (int k = 0; k < kMergeFieldCount; ++k) {
            counter.count((*values)[size_t(k)], uses[size_t(k)]);
        }
        names(merge(m_job.recipientText, m_job.captions, *values));
    }
    return counter.result();
}

QStringList CMessageAssembly::unmatchedPlaceholders() const {
    QStringList texts{m_job.senderName, m_job.senderAddress, m_job.recipientText,
                      m_job.subject,    m_job.bodyText,      htmlOfJob(m_job)};
    // the unsubscribe texts know the address field by its role (their defaults name it)
    const UnsubscribeSettings& u = m_job.unsubscribe;
    QStringList unsubscribe{u.mailAddress, u.url};
    if (u.footer == FooterChoice::On)
        unsubscribe << (u.footerText.isEmpty() ? defaultFooterText(currentLanguage())
                                               : u.footerText)
                    << (u.footerHtml.isEmpty() ? defaultFooterHtml(currentLanguage())
                                               : u.footerHtml);
    for (const QString& t : unsubscribe)
        texts << withAddressPlaceholder(t, m_job.captions);
    return send::unmatchedPlaceholders(texts, m_job.captions);
}

int CMessageAssembly::recipientsWithJisExtras() const {
    const QString charset = jobCharset(m_job);
    if (!smtp::isJisCharset(charset))
        return 0;
    const QString html = htmlOfJob(m_job);
    if (rowCount() == 0)
        return leavesJisRepertoire(m_job, texts(), nullptr, charset, html,
                                   smtp::JapaneseExtras::WindowsCodes)
                   ? 1
                   : 0;
    // Rows whose values are all ASCII (and bring no brackets to form placeholders with) merge
    // into mails that differ from each other in ASCII only: the first of them answers for
    // all, instead of merging every mail of the run.
    const auto ascii = [](const FieldTexts& v) {
        return std::all_of(v.begin(), v.end(), [](const QString& t) {
            return std::all_of(t.begin(), t.end(), [](QChar c) {
                return c.unicode() < 0x80 && c != QLatin1Char('[') && c != QLatin1Char(']');
            });
        });
    };
    std::optional<bool> asciiRowsLeave;
    int count = 0;
    for (int row = 0; row < rowCount(); ++row) {
        const FieldTexts* values = m_rows->values(row);
        if (!values)
            continue;
        const bool plain = ascii(*values);
        if (plain && asciiRowsLeave) {
            count += *asciiRowsLeave ? 1 : 0;
            continue;
        }
        const bool leaves = leavesJisRepertoire(m_job, merged(row), values, charset, html,
                                                smtp::JapaneseExtras::WindowsCodes);
        if (plain)
            asciiRowsLeave = leaves;
        count += leaves ? 1 : 0;
    }
    return count;
}

QString CMessageAssembly::jisNotice() const {
    const int affected = recipientsWithJisExtras();
    if (affected == 0)
        return {};
    int id = ids::kJisRecipientsUtf8;
    if (m_job.japaneseExtras == smtp::JapaneseExtras::WindowsCodes)
        id = ids::kJisRecipientsWindows;
    else if (m_job.japaneseExtras == smtp::JapaneseExtras::Replace)
        id = ids::kJisRecipientsReplace;
    return formatMessageText(
        pw::str(id),
        {QString::number(affected), QString::number(std::max(1, rowCount())), jobCharset(m_job)});
}

QStringList CMessageAssembly::recipientAddresses() const {
    QStringList out;
    const auto add = [&out](const CKTWSMTPAddress::RecipientList& list) {
        for (const CKTWSMTPAddress& a : list.addresses)
            out << a.address();
    };
    if (rowCount() == 0) {
        add(CKTWSMTPAddress::parseRecipientText(m_job.recipientText));
        return out;
    }
    for (int row = 0; row < rowCount(); ++row) {
        if (const FieldTexts* values = m_rows->values(row))
            add(mergedRecipients(m_job.recipientText, m_job.captions, *values).list);
    }
    return out;
}

MailTexts CMessageAssembly::texts() const {
    return MailTexts{m_job.senderName, m_job.senderAddress, m_job.recipientText, m_job.subject,
                     m_job.bodyText};
}

MailTexts CMessageAssembly::merged(int row) const {
    MailTexts t = texts();
    const FieldTexts* found = m_rows->values(row);
    if (!found) {
        return t;
    }
    const FieldTexts& values = *found;
    t.senderName = merge(t.senderName, m_job.captions, values);
    t.senderAddress = merge(t.senderAddress, m_job.captions, values);
    t.recipientField = merge(t.recipientField, m_job.captions, values);
    t.subject = merge(t.subject, m_job.captions, values);
    t.body = merge(t.body, m_job.captions, values);
    return t;
}

BuiltMessage CMessageAssembly::build(const MailTexts& texts, int row) {
    return buildMessage(m_job, texts, m_rows->values(row), &m_files);
}

}  // namespace pw::send
