#include "bounces/BounceBook.h"

#include "db/SuppressionList.h"
#include "resources/Strings.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>

namespace pw::bounces {

namespace {

BounceAction actionFrom(const QString& name) {
    for (BounceAction a :
         {BounceAction::Suppressed, BounceAction::Counted, BounceAction::NoFailure,
          BounceAction::Unproven, BounceAction::Unrecognised, BounceAction::Undone})
        if (name == QLatin1String(ActionName(a)))
            return a;
    return BounceAction::Unproven;
}

BounceKind kindFrom(const QString& name) {
    for (BounceKind k : {BounceKind::Hard, BounceKind::Soft, BounceKind::Complaint,
                         BounceKind::AutoReply, BounceKind::Delivered})
        if (name == kindName(k))
            return k;
    return BounceKind::Soft;
}

QString day(const QDateTime& t) {
    return t.toString(QStringLiteral("yyyy-MM-dd"));
}

}  // namespace

const char* ActionName(BounceAction a) {
    switch (a) {
        case BounceAction::Suppressed:
            return "suppressed";
        case BounceAction::Counted:
            return "counted";
        case BounceAction::NoFailure:
            return "no-failure";
        case BounceAction::Unproven:
            return "unproven";
        case BounceAction::Unrecognised:
            return "unrecognised";
        case BounceAction::Undone:
            return "undone";
    }
    return "";
}

CBounceBook::CBounceBook(QString userDataFolder, SoftBounceRule rule)
    : m_folder(std::move(userDataFolder)), m_rule(rule) {}

bool CBounceBook::load() {
    QFile file(QDir(m_folder).filePath(QString::fromLatin1(kBounceBookFileName)));
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QJsonParseError error{};
    const QJsonObject root = QJsonDocument::fromJson(file.readAll(), &error).object();
    if (error.error != QJsonParseError::NoError)
        return false;
    const QJsonObject box = root.value(QLatin1String("mailbox")).toObject();
    m_position.uidValidity = box.value(QLatin1String("uidValidity")).toString();
    m_position.lastUid = box.value(QLatin1String("lastUid")).toInteger();
    m_position.seenUidls.clear();
    for (const QJsonValue& v : box.value(QLatin1String("uidls")).toArray())
        m_position.seenUidls.append(v.toString());
    m_soft = root.value(QLatin1String("soft")).toObject();
    m_decisions.clear();
    for (const QJsonValue& v : root.value(QLatin1String("decisions")).toArray()) {
        const QJsonObject d = v.toObject();
        m_decisions.push_back(
            {QDateTime::fromString(d.value(QLatin1String("date")).toString(), Qt::ISODate),
             d.value(QLatin1String("recipient")).toString(),
             kindFrom(d.value(QLatin1String("kind")).toString()),
             d.value(QLatin1String("status")).toString(),
             d.value(QLatin1String("reason")).toString(), d.value(QLatin1String("run")).toString(),
             actionFrom(d.value(QLatin1String("action")).toString()),
             d.value(QLatin1String("report")).toString()});
    }
    return true;
}

BookSaved CBounceBook::save() const {
    QJsonObject box{{QLatin1String("uidValidity"), m_position.uidValidity},
                    {QLatin1String("lastUid"), m_position.lastUid},
                    {QLatin1String("uidls"), QJsonArray::fromStringList(m_position.seenUidls)}};
    QJsonArray decisions;
    for (const BounceDecision& d : m_decisions)
        decisions.append(QJsonObject{{QLatin1String("date"), d.reportDate.toString(Qt::ISODate)},
                                     {QLatin1String("recipient"), d.recipient},
                                     {QLatin1String("kind"), kindName(d.kind)},
                                     {QLatin1String("status"), d.status},
                                     {QLatin1String("reason"), d.reason},
                                     {QLatin1String("run"), d.runId},
                                     {QLatin1String("action"), QLatin1String(ActionName(d.action))},
                                     {QLatin1String("report"), d.report}});
    const QJsonObject root{{QLatin1String("mailbox"), box},
                           {QLatin1String("soft"), m_soft},
                           {QLatin1String("decisions"), decisions}};
    QSaveFile file(QDir(m_folder).filePath(QString::fromLatin1(kBounceBookFileName)));
    if (!QDir().mkpath(m_folder) || !file.open(QIODevice::WriteOnly))
        return BookSaved::Failed;
    file.write(QJsonDocument(root).toJson());
    return file.commit() ? BookSaved::Saved : BookSaved::Failed;
}

int CBounceBook::softCount(const QString& address, const QDateTime& now) const {
    QSet<QString> runs;
    for (const QJsonValue& v : m_soft.value(address.toLower()).toArray()) {
        const QJsonObject o = v.toObject();
        const QDateTime when =
            QDateTime::fromString(o.value(QLatin1String("date")).toString(), Qt::ISODate);
        if (when.isValid() && when.daysTo(now) < m_rule.days)
            runs.insert(o.value(QLatin1String("run")).toString());
    }
    return int(runs.size());
}

bool CBounceBook::suppress(const QString& address, const QString& why, db::CSuppressionList& list) {
    const db::SuppressionChange change = list.Add({address}, why);
    return !change.failed && change.invalid.isEmpty();
}

Applied CBounceBook::apply(const BounceReport& original, const QByteArray& key,
                           db::CSuppressionList& list, const QDateTime& now) {
    Applied result;
    std::vector<BounceDecision>& out = result.decisions;
    const QDateTime date = original.date.isValid() ? original.date : now;
    if (original.type == ReportType::NotAReport) {
        // "unsubscribe <address>", as our List-Unsubscribe mailto link writes the subject
        static const QRegularExpression ask(
            QStringLiteral("^\\s*unsubscribe\\s+<?([^\\s<>]+@[^\\s<>]+)"),
            QRegularExpression::CaseInsensitiveOption);
        const QString named = ask.match(original.subject).captured(1).toLower();
        BounceDecision d{date,
                         named,
                         BounceKind::Complaint,
                         {},
                         QStringLiteral("unsubscribe"),
                         {},
                         BounceAction::Unrecognised,
                         original.source};
        if (!named.isEmpty() && named == original.from.toLower()) {
            if (!suppress(named, str(ids::kBounceReasonUnsubscribe).arg(day(date)), list))
                return {out, Applied::List::Failed};
            d.action = BounceAction::Suppressed;
        } else {
            d.recipient.clear();
            d.reason.clear();
        }
        out.push_back(d);
        m_decisions.push_back(d);
        return result;
    }
    BounceReport report = original;
    traceRecipients(report, key);
    for (const RecipientOutcome& r : report.recipients) {
        BounceDecision d{date,
                         r.recipient,
                         r.kind,
                         r.status,
                         r.reason,
                         r.runId,
                         BounceAction::Unproven,
                         original.source};
        if (r.runId.isEmpty() || r.recipient.isEmpty()) {
            out.push_back(d);
            continue;
        }
        switch (r.kind) {
            case BounceKind::Hard:
                d.action = BounceAction::Suppressed;
                if (!suppress(r.recipient,
                              str(ids::kBounceReasonHard).arg(r.status, r.reason, day(date)), list))
                    return {out, Applied::List::Failed};
                break;
            case BounceKind::Complaint:
                d.action = BounceAction::Suppressed;
                if (!suppress(r.recipient, str(ids::kBounceReasonComplaint).arg(day(date)), list))
                    return {out, Applied::List::Failed};
                break;
            case BounceKind::Soft: {
                QJsonArray seen = m_soft.value(r.recipient).toArray();
                seen.append(QJsonObject{{QLatin1String("run"), r.runId},
                                        {QLatin1String("date"), date.toString(Qt::ISODate)}});
                m_soft.insert(r.recipient, seen);
                const int count = softCount(r.recipient, now);
                d.action = BounceAction::Counted;
                if (count >= m_rule.threshold) {
                    d.action = BounceAction::Suppressed;
                    if (!suppress(r.recipient,
                                  str(ids::kBounceReasonSoft)
                                      .arg(QString::number(count), QString::number(m_rule.days),
                                           r.status, r.reason, day(date)),
                                  list))
                        return {out, Applied::List::Failed};
                }
                break;
            }
            case BounceKind::AutoReply:
            case BounceKind::Delivered:
                d.action = BounceAction::NoFailure;
                break;
        }
        out.push_back(d);
    }
    m_decisions.insert(m_decisions.end(), out.begin(), out.end());
    return result;
}

bool CBounceBook::undo(const QString& address, db::CSuppressionList& list) {
    const QString a = address.toLower();
    if (!list.Remove({db::NormalizeAddress(address)}))
        return false;
    m_soft.remove(a);
    for (BounceDecision& d : m_decisions)
        if (d.recipient == a &&
            (d.action == BounceAction::Suppressed || d.action == BounceAction::Counted))
            d.action = BounceAction::Undone;
    return true;
}

}  // namespace pw::bounces
