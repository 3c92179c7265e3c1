#include "bounces/BounceReport.h"

#include "bounces/BounceReasons.h"
#include "send/Tracking.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTimeZone>
// GLib names a member "signals", which Qt defines as a keyword
#pragma push_macro("signals")
#undef signals
#include <gmime/gmime.h>
#pragma pop_macro("signals")
#include <algorithm>
#include <mutex>

namespace pw::bounces {

namespace {

void initGMime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

// What the walk over the MIME tree gathers.
struct Gathered {
    QString text;              // the human-readable parts, in order
    std::vector<QString> dsn;  // the delivery-status parts
    QString feedback;          // the complaint report's fields
    QString returnedHeaders;   // the returned message's header block
    int depth = 0;
};

QString toUnicode(const QByteArray& bytes, const char* charset) {
    if (bytes.isEmpty())
        return {};
    QByteArray from = charset ? QByteArray(charset) : QByteArray();
    if (from.isEmpty() || from.compare("us-ascii", Qt::CaseInsensitive) == 0) {
        if (bytes.contains("\x1b$B") || bytes.contains("\x1b$@"))
            from = "ISO-2022-JP";
        else if (QString::fromUtf8(bytes).contains(QChar::ReplacementCharacter))
            from = "ISO-8859-1";
        else
            return QString::fromUtf8(bytes);
    }
    gsize written = 0;
    gchar* utf8 = g_convert_with_fallback(bytes.constData(), bytes.size(), "UTF-8",
                                          from.constData(), "?", nullptr, &written, nullptr);
    if (!utf8)
        return QString::fromLatin1(bytes);
    QString out = QString::fromUtf8(utf8, static_cast<qsizetype>(written));
    g_free(utf8);
    return out;
}

QByteArray partBytes(GMimePart* part) {
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content)
        return {};
    GMimeStream* stream = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(content, stream);
    GByteArray* array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    QByteArray out(reinterpret_cast<const char*>(array->data), static_cast<qsizetype>(array->len));
    g_object_unref(stream);
    return out;
}

QString headersOf(GMimeObject* object) {
    char* raw = g_mime_object_get_headers(object, nullptr);
    if (!raw)
        return {};
    QString out = toUnicode(QByteArray(raw), nullptr);
    g_free(raw);
    return out;
}

QString withoutTags(const QString& html) {
    static const QRegularExpression breaks(QStringLiteral("<(br|p|div|tr|li)\\b[^>]*>"),
                                           QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
    QString text = html;
    text.replace(breaks, QStringLiteral("\n"));
    text.replace(tags, QString());
    text.replace(QLatin1String("&lt;"), QLatin1String("<"));
    text.replace(QLatin1String("&gt;"), QLatin1String(">"));
    text.replace(QLatin1String("&nbsp;"), QLatin1String(" "));
    text.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return text;
}

void walk(GMimeObject* object, Gathered& g, bool returned) {
    if (++g.depth > 64)  // a report is never this deep; a crafted one is not followed
        return;
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart* multi = GMIME_MULTIPART(object);
        const int count = g_mime_multipart_get_count(multi);
        for (int i = 0; i < count; ++i)
            walk(g_mime_multipart_get_part(multi, i), g, returned);
        return;
    }
    if (GMIME_IS_MESSAGE_PART(object)) {
        GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
        if (!inner)
            return;
        if (g.returnedHeaders.isEmpty())
            g.returnedHeaders = headersOf(GMIME_OBJECT(inner));
        // a report forwarded whole: its own parts count when the outer mail has none
        if (GMimeObject* body = g_mime_message_get_mime_part(inner))
            walk(body, g, true);
        return;
    }
    if (!GMIME_IS_PART(object))
        return;
    GMimeContentType* type = g_mime_object_get_content_type(object);
    // the type comes as a new string of the caller's
    char* typeText = g_mime_content_type_get_mime_type(type);
    const QString mime = QString::fromLatin1(typeText).toLower();
    g_free(typeText);
    GMimePart* part = GMIME_PART(object);
    if (mime.endsWith(QLatin1String("delivery-status"))) {
        g.dsn.push_back(toUnicode(partBytes(part), nullptr));
    } else if (mime == QLatin1String("message/feedback-report")) {
        g.feedback += toUnicode(partBytes(part), nullptr);
    } else if (mime.endsWith(QLatin1String("rfc822-headers")) ||
               mime == QLatin1String("message/rfc822")) {
        if (g.returnedHeaders.isEmpty())
            g.returnedHeaders = toUnicode(partBytes(part), nullptr);
    } else if (!returned && mime.startsWith(QLatin1String("text/"))) {
        const char* charset = g_mime_object_get_content_type_parameter(object, "charset");
        QString text = toUnicode(partBytes(part), charset);
        if (mime == QLatin1String("text/html")) {
            if (!g.text.isEmpty())
                return;  // the plain alternative already said it
            text = withoutTags(text);
        }
        g.text += text;
        g.text += QLatin1Char('\n');
    }
}

// "Name: value" fields of a block, continuation lines joined; names lower case.
using Fields = std::vector<std::pair<QString, QString>>;
QString field(const Fields& f, const char* name) {
    for (const auto& [key, value] : f)
        if (key == QLatin1String(name))
            return value;
    return {};
}

std::vector<Fields> fieldBlocks(const QString& content) {
    std::vector<Fields> blocks(1);
    const QStringList lines = QString(content).replace(QLatin1String("\r"), QString()).split('\n');
    for (const QString& line : lines) {
        if (line.trimmed().isEmpty()) {
            if (!blocks.back().empty())
                blocks.emplace_back();
            continue;
        }
        if ((line[0] == QLatin1Char(' ') || line[0] == QLatin1Char('\t')) &&
            !blocks.back().empty()) {
            blocks.back().back().second += QLatin1Char(' ') + line.trimmed();
            continue;
        }
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0)
            continue;
        const QString key = line.left(colon).trimmed().toLower();
        // some servers leave out the blank line between recipients
        if (key == QLatin1String("final-recipient") &&
            !field(blocks.back(), "final-recipient").isEmpty())
            blocks.emplace_back();
        blocks.back().emplace_back(key, line.mid(colon + 1).trimmed());
    }
    if (blocks.back().empty())
        blocks.pop_back();
    return blocks;
}

const QRegularExpression& addressPattern() {
    static const QRegularExpression re(
        QStringLiteral("[A-Za-z0-9!#$%&'*+/=?^_`{|}~.\\-]+@[A-Za-z0-9\\-]+(\\.[A-Za-z0-9\\-]+)+"));
    return re;
}

// The address in "rfc822; <a@b>" or "Name <a@b>"; empty when there is none.
QString addressIn(const QString& text) {
    const QRegularExpressionMatch m = addressPattern().match(text);
    if (!m.hasMatch())
        return {};
    QString a = m.captured(0).toLower();
    while (a.startsWith(QLatin1Char('.')))
        a.remove(0, 1);
    while (a.endsWith(QLatin1Char('.')) || a.endsWith(QLatin1Char('-')))
        a.chop(1);
    return a;
}

QString oneLine(QString text) {
    static const QRegularExpression space(QStringLiteral("\\s+"));
    return text.replace(space, QStringLiteral(" ")).trimmed();
}

QString statusIn(const QString& text) {
    static const QRegularExpression re(
        QStringLiteral("(?<![\\d.])([245])\\.(\\d{1,3})\\.(\\d{1,3})(?![\\d.]*\\d)"));
    const QRegularExpressionMatch m = re.match(text);
    return m.hasMatch() ? m.captured(0) : QString();
}

// The last code of a text: where relays quote each other, the one nearest the mailbox.
QString lastStatusIn(const QString& text) {
    static const QRegularExpression re(
        QStringLiteral("(?<![\\d.])([245])\\.(\\d{1,3})\\.(\\d{1,3})(?![\\d.]*\\d)"));
    QString last;
    QRegularExpressionMatchIterator it = re.globalMatch(text);
    while (it.hasNext()) {
        const QString code = it.next().captured(0);
        if (!code.startsWith(QLatin1Char('2')))  // a step of the dialogue that went well
            last = code;
    }
    return last;
}

// The first refusal's reply code: a 2xx or 3xx is a step of the dialogue that went well.
QString replyCodeIn(const QString& text) {
    static const QRegularExpression re(
        QStringLiteral("(?<![\\d.#\\-])(?<!\\d:)([45][0-5]\\d)(?=[ \\-,:]|$)(?![\\-]\\d)"));
    const QRegularExpressionMatch m = re.match(text);
    return m.hasMatch() ? m.captured(1) : QString();
}

// Separators after which a text bounce quotes the returned message.
qsizetype returnedMessageStart(const QString& text) {
    static const QRegularExpression re(
        QStringLiteral("^[ \\t]*(-+ ?(Below this line is a copy|This is a copy|Original message|"
                       "The header of the original|Original Message|Returned message|"
                       "Undelivered message|Message header follows|Unsent Message below)|"
                       "(Return-Path|Received|Message-I[Dd]|X-Mailer): ?|"
                       "-+ ?(Begin|Start) of (returned|original) message)"),
        QRegularExpression::MultilineOption | QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(text);
    return m.hasMatch() ? m.capturedStart() : -1;
}

bool isSystemAddress(const QString& a) {
    static const QRegularExpression re(
        QStringLiteral("^(mailer-daemon|postmaster|mail-daemon|mailer_daemon|root|"
                       "bounce[s]?|no-?reply|daemon)@"),
        QRegularExpression::CaseInsensitiveOption);
    return re.match(a).hasMatch();
}

struct Candidate {
    QString address;
    QString context;  // the lines that speak of it
};

// Recipients of a bounce written for people: the addresses that begin a line (qmail,
// Exim, Sendmail and most others list them so), else the first address of the text.
std::vector<Candidate> recipientsInText(const QString& text, const QSet<QString>& excluded) {
    std::vector<Candidate> out;
    const QStringList lines = text.split(QLatin1Char('\n'));
    static const QRegularExpression lead(
        QStringLiteral(
            "^[\\s>\"']*(?:\\d{3}[ \\-](?:\\d\\.\\d{1,3}\\.\\d{1,3} )?)?(?:(?:recipient "
            "address|recipient|original[- "
            "]recipient|to|address|user|for)(?![\\w.\\-])\\s*[:=]?\\s*)?<?"
            "(?:rfc822;\\s*)?([^\\s<>@\"]+@[A-Za-z0-9.\\-]+)>?\"?\\s*(?:\\.\\.\\.|:|\\(|$|\\s)"),
        QRegularExpression::CaseInsensitiveOption);
    // Sendmail's transcript moves on to another host: what follows is about its recipients
    static const QRegularExpression nextHostInTranscript(
        QStringLiteral("^\\s*(While talking to |\\d{3} [\\w.\\-\\[\\]]+ \\(\\w+\\)\\.\\.\\. )"));
    // and quotes its dialogue with a host before the recipient the host refused
    static const QRegularExpression dialogue(QStringLiteral("^\\s*(>>>|<<<) "));
    QSet<QString> seen;
    QString ownAddress, dialogueSaid;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].trimmed().startsWith(QLatin1String("While talking to")))
            dialogueSaid.clear();
        if (dialogue.match(lines[i]).hasMatch())
            dialogueSaid += lines[i] + QLatin1Char(' ');
        const QRegularExpressionMatch m = lead.match(lines[i]);
        if (!m.hasMatch())
            continue;
        const QString said = std::exchange(dialogueSaid, QString());
        const QString a = addressIn(m.captured(1));
        if (a.isEmpty() || isSystemAddress(a) || seen.contains(a))
            continue;
        if (excluded.contains(a)) {
            // a test mail to oneself names the sender as the recipient: the last resort
            if (ownAddress.isEmpty())
                ownAddress = a;
            continue;
        }
        seen.insert(a);
        QString context = said + lines[i];
        for (qsizetype j = i + 1; j < lines.size() && j < i + 8; ++j) {
            if (lines[j].trimmed().isEmpty() && j > i + 1)
                break;
            const QRegularExpressionMatch next = lead.match(lines[j]);
            if ((next.hasMatch() && addressIn(next.captured(1)) != a) ||
                nextHostInTranscript.match(lines[j]).hasMatch())
                break;
            context += QLatin1Char(' ') + lines[j];
        }
        out.push_back({a, oneLine(context)});
    }
    if (!out.empty())
        return out;
    QRegularExpressionMatchIterator it = addressPattern().globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QString a = addressIn(m.captured(0));
        if (a.isEmpty() || excluded.contains(a) || isSystemAddress(a))
            continue;
        // an identifier such as a Message-ID, not an address
        const qsizetype before = m.capturedStart();
        if (before > 0 && text[before - 1] == QLatin1Char('<') &&
            a.count(QRegularExpression(QStringLiteral("\\d"))) > 12)
            continue;
        const qsizetype lineStart = text.lastIndexOf(QLatin1Char('\n'), before) + 1;
        qsizetype lineEnd = text.indexOf(QLatin1Char('\n'), m.capturedEnd());
        for (int n = 0; n < 3 && lineEnd >= 0; ++n)
            lineEnd = text.indexOf(QLatin1Char('\n'), lineEnd + 1);
        out.push_back({a, oneLine(text.mid(lineStart, lineEnd < 0 ? -1 : lineEnd - lineStart))});
        break;
    }
    if (out.empty() && !ownAddress.isEmpty()) {
        const qsizetype at = text.indexOf(ownAddress, 0, Qt::CaseInsensitive);
        out.push_back({ownAddress, oneLine(text.mid(at, 400))});
    }
    return out;
}

QString headerIn(const QString& block, const char* name) {
    const QRegularExpression re(
        QStringLiteral("^%1:[ \\t]*(.*(?:\\r?\\n[ \\t].*)*)").arg(QLatin1String(name)),
        QRegularExpression::MultilineOption | QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(block);
    return m.hasMatch() ? oneLine(m.captured(1)) : QString();
}

QString cstr(const char* s) {
    return s ? QString::fromUtf8(s) : QString();
}

QString decodedHeader(GMimeObject* object, const char* name) {
    const char* raw = g_mime_object_get_header(object, name);
    if (!raw)
        return {};
    char* decoded = g_mime_utils_header_decode_text(nullptr, raw);
    QString out = cstr(decoded);
    g_free(decoded);
    return oneLine(out);
}

void trackingIdsIn(const QByteArray& raw, const QString& returned, QStringList& out) {
    static const QRegularExpression re(QStringLiteral("\\bpw1-[0-9a-f]{16}-[0-9a-f]{32}\\b"));
    for (const QString& text : {QString::fromLatin1(raw), returned}) {
        QRegularExpressionMatchIterator it = re.globalMatch(text);
        while (it.hasNext()) {
            const QString id = it.next().captured(0);
            if (!out.contains(id))
                out.append(id);
        }
    }
}

// Amazon SES notifications posted as JSON.
bool readSesJson(const QString& text, BounceReport& report) {
    const qsizetype open = text.indexOf(QLatin1String("{\"notificationType\""));
    if (open < 0)
        return false;
    const qsizetype close = text.lastIndexOf(QLatin1Char('}'));
    const QJsonObject root =
        QJsonDocument::fromJson(text.mid(open, close - open + 1).toUtf8()).object();
    const QString type = root.value(QLatin1String("notificationType")).toString();
    if (type == QLatin1String("Complaint")) {
        report.type = ReportType::Complaint;
        const QJsonArray list = root.value(QLatin1String("complaint"))
                                    .toObject()
                                    .value(QLatin1String("complainedRecipients"))
                                    .toArray();
        for (const QJsonValue& r : list)
            report.recipients.push_back(
                {r.toObject().value(QLatin1String("emailAddress")).toString().toLower(),
                 {},
                 {},
                 QStringLiteral("feedback"),
                 BounceKind::Complaint,
                 {},
                 {}});
        return !list.isEmpty();
    }
    if (type == QLatin1String("Delivery")) {
        const QJsonObject d = root.value(QLatin1String("delivery")).toObject();
        const QString response = d.value(QLatin1String("smtpResponse")).toString();
        for (const QJsonValue& r : d.value(QLatin1String("recipients")).toArray())
            report.recipients.push_back({r.toString().toLower(),
                                         statusIn(response),
                                         replyCodeIn(response),
                                         QStringLiteral("delivered"),
                                         BounceKind::Delivered,
                                         response,
                                         {}});
        report.type = ReportType::Bounce;
        return !report.recipients.empty();
    }
    if (type != QLatin1String("Bounce"))
        return false;
    const QJsonObject b = root.value(QLatin1String("bounce")).toObject();
    const bool transient =
        b.value(QLatin1String("bounceType")).toString() != QLatin1String("Permanent");
    for (const QJsonValue& v : b.value(QLatin1String("bouncedRecipients")).toArray()) {
        const QJsonObject r = v.toObject();
        RecipientOutcome o;
        o.recipient = r.value(QLatin1String("emailAddress")).toString().toLower();
        o.diagnostic = oneLine(r.value(QLatin1String("diagnosticCode")).toString());
        o.status = r.value(QLatin1String("status")).toString();
        o.replyCode = replyCodeIn(o.diagnostic);
        if (o.status.isEmpty())
            o.status = statusIn(o.diagnostic);
        o.reason = reasonOf(o.status, o.replyCode, o.diagnostic);
        if (o.status.isEmpty())
            o.status = pseudoStatus(o.reason, transient);
        if (o.status.isEmpty())
            o.status = standardStatus(o.reason, transient);
        o.kind = kindOf(o.reason, o.status);
        report.recipients.push_back(o);
    }
    report.type = ReportType::Bounce;
    return !report.recipients.empty();
}

// RFC 3834 and the common markers of vacation replies.
bool looksAutoReplied(GMimeObject* top, const QString& subject) {
    const QString submitted = decodedHeader(top, "Auto-Submitted").toLower();
    if (submitted.startsWith(QLatin1String("auto-replied")))
        return true;
    if (g_mime_object_get_header(top, "X-Autoreply") ||
        g_mime_object_get_header(top, "X-Autorespond") ||
        g_mime_object_get_header(top, "X-Vacation"))
        return true;
    if (decodedHeader(top, "Precedence").toLower() == QLatin1String("auto_reply"))
        return true;
    static const QRegularExpression re(
        QStringLiteral("^(auto(matic)?[ -]?(reply|response|respons|antwort)|out of (the )?office|"
                       "away( from| until)|vacation|abwesen|absence|自動応答|自動返信|不在)"),
        QRegularExpression::CaseInsensitiveOption);
    return re.match(subject.trimmed()).hasMatch() ||
           decodedHeader(top, "X-Auto-Response-Suppress").isEmpty() == false;
}

bool looksLikeBounce(const QString& from, const QString& subject, const QString& text) {
    static const QRegularExpression sender(
        QStringLiteral("mailer-daemon|postmaster|mail delivery|mail-daemon|mailer_daemon|"
                       "delivery subsystem|bounce"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression words(
        QStringLiteral("undeliver|undelivered|delivery (status|failure|has failed|failed|problem)|"
                       "failure notice|returned mail|not delivered|could not be delivered|"
                       "delivery notification|mail system error|non-?delivery|nicht zustellbar|"
                       "unzustellbar|error|failed|rejected|配信|送信できません|エラー"),
        QRegularExpression::CaseInsensitiveOption);
    return sender.match(from).hasMatch() || words.match(subject).hasMatch() ||
           text.contains(QLatin1String("X-Failed-Recipients"));
}

// Whether a filtering gateway wrote the report: its "unknown user" comes from its own list
// of addresses, not from the mailbox, so it is counted rather than believed.
bool fromFilteringGateway(const QByteArray& raw) {
    static const QRegularExpression gateway(QStringLiteral("mcafee|m-filter|mxlogic|surfcontrol"),
                                            QRegularExpression::CaseInsensitiveOption);
    const qsizetype end = raw.indexOf("\n\n");
    return gateway.match(QString::fromLatin1(raw.left(end < 0 ? 8192 : end))).hasMatch();
}

// Who wrote the failure: a server, a filtering gateway, or the local delivery program a
// mailbox is fed through (a "|command" recipient, an "X-Unix" exit code).
enum class Writer { Server, FilteringGateway, LocalProgram };

// Whether a delivery status block names a program as the recipient or its exit code as the
// diagnostic (RFC 3464's diagnostic type for the local mailer).
bool toLocalProgram(const QString& actualRecipient, const QString& diagnostic) {
    static const QRegularExpression pipe(QStringLiteral("^[\\w\\-]+;\\s*\"?\\|"));
    return pipe.match(actualRecipient).hasMatch() ||
           diagnostic.startsWith(QLatin1String("x-unix;"), Qt::CaseInsensitive);
}

// The words around the recipient's address in a text report that hold a code
// ("553 5.3.0 <a@b>... No such user here").
QString codeBesideAddress(const QString& text, const QString& address) {
    constexpr qsizetype kNear = 40;
    for (qsizetype at = text.indexOf(address, 0, Qt::CaseInsensitive); at >= 0;
         at = text.indexOf(address, at + 1, Qt::CaseInsensitive)) {
        const qsizetype from = std::max<qsizetype>(0, at - kNear);
        const QString near = text.mid(from, at - from + address.size() + kNear);
        if (!lastStatusIn(near).isEmpty())
            return near.trimmed();
    }
    return {};
}

// Whether the recipient was refused in reply to DATA or the end of the message, after the
// server had accepted it at RCPT: Postfix's and Exim's words, or a transcript's ">>> DATA"
// answered by a "<<< 5xx" that names the address.
bool refusedAtData(const QString& near, const QString& whole, const QString& address) {
    static const QRegularExpression words(
        QStringLiteral("in reply to (end of )?DATA command|after end of data"),
        QRegularExpression::CaseInsensitiveOption);
    if (words.match(near).hasMatch())
        return true;
    if (address.isEmpty())
        return false;
    const QRegularExpression transcript(QStringLiteral(">>> DATA\\s*<<< [45]\\d\\d[^<>@]{0,40}<?") +
                                            QRegularExpression::escape(address),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = transcript.match(whole);
    // with pipelining (RFC 2920) the RCPT's refusal arrives after DATA, and the server then
    // answers DATA with "503 Need RCPT": the address was refused, not the message
    static const QRegularExpression noRecipient(
        QStringLiteral("<<< 503|need rcpt|no valid recipients"),
        QRegularExpression::CaseInsensitiveOption);
    return m.hasMatch() && !noRecipient.match(whole.mid(m.capturedEnd(), 300)).hasMatch();
}

// Whether the report shows the refusal was the answer to RCPT: the step named, or the words
// Postfix and others give only there.
bool answeredRcpt(const QString& text) {
    static const QRegularExpression rcpt(
        QStringLiteral("in reply to RCPT|after RCPT|RCPT TO command|RCPT command|>>> RCPT|"
                       "\\[RCPT_TO\\]|SMTP:RCPT|recipient address rejected|need rcpt"),
        QRegularExpression::CaseInsensitiveOption);
    return rcpt.match(text).hasMatch();
}

// whole: the report's subject and text on one line, where the dialogue with the server may be
// quoted; soleCode: the code a report on this recipient alone gives somewhere.
void finish(RecipientOutcome& o, const QString& dsnStatus, const QString& action,
            const QString& extraText, Writer writer, const QString& whole = {},
            const QString& soleCode = {}) {
    const QString text = o.diagnostic.isEmpty() ? extraText : o.diagnostic;
    const QString codeInText = lastStatusIn(text);
    o.replyCode = replyCodeIn(text);
    if (o.replyCode.isEmpty() && text != extraText)
        o.replyCode = replyCodeIn(extraText);
    QString status = dsnStatus;
    // the server's own code says more than the reporting relay's summary
    if (!codeInText.isEmpty() && (status.isEmpty() || codeInText.at(0) == status.at(0)))
        status = codeInText;
    if (status.isEmpty() && !o.recipient.isEmpty() && text != extraText) {
        // the server's words beside it are the diagnostic
        const QString beside = codeBesideAddress(extraText, o.recipient);
        if (!beside.isEmpty()) {
            o.diagnostic = beside;
            status = lastStatusIn(beside);
        }
    }
    if (status.isEmpty())
        status = soleCode;
    o.reason = reasonOf(status, o.replyCode, o.diagnostic, extraText);
    // the server took the recipient at RCPT and refused only the message: the address
    // exists, and its "unknown user" is a filter's answer
    if (o.reason == QLatin1String("userunknown") &&
        refusedAtData(o.diagnostic + QLatin1Char(' ') + extraText, whole, o.recipient))
        o.reason = QStringLiteral("filtered");
    // refused at the greeting, before any command (RFC 5321 3.1): the server refused our host,
    // whatever broad words it gave
    static const QRegularExpression greeting(
        QStringLiteral("refused to talk to me|after initial connection"),
        QRegularExpression::CaseInsensitiveOption);
    static const QStringList broad = {QStringLiteral("filtered"), QStringLiteral("onhold"),
                                      QStringLiteral("systemerror")};
    if (broad.contains(o.reason) &&
        greeting.match(o.diagnostic + QLatin1Char(' ') + extraText).hasMatch())
        o.reason = QStringLiteral("blocked");
    // Sendmail returns a message whose queue time ran out with the last deferral's words, some
    // servers say so in the action, others call a failure permanent whose only cause was
    // temporary: the failure is the expiry (RFC 3463 X.4.7), the deferral only why it never
    // got through
    const QString act = action.toLower();
    static const QRegularExpression permanent(
        QStringLiteral("this is a permanent error|failed permanently"),
        QRegularExpression::CaseInsensitiveOption);
    const bool temporaryCause =
        status.startsWith(QLatin1Char('4')) || (status.isEmpty() && o.replyCode.startsWith('4'));
    static const QRegularExpression gaveUp(
        QStringLiteral("(cannot|could not|couldn't) send (the )?message for (the )?(past )?"
                       "\\d+ (days?|hours?)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QStringList interim = {QStringLiteral("networkerror"),
                                        QStringLiteral("systemerror"), QStringLiteral("onhold")};
    if (interim.contains(o.reason) &&
        (gaveUp.match(whole).hasMatch() || act.startsWith(QLatin1String("expired")) ||
         (temporaryCause && permanent.match(whole).hasMatch())))
        o.reason = QStringLiteral("expired");
    // a bare "unknown user" with no code and nothing to show it answered the RCPT is also
    // what filters say after DATA: counted, not believed. A directory's own answer ("not
    // listed in", "recipient name is not recognized") is the mailbox's system speaking.
    static const QRegularExpression bare(
        QStringLiteral("user unknown|unknown user|no such user|invalid (address|recipient)|"
                       "doesn't have an? \\S+ account|mailbox unavailable"),
        QRegularExpression::CaseInsensitiveOption);
    if (o.reason == QLatin1String("userunknown") && status.isEmpty() &&
        bare.match(text + QLatin1Char(' ') + extraText).hasMatch() &&
        !answeredRcpt(text + QLatin1Char(' ') + extraText))
        o.reason = QStringLiteral("filtered");
    // a name that could not be resolved for now is the network's failure, not the domain's
    if (o.reason == QLatin1String("hostunknown") &&
        (status.startsWith(QLatin1Char('4')) || (status.isEmpty() && o.replyCode.startsWith('4'))))
        o.reason = QStringLiteral("networkerror");
    // the Japanese carriers answer "unknown user" when their reception filter refuses
    const bool serverSaidUnknown = status.mid(1) == QLatin1String(".1.1");
    if (o.reason == QLatin1String("userunknown") &&
        (o.recipient.contains(QLatin1String("docomo")) ||
         extraText.contains(QLatin1String("docomo.ne.jp")) ||
         (writer == Writer::FilteringGateway && !serverSaidUnknown) ||
         status.mid(1, 2) == QLatin1String(".7")))  // a policy refusal worded as unknown user
        o.reason = QStringLiteral("filtered");
    // a program's exit says nothing of the mailbox unless its words do
    static const QStringList ofTheMailbox = {
        QStringLiteral("mailboxfull"), QStringLiteral("userunknown"), QStringLiteral("suspend"),
        QStringLiteral("systemfull"), QStringLiteral("mesgtoobig")};
    if (writer == Writer::LocalProgram && !ofTheMailbox.contains(o.reason))
        o.reason = QStringLiteral("mailererror");

    if (act.startsWith(QLatin1String("delivered")) || act.startsWith(QLatin1String("relayed")) ||
        act.startsWith(QLatin1String("expanded")) || dsnStatus.startsWith(QLatin1Char('2')))
        o.reason = QStringLiteral("delivered");
    if (status.isEmpty()) {
        static const QRegularExpression later(
            QStringLiteral("will be retried|will retry|try again later|delayed|temporar"),
            QRegularExpression::CaseInsensitiveOption);
        const bool transient = act.startsWith(QLatin1String("delayed")) ||
                               o.replyCode.startsWith(QLatin1Char('4')) ||
                               later.match(text).hasMatch();
        status = pseudoStatus(o.reason, transient);
        if (!o.replyCode.isEmpty() && status.isEmpty())
            status = o.replyCode.left(1) + QStringLiteral(".0.0");
        if (status.isEmpty())
            status = standardStatus(o.reason, transient);
    }
    o.status = status;
    o.kind = kindOf(o.reason, o.status);
}

BounceReport readParsed(GMimeMessage* message, const QByteArray& raw) {
    BounceReport report;
    GMimeObject* top = GMIME_OBJECT(message);
    report.subject = oneLine(cstr(g_mime_message_get_subject(message)));
    if (GDateTime* date = g_mime_message_get_date(message))
        report.date = QDateTime::fromSecsSinceEpoch(
            g_date_time_to_unix(date),
            QTimeZone(static_cast<int>(g_date_time_get_utc_offset(date) / G_TIME_SPAN_SECOND)));
    QString from;
    if (InternetAddressList* list = g_mime_message_get_from(message)) {
        char* s = internet_address_list_to_string(list, nullptr, FALSE);
        from = cstr(s);
        g_free(s);
    }

    const Writer writer = fromFilteringGateway(raw) ? Writer::FilteringGateway : Writer::Server;
    Gathered g;
    if (GMimeObject* body = g_mime_message_get_mime_part(message))
        walk(body, g, false);
    trackingIdsIn(raw, g.returnedHeaders, report.trackingIds);
    if (g.text.isEmpty() && g.dsn.empty()) {
        // a structure GMime could not take apart: read the body as text
        const qsizetype body =
            raw.indexOf("\n\n") >= 0 ? raw.indexOf("\n\n") : raw.indexOf("\r\n\r\n");
        if (body >= 0)
            g.text = toUnicode(raw.mid(body), nullptr);
    }

    // the human part ends where a quoted copy of the returned message begins
    QString text = g.text;
    QString quoted;
    const qsizetype cut = returnedMessageStart(text);
    if (cut > 0) {
        quoted = text.mid(cut);
        text.truncate(cut);
    }
    if (g.returnedHeaders.isEmpty())
        g.returnedHeaders = quoted;

    report.from = addressIn(from);
    QSet<QString> excluded;
    excluded.insert(report.from);
    if (InternetAddressList* to = g_mime_message_get_addresses(message, GMIME_ADDRESS_TYPE_TO)) {
        char* s = internet_address_list_to_string(to, nullptr, FALSE);
        excluded.insert(addressIn(cstr(s)));
        g_free(s);
    }
    report.returnedTo = addressIn(headerIn(g.returnedHeaders, "To"));
    const QString returnedFrom = addressIn(headerIn(g.returnedHeaders, "From"));
    if (!returnedFrom.isEmpty())
        excluded.insert(returnedFrom);

    // complaint reports (RFC 5965)
    const QString reportType = cstr(g_mime_object_get_content_type_parameter(
                                        g_mime_message_get_mime_part(message), "report-type"))
                                   .toLower();
    if (!g.feedback.isEmpty() || reportType == QLatin1String("feedback-report")) {
        report.type = ReportType::Complaint;
        QStringList rcpts;
        for (const Fields& f : fieldBlocks(g.feedback))
            for (const auto& [key, value] : f)
                if (key == QLatin1String("original-rcpt-to") ||
                    key == QLatin1String("removal-recipient"))
                    rcpts.append(addressIn(value));
        if (rcpts.isEmpty())
            rcpts.append(addressIn(headerIn(g.returnedHeaders, "To")));
        for (const QString& r : rcpts)
            report.recipients.push_back(
                {r, {}, {}, QStringLiteral("feedback"), BounceKind::Complaint, {}, {}});
        return report;
    }
    // Microsoft's junk mail reports return the message whole, with no report part; the
    // address that called it junk is in a header of theirs. A bounce of mail that once
    // passed through Hotmail carries that header too, so the report's subject must say it.
    const QString junkReporter = headerIn(g.returnedHeaders, "X-HmXmrOriginalRecipient");
    if (g.dsn.empty() && !junkReporter.isEmpty() &&
        report.subject.startsWith(QLatin1String("complaint about message from"),
                                  Qt::CaseInsensitive)) {
        report.type = ReportType::Complaint;
        report.recipients.push_back({addressIn(junkReporter),
                                     {},
                                     {},
                                     QStringLiteral("feedback"),
                                     BounceKind::Complaint,
                                     {},
                                     {}});
        return report;
    }
    if (readSesJson(g.text, report))
        return report;

    // delivery status notifications (RFC 3464); some servers write theirs into the text
    if (g.dsn.empty()) {
        static const QRegularExpression fields(
            QStringLiteral("^(Reporting-MTA|Final-Recipient):"),
            QRegularExpression::MultilineOption | QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch m = fields.match(g.text);
        if (m.hasMatch())
            g.dsn.push_back(g.text.mid(m.capturedStart()));
    }
    // the report's subject and its words, where the dialogue with the server may be quoted
    const QString whole = report.subject + QLatin1Char(' ') + oneLine(text);
    // in a report on one recipient all the human part's words are about it
    qsizetype blocks = 0;
    for (const QString& dsn : g.dsn)
        for (const Fields& f : fieldBlocks(dsn))
            blocks += field(f, "final-recipient").isEmpty() ? 0 : 1;
    for (const QString& dsn : g.dsn) {
        for (const Fields& f : fieldBlocks(dsn)) {
            QString rcpt = addressIn(field(f, "final-recipient"));
            const QString original = addressIn(field(f, "original-recipient"));
            if (rcpt.isEmpty())
                rcpt = original;
            if (rcpt.isEmpty())
                continue;
            RecipientOutcome o;
            o.recipient = rcpt;
            o.diagnostic = oneLine(field(f, "diagnostic-code"));
            static const QRegularExpression type(QStringLiteral("^[A-Za-z\\-]+;\\s*"));
            o.diagnostic.remove(type);
            // the human part's words about this recipient complete a bare code
            QString near;
            for (const Candidate& c : recipientsInText(text, excluded))
                if (c.address == rcpt)
                    near = c.context;
            const bool nearSaysWhy =
                !near.isEmpty() && reasonOf({}, {}, near) != QLatin1String("onhold");
            const bool useNear = nearSaysWhy || (!near.isEmpty() && blocks > 1);
            const bool program =
                toLocalProgram(field(f, "x-actual-recipient"), field(f, "diagnostic-code"));
            finish(o, statusIn(field(f, "status")), field(f, "action"),
                   useNear ? near : oneLine(text), program ? Writer::LocalProgram : writer, whole);
            report.recipients.push_back(o);
        }
    }
    if (!report.recipients.empty()) {
        report.type = ReportType::Bounce;
        return report;
    }

    const bool bounce = looksLikeBounce(from, report.subject, text) ||
                        g_mime_object_get_header(top, "X-Failed-Recipients");
    // The sender of the mail itself is the one recipient it speaks for.
    const auto fromSender = [&](ReportType type, const char* reason, BounceKind kind) {
        report.type = type;
        report.recipients.push_back({addressIn(from),
                                     {},
                                     {},
                                     QString::fromLatin1(reason),
                                     kind,
                                     oneLine(report.subject),
                                     {}});
        return report;
    };
    // a mail program's own opt-out, sent in the user's name: the address asks to be mailed
    // no more, as a complaint does
    if (!bounce && decodedHeader(top, "X-Apple-Unsubscribe")
                           .compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return fromSender(ReportType::Complaint, "feedback", BounceKind::Complaint);
    if (!bounce && looksAutoReplied(top, report.subject))
        return fromSender(ReportType::AutoReply, "vacation", BounceKind::AutoReply);

    std::vector<Candidate> found;
    const QString failed = decodedHeader(top, "X-Failed-Recipients");
    if (!failed.isEmpty()) {
        const std::vector<Candidate> inText = recipientsInText(text, excluded);
        for (const QString& part : failed.split(QLatin1Char(','))) {
            const QString a = addressIn(part);
            if (a.isEmpty())
                continue;
            Candidate c{a, {}};
            for (const Candidate& t : inText)
                if (t.address == a)
                    c.context = t.context;
            found.push_back(c);
        }
    }
    if (found.empty())
        found = recipientsInText(text, excluded);
    if (found.empty()) {
        const QString to = addressIn(headerIn(g.returnedHeaders, "To"));
        if (!to.isEmpty())
            found.push_back({to, {}});
    }
    if (found.empty() && !bounce)
        return report;
    report.type = ReportType::Bounce;
    if (found.empty())
        found.push_back({});
    // a report on one recipient: a code anywhere in it is about that recipient
    const QString onlyCode = found.size() == 1 ? lastStatusIn(text) : QString();
    for (const Candidate& c : found) {
        RecipientOutcome o;
        o.recipient = c.address;
        o.diagnostic = c.context;
        finish(o, {}, {}, oneLine(text), writer, whole, onlyCode);
        report.recipients.push_back(o);
    }
    return report;
}

std::vector<BounceReport> parse(const QByteArray& data, bool mbox) {
    initGMime();
    std::vector<BounceReport> out;
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(data.constData(), data.size());
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    g_mime_parser_set_format(parser, mbox ? GMIME_FORMAT_MBOX : GMIME_FORMAT_MESSAGE);
    while (!g_mime_parser_eos(parser)) {
        const gint64 start = g_mime_parser_tell(parser);
        GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
        if (!message)
            break;
        const gint64 end = g_mime_parser_tell(parser);
        out.push_back(readParsed(message, data.mid(start, end - start)));
        g_object_unref(message);
        if (!mbox)
            break;
    }
    g_object_unref(parser);
    g_object_unref(stream);
    return out;
}

}  // namespace

QString kindName(BounceKind kind) {
    switch (kind) {
        case BounceKind::Hard:
            return QStringLiteral("hard");
        case BounceKind::Soft:
            return QStringLiteral("soft");
        case BounceKind::Complaint:
            return QStringLiteral("complaint");
        case BounceKind::AutoReply:
            return QStringLiteral("auto-reply");
        case BounceKind::Delivered:
            return QStringLiteral("delivered");
    }
    return {};
}

void traceRecipients(BounceReport& report, const QByteArray& key) {
    for (RecipientOutcome& r : report.recipients) {
        if (r.recipient.isEmpty() && report.type == ReportType::Bounce)
            r.recipient = report.returnedTo;
        for (const QString& id : report.trackingIds)
            if (send::checkTrackingId(key, id, r.recipient, &r.runId) == send::TrackingMatch::Valid)
                break;
    }
}

BounceReport refusalReport(const QString& address, const QString& serverReply,
                           const QString& trackingId, const QDateTime& when) {
    BounceReport report;
    report.type = ReportType::Bounce;
    report.date = when;
    if (!trackingId.isEmpty())
        report.trackingIds.append(trackingId);
    RecipientOutcome o;
    o.recipient = address.trimmed().toLower();
    o.diagnostic = oneLine(serverReply);
    finish(o, {}, QStringLiteral("failed"), o.diagnostic, Writer::Server);
    report.recipients.push_back(o);
    return report;
}

BounceReport readReport(const QByteArray& message) {
    std::vector<BounceReport> all = parse(message, false);
    BounceReport report = all.empty() ? BounceReport{} : std::move(all.front());
    // enough to read the report; a returned message's attachments are not kept
    constexpr qsizetype kShownBytes = 64 * 1024;
    report.source = QString::fromUtf8(message.left(kShownBytes));
    return report;
}

std::vector<BounceReport> readMailFile(const QByteArray& data) {
    return parse(data, data.startsWith("From "));
}

}  // namespace pw::bounces
