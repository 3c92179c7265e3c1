#pragma once
// A fake OAuth 2.0 provider and its bearer-token SMTP server in one process on loopback
// (tests/smtp/servers/oauth_servers.py), and a browser that follows its redirect.

#include <QProcess>
#include <QTest>

#include "SmtpTestServer.h"
#include "serversettings/OAuthSignIn.h"

namespace pw::test {

inline const QString kOAuthUser = QStringLiteral("ann@example.org");
inline const QString kOAuthClient = QStringLiteral("client-4711");

struct OAuthTestProvider {
    SmtpTestServer process;
    int httpPort = 0;

    bool start(const QStringList& extra) {
        if (!process.startScript(
                QStringLiteral("oauth_servers.py"),
                QStringList{"--client-id", kOAuthClient, "--user", kOAuthUser} + extra))
            return false;
        return QTest::qWaitFor(
            [this] {
                for (const QString& e : process.events()) {
                    if (e.startsWith(QStringLiteral("HTTP ")))
                        httpPort = e.mid(5).toInt();
                }
                return httpPort != 0;
            },
            10000);
    }
    [[nodiscard]] QString url(const char* path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(httpPort).arg(QLatin1String(path));
    }
    [[nodiscard]] serversettings::OAuthValues values() const {
        serversettings::OAuthValues v;
        v.provider = serversettings::OAuthProvider::Custom;
        v.clientId = kOAuthClient;
        v.authorizeUrl = url("/authorize");
        v.tokenUrl = url("/token");
        v.scope = QStringLiteral("https://mail.test/ offline_access");
        return v;
    }
    [[nodiscard]] int count(const QString& prefix) {
        int n = 0;
        for (const QString& e : process.events())
            n += e.startsWith(prefix) ? 1 : 0;
        return n;
    }
};

// The browser: fetches the page and follows the provider's redirect to the loopback port.
inline bool pythonBrowser(const QString& url) {
    return QProcess::startDetached(
        QStringLiteral("/usr/bin/python3"),
        {"-c", "import sys, urllib.request; urllib.request.urlopen(sys.argv[1], timeout=20).read()",
         url});
}

}  // namespace pw::test
