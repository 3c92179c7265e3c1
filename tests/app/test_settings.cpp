// The settings file: line rules, write-back, typed keys, passwords and window positions.

#include <unistd.h>
#include <QFile>
#include <QtTest>
#include <cstdio>

#include "TestEnv.h"
#include "app/IniFile.h"
#include "app/Settings.h"
#include "smtp/Charsets.h"

using namespace pw::app;
using pw::test::readFile;
using pw::test::writeFile;

namespace {

// Runs f with standard output captured.
template <typename F>
QByteArray captureStdout(F&& f) {
    std::fflush(stdout);
    int pipefd[2];
    if (::pipe(pipefd) != 0)
        return {};
    const int saved = ::dup(1);
    ::dup2(pipefd[1], 1);
    f();
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    ::close(pipefd[1]);
    QByteArray out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(pipefd[0], buf, sizeof buf)) > 0)
        out.append(buf, n);
    ::close(pipefd[0]);
    return out;
}

}  // namespace

class TestSettings : public QObject {
    Q_OBJECT
    pw::test::TestEnv env;
    QString path() const { return env.root() + "postwick.ini"; }

private slots:
    void initTestCase() { pw::setLanguage(pw::Language::English); }
    void lowerCaseNamesAreFoundAndKept() {
        QVERIFY(writeFile(path(), "[setup]\r\nsmtpport=587\r\n"));
        CIniFile ini(path());
        QVERIFY(ini.Load());
        QCOMPARE(ini.GetInt("SETUP", "SMTPPort", 25), 587);
        Settings s = ReadSettings(ini);
        QCOMPARE(s.server.smtpPort, 587);
        WriteSettings(ini, s);
        QVERIFY(ini.Save());
        const QByteArray out = readFile(path());
        QVERIFY(out.startsWith("[setup]\r\nsmtpport=587\r\n"));
        QVERIFY(!out.contains("SMTPPort"));
        QVERIFY(out.contains("\r\nSMTPServer=\r\n"));
        QVERIFY(out.contains("[WINDOW]\r\nShowFieldWnd=1\r\n"));
    }

    void blanksAroundEqualsBelongToNameAndValue() {
        QVERIFY(writeFile(path(), "[SETUP]\r\nSMTPPort = 587\r\n"));
        CIniFile ini(path());
        QVERIFY(ini.Load());
        QCOMPARE(ini.GetInt("SETUP", "SMTPPort", 25), 25);
        QCOMPARE(ini.GetText("SETUP", "SMTPPort ", "x"), QStringLiteral(" 587"));
        QCOMPARE(ini.GetInt("SETUP", "SMTPPort ", 0), 587);  // atoi skips the blank
        WriteSettings(ini, ReadSettings(ini));
        const QByteArray out = ini.serialize();
        QVERIFY(out.contains("SMTPPort = 587\r\n"));
        QVERIFY(out.contains("\r\nSMTPPort=25\r\n"));
    }

    void commentsMoveUnderTheirHeaderAndHashBecomesSemicolon() {
        QVERIFY(
            writeFile(path(), ";top\r\n[SETUP]\r\nA=1\r\n# between\r\nB=2\r\n[X]\r\n;x note\r\n"));
        CIniFile ini(path());
        QVERIFY(ini.Load());
        QCOMPARE(
            ini.serialize(),
            QByteArray(
                ";top\r\n\r\n[SETUP]\r\n; between\r\nA=1\r\nB=2\r\n\r\n[X]\r\n;x note\r\n\r\n"));
    }

    void lineClassification_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("last bracket closes the header") << QByteArray("[a]b]\nk=v\n") << "a]b"
                                                        << "k"
                                                        << "v";
        QTest::newRow("header without closing bracket is ignored")
            << QByteArray("[S]\n[T\nk=v\n") << "S"
            << "k"
            << "v";
        QTest::newRow("equals before semicolon makes a key") << QByteArray("[S]\nk=v;w\n") << "S"
                                                             << "k"
                                                             << "v;w";
        QTest::newRow("semicolon before equals makes a comment") << QByteArray("[S]\nk;=v\n") << "S"
                                                                 << "k;"
                                                                 << "<missing>";
        QTest::newRow("later duplicate replaces the value")
            << QByteArray("[S]\nKey=1\nKEY=2\n") << "s"
            << "key"
            << "2";
        QTest::newRow("key before any header gets an empty section")
            << QByteArray("k=v\n[S]\n") << ""
            << "k"
            << "v";
        QTest::newRow("line without marks is ignored") << QByteArray("[S]\njust text\nk=v\n") << "S"
                                                       << "just text"
                                                       << "<missing>";
        QTest::newRow("trailing CR removed") << QByteArray("[S]\r\nk=v\r\n") << "S"
                                             << "k"
                                             << "v";
    }
    void lineClassification() {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QVERIFY(writeFile(path(), file));
        CIniFile ini(path());
        (void)ini.Load();
        QCOMPARE(ini.GetText(section, key, "<missing>"), value);
    }

    // A file that is there but cannot be read is said so, and never written over: the
    // defaults saved over it would lose every setting it holds.
    void unreadableFileIsToldAndKept_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("failure");
        QTest::newRow("tab after a good key")
            << QByteArray("[SETUP]\r\nSMTPPort=587\r\n\tName=x\r\nFrom=y\r\n")
            << "line 3 begins with the byte 0x09";
        QTest::newRow("binary garbage")
            << QByteArray("\x01\x02\x00\xff garbage", 12) << "line 1 begins with the byte 0x01";
        QTest::newRow("UTF-16") << QByteArray("\xff\xfe[\0S\0E\0T\0U\0P\0]\0", 16)
                                << "line 1 begins with the byte 0xff";
        QTest::newRow("a folder") << QByteArray() << "Is a directory";
    }
    void unreadableFileIsToldAndKept() {
        QFETCH(QByteArray, file);
        QFETCH(QString, failure);
        QFile::remove(path());
        if (file.isEmpty())
            QVERIFY(QDir().mkpath(path()));
        else
            QVERIFY(writeFile(path(), file));
        CIniFile ini(path());
        bool loaded = true;
        const QByteArray out = captureStdout([&] { loaded = ini.Load(); });
        QVERIFY(!loaded);
        QCOMPARE(out, QByteArray());
        QCOMPARE(ini.loadStatus(), CIniFile::LoadStatus::Unreadable);
        QVERIFY2(ini.loadFailure().contains(failure), qPrintable(ini.loadFailure()));
        Settings s = ReadSettings(ini);
        if (file.startsWith("[SETUP]")) {
            QCOMPARE(s.server.smtpPort, 587);  // what came before the bad line is kept
            QCOMPARE(s.server.from, QString());
        } else {
            QCOMPARE(s.server.smtpPort, 25);
        }
        WriteSettings(ini, s);
        QVERIFY(!ini.Save());
        if (!file.isEmpty())
            QCOMPARE(readFile(path()), file);
        QDir(path()).removeRecursively();
    }

    // Only a missing file is a fresh start.
    void missingFileIsNoFailure() {
        CIniFile ini(path() + QStringLiteral(".none"));
        QVERIFY(!ini.Load());
        QCOMPARE(ini.loadStatus(), CIniFile::LoadStatus::Missing);
        QVERIFY(ini.Save());
        QFile::remove(path() + QStringLiteral(".none"));
    }

    // Editors add a byte order mark; it must not cost every setting.
    void byteOrderMarkIsSkipped() {
        QVERIFY(writeFile(path(), "\xEF\xBB\xBF[SETUP]\r\nSMTPPort=587\r\n"));
        CIniFile ini(path());
        QVERIFY(ini.Load());
        QCOMPARE(ReadSettings(ini).server.smtpPort, 587);
        QVERIFY(ini.serialize().startsWith("[SETUP]"));
    }

    void pacingBroughtIntoRange_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("oneTimeSend");
        QTest::addColumn<int>("sendWait");
        QTest::addColumn<int>("connectWait");
        QTest::newRow("in range") << QByteArray("OneTimeSend=50\nSendWait=30\nConnectWait=5") << 50
                                  << 30 << 5;
        QTest::newRow("a pause of 27 hours")
            << QByteArray("SendWait=100000\nConnectWait=100000") << 1 << 300 << 60;
        QTest::newRow("no mail per batch") << QByteArray("OneTimeSend=0") << 1 << 0 << 0;
        QTest::newRow("huge batch, negative waits")
            << QByteArray("OneTimeSend=99999\nSendWait=-1\nConnectWait=-7") << 100 << 0 << 0;
    }
    void pacingBroughtIntoRange() {
        QFETCH(QByteArray, line);
        QFETCH(int, oneTimeSend);
        QFETCH(int, sendWait);
        QFETCH(int, connectWait);
        QVERIFY(writeFile(path(), "[SETUP]\n" + line + "\n"));
        CIniFile ini(path());
        QVERIFY(ini.Load());
        const Settings s = ReadSettings(ini);
        QCOMPARE(s.oneTimeSend, oneTimeSend);
        QCOMPARE(s.sendWait, sendWait);
        QCOMPARE(s.connectWait, connectWait);
    }

    // A stored choice is its enum from the moment it is read; a number the program never
    // writes reads as the first choice, and a written file keeps the numbers.
    void choicesReadAsTheirEnums_data() {
        using pw::send::AddrSetType;
        using pw::send::ErrorPolicy;
        using pw::serversettings::OAuthProvider;
        using pw::smtp::JapaneseExtras;
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<AddrSetType>("addrSetType");
        QTest::addColumn<JapaneseExtras>("extras");
        QTest::addColumn<OAuthProvider>("provider");
        QTest::addColumn<ErrorPolicy>("policy");
        QTest::newRow("as written")
            << QByteArray("AddrSetType=2\nJapaneseExtras=1\nOAuthProvider=3\nSendContinue=3")
            << AddrSetType::RestBcc << JapaneseExtras::WindowsCodes << OAuthProvider::Custom
            << ErrorPolicy::Ask;
        QTest::newRow("the other numbers written")
            << QByteArray("AddrSetType=1\nJapaneseExtras=2\nOAuthProvider=1\nSendContinue=4")
            << AddrSetType::RestCc << JapaneseExtras::Replace << OAuthProvider::Microsoft365
            << ErrorPolicy::Terminate;
        QTest::newRow("the first choices")
            << QByteArray("AddrSetType=0\nJapaneseExtras=0\nOAuthProvider=0\nSendContinue=1")
            << AddrSetType::AllTo << JapaneseExtras::Utf8 << OAuthProvider::None
            << ErrorPolicy::Continue;
        QTest::newRow("numbers never written")
            << QByteArray("AddrSetType=7\nJapaneseExtras=-1\nOAuthProvider=4\nSendContinue=2")
            << AddrSetType::AllTo << JapaneseExtras::Utf8 << OAuthProvider::None
            << ErrorPolicy::Continue;
        QTest::newRow("zero and below")
            << QByteArray("SendContinue=0\nAddrSetType=-7") << AddrSetType::AllTo
            << JapaneseExtras::Utf8 << OAuthProvider::None << ErrorPolicy::Continue;
        QTest::newRow("not a number")
            << QByteArray("SendContinue=ask\nOAuthProvider=x") << AddrSetType::AllTo
            << JapaneseExtras::Utf8 << OAuthProvider::None << ErrorPolicy::Continue;
    }
    void choicesReadAsTheirEnums() {
        QFETCH(QByteArray, line);
        QFETCH(pw::send::AddrSetType, addrSetType);
        QFETCH(pw::smtp::JapaneseExtras, extras);
        QFETCH(pw::serversettings::OAuthProvider, provider);
        QFETCH(pw::send::ErrorPolicy, policy);
        QVERIFY(writeFile(path(), "[SETUP]\n" + line + "\n"));
        CIniFile ini(path());
        QVERIFY(ini.Load());
        const Settings s = ReadSettings(ini);
        QCOMPARE(s.addrSetType, addrSetType);
        QCOMPARE(s.japaneseExtras, extras);
        QCOMPARE(s.oauthProvider, provider);
        QCOMPARE(s.sendContinue, policy);
        CIniFile written(path());
        WriteSettings(written, s);
        QCOMPARE(written.GetInt(kSetup, "AddrSetType", -9), pw::storedNumber(addrSetType));
        QCOMPARE(written.GetInt(kSetup, "OAuthProvider", -9), pw::storedNumber(provider));
        QCOMPARE(written.GetInt(kSetup, "SendContinue", -9), pw::storedNumber(policy));
    }

    // Tens of thousands of keys (a file grown by a faulty tool) still load, each found.
    // A file without "Encode" starts in the charset of the user's language; a stored one stays
    // whatever the language, since the project files were written in its code page.
    void charsetDefault_data() {
        QTest::addColumn<QByteArray>("locale");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("encode");
        const int utf8 = pw::smtp::utf8CharsetRow();
        QTest::newRow("German locale, nothing stored: UTF-8")
            << QByteArray("de_DE.UTF-8") << QByteArray() << utf8;
        QTest::newRow("C locale, nothing stored: UTF-8") << QByteArray("C") << QByteArray() << utf8;
        QTest::newRow("Japanese locale, nothing stored: Shift_JIS")
            << QByteArray("ja_JP.UTF-8") << QByteArray() << 0;
        QTest::newRow("English locale, Shift_JIS stored")
            << QByteArray("en_US.UTF-8") << QByteArray("Encode=0") << 0;
        QTest::newRow("English locale, ISO-2022-JP stored")
            << QByteArray("en_US.UTF-8") << QByteArray("Encode=1") << 1;
        QTest::newRow("Japanese locale, UTF-8 stored")
            << QByteArray("ja_JP.eucJP") << "Encode=" + QByteArray::number(utf8) << utf8;
    }
    void charsetDefault() {
        QFETCH(QByteArray, locale);
        QFETCH(QByteArray, line);
        QFETCH(int, encode);
        const QByteArray saved = qgetenv("LC_ALL");
        qputenv("LC_ALL", locale);
        pw::setLanguage(pw::languageFromLocaleEnvironment());
        QVERIFY(writeFile(path(), "[SETUP]\nFont=Courier\n" + line + "\n"));
        CIniFile ini(path());
        QVERIFY(ini.Load());
        const int read = ReadSettings(ini).encode;
        if (saved.isEmpty())
            qunsetenv("LC_ALL");
        else
            qputenv("LC_ALL", saved);
        pw::setLanguage(pw::Language::English);
        QCOMPARE(read, encode);
    }

    void manyKeysLoadAndAreFound() {
        QByteArray file = "[SETUP]\n";
        for (int i = 0; i < 40000; ++i)
            file += "Key" + QByteArray::number(i) + '=' + QByteArray::number(i) + '\n';
        file += "[WINDOW]\nShowFieldWnd=0\n";
        QVERIFY(writeFile(path(), file));
        CIniFile ini(path());
        QVERIFY(ini.Load());
        QCOMPARE(ini.GetInt("setup", "KEY39999", -1), 39999);
        QVERIFY(ini.RemoveKey("SETUP", "Key0"));
        QCOMPARE(ini.GetInt("SETUP", "Key1", -1), 1);
        QCOMPARE(ini.GetInt("SETUP", "Key0", -1), -1);
        QCOMPARE(ini.GetBool("WINDOW", "ShowFieldWnd", true), false);
    }

    void typedReads() {
        QVERIFY(writeFile(path(), "[SETUP]\nI1=  -42xyz\nI2=abc\nB1=abc\nB2=7\nB3=0\n"));
        CIniFile ini(path());
        QVERIFY(ini.Load());
        QCOMPARE(ini.GetInt("SETUP", "I1", 5), -42);
        QCOMPARE(ini.GetInt("SETUP", "I2", 5), 0);  // non-numeric text is 0, not the default
        QCOMPARE(ini.GetInt("SETUP", "missing", 5), 5);
        QCOMPARE(ini.GetBool("SETUP", "B1", true), false);
        QCOMPARE(ini.GetBool("SETUP", "B2", false), true);
        QCOMPARE(ini.GetBool("SETUP", "B3", true), false);
        QCOMPARE(ini.GetBool("SETUP", "missing", true), true);
        QCOMPARE(atoiLike("99999999999"), INT_MAX);
    }

    void setWithoutCreateNeedsAnExistingKey() {
        CIniFile ini(path());
        QVERIFY(!ini.SetText("S", "k", "v", CIniFile::Create::No));
        QVERIFY(ini.SetText("S", "k", "v"));
        QVERIFY(ini.SetText("s", "K", "w", CIniFile::Create::No));
        QCOMPARE(ini.serialize(), QByteArray("[S]\r\nk=w\r\n\r\n"));
        QVERIFY(ini.RemoveKey("S", "K"));
        QVERIFY(!ini.RemoveKey("S", "K"));
    }

    void passwords_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("stored");
        QTest::newRow("abc") << "abc"
                             << "362616";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("above 127") << QString::fromUtf8("pässwörd日本") << QString();
        QTest::newRow("longer than the old 1023-byte buffer") << QString(1500, 'x') << QString();
    }
    void passwords() {
        QFETCH(QString, password);
        QFETCH(QString, stored);
        const QString s = ScramblePassword(password);
        if (!stored.isNull())
            QCOMPARE(s, stored);
        QCOMPARE(UnscramblePassword(s), password);
    }

    void passwordsAreStoredScrambled() {
        CIniFile ini(path());
        Settings s;
        s.server.smtpPassword = "abc";
        WriteSettings(ini, s);
        QVERIFY(ini.serialize().contains("\r\nSMTPPassword=362616\r\n"));
        QCOMPARE(ReadSettings(ini).server.smtpPassword, QStringLiteral("abc"));
    }

    void everyKeyIsWrittenInOrder() {
        CIniFile ini(path());
        WriteSettings(ini, ReadSettings(ini));
        QVERIFY(ini.Save());
        const QByteArray out = readFile(path());
        const QList<QByteArray> keys = {"length=0",
                                        "Name=",
                                        "From=",
                                        "SMTPServer=",
                                        "POPServer=",
                                        "UserID=",
                                        "Password=",
                                        "AuthType=1",
                                        "SMTPPort=25",
                                        "SMTPVerifMethod=0",
                                        "SMTPAuthType=0",
                                        "SMTPUserName=",
                                        "SMTPPassword=",
                                        "SMTPConnectionType=0",
                                        "AutoGroupEnabled=0",
                                        "AutoGroupField=-1",
                                        "AttachmentAllocationEnabled=0",
                                        "AttachmentAllocationField=-1",
                                        "AttachmentAllocationSendIfAttachmentNotSpecified=0",
                                        "AttachmentAllocationSendIfAttachmentNotFound=1",
                                        "AttachmentAllocationUseFileExtensions=0",
                                        "AttachmentAllocationFolder=",
                                        "TestEmailAddress=",
                                        "DefaultRecipientField=0",
                                        "OpenDatabaseAfterImport=1",
                                        "Encode=23",  // UTF-8 outside Japanese
                                        "SendContinue=1",
                                        "LogView=0",
                                        "Wrap=0",
                                        "Toolbar=1",
                                        "UI=1",
                                        "Font=Courier",
                                        "FontSize=12",
                                        "OneTimeSend=1",
                                        "SendWait=0",
                                        "ConnectWait=0",
                                        "StartShortcut=1",
                                        "AddrSetType=0",
                                        "JapaneseExtras=0",
                                        "ImportDatesIso=0",
                                        "ShareListsOnServer=1",
                                        "DBExportItem=1",
                                        "StrFieldSize=100",
                                        "SMTPAcceptUnverifiedCert=0",
                                        "AttachmentSizeLimit=25",
                                        "CheckBeforeSending=1",
                                        "OAuthProvider=0",
                                        "OAuthClientID=",
                                        "OAuthClientSecret=",
                                        "OAuthAuthorizeURL=",
                                        "OAuthTokenURL=",
                                        "OAuthScope=",
                                        "OAuthAccount=",
                                        "OAuthTokenInFile=0",
                                        "OAuthRefreshToken=",
                                        "KeyringPasswords=-1",
                                        "RecordLimit=20000"};
        QByteArray expected = "[WINDOW]\r\nShowFieldWnd=1\r\n\r\n[SETUP]\r\n";
        for (const QByteArray& k : keys)
            expected += k + "\r\n";
        expected += "\r\n";
        QCOMPARE(out, expected);
        QVERIFY(!out.contains("DefaultDBPath"));
        QCOMPARE(QFile::permissions(path()),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    }

    void autoFrameCharactersKeptInHistory() {
        CIniFile ini(path());
        Settings s = ReadSettings(ini);
        QCOMPARE(s.autoBoxText, QString());
        s.autoBoxText = QString::fromUtf8("\xE2\x96\xA0*");
        WriteSettings(ini, s);
        QVERIFY(ini.serialize().contains("[HISTORY]\r\nAutoBoxText=\xE2\x96\xA0*\r\n"));
        QCOMPARE(ReadSettings(ini).autoBoxText, s.autoBoxText);
        s.autoBoxText.clear();
        WriteSettings(ini, s);
        QCOMPARE(ReadSettings(ini).autoBoxText, QString());
    }

    void missingFileGivesDefaults() {
        CIniFile ini(env.root() + "absent.ini");
        QVERIFY(!ini.Load());
        const Settings s = ReadSettings(ini);
        QCOMPARE(s.startShortcut, true);
        QCOMPARE(s.strFieldSize, 100);
        QCOMPARE(s.fontSize, 12);
        QCOMPARE(s.defaultRecipientField, 0);
    }

    void unwritableFileFailsWithoutTouchingIt() {
        const QString dir = env.makeFolder("ro");
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner);
        CIniFile ini(dir + "x.ini");
        ini.SetText("S", "k", "v");
        if (::geteuid() != 0)
            QVERIFY(!ini.Save());  // root writes anywhere
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void windowPositions_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QRect>("expected");
        const QRect centred((1920 - 800) / 2, (1080 - 600) / 2, 800, 600);
        QTest::newRow("kept") << "10,20,30,40,1" << QRect(10, 20, 30, 40);
        QTest::newRow("both sizes below 10") << "10,20,5,5,1" << centred;
        QTest::newRow("only width below 10 is kept") << "10,20,5,40,1" << QRect(10, 20, 5, 40);
        QTest::newRow("left beyond -width") << "-5000,0,800,600,1" << centred;
        QTest::newRow("saved maximised") << "100,100,900,700,3" << centred;
        QTest::newRow("nothing saved") << "-10000,-10000,800,600,1" << centred;
        QTest::newRow("fewer than five fields") << "10,20,30,40" << centred;
        QTest::newRow("quoted fields and leading blanks")
            << "\"10\", 20,30,40,1" << QRect(10, 20, 30, 40);
        QTest::newRow("bad size field gives 0") << "10,20,x,40,1" << QRect(10, 20, 0, 40);
        QTest::newRow("off the right edge") << "1921,20,300,400,1" << centred;
        QTest::newRow("out of range number") << "99999999999,20,300,400,1" << centred;
    }
    void windowPositions() {
        QFETCH(QString, stored);
        QFETCH(QRect, expected);
        QCOMPARE(RestoreRect(stored, QSize(1920, 1080)), expected);
    }

    void placementText() {
        QCOMPARE(FormatPlacement({QRect(-3, 4, 800, 600), 3}), QStringLiteral("-3,4,800,600,3"));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
