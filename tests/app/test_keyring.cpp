// The secrets of the settings in the desktop keyring: a private session bus with
// gnome-keyring-daemon unlocked by the test. A password already in the settings file keeps
// working, a save moves it into the keyring and blanks its key; without a keyring (or one that
// cannot store) everything stays where it was, and a refresh token is kept in the file only
// when the user agreed; a token the provider rotates goes where the old one was.

#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include "PrivateKeyring.h"
#include "ScriptedUserInteraction.h"
#include "SmtpTestServer.h"
#include "TestEnv.h"
#include "app/AppSession.h"
#include "app/IniFile.h"
#include "app/Keyring.h"
#include "app/SendSettings.h"
#include "app/Settings.h"
#include "app/gui/SettingsCommands.h"

using namespace pw;
using namespace pw::app;

namespace {
const QString kPassword = QStringLiteral("pw-4711-secret");
const QString kPopPassword = QStringLiteral("pop-0815-secret");
const QString kRefreshToken = QStringLiteral("rt-secret-42");
}  // namespace

class TestKeyring : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        m_env = std::make_unique<test::TestEnv>();
        m_keyring = std::make_unique<test::PrivateKeyring>();
        QVERIFY2(m_keyring->ok(), qPrintable(m_keyring->errorText()));
        QVERIFY(processKeyring().available());
    }
    void cleanupTestCase() {
        m_keyring.reset();
        m_env.reset();
    }

    void secrets_data() {
        QTest::addColumn<int>("keyring");      // 0 none, 1 one that works, 2 one that cannot store
        QTest::addColumn<int>("preference");   // "KeyringPasswords" in the file; -1 none
        QTest::addColumn<int>("tokenInFile");  // the user agreed to keep the sign-in there
        QTest::addColumn<bool>("passwordInFile");
        QTest::addColumn<bool>("passwordInKeyring");
        QTest::addColumn<bool>("tokenKeptInFile");
        QTest::addColumn<bool>("tokenInKeyring");
        const int none = 0, works = 1, locked = 2;
        QTest::newRow("keyring, nothing chosen: the password moves into it on save")
            << works << -1 << 0 << false << true << false << true;
        QTest::newRow("keyring chosen") << works << 1 << 0 << false << true << false << true;
        QTest::newRow("keyring, preference off: the password stays, the token does not")
            << works << 0 << 0 << true << false << false << true;
        QTest::newRow("no keyring: the password stays, the token is not kept")
            << none << -1 << 0 << true << false << false << false;
        QTest::newRow("no keyring, the user agreed: the token in the file")
            << none << -1 << 1 << true << false << true << false;
        // last, for the keyring stays locked: asked, the user keeps it in the file
        QTest::newRow("a keyring that reads but cannot store: asked, kept in the file")
            << locked << -1 << 0 << true << false << true << false;
    }
    void secrets() {
        QFETCH(int, keyring);
        QFETCH(int, preference);
        QFETCH(int, tokenInFile);
        QFETCH(bool, passwordInFile);
        QFETCH(bool, passwordInKeyring);
        QFETCH(bool, tokenKeptInFile);
        QFETCH(bool, tokenInKeyring);
        const bool rotate = tokenKeptInFile || tokenInKeyring;  // a run rotates it
        for (const char* key : {"Password", "SMTPPassword", "OAuthRefreshToken"})
            (void)processKeyring().remove(QString::fromLatin1(key));
        if (keyring == 0)
            qputenv("POSTWICK_KEYRING", "off");
        if (keyring == 2)  // lookups answered, stores refused
            QCOMPARE(
                QProcess::execute(
                    "dbus-send", {"--session", "--print-reply", "--dest=org.freedesktop.secrets",
                                  "/org/freedesktop/secrets", "org.freedesktop.Secret.Service.Lock",
                                  "array:objpath:/org/freedesktop/secrets/collection/login"}),
                0);
        const auto restore = qScopeGuard([] { qunsetenv("POSTWICK_KEYRING"); });
        test::SmtpTestServer provider;  // a token server that retires used refresh tokens
        if (rotate) {
            QVERIFY(provider.startScript(
                "oauth_servers.py",
                {"--client-id", "c", "--user", "a", "--rotate", "--refresh-token", kRefreshToken}));
            QVERIFY(QTest::qWaitFor([&] { return !provider.events().filter("HTTP ").isEmpty(); }));
        }
        const QStringList http = rotate ? provider.events().filter("HTTP ") : QStringList();

        test::TestEnv env;
        const QString path = env.root() + QStringLiteral("postwick.ini");
        QByteArray file =
            "[SETUP]\r\nSMTPUserName=ann\r\nSMTPPassword=" + ScramblePassword(kPassword).toUtf8() +
            "\r\nPassword=" + ScramblePassword(kPopPassword).toUtf8() +
            "\r\nOAuthProvider=3\r\nOAuthClientID=c\r\nOAuthTokenURL=http://127.0.0.1:" +
            (http.isEmpty() ? QByteArray("1") : http[0].mid(5).toUtf8()) +
            "/token\r\nOAuthTokenInFile=" + QByteArray::number(tokenInFile) + "\r\n";
        if (preference >= 0)
            file += "KeyringPasswords=" + QByteArray::number(preference) + "\r\n";
        QVERIFY(test::writeFile(path, file));

        // the window: a password in the file keeps working
        test::ScriptedUserInteraction ui;
        ui.script({tokenKeptInFile ? Answer::Yes : Answer::No});
        CAppSession session(AppFolders{}, path, ui);
        session.ReadSettingsFile();
        QCOMPARE(session.settings().server.smtpPassword, kPassword);
        session.settings().oauthRefreshToken = kRefreshToken;
        // the sign-in is stored at once after the server settings' OK, everything at close
        StoreSignInNow(session);
        CIniFile ini(path);
        QVERIFY(ini.Load());
        WriteSettings(ini, session.settings());
        StoreSecrets(ini, session.settings(), processKeyring());
        QVERIFY(ini.Save());

        const QByteArray written = test::readFile(path);
        QCOMPARE(written.contains(ScramblePassword(kPassword).toUtf8()), passwordInFile);
        QCOMPARE(written.contains(ScramblePassword(kPopPassword).toUtf8()), passwordInFile);
        QCOMPARE(written.contains(ScramblePassword(kRefreshToken).toUtf8()), tokenKeptInFile);
        for (const QString& secret : {kPassword, kPopPassword, kRefreshToken})
            QVERIFY(!written.contains(secret.toUtf8()));
        // where no keyring took the token, the question was asked (only when the user had
        // not agreed yet); the dialog said "Signed in", so silence would lose the sign-in
        QCOMPARE(ui.askedTexts().size(), keyring != 1 && tokenInFile == 0 ? 1 : 0);
        if (keyring == 1) {
            QCOMPARE(m_keyring->lookup(QStringLiteral("SMTPPassword")) == kPassword,
                     passwordInKeyring);
            QCOMPARE(m_keyring->lookup(QStringLiteral("OAuthRefreshToken")) == kRefreshToken,
                     tokenInKeyring);
        }

        // read back as the next start does
        CAppSession next(AppFolders{}, path, ui);
        next.ReadSettingsFile();
        QCOMPARE(next.settings().server.smtpPassword, kPassword);
        QCOMPARE(next.settings().server.password, kPopPassword);
        QCOMPARE(next.settings().oauthRefreshToken == kRefreshToken,
                 tokenKeptInFile || tokenInKeyring);
        if (!rotate)
            return;

        // a run renews the access; the provider retires the refresh token it was given, so
        // only the new one, kept where the old one was, signs the next run in
        const send::AccessToken renewed =
            standardServerRecord(next.settings()).tokens->accessToken(send::TokenNeed::Fresh);
        QVERIFY2(renewed.ok, qPrintable(renewed.error));
        CAppSession after(AppFolders{}, path, ui);
        after.ReadSettingsFile();
        const QString rotated = after.settings().oauthRefreshToken;
        QVERIFY2(rotated.startsWith("rt-") && rotated != kRefreshToken, qPrintable(rotated));
        QCOMPARE(test::readFile(path).contains(ScramblePassword(rotated).toUtf8()),
                 tokenKeptInFile);
        QVERIFY(!test::readFile(path).contains(rotated.toUtf8()));
        const send::AccessToken again =
            standardServerRecord(after.settings()).tokens->accessToken(send::TokenNeed::Fresh);
        QVERIFY2(again.ok, qPrintable(again.error));
    }

private:
    std::unique_ptr<test::TestEnv> m_env;
    std::unique_ptr<test::PrivateKeyring> m_keyring;
};

QTEST_GUILESS_MAIN(TestKeyring)
#include "test_keyring.moc"
