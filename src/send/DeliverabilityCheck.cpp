#include "send/DeliverabilityCheck.h"

#include <QEventLoop>
#include <QHash>
#include <QHostAddress>
#include <QLocale>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <optional>

#include "resources/Strings.h"
#include "send/DnsLookup.h"
#include "send/MessageAssembly.h"
#include "send/SendFlow.h"
#include "send/SendRules.h"
#include "smtp/KTWSMTPException.h"
#include "smtp/KTWSMTPMessage.h"

namespace pw::send {

namespace {

constexpr int kBulkPerDay = 5000;               // Gmail's and Yahoo's bulk sender line
constexpr qint64 kGmailClipBytes = 102 * 1024;  // Gmail shows no more of an HTML part
constexpr int kSpamTimeoutMs = 120000;

// A provider the server belongs to: what its customers' SPF record includes, the DKIM
// selectors it signs with, and the largest message it takes.
struct Provider {
    QString name;
    QStringList hostSuffixes;
    QString spfInclude;
    QStringList dkimSelectors;
    qint64 sizeLimit = 0;
    // Domains of the provider's own mailboxes: it signs and sends for them itself.
    QStringList ownDomains;
};

const std::vector<Provider>& providers() {
    static const std::vector<Provider> all{
        {QStringLiteral("Microsoft 365"),
         {QStringLiteral("office365.com"), QStringLiteral("outlook.com")},
         QStringLiteral("spf.protection.outlook.com"),
         {QStringLiteral("selector1"), QStringLiteral("selector2")},
         qint64(35) * 1024 * 1024,
         {QStringLiteral("outlook.com"), QStringLiteral("hotmail.com"), QStringLiteral("live.com"),
          QStringLiteral("outlook.jp"), QStringLiteral("hotmail.co.jp")}},
        {QStringLiteral("Google"),
         {QStringLiteral("gmail.com"), QStringLiteral("googlemail.com")},
         QStringLiteral("_spf.google.com"),
         {QStringLiteral("google")},
         qint64(25) * 1024 * 1024,
         {QStringLiteral("gmail.com"), QStringLiteral("googlemail.com")}},
        {QStringLiteral("Yahoo"),
         {QStringLiteral("mail.yahoo.com")},
         QStringLiteral("_spf.mail.yahoo.com"),
         {},
         qint64(25) * 1024 * 1024,
         {QStringLiteral("yahoo.com"), QStringLiteral("ymail.com")}},
        {QStringLiteral("Amazon SES"),
         {QStringLiteral("amazonaws.com")},
         QStringLiteral("amazonses.com"),
         {},
         qint64(40) * 1024 * 1024,
         {}},
        {QStringLiteral("SendGrid"),
         {QStringLiteral("sendgrid.net")},
         QStringLiteral("sendgrid.net"),
         {},
         qint64(30) * 1024 * 1024,
         {}},
        {QStringLiteral("Mailgun"),
         {QStringLiteral("mailgun.org")},
         QStringLiteral("mailgun.org"),
         {},
         qint64(25) * 1024 * 1024,
         {}},
    };
    return all;
}

constexpr qint64 kCommonSizeLimit = qint64(25) * 1024 * 1024;

bool isWithin(const QString& host, const QString& domain) {
    return host == domain || host.endsWith(QLatin1Char('.') + domain);
}

const Provider* providerOf(const QString& smtpHost) {
    const QString h = smtpHost.trimmed().toLower();
    for (const Provider& p : providers()) {
        for (const QString& suffix : p.hostSuffixes) {
            if (isWithin(h, suffix))
                return &p;
        }
    }
    return nullptr;
}

QString domainOf(const QString& address) {
    const qsizetype at = address.lastIndexOf(QLatin1Char('@'));
    if (at <= 0)
        return {};
    QString d = address.mid(at + 1).trimmed().toLower();
    while (d.endsWith(QLatin1Char('.')))
        d.chop(1);
    return d;
}

// The part of a host name its owner registered: the last two labels, three under a
// second-level domain of a country ("example.co.jp").
QString registeredDomain(QString host) {
    host = host.toLower();
    if (host.startsWith(QLatin1String("www.")))
        host = host.mid(4);
    const QStringList labels = host.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    if (labels.size() <= 2)
        return labels.join(QLatin1Char('.'));
    const QString second = labels.at(labels.size() - 2);
    const bool countrySecondLevel = labels.last().size() == 2 && second.size() <= 3;
    return labels.mid(labels.size() - (countrySecondLevel ? 3 : 2)).join(QLatin1Char('.'));
}

Finding finding(FindingTopic topic, FindingLevel level, const QString& text,
                const QString& action = {}) {
    return Finding{topic, level, text, action};
}

QString fmt(int id, const QStringList& args) {
    return formatMessageText(str(id), args);
}

Finding lookupFailed(FindingTopic topic, const QString& name, const DnsAnswer& a) {
    return finding(topic, FindingLevel::Warning, fmt(ids::kCheckLookupFailed, {name, a.error}),
                   str(ids::kCheckLookupFailedAction));
}

QStringList recordsStartingWith(const DnsAnswer& a, const QString& tag) {
    QStringList out;
    for (const QString& r : a.records) {
        const QString t = r.trimmed();
        if (t.compare(tag, Qt::CaseInsensitive) == 0 ||
            t.startsWith(tag + QLatin1Char(' '), Qt::CaseInsensitive) ||
            t.startsWith(tag + QLatin1Char(';'), Qt::CaseInsensitive))
            out << t;
    }
    return out;
}

// ---- the sender ----

std::optional<Finding> checkSender(const DeliverabilityInput& in, const QString& fromDomain) {
    if (fromDomain.isEmpty())
        return finding(FindingTopic::Sender, FindingLevel::Problem,
                       fmt(ids::kCheckSenderNotAddress, {in.fromAddress}),
                       str(ids::kCheckSenderNotAddressAction));
    const QString accountDomain = domainOf(in.account);
    if (accountDomain.isEmpty())
        return std::nullopt;  // nobody signs in, or with a name that is no address
    if (accountDomain != fromDomain)
        return finding(FindingTopic::Sender, FindingLevel::Warning,
                       fmt(ids::kCheckSenderOtherDomain, {in.fromAddress, in.account}),
                       fmt(ids::kCheckSenderOtherDomainAction, {in.fromAddress}));
    return finding(FindingTopic::Sender, FindingLevel::Pass,
                   fmt(ids::kCheckSenderMatches, {in.fromAddress, in.account}));
}

// ---- the sender's domain in DNS ----

struct DomainAnswers {
    DnsAnswer spf, dmarc, mx;
    std::vector<DnsAnswer> dkim;  // per selector of the provider
};

bool recipientsBulk(const std::array<int, 3>& counts) {
    return std::any_of(counts.begin(), counts.end(), [](int n) { return n > kBulkPerDay; });
}

void checkSpf(const QString& domain, const QString& smtpHost, const Provider* provider,
              const DnsAnswer& answer, std::vector<Finding>& out) {
    if (answer.status == DnsStatus::Failed) {
        out.push_back(lookupFailed(FindingTopic::Spf, domain, answer));
        return;
    }
    const QStringList spf = recordsStartingWith(answer, QStringLiteral("v=spf1"));
    if (spf.isEmpty()) {
        out.push_back(finding(FindingTopic::Spf, FindingLevel::Problem,
                              fmt(ids::kCheckSpfMissing, {domain}),
                              fmt(ids::kCheckSpfMissingAction, {domain})));
        return;
    }
    if (spf.size() > 1) {
        out.push_back(finding(FindingTopic::Spf, FindingLevel::Problem,
                              fmt(ids::kCheckSpfSeveral, {domain, QString::number(spf.size())}),
                              str(ids::kCheckSpfSeveralAction)));
        return;
    }
    const QString record = spf.first();
    out.push_back(
        finding(FindingTopic::Spf, FindingLevel::Pass, fmt(ids::kCheckSpfFound, {domain, record})));
    const QString host = smtpHost.trimmed().toLower();
    if (host.isEmpty())
        return;
    const QString lower = record.toLower();
    if (provider) {
        const bool named = lower.contains(QStringLiteral("include:") + provider->spfInclude) ||
                           lower.contains(QStringLiteral("redirect=") + provider->spfInclude);
        if (named)
            out.push_back(finding(FindingTopic::SpfServer, FindingLevel::Pass,
                                  fmt(ids::kCheckSpfNamesProvider,
                                      {domain, provider->name, provider->spfInclude, host})));
        else
            out.push_back(
                finding(FindingTopic::SpfServer, FindingLevel::Warning,
                        fmt(ids::kCheckSpfLacksProvider,
                            {domain, provider->name, provider->spfInclude, host}),
                        fmt(ids::kCheckSpfLacksProviderAction, {domain, provider->spfInclude})));
        return;
    }
    // A server of the domain itself is covered by "a" or "mx"; another one must be named.
    const bool ownServer = isWithin(host, domain) &&
                           QRegularExpression(QStringLiteral("(^|\\s)[+~?]?(a|mx)([:/\\s]|$)"))
                               .match(lower)
                               .hasMatch();
    // a server named by its address is named so in the record, or not at all
    const bool named =
        QHostAddress(host).isNull() ? lower.contains(registeredDomain(host)) : lower.contains(host);
    if (ownServer || named)
        out.push_back(finding(FindingTopic::SpfServer, FindingLevel::Pass,
                              fmt(ids::kCheckSpfNamesServer, {domain, host})));
    else
        out.push_back(finding(FindingTopic::SpfServer, FindingLevel::Warning,
                              fmt(ids::kCheckSpfServerUnknown, {domain, host}),
                              fmt(ids::kCheckSpfServerUnknownAction, {host})));
}

void checkDmarc(const QString& domain, const DnsAnswer& answer, bool bulk,
                std::vector<Finding>& out) {
    const QString name = QStringLiteral("_dmarc.") + domain;
    if (answer.status == DnsStatus::Failed) {
        out.push_back(lookupFailed(FindingTopic::Dmarc, name, answer));
        return;
    }
    const QStringList dmarc = recordsStartingWith(answer, QStringLiteral("v=DMARC1"));
    if (dmarc.isEmpty()) {
        out.push_back(finding(
            FindingTopic::Dmarc, bulk ? FindingLevel::Problem : FindingLevel::Warning,
            fmt(ids::kCheckDmarcMissing, {domain}), fmt(ids::kCheckDmarcMissingAction, {domain})));
        return;
    }
    static const QRegularExpression policy(
        QStringLiteral("(?:^|;)\\s*p\\s*=\\s*(none|quarantine|reject)\\s*(?:;|$)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = policy.match(dmarc.first());
    if (dmarc.size() > 1 || !m.hasMatch()) {
        out.push_back(finding(FindingTopic::Dmarc, FindingLevel::Warning,
                              fmt(ids::kCheckDmarcBad, {domain, dmarc.join(QLatin1String(" | "))}),
                              str(ids::kCheckDmarcBadAction)));
        return;
    }
    out.push_back(finding(FindingTopic::Dmarc, FindingLevel::Pass,
                          fmt(ids::kCheckDmarcFound, {domain, m.captured(1).toLower()})));
}

void checkDkim(const QString& domain, const Provider& provider,
               const std::vector<DnsAnswer>& answers, std::vector<Finding>& out) {
    QStringList names;
    const DnsAnswer* failure = nullptr;
    for (size_t i = 0; i < answers.size(); ++i) {
        const QString name =
            provider.dkimSelectors.at(qsizetype(i)) + QStringLiteral("._domainkey.") + domain;
        names << name;
        const DnsAnswer& a = answers[i];
        if (a.status == DnsStatus::Failed) {
            failure = &a;
            continue;
        }
        for (const QString& r : a.records) {
            // a key with an empty "p=" is a revoked one
            static const QRegularExpression key(
                QStringLiteral("(?:^|;)\\s*p\\s*=\\s*[A-Za-z0-9+/]"));
            if (key.match(r).hasMatch()) {
                out.push_back(finding(FindingTopic::Dkim, FindingLevel::Pass,
                                      fmt(ids::kCheckDkimFound, {provider.name, domain, name})));
                return;
            }
        }
    }
    if (failure) {
        out.push_back(lookupFailed(FindingTopic::Dkim, names.join(QLatin1String(", ")), *failure));
        return;
    }
    out.push_back(finding(
        FindingTopic::Dkim, FindingLevel::Warning,
        fmt(ids::kCheckDkimMissing, {provider.name, domain, names.join(QLatin1String(", "))}),
        fmt(ids::kCheckDkimMissingAction, {provider.name, domain})));
}

void checkMx(const QString& domain, const DnsAnswer& answer, std::vector<Finding>& out) {
    if (answer.status == DnsStatus::Failed) {
        out.push_back(lookupFailed(FindingTopic::SenderMx, domain, answer));
        return;
    }
    // "0 ." (RFC 7505) says the domain takes no mail
    QStringList hosts = answer.records;
    hosts.removeAll(QString());
    hosts.removeAll(QStringLiteral("."));
    if (hosts.isEmpty()) {
        out.push_back(finding(FindingTopic::SenderMx, FindingLevel::Warning,
                              fmt(ids::kCheckMxMissing, {domain}),
                              fmt(ids::kCheckMxMissingAction, {domain})));
        return;
    }
    out.push_back(finding(FindingTopic::SenderMx, FindingLevel::Pass,
                          fmt(ids::kCheckMxFound, {domain, hosts.join(QLatin1String(", "))})));
}

// ---- the recipients ----

// Recipients at Gmail, Yahoo and Outlook.com.
std::array<int, 3> providerCounts(const QStringList& recipients) {
    std::array<int, 3> counts{0, 0, 0};
    for (const QString& r : recipients) {
        const QString d = domainOf(r);
        const QString first = d.section(QLatin1Char('.'), 0, 0);
        if (d == QLatin1String("gmail.com") || d == QLatin1String("googlemail.com"))
            ++counts[0];
        else if ((first == QLatin1String("yahoo") && d != QLatin1String("yahoo.co.jp")) ||
                 d == QLatin1String("ymail.com") || d == QLatin1String("rocketmail.com") ||
                 d == QLatin1String("aol.com"))
            ++counts[1];
        else if (first == QLatin1String("outlook") || first == QLatin1String("hotmail") ||
                 first == QLatin1String("live") || d == QLatin1String("msn.com"))
            ++counts[2];
    }
    return counts;
}

// ---- the message ----

struct MessageParts {
    QString html;
    QString text;
};

void collectParts(const smtp::CKTWSMTPBodyPart& part, MessageParts& out) {
    if (!part.isAttachment() && part.childCount() == 0) {
        const QString type = part.contentType().toLower();
        if (type.startsWith(QLatin1String("text/html")))
            out.html += part.text();
        else if (type.startsWith(QLatin1String("text/plain")) || type.isEmpty())
            out.text += part.text();
    }
    for (int i = 0; i < part.childCount(); ++i)
        collectParts(*part.child(i), out);
}

// The header fields of a rendered header, unfolded: name (lower case) and value.
QList<QPair<QString, QString>> headerFields(const QByteArray& header) {
    QList<QPair<QString, QString>> fields;
    for (const QByteArray& raw : header.split('\n')) {
        const QString line = QString::fromLatin1(raw).remove(QLatin1Char('\r'));
        if (line.isEmpty())
            continue;
        if ((line.startsWith(QLatin1Char(' ')) || line.startsWith(QLatin1Char('\t'))) &&
            !fields.isEmpty()) {
            fields.last().second += line;
            continue;
        }
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon > 0)
            fields.append({line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed()});
    }
    return fields;
}

QString fieldValue(const QList<QPair<QString, QString>>& fields, const QString& name) {
    for (const auto& f : fields) {
        if (f.first == name)
            return f.second;
    }
    return {};
}

QString visibleText(QString html) {
    static const QRegularExpression hidden(
        QStringLiteral("<(script|style|head)\\b.*?</\\1\\s*>"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
    static const QRegularExpression entity(QStringLiteral("&[#a-zA-Z0-9]+;"));
    html.remove(hidden);
    html.replace(tag, QStringLiteral(" "));
    html.replace(entity, QStringLiteral(" "));
    return html.simplified();
}

QString megabytes(qint64 bytes) {
    return QLocale::c().toString(double(bytes) / (1024.0 * 1024.0), 'f', 1);
}

void checkMessage(const DeliverabilityInput& in, const QByteArray& rendered,
                  const Provider* provider, bool bulk, std::vector<Finding>& out) {
    const smtp::CKTWSMTPMessage& m = *in.message;
    MessageParts parts;
    collectParts(m.rootPart(), parts);
    const bool hasHtml = !parts.html.trimmed().isEmpty();
    const bool hasText = !parts.text.trimmed().isEmpty();

    if (hasHtml && !hasText)
        out.push_back(finding(FindingTopic::PlainText, FindingLevel::Warning,
                              str(ids::kCheckPlainTextMissing),
                              str(ids::kCheckPlainTextMissingAction)));
    else
        out.push_back(
            finding(FindingTopic::PlainText, FindingLevel::Pass,
                    str(hasHtml ? ids::kCheckPlainTextPresent : ids::kCheckPlainTextOnly)));

    // size
    const qint64 limit = provider ? provider->sizeLimit : kCommonSizeLimit;
    const QString whose = provider ? provider->name : str(ids::kCheckMostProviders);
    const qint64 size = rendered.size();
    if (size > limit)
        out.push_back(finding(
            FindingTopic::Size, FindingLevel::Problem,
            fmt(ids::kCheckSizeTooLarge, {megabytes(size), QString::number(limit >> 20), whose}),
            str(ids::kCheckSizeTooLargeAction)));
    else
        out.push_back(finding(
            FindingTopic::Size, FindingLevel::Pass,
            fmt(ids::kCheckSizeOk, {megabytes(size), QString::number(limit >> 20), whose})));
    const qint64 htmlBytes = parts.html.toUtf8().size();
    if (htmlBytes > kGmailClipBytes)
        out.push_back(finding(FindingTopic::Size, FindingLevel::Warning,
                              fmt(ids::kCheckSizeClipped, {QString::number(htmlBytes / 1024)}),
                              str(ids::kCheckSizeClippedAction)));

    if (hasHtml) {
        const std::vector<LinkMismatch> links = misleadingLinks(parts.html);
        if (links.empty())
            out.push_back(
                finding(FindingTopic::Links, FindingLevel::Pass, str(ids::kCheckLinksOk)));
        for (const LinkMismatch& l : links)
            out.push_back(finding(FindingTopic::Links, FindingLevel::Warning,
                                  fmt(ids::kCheckLinkMismatch, {l.shown, l.target}),
                                  str(ids::kCheckLinkMismatchAction)));

        static const QRegularExpression img(QStringLiteral("<img\\b[^>]*>"),
                                            QRegularExpression::CaseInsensitiveOption);
        static const QRegularExpression alt(
            QStringLiteral("\\balt\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s>]+))"),
            QRegularExpression::CaseInsensitiveOption);
        int pictures = 0;
        int withoutAlt = 0;
        for (auto it = img.globalMatch(parts.html); it.hasNext();) {
            const QString tag = it.next().captured(0);
            ++pictures;
            const QRegularExpressionMatch a = alt.match(tag);
            if (!a.hasMatch() ||
                (a.captured(1) + a.captured(2) + a.captured(3)).trimmed().isEmpty())
                ++withoutAlt;
        }
        if (pictures > 0) {
            bool found = false;
            if (withoutAlt > 0) {
                out.push_back(finding(FindingTopic::Pictures, FindingLevel::Warning,
                                      fmt(ids::kCheckPicturesNoAlt,
                                          {QString::number(withoutAlt), QString::number(pictures)}),
                                      str(ids::kCheckPicturesNoAltAction)));
                found = true;
            }
            // a picture or two with a line under each is a picture mail to a filter
            if (visibleText(parts.html).size() < 200) {
                out.push_back(finding(FindingTopic::Pictures, FindingLevel::Warning,
                                      str(ids::kCheckPicturesLittleText),
                                      str(ids::kCheckPicturesLittleTextAction)));
                found = true;
            }
            if (!found)
                out.push_back(finding(FindingTopic::Pictures, FindingLevel::Pass,
                                      str(ids::kCheckPicturesOk)));
        }
    }

    // unsubscribe: the headers, and a way out the reader sees
    const QByteArray headerBytes = rendered.left(rendered.indexOf("\r\n\r\n") + 2);
    const auto fields = headerFields(headerBytes);
    const QString listUnsubscribe = fieldValue(fields, QStringLiteral("list-unsubscribe"));
    const QString post = fieldValue(fields, QStringLiteral("list-unsubscribe-post"));
    const FindingLevel missing = bulk ? FindingLevel::Problem : FindingLevel::Warning;
    if (listUnsubscribe.isEmpty())
        out.push_back(finding(FindingTopic::Unsubscribe, missing,
                              str(ids::kCheckUnsubscribeMissing),
                              str(ids::kCheckUnsubscribeAction)));
    else if (!post.contains(QLatin1String("List-Unsubscribe=One-Click"), Qt::CaseInsensitive) ||
             !listUnsubscribe.contains(QLatin1String("<https://"), Qt::CaseInsensitive))
        out.push_back(finding(FindingTopic::Unsubscribe, missing,
                              str(ids::kCheckUnsubscribeNoOneClick),
                              str(ids::kCheckUnsubscribeAction)));
    else
        out.push_back(finding(FindingTopic::Unsubscribe, FindingLevel::Pass,
                              str(ids::kCheckUnsubscribeOneClick)));
    static const QRegularExpression words(
        QStringLiteral("unsubscribe|opt[- ]?out|配信停止|配信解除|購読解除|登録解除|メール停止"),
        QRegularExpression::CaseInsensitiveOption);
    const QString host = QUrl(in.unsubscribe.url).host();
    const bool footer = in.unsubscribe.footer == FooterChoice::On ||
                        words.match(parts.text + parts.html).hasMatch() ||
                        (!host.isEmpty() && (parts.text + parts.html).contains(host));
    if (footer)
        out.push_back(
            finding(FindingTopic::Footer, FindingLevel::Pass, str(ids::kCheckFooterPresent)));
    else
        out.push_back(finding(FindingTopic::Footer, FindingLevel::Warning,
                              str(ids::kCheckFooterMissing), str(ids::kCheckFooterMissingAction)));

    // Message-ID: there, and another recipient's is another
    const QString id = fieldValue(fields, QStringLiteral("message-id"));
    QString otherId;
    if (in.another)
        otherId = fieldValue(headerFields(in.another->header()), QStringLiteral("message-id"));
    if (id.isEmpty())
        out.push_back(finding(FindingTopic::MessageId, FindingLevel::Problem,
                              str(ids::kCheckMessageIdMissing), str(ids::kCheckMessageIdAction)));
    else if (id == otherId)
        out.push_back(finding(FindingTopic::MessageId, FindingLevel::Problem,
                              fmt(ids::kCheckMessageIdRepeated, {id}),
                              str(ids::kCheckMessageIdAction)));
    else
        out.push_back(
            finding(FindingTopic::MessageId, FindingLevel::Pass, str(ids::kCheckMessageIdUnique)));

    // one From, and none of the fields a message has once twice
    static const QStringList once{QStringLiteral("from"),
                                  QStringLiteral("to"),
                                  QStringLiteral("cc"),
                                  QStringLiteral("subject"),
                                  QStringLiteral("date"),
                                  QStringLiteral("message-id"),
                                  QStringLiteral("reply-to"),
                                  QStringLiteral("sender"),
                                  QStringLiteral("mime-version"),
                                  QStringLiteral("content-type"),
                                  QStringLiteral("list-unsubscribe"),
                                  QStringLiteral("list-unsubscribe-post"),
                                  QStringLiteral("list-id")};
    QHash<QString, int> counts;
    for (const auto& f : fields)
        ++counts[f.first];
    bool headersOk = true;
    if (m.from().address().isEmpty() || counts.value(QStringLiteral("from")) == 0) {
        out.push_back(finding(FindingTopic::Headers, FindingLevel::Problem,
                              str(ids::kCheckFromMissing), str(ids::kCheckSenderNotAddressAction)));
        headersOk = false;
    }
    for (const QString& name : once) {
        const int n = counts.value(name);
        if (n > 1) {
            out.push_back(finding(FindingTopic::Headers, FindingLevel::Problem,
                                  fmt(ids::kCheckHeaderTwice, {name, QString::number(n)}),
                                  str(ids::kCheckMessageIdAction)));
            headersOk = false;
        }
    }
    if (headersOk)
        out.push_back(
            finding(FindingTopic::Headers, FindingLevel::Pass, str(ids::kCheckHeadersOk)));
}

// ---- SpamAssassin ----

std::optional<Finding> spamScore(const QByteArray& rendered) {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("spamassassin"));
    if (program.isEmpty())
        return std::nullopt;
    const auto failure = [](const QString& why) {
        return finding(FindingTopic::SpamScore, FindingLevel::Warning,
                       fmt(ids::kCheckSpamFailed, {why}), str(ids::kCheckSpamFailedAction));
    };
    // its preferences and learning go into a folder of ours, not the user's home
    QTemporaryDir home;
    QProcess sa;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    sa.setProcessEnvironment(env);
    QEventLoop loop;
    QObject::connect(&sa, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&sa, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    // local tests only: no network lists, and the same score offline
    sa.start(program, {QStringLiteral("-L"), QStringLiteral("-x")});
    if (!sa.waitForStarted(10000))
        return failure(sa.errorString());
    QByteArray input = rendered;
    input.replace("\r\n", "\n");
    sa.write(input);
    sa.closeWriteChannel();
    timeout.start(kSpamTimeoutMs);
    if (sa.state() != QProcess::NotRunning)
        loop.exec();
    if (sa.state() != QProcess::NotRunning) {
        sa.kill();
        sa.waitForFinished(5000);
        return failure(fmt(ids::kSpamNoAnswer, {QString::number(kSpamTimeoutMs / 1000)}));
    }
    const QString output = QString::fromUtf8(sa.readAllStandardOutput());
    static const QRegularExpression status(
        QStringLiteral("X-Spam-Status: (?:Yes|No), score=(-?[0-9.]+) required=([0-9.]+)"
                       "(?:\\s+tests=((?:[^\\n]|\\n[ \\t])*))?"));
    const QRegularExpressionMatch st = status.match(output);
    if (!st.hasMatch()) {
        const QString err = QString::fromUtf8(sa.readAllStandardError()).simplified();
        return failure(err.isEmpty() ? str(ids::kSpamNoStatus) : err.left(300));
    }
    const double score = st.captured(1).toDouble();
    const double required = st.captured(2).toDouble();
    QString tests = st.captured(3);
    tests.remove(QRegularExpression(QStringLiteral("\\s+autolearn=.*$"),
                                    QRegularExpression::DotMatchesEverythingOption));
    QStringList rules;
    for (const QString& r : tests.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString rule = r.trimmed();
        if (!rule.isEmpty() && rule != QLatin1String("none"))
            rules << rule;
    }
    const QStringList args{
        st.captured(1), st.captured(2),
        rules.isEmpty() ? str(ids::kCheckSpamNoRules) : rules.join(QLatin1String(", "))};
    if (score >= required)
        return finding(FindingTopic::SpamScore, FindingLevel::Problem,
                       fmt(ids::kCheckSpamIsSpam, args), str(ids::kCheckSpamAction));
    if (score >= required / 2)
        return finding(FindingTopic::SpamScore, FindingLevel::Warning,
                       fmt(ids::kCheckSpamHigh, args), str(ids::kCheckSpamAction));
    return finding(FindingTopic::SpamScore, FindingLevel::Pass, fmt(ids::kCheckSpamLow, args));
}

}  // namespace

std::vector<LinkMismatch> misleadingLinks(const QString& html) {
    static const QRegularExpression anchor(
        QStringLiteral("<a\\b[^>]*?\\bhref\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)')[^>]*>(.*?)</a\\s*>"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    // a text that reads as an address: an optional scheme, a host with a dot, maybe a path
    static const QRegularExpression shownAddress(
        QStringLiteral("^(?:https?://)?([a-z0-9-]+(?:\\.[a-z0-9-]+)*\\.[a-z]{2,})(?:[:/?#]\\S*)?$"),
        QRegularExpression::CaseInsensitiveOption);
    std::vector<LinkMismatch> out;
    for (auto it = anchor.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch a = it.next();
        const QUrl target(QString(a.captured(1) + a.captured(2)).trimmed());
        if (target.scheme() != QLatin1String("http") && target.scheme() != QLatin1String("https"))
            continue;
        const QRegularExpressionMatch shown = shownAddress.match(visibleText(a.captured(3)));
        if (!shown.hasMatch())
            continue;
        const QString shownHost = shown.captured(1).toLower();
        const QString targetHost = target.host().toLower();
        if (registeredDomain(shownHost) != registeredDomain(targetHost))
            out.push_back({shownHost, targetHost});
    }
    return out;
}

DeliverabilityInput deliverabilityInput(const CSendFlow& flow) {
    return deliverabilityInput(*flow.messageAssembly(), flow.serverRecord());
}

DeliverabilityInput deliverabilityInput(CMessageAssembly& assembly, const ServerConfig& server) {
    DeliverabilityInput in;
    in.smtpHost = server.smtpServer;
    if (server.signsIn())
        in.account =
            server.smtpAuthType == SmtpAuthType::SameAsPop ? server.userId : server.smtpUserName;
    const int rows = assembly.rowCount();
    const MailTexts first = rows > 0 ? assembly.merged(0) : assembly.texts();
    in.fromAddress = first.senderAddress.trimmed();
    in.recipients = assembly.recipientAddresses();
    in.unsubscribe = assembly.job().unsubscribe;
    BuiltMessage one = assembly.build(first, 0);
    if (!one.message) {
        in.messageError = one.error;
        return in;
    }
    in.message = std::move(one.message);
    BuiltMessage two = rows > 1 ? assembly.build(assembly.merged(1), 1) : assembly.build(first, 0);
    in.another = std::move(two.message);
    return in;
}

std::vector<Finding> checkDeliverability(const DeliverabilityInput& in, CDnsResolver& dns) {
    std::vector<Finding> out;
    const QString domain = domainOf(in.fromAddress);
    if (std::optional<Finding> sender = checkSender(in, domain))
        out.push_back(*sender);
    const Provider* provider = providerOf(in.smtpHost);
    const std::array<int, 3> counts = providerCounts(in.recipients);
    const bool bulk = recipientsBulk(counts);

    if (!domain.isEmpty()) {
        const bool providersOwn = provider && provider->ownDomains.contains(domain);
        std::vector<DnsQuestion> questions{{domain, DnsType::Txt},
                                           {QStringLiteral("_dmarc.") + domain, DnsType::Txt},
                                           {domain, DnsType::Mx}};
        const QStringList selectors =
            provider && !providersOwn ? provider->dkimSelectors : QStringList();
        for (const QString& s : selectors)
            questions.push_back({s + QStringLiteral("._domainkey.") + domain, DnsType::Txt});
        const std::vector<DnsAnswer> answers = dns.resolve(questions);
        checkSpf(domain, in.smtpHost, provider, answers[0], out);
        if (!selectors.isEmpty())
            checkDkim(domain, *provider, std::vector<DnsAnswer>(answers.begin() + 3, answers.end()),
                      out);
        checkDmarc(domain, answers[1], bulk, out);
        checkMx(domain, answers[2], out);
    }

    const QStringList n{QString::number(counts[0]), QString::number(counts[1]),
                        QString::number(counts[2])};
    if (bulk)
        out.push_back(finding(FindingTopic::Providers, FindingLevel::Warning,
                              fmt(ids::kCheckProvidersBulk, n),
                              str(ids::kCheckProvidersBulkAction)));
    else
        out.push_back(finding(FindingTopic::Providers, FindingLevel::Pass,
                              fmt(ids::kCheckProvidersBelow, n)));

    if (!in.message) {
        out.push_back(finding(FindingTopic::Headers, FindingLevel::Warning,
                              fmt(ids::kCheckMessageUnbuilt, {in.messageError})));
        return out;
    }
    QByteArray rendered;
    try {
        rendered = in.message->header() + "\r\n" + in.message->body();
    } catch (const smtp::CKTWSMTPException& e) {
        // a file of the mail cannot be read: the run's own checks say which
        out.push_back(finding(FindingTopic::Headers, FindingLevel::Warning,
                              fmt(ids::kCheckMessageUnbuilt, {QString::fromUtf8(e.what())})));
        return out;
    }
    checkMessage(in, rendered, provider, bulk, out);
    if (in.spamScoring == SpamScoring::WhereInstalled) {
        if (std::optional<Finding> spam = spamScore(rendered))
            out.push_back(*spam);
    }
    return out;
}

FindingLevel worstLevel(const std::vector<Finding>& findings) {
    FindingLevel worst = FindingLevel::Pass;
    for (const Finding& f : findings)
        worst = std::max(worst, f.level);
    return worst;
}

QString levelName(FindingLevel level) {
    switch (level) {
        case FindingLevel::Pass:
            return str(ids::kCheckLevelPass);
        case FindingLevel::Warning:
            return str(ids::kCheckLevelWarning);
        case FindingLevel::Problem:
            return str(ids::kCheckLevelProblem);
    }
    return {};
}

QString topicName(FindingTopic topic) {
    switch (topic) {
        case FindingTopic::Sender:
            return str(ids::kCheckTopicSender);
        case FindingTopic::Spf:
            return str(ids::kCheckTopicSpf);
        case FindingTopic::SpfServer:
            return str(ids::kCheckTopicSpfServer);
        case FindingTopic::Dkim:
            return str(ids::kCheckTopicDkim);
        case FindingTopic::Dmarc:
            return str(ids::kCheckTopicDmarc);
        case FindingTopic::SenderMx:
            return str(ids::kCheckTopicSenderMx);
        case FindingTopic::Providers:
            return str(ids::kCheckTopicProviders);
        case FindingTopic::PlainText:
            return str(ids::kCheckTopicPlainText);
        case FindingTopic::Size:
            return str(ids::kCheckTopicSize);
        case FindingTopic::Links:
            return str(ids::kCheckTopicLinks);
        case FindingTopic::Pictures:
            return str(ids::kCheckTopicPictures);
        case FindingTopic::Unsubscribe:
            return str(ids::kCheckTopicUnsubscribe);
        case FindingTopic::Footer:
            return str(ids::kCheckTopicFooter);
        case FindingTopic::MessageId:
            return str(ids::kCheckTopicMessageId);
        case FindingTopic::Headers:
            return str(ids::kCheckTopicHeaders);
        case FindingTopic::SpamScore:
            return str(ids::kCheckTopicSpamScore);
    }
    return {};
}

QStringList findingLines(const std::vector<Finding>& findings) {
    QStringList lines;
    int count[3] = {0, 0, 0};
    for (const Finding& f : findings) {
        ++count[int(f.level)];
        lines << levelName(f.level).leftJustified(8) + topicName(f.topic) + QStringLiteral(": ") +
                     f.text;
        if (!f.action.isEmpty())
            lines << QString(8, QLatin1Char(' ')) + fmt(ids::kCheckWhatToDo, {f.action});
    }
    lines << fmt(ids::kCheckCounts,
                 {QString::number(count[0]), QString::number(count[1]), QString::number(count[2])});
    return lines;
}

bool confirmDeliverability(IUserInteraction& ui, const std::vector<Finding>& findings) {
    const FindingLevel worst = worstLevel(findings);
    if (worst == FindingLevel::Pass)
        return true;
    ReportRequest report;
    report.choice.caption = str(ids::kCheckCaption);
    report.choice.text =
        str(worst == FindingLevel::Problem ? ids::kCheckIntroProblems : ids::kCheckIntroWarnings);
    report.choice.buttons = QStringList{str(ids::kCheckContinue), str(ids::kCheckCancel)};
    // a problem does not go on at Enter
    report.choice.defaultButton = worst == FindingLevel::Problem ? 1 : 0;
    report.choice.escapeButton = 1;
    report.choice.icon =
        worst == FindingLevel::Problem ? ChoiceIcon::Critical : ChoiceIcon::Warning;
    // what needs doing first, the passes last
    std::vector<Finding> sorted = findings;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Finding& a, const Finding& b) { return a.level > b.level; });
    for (const Finding& f : sorted)
        report.items.append(ReportItem{static_cast<ReportLevel>(int(f.level)), topicName(f.topic),
                                       f.text, f.action});
    if (ui.showReport(report) != 0)
        return false;
    if (worst != FindingLevel::Problem)
        return true;
    return ui.message(str(ids::kCheckCaption), str(ids::kCheckAskOnceMore), MessageKind::YesNo) ==
           Answer::Yes;
}

}  // namespace pw::send
