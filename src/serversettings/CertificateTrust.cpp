#include "serversettings/CertificateTrust.h"

#include "resources/Strings.h"

namespace pw::serversettings {

QString trustKey(const QString& host, int port) {
    return host.trimmed().toLower() + QLatin1Char(':') + QString::number(port);
}

QString trustValue(const TrustedCertificate& trusted) {
    return QString::fromLatin1(trusted.sha256.toHex());
}

std::optional<TrustedCertificate> parseTrust(const QString& key, const QString& value) {
    const qsizetype colon = key.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return std::nullopt;
    bool ok = false;
    const int port = key.mid(colon + 1).toInt(&ok);
    if (!ok || port <= 0 || port > 65535)
        return std::nullopt;
    const QString hex = value.trimmed();
    if (hex.size() != 64)
        return std::nullopt;
    for (const QChar c : hex) {
        if (!c.isDigit() && !(c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f')))
            return std::nullopt;
    }
    TrustedCertificate t;
    t.host = key.left(colon).toLower();
    t.port = port;
    t.sha256 = QByteArray::fromHex(hex.toLatin1());
    return t;
}

void trustCertificate(QList<TrustedCertificate>& list, const TrustedCertificate& trusted) {
    TrustedCertificate entry = trusted;
    entry.host = entry.host.trimmed().toLower();
    for (TrustedCertificate& t : list) {
        if (t.port == entry.port && t.host.compare(entry.host, Qt::CaseInsensitive) == 0) {
            t = entry;
            return;
        }
    }
    list.append(entry);
}

std::optional<TrustedCertificate> trustedFor(const QList<TrustedCertificate>& list,
                                             const QString& host, int port) {
    for (const TrustedCertificate& t : list) {
        if (t.port == port && t.host.compare(host.trimmed(), Qt::CaseInsensitive) == 0)
            return t;
    }
    return std::nullopt;
}

QString certificateDescription(const PeerCertificate& c, const QString& reason, const QString& host,
                               int port) {
    const auto when = [](const QDateTime& t) {
        return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'")) : QString();
    };
    QString text = str(ids::kCertRefusedIntro).arg(host, QString::number(port));
    text += QStringLiteral("\n\n") + str(ids::kCertReason) + QLatin1Char(' ') + reason.trimmed();
    text += QLatin1Char('\n') + str(ids::kCertSubject) + QLatin1Char(' ') + c.subject;
    text += QLatin1Char('\n') + str(ids::kCertIssuer) + QLatin1Char(' ') + c.issuer;
    text += QLatin1Char('\n') + str(ids::kCertValidity) + QLatin1Char(' ') + when(c.notBefore) +
            QStringLiteral(" - ") + when(c.notAfter);
    text +=
        QLatin1Char('\n') + str(ids::kCertFingerprint) + QLatin1Char('\n') + c.fingerprintText();
    return text;
}

QString certificateQuestion(const PeerCertificate& c, const QString& reason, const QString& host,
                            int port) {
    return certificateDescription(c, reason, host, port) + QStringLiteral("\n\n") +
           str(ids::kCertTrustQuestion).arg(host, QString::number(port));
}

std::optional<TrustedCertificate> askToTrust(IUserInteraction& ui, const QString& caption,
                                             const send::CertificateRefusal& r) {
    // nothing to pin: trusting it would trust nothing (or anything)
    if (r.certificate.isNull())
        return std::nullopt;
    const QString question = certificateQuestion(r.certificate, r.reason, r.host, r.port);
    if (ui.message(caption, question, MessageKind::YesNo) != Answer::Yes)
        return std::nullopt;
    return TrustedCertificate{r.host.trimmed().toLower(), r.port, r.certificate.sha256};
}

QString trustInstructions(const send::CertificateRefusal& r, const QString& settingsPath) {
    const TrustedCertificate t{r.host, r.port, r.certificate.sha256};
    return str(ids::kCertTrustHowTo)
        .arg(settingsPath, trustKey(t.host, t.port) + QLatin1Char('=') + trustValue(t));
}

}  // namespace pw::serversettings
