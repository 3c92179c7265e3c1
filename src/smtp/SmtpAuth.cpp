#include "smtp/SmtpAuth.h"

#include "smtp/HmacMd5.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <openssl/crypto.h>

namespace pw::smtp {

namespace {

// The text of each reply line after its code and separator.
QStringList replyTexts(const QString& response) {
    QStringList texts;
    for (QString line : response.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r'))) {
            line.chop(1);
        }
        if (line.size() >= 4) {
            texts.append(line.mid(4).trimmed());
        }
    }
    return texts;
}

}  // namespace

QString AuthMechanismsFromEhlo(const QString& ehloResponse) {
    QStringList mechanisms;
    for (const QString& text : replyTexts(ehloResponse)) {
        const QString upper = text.toUpper();
        if (upper.startsWith(QLatin1String("AUTH ")) || upper.startsWith(QLatin1String("AUTH="))) {
            for (const QString& m : upper.mid(5).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                if (!mechanisms.contains(m)) {
                    mechanisms.append(m);
                }
            }
        }
    }
    return mechanisms.join(QLatin1Char(' '));
}

bool EhloOffers(const QString& ehloResponse, const QString& keyword) {
    const QStringList texts = replyTexts(ehloResponse);
    // the first line is the greeting text, not an extension
    for (qsizetype i = 1; i < texts.size(); ++i) {
        const QString word = texts[i].section(QLatin1Char(' '), 0, 0);
        if (word.compare(keyword, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

std::optional<qint64> EhloSizeLimit(const QString& ehloResponse) {
    const QStringList texts = replyTexts(ehloResponse);
    for (qsizetype i = 1; i < texts.size(); ++i) {
        const QStringList words = texts[i].split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.isEmpty() || words[0].compare(QLatin1String("SIZE"), Qt::CaseInsensitive) != 0) {
            continue;
        }
        bool ok = false;
        const qint64 limit = words.size() > 1 ? words[1].toLongLong(&ok) : 0;
        return ok && limit > 0 ? limit : 0;
    }
    return std::nullopt;
}

bool isBearerMethod(AuthMethod method) {
    return method == AuthMethod::XOAuth2 || method == AuthMethod::OAuthBearer ||
           method == AuthMethod::OAuth2;
}

AuthMethod ChooseAuthMethod(const QString& mechanisms, TokenAvailable token) {
    const QStringList list = mechanisms.toUpper().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (token == TokenAvailable::Yes) {
        if (list.contains(QLatin1String("OAUTHBEARER"))) {
            return AuthMethod::OAuthBearer;
        }
        if (list.contains(QLatin1String("XOAUTH2"))) {
            return AuthMethod::XOAuth2;
        }
    }
    return ChooseAuthMethod(mechanisms);
}

QByteArray OAuthBearerResponse(const QString& user, const QString& host, int port,
                               const QString& token) {
    // "," and "=" in the identity are escaped as the GS2 header wants (RFC 5801 4)
    QByteArray identity = user.toUtf8();
    identity.replace("=", "=3D").replace(",", "=2C");
    QByteArray r = "n,a=" + identity + ",\x01";
    r += "host=" + host.toUtf8() + '\x01';
    r += "port=" + QByteArray::number(port) + '\x01';
    r += "auth=Bearer " + token.toUtf8() + "\x01\x01";
    return r;
}

QByteArray XOAuth2Response(const QString& user, const QString& token) {
    return "user=" + user.toUtf8() +
           "\x01"
           "auth=Bearer " +
           token.toUtf8() + "\x01\x01";
}

QString BearerErrorStatus(const QByteArray& decodedChallenge) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(decodedChallenge, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        return {};
    }
    QStringList parts;
    const QJsonObject o = doc.object();
    for (const char* key : {"status", "schemes", "scope"}) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isString() && !v.toString().isEmpty()) {
            parts << QStringLiteral("%1 %2").arg(QLatin1String(key), v.toString());
        }
    }
    return parts.join(QStringLiteral(", "));
}

AuthMethod ChooseAuthMethod(const QString& mechanisms) {
    const QStringList list = mechanisms.toUpper().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (list.contains(QLatin1String("NTLM"))) {
        return AuthMethod::Ntlm;
    }
    if (list.contains(QLatin1String("CRAM-MD5"))) {
        return AuthMethod::CramMd5;
    }
    if (list.contains(QLatin1String("LOGIN"))) {
        return AuthMethod::Login;
    }
    if (list.contains(QLatin1String("PLAIN"))) {
        return AuthMethod::Plain;
    }
    return AuthMethod::None;
}

QByteArray DecodeChallenge(const QByteArray& lastResponse) {
    QByteArray clean;
    clean.reserve(lastResponse.size());
    for (qsizetype i = 4; i < lastResponse.size(); ++i) {
        const char c = lastResponse[i];
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '+' || c == '/' || c == '=') {
            clean.append(c);
        }
    }
    return QByteArray::fromBase64(clean);
}

QByteArray PlainCredentials(const QString& user, const QString& password) {
    QByteArray bytes;
    bytes.append('\0');
    bytes.append(user.toUtf8());
    bytes.append('\0');
    QByteArray pass = password.toUtf8();
    bytes.append(pass);
    WipeBytes(pass);
    return bytes;
}

QByteArray CramMd5Answer(const QString& user, const QString& password,
                         const QByteArray& challenge) {
    QByteArray key = password.toUtf8();
    const auto digest = HmacMd5(challenge, key);
    WipeBytes(key);
    if (!digest) {
        return {};
    }
    return user.toUtf8() + ' ' + DigestToHex(*digest);
}

void WipeBytes(QByteArray& bytes) noexcept {
    if (!bytes.isEmpty() && !bytes.isDetached()) {
        // shared data belongs to another array as well: nothing of ours to wipe
        bytes.clear();
        return;
    }
    if (!bytes.isEmpty()) {
        OPENSSL_cleanse(bytes.data(), static_cast<size_t>(bytes.size()));
    }
    bytes.clear();
}

}  // namespace pw::smtp
