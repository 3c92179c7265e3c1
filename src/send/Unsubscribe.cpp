#include "send/Unsubscribe.h"

#include <QCryptographicHash>
#include <QMap>
#include <QRegularExpression>
#include <QUrl>
#include <algorithm>
#include <functional>

#include "db/ProjectOptions.h"
#include "db/SuppressionList.h"
#include "smtp/Charsets.h"
#include "smtp/MimeEncoding.h"

namespace pw::send {

namespace {

// the names of the project options
const QString kMail = QStringLiteral("UnsubscribeMail");
const QString kUrl = QStringLiteral("UnsubscribeUrl");
const QString kList = QStringLiteral("ListName");
const QString kFooter = QStringLiteral("UnsubscribeFooter");
const QString kFooterText = QStringLiteral("UnsubscribeFooterText");
const QString kFooterHtml = QStringLiteral("UnsubscribeFooterHtml");
const QString kLinkPlaceholder = QStringLiteral("[[Unsubscribe]]");

constexpr int kLongestPiece = 900;  // of a token cut inside angle brackets

// merge(), each inserted value passed through `convert` first.
QString mergeConverted(QString text, const FieldTexts& captions, const FieldTexts& values,
                       const std::function<QString(const QString&)>& convert) {
    for (size_t k = 0; k < captions.size(); ++k) {
        if (captions[k].isEmpty())
            continue;
        const QString placeholder = QStringLiteral("[[") + captions[k] + QStringLiteral("]]");
        const QString value = convert(values[k]);
        qsizetype at = 0;
        while ((at = text.indexOf(placeholder, at)) >= 0) {
            text.replace(at, placeholder.size(), value);
            at += value.size();
        }
    }
    return text;
}

QString percent(const QString& value) {
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

// What the user typed around the placeholders, made safe for a URL: bytes outside printable
// ASCII and the characters that end a URL in a header become %XX; what is encoded stays.
QString urlSafe(const QString& text) {
    QString out;
    for (const char c : text.toUtf8()) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b >= 0x7f || c == '<' || c == '>' || c == '"' || c == ',')
            out += QStringLiteral("%%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
        else
            out += QLatin1Char(c);
    }
    return out;
}

QString htmlEscaped(const QString& value) {
    return value.toHtmlEscaped();
}

bool isAscii(const QString& s) {
    for (const QChar c : s) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

QString listIdValue(const QString& name, const QString& senderAddress, const QString& charset) {
    QString label;
    for (const QChar c : name.toLower()) {
        if ((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-')
            label += c;
        else if ((c == u' ' || c == u'_' || c == u'.') && !label.endsWith(u'-'))
            label += QLatin1Char('-');
    }
    while (label.startsWith(u'-'))
        label.remove(0, 1);
    while (label.endsWith(u'-'))
        label.chop(1);
    if (label.isEmpty()) {
        // a name in Japanese: a stable label of its own
        label =
            QStringLiteral("list-") +
            QString::fromLatin1(
                QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex().left(10));
    }
    const qsizetype at = senderAddress.lastIndexOf(QLatin1Char('@'));
    QString domain = at >= 0 ? senderAddress.mid(at + 1).trimmed().toLower() : QString();
    if (domain.isEmpty() || !isAscii(domain))
        domain = QStringLiteral("invalid");
    QString phrase;
    if (isAscii(name)) {
        QString quoted = name;
        quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
        quoted.replace(QLatin1Char('"'), QStringLiteral("\\\""));
        phrase = QLatin1Char('"') + quoted + QLatin1Char('"');
    } else {
        QStringList words;
        for (const QByteArray& w :
             smtp::encodedWords(name, charset, smtp::codePageForCharset(charset)))
            words.append(QString::fromLatin1(w));
        phrase = words.join(QLatin1Char(' '));
    }
    return phrase + QStringLiteral(" <") + label + QLatin1Char('.') + domain + QLatin1Char('>');
}

}  // namespace

UnsubscribeSettings loadUnsubscribeSettings(db::TDbData& store) {
    QMap<QString, QString> o;
    UnsubscribeSettings s;
    if (!db::LoadProjectOptions(store, o))
        return s;
    s.mailAddress = o.value(kMail);
    s.url = o.value(kUrl);
    s.listName = o.value(kList);
    s.footer = o.value(kFooter) == u"1" ? FooterChoice::On : FooterChoice::Off;
    s.footerText = o.value(kFooterText);
    s.footerHtml = o.value(kFooterHtml);
    return s;
}

UnsubscribeCheck checkUnsubscribeSettings(const UnsubscribeSettings& s) {
    // a placeholder stands for a value: checked as if it were one
    static const QRegularExpression placeholder(QStringLiteral("\\[\\[[^\\]]*\\]\\]"));
    if (!s.mailAddress.trimmed().isEmpty() &&
        db::NormalizeAddress(QString(s.mailAddress).replace(placeholder, QStringLiteral("x")))
            .isEmpty())
        return UnsubscribeCheck::BadAddress;
    if (!s.url.trimmed().isEmpty()) {
        const QUrl url(s.url.trimmed());
        if (!s.url.trimmed().startsWith(QLatin1StringView("https://"), Qt::CaseInsensitive) ||
            url.host().isEmpty())
            return UnsubscribeCheck::NotHttps;
    }
    for (const QString* t : {&s.mailAddress, &s.url, &s.listName, &s.footerText, &s.footerHtml}) {
        if (t->toUtf8().size() > db::kProjectOptionBytes)
            return UnsubscribeCheck::TooLong;
    }
    return UnsubscribeCheck::Ok;
}

UnsubscribeCheck saveUnsubscribeSettings(db::TDbData& store, const UnsubscribeSettings& s) {
    const UnsubscribeCheck check = checkUnsubscribeSettings(s);
    if (check != UnsubscribeCheck::Ok)
        return check;
    QMap<QString, QString> o;
    o.insert(kMail, s.mailAddress.trimmed());
    o.insert(kUrl, s.url.trimmed());
    o.insert(kList, s.listName.trimmed());
    o.insert(kFooter, s.footer == FooterChoice::On ? QStringLiteral("1") : QString());
    o.insert(kFooterText, s.footerText);
    o.insert(kFooterHtml, s.footerHtml);
    switch (db::SaveProjectOptions(store, o)) {
        case db::OptionsWrite::Written:
            return UnsubscribeCheck::Ok;
        case db::OptionsWrite::NoDatabase:
            return UnsubscribeCheck::NoDatabase;
        case db::OptionsWrite::TooLong:
            return UnsubscribeCheck::TooLong;
        case db::OptionsWrite::Failed:
            break;
    }
    return UnsubscribeCheck::Failed;
}

QString unsubscribeCheckMessage(UnsubscribeCheck check) {
    switch (check) {
        case UnsubscribeCheck::Ok:
            return {};
        case UnsubscribeCheck::BadAddress:
            return str(ids::kUnsubBadAddress);
        case UnsubscribeCheck::NotHttps:
            return str(ids::kUnsubNotHttps);
        case UnsubscribeCheck::TooLong:
            return str(ids::kUnsubTooLong);
        case UnsubscribeCheck::NoDatabase:
            return str(ids::kUnsubNoDatabase);
        case UnsubscribeCheck::Failed:
            break;
    }
    return str(ids::kUnsubNotSaved);
}

QString defaultFooterText(Language language) {
    return str(ids::kUnsubFooterText, language);
}

QString defaultFooterHtml(Language language) {
    return str(ids::kUnsubFooterHtml, language);
}

QString withAddressPlaceholder(const QString& text, const FieldTexts& captions) {
    QString out = text;
    const QString own = QStringLiteral("[[") + captions[0] + QStringLiteral("]]");
    for (const Language language : {Language::English, Language::Japanese}) {
        const QString alias = str(ids::kDefaultCaption1, language);
        if (std::find(captions.begin(), captions.end(), alias) == captions.end())
            out.replace(QStringLiteral("[[") + alias + QStringLiteral("]]"), own);
    }
    return out;
}

UnsubscribeParts unsubscribeParts(const UnsubscribeSettings& given, const FieldTexts& captions,
                                  const FieldTexts* values, const QString& recipientAddress,
                                  const QString& senderAddress, const QString& charset) {
    UnsubscribeSettings s = given;
    for (QString* t : {&s.mailAddress, &s.url, &s.footerText, &s.footerHtml})
        *t = withAddressPlaceholder(*t, captions);
    UnsubscribeParts parts;
    FieldTexts known;
    if (values)
        known = *values;
    else
        known[0] = recipientAddress;

    QString mailto;
    QString https;
    if (!s.mailAddress.isEmpty()) {
        mailto = QStringLiteral("mailto:") +
                 urlSafe(mergeConverted(s.mailAddress, captions, known, percent)) +
                 QStringLiteral("?subject=") +
                 percent(QStringLiteral("unsubscribe ") + recipientAddress);
    }
    if (!s.url.isEmpty())
        https = urlSafe(mergeConverted(s.url, captions, known, percent));

    QStringList targets;
    if (!mailto.isEmpty())
        targets.append(QLatin1Char('<') + mailto + QLatin1Char('>'));
    if (!https.isEmpty())
        targets.append(QLatin1Char('<') + https + QLatin1Char('>'));
    if (!targets.isEmpty())
        parts.headers.append(
            headerLine(QStringLiteral("List-Unsubscribe"), targets.join(QStringLiteral(", "))));
    if (!https.isEmpty())
        parts.headers.append(QStringLiteral("List-Unsubscribe-Post: List-Unsubscribe=One-Click"));
    if (!s.listName.trimmed().isEmpty())
        parts.headers.append(headerLine(QStringLiteral("List-Id"),
                                        listIdValue(s.listName.trimmed(), senderAddress, charset)));

    if (s.footer == FooterChoice::On) {
        const QString link = https.isEmpty() ? mailto : https;
        const QString text = withAddressPlaceholder(
            s.footerText.isEmpty() ? defaultFooterText(currentLanguage()) : s.footerText, captions);
        const QString html = withAddressPlaceholder(
            s.footerHtml.isEmpty() ? defaultFooterHtml(currentLanguage()) : s.footerHtml, captions);
        parts.footerText = mergeConverted(text, captions, known, [](const QString& v) {
                               return v;
                           }).replace(kLinkPlaceholder, link);
        parts.footerHtml = mergeConverted(html, captions, known, htmlEscaped)
                               .replace(kLinkPlaceholder, htmlEscaped(link));
    }
    return parts;
}

QString withTextFooter(const QString& body, const QString& footer) {
    if (footer.isEmpty() || body.isEmpty())
        return body;
    const bool ended = body.endsWith(u'\n');
    return body + (ended ? QStringLiteral("\r\n") : QStringLiteral("\r\n\r\n")) + footer;
}

QString withHtmlFooter(const QString& html, const QString& footer) {
    if (footer.isEmpty() || html.isEmpty())
        return html;
    const qsizetype end = html.lastIndexOf(QLatin1StringView("</body>"), -1, Qt::CaseInsensitive);
    if (end < 0)
        return html + footer;
    return html.left(end) + footer + html.mid(end);
}

QString headerLine(const QString& name, const QString& value) {
    QStringList pieces;
    for (const QString& t : value.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (t.size() <= kLongestPiece || !t.startsWith(u'<')) {
            pieces.append(t);
            continue;
        }
        // too long for any line: cut where white space does not count, inside <...>
        for (qsizetype i = 0; i < t.size(); i += kLongestPiece)
            pieces.append(t.mid(i, kLongestPiece));
    }
    return name + QStringLiteral(": ") + pieces.join(QLatin1Char(' '));
}

}  // namespace pw::send
