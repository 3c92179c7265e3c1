// The authentication pieces against published test vectors, and the choice of mechanism.

#include "smtp/HmacMd5.h"
#include "smtp/Ntlm.h"
#include "smtp/SmtpAuth.h"

#include <QTest>

using namespace pw::smtp;

namespace {

QByteArray hex(const char* h) {
    return QByteArray::fromHex(h);
}

QByteArray le16(const QString& s) {
    QByteArray out;
    for (QChar c : s) {
        out.append(static_cast<char>(c.unicode() & 0xff));
        out.append(static_cast<char>(c.unicode() >> 8));
    }
    return out;
}

}  // namespace

class TestSmtpAuth : public QObject {
    Q_OBJECT

private slots:
    void hmacMd5_data() {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("digest");
        // RFC 2202, section 2
        QTest::newRow("1 short key") << QByteArray(16, '\x0b') << QByteArray("Hi There")
                                     << QByteArray("9294727a3638bb1c13f48ef8158bfc9d");
        QTest::newRow("2 text key")
            << QByteArray("Jefe") << QByteArray("what do ya want for nothing?")
            << QByteArray("750c783e6ab0b503eaa86e310a5db738");
        QTest::newRow("3 binary data") << QByteArray(16, '\xaa') << QByteArray(50, '\xdd')
                                       << QByteArray("56be34521d144c88dbb8c733f0e8b3f6");
        QTest::newRow("4 25-byte key")
            << hex("0102030405060708090a0b0c0d0e0f10111213141516171819") << QByteArray(50, '\xcd')
            << QByteArray("697eaf0aca3a3aea3a75164746ffaa79");
        QTest::newRow("5 truncation")
            << QByteArray(16, '\x0c') << QByteArray("Test With Truncation")
            << QByteArray("56461ef2342edc00f9bab995690efd4c");
        QTest::newRow("6 key over one block is hashed first")
            << QByteArray(80, '\xaa')
            << QByteArray("Test Using Larger Than Block-Size Key - Hash Key First")
            << QByteArray("6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
        QTest::newRow("7 long key and long data")
            << QByteArray(80, '\xaa')
            << QByteArray(
                   "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data")
            << QByteArray("6f630fad67cda0ee1fb1f562db3aa53e");
        QTest::newRow("exactly one block of key is used as it is")
            << QByteArray(64, 'k') << QByteArray("x")
            << HmacMd5(QByteArray("x"), QByteArray(64, 'k')).value_or("").toHex();
    }
    void hmacMd5() {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, digest);
        const auto d = HmacMd5(data, key);
        QVERIFY(d.has_value());
        QCOMPARE(DigestToHex(*d), digest);
    }

    void cramMd5MatchesTheRfc2195Example() {
        const QByteArray challenge =
            DecodeChallenge("334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n");
        QCOMPARE(challenge, QByteArray("<1896.697170952@postoffice.reston.mci.net>"));
        const QByteArray answer = CramMd5Answer("tim", "tanstaaftanstaaf", challenge);
        QCOMPARE(answer, QByteArray("tim b913a602c7eda7a495b4e6e7334d3890"));
        QCOMPARE(answer.toBase64(), QByteArray("dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw"));
    }

    void decodeChallengeSkipsWhatIsNotBase64_data() {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<QByteArray>("decoded");
        QTest::newRow("aiosmtpd LOGIN prompt")
            << QByteArray("334 VXNlciBOYW1lAA==\r\n") << QByteArray("User Name\0", 10);
        QTest::newRow("postfix prompt")
            << QByteArray("334 VXNlcm5hbWU6\r\n") << QByteArray("Username:");
        QTest::newRow("empty challenge") << QByteArray("334 \r\n") << QByteArray();
        QTest::newRow("stray blanks and CR LF inside")
            << QByteArray("334 VXNl cm5h\r\nbWU6\r\n") << QByteArray("Username:");
    }
    void decodeChallengeSkipsWhatIsNotBase64() {
        QFETCH(QByteArray, response);
        QFETCH(QByteArray, decoded);
        QCOMPARE(DecodeChallenge(response), decoded);
    }

    void plainKeepsBothZeroBytes_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("both") << "ann"
                              << "pw" << QByteArray("\0ann\0pw", 7);
        QTest::newRow("empty password") << "ann"
                                        << "" << QByteArray("\0ann\0", 5);
        QTest::newRow("non-ASCII as UTF-8")
            << "ann" << QString::fromUtf8("パス")
            << QByteArray("\0ann\0", 5) + QString::fromUtf8("パス").toUtf8();
    }
    void plainKeepsBothZeroBytes() {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QByteArray, bytes);
        QCOMPARE(PlainCredentials(user, password), bytes);
    }

    void automaticChoice_data() {
        QTest::addColumn<QString>("ehlo");
        QTest::addColumn<int>("method");
        const auto m = [](AuthMethod a) { return static_cast<int>(a); };
        QTest::newRow("LOGIN and PLAIN gives LOGIN")
            << "250-host\r\n250-AUTH PLAIN LOGIN\r\n250 HELP\r\n"
            << m(AuthMethod::Login);
        QTest::newRow("CRAM-MD5 and LOGIN gives CRAM-MD5")
            << "250-host\r\n250-AUTH LOGIN CRAM-MD5\r\n250 8BITMIME\r\n"
            << m(AuthMethod::CramMd5);
        QTest::newRow("NTLM first")
            << "250-host\r\n250-AUTH PLAIN NTLM CRAM-MD5 LOGIN\r\n250 OK\r\n"
            << m(AuthMethod::Ntlm);
        QTest::newRow("PLAIN alone") << "250-host\r\n250-AUTH PLAIN\r\n250 OK\r\n"
                                     << m(AuthMethod::Plain);
        QTest::newRow("AUTH on the final line is seen")
            << "250-host\r\n250-8BITMIME\r\n250 AUTH LOGIN PLAIN\r\n"
            << m(AuthMethod::Login);
        QTest::newRow("old AUTH= form") << "250-host\r\n250-AUTH=LOGIN\r\n250 OK\r\n"
                                        << m(AuthMethod::Login);
        QTest::newRow("lower case names") << "250-host\r\n250-auth cram-md5\r\n250 OK\r\n"
                                          << m(AuthMethod::CramMd5);
        QTest::newRow("only unknown mechanisms")
            << "250-host\r\n250-AUTH XOAUTH2 GSSAPI\r\n250 OK\r\n"
            << m(AuthMethod::None);
        QTest::newRow("no AUTH line") << "250-host\r\n250 8BITMIME\r\n" << m(AuthMethod::None);
        QTest::newRow("AUTH only inside the greeting text is no offer")
            << "250 host says AUTH LOGIN\r\n"
            << m(AuthMethod::None);
        QTest::newRow("a name containing LOGIN is not LOGIN")
            << "250-host\r\n250-AUTH XLOGINX\r\n250 OK\r\n"
            << m(AuthMethod::None);
    }
    void automaticChoice() {
        QFETCH(QString, ehlo);
        QFETCH(int, method);
        QCOMPARE(static_cast<int>(ChooseAuthMethod(AuthMechanismsFromEhlo(ehlo))), method);
        // with a token the bearer mechanisms come first; where none is offered nothing changes
        if (!ehlo.contains("OAUTH"))
            QCOMPARE(static_cast<int>(ChooseAuthMethod(AuthMechanismsFromEhlo(ehlo) + " XLOGIN",
                                                       TokenAvailable::Yes)),
                     method);
    }

    void bearerResponses_data() {
        QTest::addColumn<QByteArray>("made");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("XOAUTH2") << XOAuth2Response("ann@example.org", "ya29.tok")
                                 << QByteArray(
                                        "user=ann@example.org\x01"
                                        "auth=Bearer ya29.tok\x01\x01");
        // RFC 7628 3.1, with the GS2 escapes of "," and "=" in the identity (RFC 5801)
        QTest::newRow("OAUTHBEARER")
            << OAuthBearerResponse("a,b=c@example.org", "smtp.example.org", 587, "tok")
            << QByteArray(
                   "n,a=a=2Cb=3Dc@example.org,\x01host=smtp.example.org\x01port=587\x01"
                   "auth=Bearer tok\x01\x01");
        QTest::newRow("the JSON status of a refusal")
            << BearerErrorStatus(
                   "{\"status\":\"401\",\"schemes\":\"bearer\",\"scope\":\"https://x/\"}")
                   .toUtf8()
            << QByteArray("status 401, schemes bearer, scope https://x/");
        QTest::newRow("no JSON, no status") << BearerErrorStatus("535 no").toUtf8() << QByteArray();
        QTest::newRow("a token chosen over LOGIN")
            << QByteArray::number(static_cast<int>(
                   ChooseAuthMethod("LOGIN XOAUTH2 OAUTHBEARER", TokenAvailable::Yes)))
            << QByteArray::number(static_cast<int>(AuthMethod::OAuthBearer));
    }
    void bearerResponses() {
        QFETCH(QByteArray, made);
        QFETCH(QByteArray, bytes);
        QCOMPARE(made, bytes);
    }

    void starttlsOffer_data() {
        QTest::addColumn<QString>("ehlo");
        QTest::addColumn<bool>("offered");
        QTest::newRow("middle line") << "250-host\r\n250-STARTTLS\r\n250 OK\r\n" << true;
        QTest::newRow("final line") << "250-host\r\n250 STARTTLS\r\n" << true;
        QTest::newRow("absent") << "250-host\r\n250 8BITMIME\r\n" << false;
        QTest::newRow("greeting text only") << "250 STARTTLS\r\n" << false;
    }
    void starttlsOffer() {
        QFETCH(QString, ehlo);
        QFETCH(bool, offered);
        QCOMPARE(EhloOffers(ehlo, "STARTTLS"), offered);
    }

    void md4MatchesRfc1320_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("digest");
        QTest::newRow("empty") << QByteArray("") << QByteArray("31d6cfe0d16ae931b73c59d7e0c089c0");
        QTest::newRow("a") << QByteArray("a") << QByteArray("bde52cb31de33e46245e05fbdbd6fb24");
        QTest::newRow("abc") << QByteArray("abc") << QByteArray("a448017aaf21d8525fc10ae87aa6729d");
        QTest::newRow("message digest")
            << QByteArray("message digest") << QByteArray("d9130a8164549fe818874806e1c7014b");
        QTest::newRow("alphabet") << QByteArray("abcdefghijklmnopqrstuvwxyz")
                                  << QByteArray("d79e1c308aa5bbcdeea8ed63df412da9");
        QTest::newRow("80 digits, two blocks")
            << QByteArray(
                   "1234567890123456789012345678901234567890123456789012345678901234567890"
                   "1234567890")
            << QByteArray("e33b4ddc9c38f2199c3e7b164fcc0536");
    }
    void md4MatchesRfc1320() {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, digest);
        QCOMPARE(ntlm::Md4(input).toHex(), digest);
    }

    void rc4KnownAnswers() {
        QCOMPARE(ntlm::Rc4("Key", "Plaintext").toHex(), QByteArray("bbf316e8d940af0ad3"));
        QCOMPARE(ntlm::Rc4("Wiki", "pedia").toHex(), QByteArray("1021bf0420"));
    }

    // The NTLMv2 example of the published NTLM protocol description: user "User", domain
    // "Domain", password "Password", server challenge 0123456789abcdef, client challenge
    // aa..aa, time 0, random session key 55..55.
    void ntlmV2MatchesThePublishedExample() {
        QCOMPARE(ntlm::NtOwfV2("Password", "User", "Domain").toHex(),
                 QByteArray("0c868a403bfd7a93a3001ef22ef02e3f"));

        QByteArray targetInfo;
        targetInfo += hex("02000c00") + le16("Domain");
        targetInfo += hex("01000c00") + le16("Server");
        targetInfo += hex("00000000");
        const QByteArray targetName = le16("Server");
        QByteArray challenge = QByteArray("NTLMSSP\0", 8) + hex("02000000");
        challenge += hex("0c000c00") + hex("38000000");  // target name at 56
        challenge += hex("33828ae2");                    // flags
        challenge += hex("0123456789abcdef") + QByteArray(8, '\0');
        challenge += hex("24002400") + hex("44000000");  // target info at 68
        challenge += hex("060070170000000f");            // version
        challenge += targetName + targetInfo;

        const auto parsed = ntlm::ParseChallenge(challenge);
        QVERIFY(parsed.has_value());
        QCOMPARE(parsed->targetName, QString("Server"));
        QCOMPARE(parsed->serverChallenge.toHex(), QByteArray("0123456789abcdef"));
        QCOMPARE(parsed->targetInfo, targetInfo);

        CNTLMClientAuth auth;
        auth.SetCredentials("Domain\\User", "Password");
        auth.SetFixedRandomness(QByteArray(8, '\xaa'), 0, QByteArray(16, '\x55'));
        const auto message = auth.AuthenticateMessage(challenge);
        QVERIFY(message.has_value());
        QCOMPARE(auth.NtProofStr().toHex(), QByteArray("68cd0ab851e51c96aabc927bebef6a1c"));
        QCOMPARE(auth.LmResponse().toHex(),
                 QByteArray("86c35097ac9cec102554764a57cccc19aaaaaaaaaaaaaaaa"));
        QCOMPARE(auth.SessionBaseKey().toHex(), QByteArray("8de40ccadbc14a82f15cb0ad0de95ca3"));
        QCOMPARE(auth.EncryptedSessionKey().toHex(),
                 QByteArray("c5dad2544fc9799094ce1ce90bc9d03e"));

        // the AUTHENTICATE message carries them where its fields point
        const QByteArray& m = *message;
        QVERIFY(m.startsWith(QByteArray("NTLMSSP\0\x03\0\0\0", 12)));
        auto field = [&](int at) {
            const int length =
                static_cast<unsigned char>(m[at]) | (static_cast<unsigned char>(m[at + 1]) << 8);
            const int offset = static_cast<unsigned char>(m[at + 4]) |
                               (static_cast<unsigned char>(m[at + 5]) << 8);
            return m.mid(offset, length);
        };
        QCOMPARE(field(12), auth.LmResponse());
        QCOMPARE(field(20).left(16), auth.NtProofStr());
        QVERIFY(field(20).contains(targetInfo.left(targetInfo.size() - 4)));
        QCOMPARE(field(28), le16("Domain"));
        QCOMPARE(field(36), le16("User"));
        QCOMPARE(field(52), auth.EncryptedSessionKey());
    }

    void ntlmTimestampOfTheServerIsUsedAndMicWritten() {
        QByteArray targetInfo;
        targetInfo += hex("07000800") + hex("0090d336b734c301");  // a server time
        targetInfo += hex("00000000");
        QByteArray challenge = QByteArray("NTLMSSP\0", 8) + hex("02000000");
        challenge += hex("00000000") + hex("30000000");
        challenge += hex("35828ae2") + hex("1122334455667788") + QByteArray(8, '\0');
        challenge += hex("10001000") + hex("30000000");
        challenge += targetInfo;
        CNTLMClientAuth auth;
        auth.SetCredentials("ann", "pw");
        const auto message = auth.AuthenticateMessage(challenge);
        QVERIFY(message.has_value());
        // with a server time the LM response is zeros and the MIC follows the version
        QCOMPARE(auth.LmResponse(), QByteArray(24, '\0'));
        QVERIFY(message->mid(72, 16) != QByteArray(16, '\0'));
        QVERIFY(message->contains(hex("0090d336b734c301")));
        QVERIFY(message->contains(hex("060004000200000000000000")));  // MsvAvFlags: MIC, EOL
    }

    void ntlmRefusesMalformedChallenges_data() {
        QTest::addColumn<QByteArray>("challenge");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("wrong signature") << QByteArray(48, 'x');
        QTest::newRow("type 1 instead of 2")
            << QByteArray("NTLMSSP\0", 8) + hex("01000000") + QByteArray(36, '\0');
        QTest::newRow("target info beyond the end")
            << QByteArray("NTLMSSP\0", 8) + hex("02000000") + QByteArray(8, '\0') +
                   hex("01020000") + QByteArray(16, '\0') + hex("ffff0000") + hex("30000000");
        QTest::newRow("AV pair longer than the list")
            << QByteArray("NTLMSSP\0", 8) + hex("02000000") + QByteArray(8, '\0') +
                   hex("01020000") + QByteArray(16, '\0') + hex("08000800") + hex("30000000") +
                   hex("0200ff00aaaaaaaa");
    }
    void ntlmRefusesMalformedChallenges() {
        QFETCH(QByteArray, challenge);
        CNTLMClientAuth auth;
        auth.SetCredentials("ann", "pw");
        QVERIFY(!auth.AuthenticateMessage(challenge).has_value());
    }
};

QTEST_GUILESS_MAIN(TestSmtpAuth)
#include "test_smtp_auth.moc"
