#include "send/SendLimits.h"

#include <QLocale>
#include <QRegularExpression>

#include <algorithm>

#include "resources/Strings.h"
#include "send/SendRules.h"

namespace pw::send {

SendingProfile presetProfile(ProfilePreset preset) {
    // What each provider allows, by the minute, the hour and the day, and connections at once.
    // Japanese hosting: the low end of what the services allow; SoftBank blocks past 500 a day.
    struct Limits {
        ProfilePreset preset;
        int perMinute, perHour, perDay, connections;
    };
    static constexpr Limits kLimits[] = {
        {ProfilePreset::Microsoft365, 30, 0, 10000, 3},   {ProfilePreset::Gmail, 20, 0, 500, 1},
        {ProfilePreset::GoogleWorkspace, 30, 0, 2000, 1}, {ProfilePreset::Yahoo, 0, 100, 500, 1},
        {ProfilePreset::JapaneseHosting, 0, 100, 500, 1}, {ProfilePreset::Relay, 840, 0, 50000, 4},
    };
    SendingProfile p;
    p.preset = preset;
    for (const Limits& l : kLimits) {
        if (l.preset == preset) {
            p.perMinute = l.perMinute;
            p.perHour = l.perHour;
            p.perDay = l.perDay;
            p.connections = l.connections;
        }
    }
    return p;
}

ProfilePreset presetForHost(const QString& host) {
    const QString h = host.trimmed().toLower();
    const auto endsWithAny = [&h](std::initializer_list<const char*> suffixes) {
        for (const char* s : suffixes) {
            const QString suffix = QString::fromLatin1(s);
            if (h == suffix || h.endsWith(QLatin1Char('.') + suffix))
                return true;
        }
        return false;
    };
    if (h == QLatin1String("smtp-relay.gmail.com"))
        return ProfilePreset::GoogleWorkspace;
    if (endsWithAny({"office365.com", "outlook.com", "protection.outlook.com"}))
        return ProfilePreset::Microsoft365;
    if (endsWithAny({"gmail.com", "googlemail.com"}))
        return ProfilePreset::Gmail;
    if (endsWithAny({"yahoo.com", "yahoo.co.jp"}))
        return ProfilePreset::Yahoo;
    if (endsWithAny({"amazonaws.com", "sendgrid.net", "mailgun.org", "sparkpostmail.com",
                     "postmarkapp.com", "mailjet.com"}))
        return ProfilePreset::Relay;
    if (endsWithAny({"sakura.ne.jp", "xserver.jp", "lolipop.jp", "heteml.jp", "onamae.ne.jp",
                     "conoha.io", "softbank.jp", "ocn.ne.jp", "nifty.com", "biglobe.ne.jp",
                     "so-net.ne.jp", "plala.or.jp"}))
        return ProfilePreset::JapaneseHosting;
    return ProfilePreset::NoLimits;
}

QString presetName(ProfilePreset preset) {
    switch (preset) {
        case ProfilePreset::NoLimits:
            return str(ids::kPresetNoLimits);
        case ProfilePreset::Microsoft365:
            return str(ids::kPresetMicrosoft365);
        case ProfilePreset::Gmail:
            return str(ids::kPresetGmail);
        case ProfilePreset::GoogleWorkspace:
            return str(ids::kPresetGoogleWorkspace);
        case ProfilePreset::Yahoo:
            return str(ids::kPresetYahoo);
        case ProfilePreset::JapaneseHosting:
            return str(ids::kPresetJapaneseHosting);
        case ProfilePreset::Relay:
            return str(ids::kPresetRelay);
        case ProfilePreset::Custom:
            break;
    }
    return str(ids::kPresetCustom);
}

QString formatSendingProfile(const SendingProfile& p) {
    return QStringLiteral("%1,%2,%3,%4,%5")
        .arg(int(p.preset))
        .arg(p.perMinute)
        .arg(p.perHour)
        .arg(p.perDay)
        .arg(p.connections);
}

SendingProfile parseSendingProfile(const QString& text, bool* ok) {
    const QStringList parts = text.split(QLatin1Char(','));
    int values[5] = {};
    bool good = parts.size() == 5;
    for (int i = 0; good && i < 5; ++i)
        values[i] = parts[i].trimmed().toInt(&good);
    good = good && values[0] >= 0 && values[0] <= int(ProfilePreset::Custom);
    for (int i = 1; good && i < 5; ++i)
        good = values[i] >= 0 && values[i] <= 10'000'000;
    if (ok)
        *ok = good;
    if (!good)
        return {};
    SendingProfile p;
    p.preset = ProfilePreset(values[0]);
    p.perMinute = values[1];
    p.perHour = values[2];
    p.perDay = values[3];
    p.connections = std::clamp(values[4], 1, 16);
    return p;
}

QString accountKey(const QString& host, const QString& userName) {
    const QString h = host.trimmed().toLower();
    const QString u = userName.trimmed().toLower();
    return u.isEmpty() ? h : u + QLatin1Char('@') + h;
}

LimitReply classifyRefusal(SmtpStage stage, int code, const QString& text) {
    if (code < 400 || code >= 600)
        return LimitReply::None;
    const QString t = text.toLower();
    static const QRegularExpression enhancedRe(
        QStringLiteral("\\b([245])\\.(\\d{1,3})\\.(\\d{1,3})\\b"));
    const QRegularExpressionMatch m = enhancedRe.match(t);
    const int subject = m.hasMatch() ? m.captured(2).toInt() : -1;
    const int detail = m.hasMatch() ? m.captured(3).toInt() : -1;
    const auto has = [&t](const char* word) { return t.contains(QLatin1String(word)); };
    // a recipient's own trouble: unknown, moved, its mailbox full
    if (stage == SmtpStage::Rcpt && (subject == 1 || (subject == 2 && detail != 0) ||
                                     has("mailbox full") || has("user unknown")))
        return LimitReply::None;
    if (has("greylist") || has("graylist"))
        return LimitReply::None;  // that recipient's host, once

    const bool daily = has("daily") || has("per day") || has("24 hour") || has("24h") ||
                       has("one day") || has("submissionquota");
    const bool quota = has("quota") || has("sending limit") || has("limit exceeded") ||
                       has("rate limit") || has("ratelimit") || has("too many messages") ||
                       has("too many mails") || has("too many connections") || has("throttl") ||
                       has("message rate") || has("thread limit");
    bool limit = false;
    if (subject == 3 && detail == 2)
        // 4.3.2: the system takes no more for now (connections, threads); when connecting, only
        // where it says so: a host that is going down is no account's limit
        limit = stage != SmtpStage::Connect || quota || has("limit") || has("concurrent");
    else if (m.hasMatch() && m.captured(1) == QLatin1String("4") && subject == 7 &&
             (quota || has("try again later") || has("busy")))
        limit = true;  // 4.7.x: a policy for now
    else if (subject == 4 && detail == 5)
        limit = true;  // 5.4.5: the sending limit
    else if (subject == 2 && detail == 0 && has("quota"))
        limit = true;  // 5.2.0 ... QuotaExceeded
    else if (code == 421 && has("try again later"))
        limit = true;
    else if (code == 454 && has("throttl"))
        limit = true;
    else if (quota && stage != SmtpStage::Rcpt)
        limit = true;  // the providers' texts without a known code
    if (!limit)
        return LimitReply::None;
    return daily || (code >= 500 && quota) || (subject == 4 && detail == 5) ? LimitReply::Day
                                                                            : LimitReply::Rate;
}

SendEstimate estimateSending(int recipients, const SendingProfile& p, int usedToday) {
    SendEstimate e;
    if (recipients <= 0)
        return e;
    double spacing = 0;
    if (p.perMinute > 0)
        spacing = std::max(spacing, 60.0 / p.perMinute);
    if (p.perHour > 0)
        spacing = std::max(spacing, 3600.0 / p.perHour);
    // NOLINTNEXTLINE(bugprone-incorrect-roundings): never negative, so +0.5 rounds
    e.seconds = qint64(double(recipients) * spacing + 0.5);
    if (p.perDay > 0) {
        const int first = std::max(0, p.perDay - usedToday);
        const int rest = std::max(0, recipients - first);
        e.days = (first > 0 ? 1 : 0) + (rest + p.perDay - 1) / p.perDay;
    }
    // a pace slower than a day's worth in a day spreads over more days still
    e.days = std::max<int>({e.days, 1, int((e.seconds + 86399) / 86400)});
    return e;
}

QString durationText(qint64 seconds) {
    const qint64 minutes = (seconds + 30) / 60;
    if (seconds < 60)
        return formatMessageText(str(ids::kDurationSeconds), {QString::number(seconds)});
    if (minutes < 60)
        return formatMessageText(str(ids::kDurationMinutes), {QString::number(minutes)});
    return formatMessageText(str(ids::kDurationHoursMinutes),
                             {QString::number(minutes / 60), QString::number(minutes % 60)});
}

QString limitsText(const SendingProfile& p) {
    const QLocale numbers(QLocale::English);
    QStringList limits;
    if (p.perMinute > 0)
        limits << formatMessageText(str(ids::kEstimatePerMinute), {numbers.toString(p.perMinute)});
    if (p.perHour > 0)
        limits << formatMessageText(str(ids::kEstimatePerHour), {numbers.toString(p.perHour)});
    if (p.perDay > 0)
        limits << formatMessageText(str(ids::kEstimatePerDay), {numbers.toString(p.perDay)});
    return limits.join(QStringLiteral(", "));
}

QString sendEstimateText(int recipients, const SendingProfile& p, int usedToday) {
    // digit groups as both languages write them
    const QLocale numbers(QLocale::English);
    const QString who =
        formatMessageText(str(ids::kEstimateRecipients), {numbers.toString(recipients)});
    if (p.limitsNothing())
        return formatMessageText(str(ids::kEstimateNoLimits), {who});
    const SendEstimate e = estimateSending(recipients, p, usedToday);
    const QString joined = limitsText(p);
    QString text =
        e.days > 1
            ? formatMessageText(str(ids::kEstimateDays),
                                {who, joined, durationText(e.seconds), QString::number(e.days)})
            : formatMessageText(str(ids::kEstimateOneDay), {who, joined, durationText(e.seconds)});
    if (usedToday > 0 && p.perDay > 0)
        text += QLatin1Char('\n') +
                formatMessageText(str(ids::kEstimateUsedToday),
                                  {numbers.toString(usedToday), numbers.toString(p.perDay)});
    return text;
}

}  // namespace pw::send
