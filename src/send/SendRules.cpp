#include "send/SendRules.h"

#include <QLocale>

#include "resources/DisplayLocale.h"
#include "resources/Strings.h"

namespace pw::send {

ServerRecord effectiveServer(const ServerRecord& standard, const ServerConfig& project) {
    ServerRecord r = standard;
    static_cast<ServerConfig&>(r) = withProjectServers(standard, project);
    return r;
}

ConnectCall connectCallFor(const ServerRecord& server, int port) {
    ConnectCall call;
    call.host = server.smtpServer;
    call.port = port;
    call.kind = server.smtpConnectionType;
    if (!server.signsIn()) {
        call.method = smtp::AuthMethod::None;
        call.userName = server.userId;
        call.password = server.password;
        call.authText = QStringLiteral("No Auth");
        return call;
    }
    call.userName = server.smtpUserName;
    call.password = server.smtpPassword;
    call.authText = QStringLiteral("SMTP");
    if (server.smtpVerifMethod == VerifMethod::OAuth2) {
        call.method = smtp::AuthMethod::OAuth2;
        call.password.clear();  // the token takes its place
        call.authText = QStringLiteral("OAuth2");
    } else if (call.kind == smtp::ConnectionType::SslTls) {
        call.method = smtp::AuthMethod::Automatic;
    } else if (server.smtpVerifMethod == VerifMethod::Login) {
        call.method = smtp::AuthMethod::Login;
    } else if (server.smtpVerifMethod == VerifMethod::CramMd5) {
        call.method = smtp::AuthMethod::CramMd5;
    } else {
        call.method = smtp::AuthMethod::Automatic;
    }
    return call;
}

bool callUsesToken(const ServerRecord& server, const ConnectCall& call) {
    if (call.method == smtp::AuthMethod::XOAuth2 || call.method == smtp::AuthMethod::OAuthBearer ||
        call.method == smtp::AuthMethod::OAuth2)
        return true;
    return call.method == smtp::AuthMethod::Automatic && server.tokens && server.tokens->signedIn();
}

QString connectDetail(const ConnectCall& call) {
    return QStringLiteral(" ( ") + call.host + QLatin1Char(':') + QString::number(call.port) +
           QStringLiteral(" / ") + call.authText + QStringLiteral(" )");
}

void PortFallback::markTried(int port) {
    switch (port) {
        case 25:
            m_tried25 = true;
            break;
        case 26:
            m_tried26 = true;
            break;
        case 465:
            m_tried465 = true;
            break;
        case 587:
            m_tried587 = true;
            break;
        default:
            break;
    }
}

bool PortFallback::wasTried(int port) const {
    switch (port) {
        case 25:
            return m_tried25;
        case 26:
            return m_tried26;
        case 465:
            return m_tried465;
        case 587:
            return m_tried587;
        default:
            return false;
    }
}

std::optional<int> PortFallback::next(smtp::ConnectionType kind, SmtpAuthType smtpAuthType) {
    std::optional<int> port;
    if (kind == smtp::ConnectionType::SslTls) {
        if (!m_tried465)
            port = 465;
    } else if (kind == smtp::ConnectionType::StartTls || smtpAuthType != SmtpAuthType::None) {
        // The submission port, where STARTTLS and authenticated plain sessions live.
        if (!m_tried587)
            port = 587;
    } else if (!m_tried25) {
        port = 25;
    } else if (!m_tried26) {
        port = 26;
    }
    return port;
}

QList<int> fallbackSequence(const ServerRecord& server) {
    QList<int> ports;
    PortFallback fallback;
    const smtp::ConnectionType kind = server.smtpConnectionType;
    std::optional<int> port = server.smtpPort;
    while (port) {
        ports.append(*port);
        fallback.markTried(*port);
        port = fallback.next(kind, server.smtpAuthType);
    }
    return ports;
}

bool addressCheckPasses(const QString& recipientField) {
    for (const QChar c : recipientField) {
        const char16_t u = c.unicode();
        if (u < 0x80)
            continue;
        if (u >= 0xFF61 && u <= 0xFF9F)
            continue;
        return false;
    }
    return true;
}

QDateTime pauseEnd(const QDateTime& start, qint64 seconds) {
    return start.addSecs(seconds < 0 ? 0 : seconds);
}

QString standingByText(const QDateTime& end) {
    const QLocale locale = displayLocale();
    return str(ids::kSendStatusStandingBy) + QLatin1Char(' ') +
           locale.toString(end.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(end.time(), QStringLiteral("HH:mm:ss"));
}

QStringList transmissionFailureEntries(int responseCode, const QString& description) {
    QStringList entries;
    entries << str(ids::kLogProblem) + QStringLiteral(" ( ") + QString::number(responseCode) +
                   QStringLiteral(" )");
    int explanation = 0;
    switch (responseCode) {
        case 503:
            explanation = ids::kLogInvalidCommand;
            break;
        case 553:
            explanation = ids::kLogVerification;
            break;
        case 521:
            explanation = ids::kLogNotAccepted;
            break;
        case 550:
            explanation = ids::kLogAccessRefused;
            break;
        default:
            break;
    }
    if (explanation != 0)
        entries << str(explanation);
    entries << description;
    return entries;
}

qint64 laterBackoffSeconds(int connectWaitMinutes, int sendWaitSeconds, int attempt) {
    qint64 base = 30;
    if (connectWaitMinutes > 0)
        base = qint64(connectWaitMinutes) * 60;
    else if (sendWaitSeconds > 0)
        base = sendWaitSeconds;
    return base * qMax(1, attempt);
}

QString failureReason(const QString& description) {
    const QString text = description.simplified();  // a multi-line reply stays one entry
    return text.isEmpty() ? QString() : QStringLiteral(" - ") + text;
}

QString formatMessageText(const QString& text, const QStringList& arguments) {
    QString out;
    out.reserve(text.size() + 64);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('%') || i + 1 >= text.size()) {
            out += c;
            continue;
        }
        const QChar n = text.at(i + 1);
        if (n == QLatin1Char('\n')) {
            out += QLatin1Char('\n');
            ++i;
            continue;
        }
        if (n == QLatin1Char('%')) {
            out += QLatin1Char('%');
            ++i;
            continue;
        }
        if (!n.isDigit() || n == QLatin1Char('0')) {
            out += c;
            continue;
        }
        qsizetype j = i + 1;
        int index = 0;
        while (j < text.size() && text.at(j).isDigit() && index < 100) {
            index = index * 10 + text.at(j).digitValue();
            ++j;
        }
        // An optional "!fmt!" follows; the arguments come formatted already.
        if (j < text.size() && text.at(j) == QLatin1Char('!')) {
            const qsizetype close = text.indexOf(QLatin1Char('!'), j + 1);
            if (close > j)
                j = close + 1;
        }
        if (index >= 1 && index <= arguments.size())
            out += arguments.at(index - 1);
        i = j - 1;
    }
    return out;
}

QString escapedFailureText(quint32 errorCode, const QString& description, const QString& response) {
    const QString code = QStringLiteral("%1").arg(errorCode, 8, 16, QLatin1Char('0')).toUpper();
    QString text =
        str(response.isEmpty() ? ids::kSendErrorEscaped : ids::kSendErrorEscapedResponse);
    // The table keeps the printf form; fill it without handing texts to a format function.
    text.replace(QStringLiteral("%08X"), code);
    const qsizetype first = text.indexOf(QStringLiteral("%s"));
    if (first >= 0)
        text.replace(first, 2, description);
    if (!response.isEmpty()) {
        const qsizetype second = text.indexOf(QStringLiteral("%s"), first + description.size());
        if (second >= 0)
            text.replace(second, 2, response);
    }
    return text;
}

}  // namespace pw::send
