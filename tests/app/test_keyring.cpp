// The secrets of the settings in the desktop keyring: a private session bus with
// gnome-keyring-daemon unlocked by the test. A password already in the settings file keeps
// working, a save moves it into the keyring and blanks its key; without a keyring everything
// stays where it was, and a refresh token is kept in the file only when the user agreed.

#include <QScopeGuard>
#include <QTest>

#include "PrivateKeyring.h"
#include "ScriptedUserInteraction.h"
#include "TestEnv.h"
#include "app/AppSession.h"
#include "app/IniFile.h"
#include "app/Keyring.h"
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
        QTest::addColumn<bool>("keyring");     // one answers
        QTest::addColumn<int>("preference");   // "KeyringPasswords" in the file; -1 none
        QTest::addColumn<int>("tokenInFile");  // the user agreed to keep the sign-in there
        QTest::addColumn<bool>("passwordInFile");
        QTest::addColumn<bool>("passwordInKeyring");
        QTest::addColumn<bool>("tokenKeptInFile");
        QTest::addColumn<bool>("tokenInKeyring");
        QTest::newRow("keyring, nothing chosen: the password moves into it on save")
            << true << -1 << 0 << false << true << false << true;
        QTest::newRow("keyring chosen") << true << 1 << 0 << false << true << false << true;
        QTest::newRow("keyring, preference off: the password stays, the token does not")
            << true << 0 << 0 << true << false << false << true;
        QTest::newRow("no keyring: the password stays, the token is not kept")
            << false << -1 << 0 << true << false << false << false;
        QTest::newRow("no keyring, the user agreed: the token in the file")
            << false << -1 << 1 << true << false << true << false;
    }
    void secrets() {
        QFETCH(bool, keyring);
        QFETCH(int, preference);
        QFETCH(int, tokenInFile);
        QFETCH(bool, passwordInFile);
        QFETCH(bool, passwordInKeyring);
        QFETCH(bool, tokenKeptInFile);
        QFETCH(bool, tokenInKeyring);
        for (const char* key : {"Password", "SMTPPassword", "OAuthRefreshToken"})
            (void)processKeyring().remove(QString::fromLatin1(key));
        if (!keyring)
            qputenv("POSTWICK_KEYRING", "off");
        const auto restore = qScopeGuard([] { qunsetenv("POSTWICK_KEYRING"); });

        test::TestEnv env;
        const QString path = env.root() + QStringLiteral("postwick.ini");
        QByteArray file =
            "[SETUP]\r\nSMTPUserName=ann\r\nSMTPPassword=" + ScramblePassword(kPassword).toUtf8() +
            "\r\nPassword=" + ScramblePassword(kPopPassword).toUtf8() +
            "\r\nOAuthProvider=1\r\nOAuthTokenInFile=" + QByteArray::number(tokenInFile) + "\r\n";
        if (preference >= 0)
            file += "KeyringPasswords=" + QByteArray::number(preference) + "\r\n";
        QVERIFY(test::writeFile(path, file));

        // the window: a password in the file keeps working
        test::ScriptedUserInteraction ui;
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
        // without a keyring the question was asked (and answered No by the script) only when
        // the user had not agreed yet
        QCOMPARE(ui.askedTexts().size(), !keyring && tokenInFile == 0 ? 1 : 0);
        if (keyring) {
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
    }

private:
    std::unique_ptr<test::TestEnv> m_env;
    std::unique_ptr<test::PrivateKeyring> m_keyring;
};

QTEST_GUILESS_MAIN(TestKeyring)
#include "test_keyring.moc"
