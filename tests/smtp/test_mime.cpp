// The message model against byte-exact renderings and against Python's email package.

#include "TestEnv.h"
#include "test_mime_python.h"

#include "smtp/Charsets.h"
#include "smtp/EncodedFileCache.h"
#include "smtp/KTWSMTPAddress.h"
#include "smtp/KTWSMTPBodyPart.h"
#include "smtp/KTWSMTPException.h"
#include "smtp/KTWSMTPMessage.h"
#include "smtp/MimeEncoding.h"
#include "smtp/SmtpLanguage.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimeZone>
#include <QtTest>

using namespace pw::smtp;

namespace {

// ①, ㈱ (NEC row 13), 髙 and 﨑 (IBM extensions), Ⅲ, and ordinary kana and kanji.
const QString kJapanese = QString::fromUtf8("①㈱髙﨑Ⅲ 案内です");

QByteArray wholeMessage(const CKTWSMTPMessage& m) {
    return m.header() + "\r\n" + m.body();
}

QString sha256(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

}  // namespace

class TestMime : public QObject {
    Q_OBJECT

private slots:
    void init() { EncodedFileCache::clear(); }

    void base64_data();
    void base64();
    void quotedPrintableRules_data();
    void quotedPrintableRules();
    void quotedPrintableRoundTrip();
    void dotFixCases_data();
    void dotFixCases();
    void textTransferEncodings_data();
    void textTransferEncodings();
    void quotedPrintableTextKeepsLines();

    void addressFromText_data();
    void addressFromText();
    void addressList_data();
    void addressList();
    void recipientText_data();
    void recipientText();

    void charsetTable();
    void everyRowRoundTrips_data();
    void everyRowRoundTrips();
    void japaneseBytes_data();
    void japaneseBytes();
    void unmappableCharactersAreCounted();
    void wrapWeights_data();
    void wrapWeights();

    void twoWordSubject();
    void subjectWords_data();
    void subjectWords();
    void longSubjectWordIsSplit();
    void japaneseHeadersDecodeWordByWord_data();
    void japaneseHeadersDecodeWordByWord();
    void statefulCharsetWordsStandAlone();
    void threeToAddressesTwoFolds();
    void nonAsciiDisplayNamesAreEncoded();
    void dateZone_data();
    void dateZone();
    void singlePartMessage();
    void attachmentTitleEncoded();
    void longFileNamesUseContinuations();
    void mediaTypesByExtension_data();
    void mediaTypesByExtension();
    void awkwardTitleCannotBreakTheHeader();
    void mimeModeSwitch();
    void copiesAreDeep();

    void parsedByPython_data();
    void parsedByPython();
    void missingFileFailsWithSystemError();
    void encodedFilesAreCachedAndRechecked();
};

// ---- transfer encodings ----

void TestMime::base64_data() {
    QTest::addColumn<int>("size");
    QTest::newRow("empty") << 0;
    QTest::newRow("one byte pads twice") << 1;
    QTest::newRow("two bytes pad once") << 2;
    QTest::newRow("one full line") << 57;
    QTest::newRow("one byte past a line") << 58;
    QTest::newRow("many lines") << 57 * 40 + 5;
}

void TestMime::base64() {
    QFETCH(int, size);
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) {
        data[i] = static_cast<char>(i * 37 + 11);
    }
    const QByteArray out = base64Lines(data);
    QVERIFY(!out.endsWith("\r\n"));
    const QList<QByteArray> lines = out.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (i + 1 < lines.size()) {
            QVERIFY(line.endsWith('\r'));
            line.chop(1);
            QCOMPARE(line.size(), 76);
        } else {
            QVERIFY(line.size() <= 76);
        }
    }
    QCOMPARE(QByteArray::fromBase64(QByteArray(out).replace("\r\n", "")), data);
}

void TestMime::quotedPrintableRules_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("printables copied") << QByteArray("a!<>~z") << QByteArray("a!<>~z");
    QTest::newRow("equals sign encoded") << QByteArray("a=b") << QByteArray("a=3Db");
    QTest::newRow("line break sent encoded") << QByteArray("a\r\nb") << QByteArray("a=0D=0Ab");
    QTest::newRow("8-bit upper-case hex") << QByteArray("\xe9\x1b") << QByteArray("=E9=1B");
    QTest::newRow("inner blank copied") << QByteArray("a b\tc") << QByteArray("a b\tc");
    QTest::newRow("final blank encoded") << QByteArray("ab ") << QByteArray("ab=20");
    // 64 letters, then a blank: the line is no longer shorter than 64, so the blank is
    // encoded, and at 67 characters the soft break follows.
    QTest::newRow("blank at column 64")
        << QByteArray(64, 'x') + " y" << QByteArray(64, 'x') + "=20=\r\ny";
    QTest::newRow("soft break after 65 characters")
        << QByteArray(70, 'x') << QByteArray(65, 'x') + "=\r\n" + QByteArray(5, 'x');
    QTest::newRow("encoded byte crossing column 64")
        << QByteArray(63, 'x') + "=ab" << QByteArray(63, 'x') + "=3D=\r\nab";
}

void TestMime::quotedPrintableRules() {
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(quotedPrintable(input), expected);
}

void TestMime::quotedPrintableRoundTrip() {
    // Random bytes with many blanks, decoded by Python's quopri: every byte must survive and
    // no line may pass the limit of 76.
    QByteArray data;
    auto* rng = QRandomGenerator::global();
    for (int i = 0; i < 5000; ++i) {
        const quint32 r = rng->bounded(4);
        data.append(r == 0 ? ' ' : r == 1 ? '\t' : static_cast<char>(rng->bounded(256)));
    }
    const QByteArray encoded = quotedPrintable(data);
    for (const QByteArray& line : encoded.split('\n')) {
        QVERIFY2(line.size() <= 77, line.constData());
    }
    const auto r = pw::test::runPython(
        "import sys, quopri; sys.stdout.buffer.write(quopri.decodestring(sys.stdin.buffer.read()))",
        {}, encoded);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, data);
}

void TestMime::dotFixCases_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("lone dot") << QByteArray(".") << QByteArray("..");
    QTest::newRow("dot line first") << QByteArray(".\r\nx") << QByteArray("..\r\nx");
    QTest::newRow("first line starting with a dot") << QByteArray(".x") << QByteArray("..x");
    QTest::newRow("inner line starting with a dot")
        << QByteArray("a\r\n.b\r\n.\r\nc") << QByteArray("a\r\n..b\r\n..\r\nc");
    QTest::newRow("no final line break") << QByteArray("a\r\nb") << QByteArray("a\r\nb");
    QTest::newRow("dot inside a line") << QByteArray("a.b\r\n") << QByteArray("a.b\r\n");
    QTest::newRow("ends in a line break and a dot")
        << QByteArray("a\r\n.") << QByteArray("a\r\n..");
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void TestMime::dotFixCases() {
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(dotFix(input), expected);
}

// ---- addresses ----

void TestMime::textTransferEncodings_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("eightBitPath");
    QTest::addColumn<QByteArray>("encoding");
    const QByteArray sjis = QString::fromUtf8("ご案内です").toUtf8();  // mostly 8-bit
    const QByteArray latin =
        "Dobr\xfd"
        " den, pos\xed"
        "l\xe1"
        "me nab\xed"
        "dku.";
    QTest::newRow("ASCII: 7bit") << QByteArray("Hello\r\nWorld") << false << QByteArray("7bit");
    QTest::newRow("ISO-2022-JP is 7-bit")
        << QByteArray("\x1b$B$\"\x1b(B") << false << QByteArray("7bit");
    QTest::newRow("8-bit text without 8BITMIME: base64 when mostly 8-bit")
        << sjis << false << QByteArray("base64");
    QTest::newRow("8-bit text without 8BITMIME: quoted-printable when mostly ASCII")
        << latin << false << QByteArray("quoted-printable");
    QTest::newRow("8-bit text over 8BITMIME: 8bit") << sjis << true << QByteArray("8bit");
    QTest::newRow("a line of 1201 octets is never sent as it is")
        << QByteArray(1201, '\x82') << true << QByteArray("base64");
    QTest::newRow("998 octets fit") << QByteArray(998, 'a') << false << QByteArray("7bit");
    QTest::newRow("a dot line of 998 does not, once the dot is doubled")
        << "." + QByteArray(997, 'a') << false << QByteArray("quoted-printable");
    QTest::newRow("NUL is no text")
        << QByteArray("a\0b", 3) << true << QByteArray("quoted-printable");
}

void TestMime::textTransferEncodings() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, eightBitPath);
    QFETCH(QByteArray, encoding);
    const TextEncoding e =
        textEncodingFor(bytes, eightBitPath ? BodyTransport::EightBit : BodyTransport::SevenBit);
    QCOMPARE(QByteArray(textEncodingName(e)), encoding);
    const QByteArray encoded = encodeText(bytes, e);
    for (const QByteArray& line : encoded.split('\n'))
        QVERIFY(line.size() <= 999);
    if (!eightBitPath) {
        for (const char c : encoded)
            QVERIFY(static_cast<unsigned char>(c) < 0x80);
    }
}

void TestMime::quotedPrintableTextKeepsLines() {
    QCOMPARE(quotedPrintableText("a=b\r\nline two \r\n\xe9"),
             QByteArray("a=3Db\r\nline two=20\r\n=E9"));
    const QByteArray long100 = QByteArray(100, 'x');
    const QByteArray encoded = quotedPrintableText(long100 + "\r\n" + long100);
    for (const QByteArray& line : encoded.split('\n'))
        QVERIFY(line.size() <= 77);
    const auto r = pw::test::runPython(
        "import sys, quopri; sys.stdout.buffer.write(quopri.decodestring(sys.stdin.buffer.read()))",
        {}, encoded);
    QCOMPARE(r.out, long100 + "\r\n" + long100);
}

void TestMime::addressFromText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("regular");
    QTest::newRow("name and angle brackets") << " Taro Yamada <taro@example.jp> "
                                             << "Taro Yamada"
                                             << "taro@example.jp"
                                             << "\"Taro Yamada\" <taro@example.jp>";
    QTest::newRow("regular form parses back") << "\"Taro\" <taro@example.jp>"
                                              << "Taro"
                                              << "taro@example.jp"
                                              << "\"Taro\" <taro@example.jp>";
    QTest::newRow("name in parentheses") << "hanako@example.jp (Hanako)"
                                         << "Hanako"
                                         << "hanako@example.jp"
                                         << "\"Hanako\" <hanako@example.jp>";
    QTest::newRow("bare address") << "a@example.jp"
                                  << ""
                                  << "a@example.jp"
                                  << "a@example.jp";
    QTest::newRow("empty brackets are no address part") << "x <>"
                                                        << ""
                                                        << "x <>"
                                                        << "x <>";
    QTest::newRow("line break cannot open a header") << "evil@example.jp\r\nBcc: all@example.jp"
                                                     << ""
                                                     << "evil@example.jpBcc: all@example.jp"
                                                     << "evil@example.jpBcc: all@example.jp";
}

void TestMime::addressFromText() {
    QFETCH(QString, text);
    QFETCH(QString, name);
    QFETCH(QString, address);
    QFETCH(QString, regular);
    const CKTWSMTPAddress a(text);
    QCOMPARE(a.name(), name);
    QCOMPARE(a.address(), address);
    QCOMPARE(a.regularForm(), regular);
}

void TestMime::addressList_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("addresses");
    QTest::newRow("commas and semicolons")
        << "a@x.jp, b@x.jp;c@x.jp" << QStringList{"a@x.jp", "b@x.jp", "c@x.jp"};
    QTest::newRow("empty items dropped") << ",, a@x.jp ;;" << QStringList{"a@x.jp"};
    QTest::newRow("comma inside quotes")
        << "\"Yamada, Taro\" <t@x.jp>, h@x.jp" << QStringList{"t@x.jp", "h@x.jp"};
    QTest::newRow("line breaks separate") << "a@x.jp\r\nb@x.jp" << QStringList{"a@x.jp", "b@x.jp"};
    QTest::newRow("nothing") << "  " << QStringList{};
}

void TestMime::addressList() {
    QFETCH(QString, text);
    QFETCH(QStringList, addresses);
    QStringList got;
    for (const auto& a : CKTWSMTPAddress::parseList(text)) {
        got += a.address();
    }
    QCOMPARE(got, addresses);
}

void TestMime::recipientText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("addresses");  // "name|address"
    QTest::addColumn<QStringList>("rejected");
    QTest::newRow("merged name with a blank")
        << "Tanaka Taro <t@x.jp>" << QStringList{"Tanaka Taro|t@x.jp"} << QStringList{};
    QTest::newRow("blank-separated plain addresses")
        << "a@x.jp  b@x.jp" << QStringList{"|a@x.jp", "|b@x.jp"} << QStringList{};
    QTest::newRow("commas and semicolons")
        << "a@x.jp, b@x.jp;c@x.jp" << QStringList{"|a@x.jp", "|b@x.jp", "|c@x.jp"} << QStringList{};
    QTest::newRow("quoted name with a comma")
        << "\"Yamada, Taro\" <t@x.jp>, h@x.jp" << QStringList{"Yamada, Taro|t@x.jp", "|h@x.jp"}
        << QStringList{};
    QTest::newRow("escaped quotes")
        << "\"Say \\\"hi\\\"\" <q@x.jp>" << QStringList{"Say \"hi\"|q@x.jp"} << QStringList{};
    QTest::newRow("name in parentheses")
        << "t@x.jp (Tanaka)" << QStringList{"Tanaka|t@x.jp"} << QStringList{};
    QTest::newRow("Japanese name")
        << QString::fromUtf8("田中\u3000太郎 <t@x.jp>")
        << QStringList{QString::fromUtf8("田中\u3000太郎|t@x.jp")} << QStringList{};
    QTest::newRow("a name alone is no recipient")
        << "Tanaka" << QStringList{} << QStringList{"Tanaka"};
    QTest::newRow("name without brackets")
        << "Tanaka Taro t@x.jp" << QStringList{"|t@x.jp"} << QStringList{"Tanaka", "Taro"};
    QTest::newRow("empty brackets") << "Tanaka <>" << QStringList{} << QStringList{"Tanaka <>"};
    QTest::newRow("no local part, no domain")
        << "bad@ @x a@b" << QStringList{"|a@b"} << QStringList{"bad@", "@x"};
    QTest::newRow("a non-ASCII address is none this client can send")
        << QString::fromUtf8("田中 <ﾀﾅｶ@x.jp>, 山@x.jp") << QStringList{}
        << QStringList{QString::fromUtf8("田中 <ﾀﾅｶ@x.jp>"), QString::fromUtf8("山@x.jp")};
    QTest::newRow("bracketed then plain")
        << "<t@x.jp> e@x.jp" << QStringList{"|t@x.jp", "|e@x.jp"} << QStringList{};
}

void TestMime::recipientText() {
    QFETCH(QString, text);
    QFETCH(QStringList, addresses);
    QFETCH(QStringList, rejected);
    const auto parsed = CKTWSMTPAddress::parseRecipientText(text);
    QStringList got;
    for (const auto& a : parsed.addresses)
        got += a.name() + '|' + a.address();
    QCOMPARE(got, addresses);
    QCOMPARE(parsed.rejected, rejected);
}

// ---- charsets ----

void TestMime::charsetTable() {
    QCOMPARE(charsetCount(), 24);
    QCOMPARE(utf8CharsetRow(), 23);
    QCOMPARE(QString::fromLatin1(charsetRow(23).mimeName), QStringLiteral("utf-8"));
    QVERIFY(isCharsetRow(23));
    QVERIFY(!isCharsetRow(24));
    QVERIFY(!isCharsetRow(-1));
    // the texts of project files are in the row's Windows code page, not its MIME charset
    QCOMPARE(QByteArray(codePageConverterName(charsetRow(1).windowsCodePage)),
             QByteArray("windows-31j"));
    QCOMPARE(QByteArray(codePageConverterName(charsetRow(12).windowsCodePage)),
             QByteArray("windows-1250"));
    QCOMPARE(QByteArray(codePageConverterName(charsetRow(23).windowsCodePage)),
             QByteArray("UTF-8"));
    const auto rows = pw::smtp::charsetTable();
    for (int i = 0; i < charsetCount(); ++i) {
        QCOMPARE(rows[i].displayNameId, 525 + i);
        QVERIFY2(codePageForCharset(QString::fromLatin1(rows[i].mimeName)) != 0, rows[i].mimeName);
    }
    QCOMPARE(QString::fromLatin1(charsetRow(1).mimeName), QStringLiteral("iso-2022-jp"));
    QCOMPARE(charsetRow(17).windowsCodePage, 1257);
    QCOMPARE(charsetRow(99).mimeName, charsetRow(0).mimeName);
    QList<int> separators;
    for (int i = 0; i < charsetCount(); ++i) {
        if (rows[i].separatorAfter) {
            separators += i;
        }
    }
    QCOMPARE(separators, (QList<int>{2, 3, 4, 11, 14, 15, 17, 18, 20, 22}));
    setTextLanguage(TextLanguage::Japanese);
    QCOMPARE(charsetDisplayName(0), QString::fromUtf8("日本語 (シフト JIS)"));
    setTextLanguage(TextLanguage::English);
    QCOMPARE(charsetDisplayName(0), QStringLiteral("Japanese (SHIFT-JIS)"));
    QCOMPARE(codePageForCharset(u"no-such-charset"), 0);
}

void TestMime::everyRowRoundTrips_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("pythonCodec");
    const char* samples[] = {
        "お知らせ ①㈱髙", "お知らせ ①㈱", "お知らせ ①㈱髙", "Hello, world", "안녕하세요",
        "繁體中文",       "香港",         "繁體中文",       "简体中文",     "简体中文 €",
        "简体中文",       "简体中文",     "Żółć łódź",      "Șir țară",     "Żółć łódź",
        "Ħamrun ġobon",   "Þórður Ŋ",     "Šámi Ŋ",         "Ŵŷ ḃ",         "Ελληνικά",
        "Ελληνικά",       "العربية",      "العربية",        "Żółć 案内 ①",
    };
    // Python's codec for each row's bytes: the standard one where it exists.
    const char* codecs[] = {
        "cp932",      "cp932",      "cp932",  "ascii",     "euc_kr",     "big5",
        "big5hkscs",  "",           "gbk",    "gb18030",   "hz",         "iso2022_cn",
        "iso8859_2",  "iso8859_16", "cp1250", "iso8859_3", "iso8859_10", "",
        "iso8859_14", "iso8859_7",  "cp1253", "iso8859_6", "cp1256",     "utf_8",
    };
    for (int row = 0; row < charsetCount(); ++row) {
        QTest::newRow(charsetRow(row).mimeName)
            << row << QString::fromUtf8(samples[row]) << QString::fromLatin1(codecs[row]);
    }
}

void TestMime::everyRowRoundTrips() {
    QFETCH(int, row);
    QFETCH(QString, text);
    QFETCH(QString, pythonCodec);
    const QString mime = QString::fromLatin1(charsetRow(row).mimeName);
    int lost = -1;
    const QByteArray bytes = textToBytes(text, mime, codePageForCharset(mime), &lost);
    QCOMPARE(lost, 0);
    QVERIFY(!bytes.isEmpty());
    QVERIFY2(bytes != text.toUtf8() || row == 3 || row == utf8CharsetRow(),
             "the row fell back to UTF-8");
    if (mime == u"windows-sami-2") {
        // no Python codec: Š is 0x8A as in code page 1252, Ŋ is 0xB8 in this code page
        QCOMPARE(bytes, QByteArray("\x8a\xe1mi \xb8"));
        return;
    }
    if (mime == u"euc-tw" || mime == u"iso-2022-cn") {
        // Python has no codec for these: glibc's converter reads them back
        const auto r = pw::test::runPython(
            "import sys, subprocess\n"
            "out = subprocess.run(['iconv', '-f', sys.argv[1], '-t', 'UTF-8'], "
            "input=sys.stdin.buffer.read(), capture_output=True)\n"
            "sys.stdout.buffer.write(out.stdout)",
            {mime.toUpper()}, bytes);
        QCOMPARE(QString::fromUtf8(r.out), text);
        return;
    }
    QString script;
    if (row <= 2) {
        script = QStringLiteral(
            "import sys, runpy\n"
            "ns = runpy.run_path(sys.argv[1], run_name='lib')\n"
            "sys.stdout.buffer.write(ns['decode_bytes'](sys.stdin.buffer.read(), "
            "sys.argv[2]).encode('utf-8'))");
    } else {
        script = QStringLiteral(
            "import "
            "sys\nsys.stdout.buffer.write(sys.stdin.buffer.read().decode(sys.argv[2]).encode('utf-"
            "8'))");
    }
    const auto r = pw::test::runPython(
        script, {QStringLiteral(MIME_TREE_SCRIPT), row <= 2 ? mime : pythonCodec}, bytes);
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QCOMPARE(QString::fromUtf8(r.out), text);
}

void TestMime::japaneseBytes_data() {
    QTest::addColumn<QString>("charset");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("iso-2022-jp NEC row 13")
        << "iso-2022-jp" << QString::fromUtf8("①㈱") << QByteArray("\x1b$B-!-j\x1b(B");
    QTest::newRow("iso-2022-jp IBM extension in NEC-selected row")
        << "iso-2022-jp" << QString::fromUtf8("髙") << QByteArray("\x1b$B|b\x1b(B");
    QTest::newRow("iso-2022-jp half-width katakana folded, voiced mark joined")
        << "iso-2022-jp" << QString::fromUtf8("ｶﾞｲﾄﾞ") << QByteArray("\x1b$B%,%$%I\x1b(B");
    QTest::newRow("iso-2022-jp back to ASCII before a line end")
        << "iso-2022-jp" << QString::fromUtf8("あ\r\nb") << QByteArray("\x1b$B$\"\x1b(B\r\nb");
    QTest::newRow("shift-jis CP932 bytes")
        << "shift-jis" << QString::fromUtf8("①髙ｶ") << QByteArray("\x87\x40\xfb\xfc\xb6");
    QTest::newRow("euc-jp NEC row 13 and half-width kana")
        << "euc-jp" << QString::fromUtf8("①ｶ") << QByteArray("\xad\xa1\x8e\xb6");
    QTest::newRow("euc-jp IBM extension")
        << "euc-jp" << QString::fromUtf8("髙") << QByteArray("\xfc\xe2");
    QTest::newRow("utf-8 outside the table")
        << "UTF-8" << QString::fromUtf8("①") << QByteArray("\xe2\x91\xa0");
}

void TestMime::japaneseBytes() {
    QFETCH(QString, charset);
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(textToBytes(text, charset, codePageForCharset(charset)), bytes);
}

void TestMime::unmappableCharactersAreCounted() {
    int lost = 0;
    const QString text = QString::fromUtf8("a😀b한c");
    QCOMPARE(textToBytes(text, u"shift-jis", 932, &lost), QByteArray("a?b?c"));
    QCOMPARE(lost, 2);
    QCOMPARE(textToBytes(text, u"iso-2022-jp", 50220, &lost), QByteArray("a?b?c"));
    QCOMPARE(lost, 2);
    QCOMPARE(textToBytes(QString::fromUtf8("aЖ"), u"iso-8859-2", 28592, &lost), QByteArray("a?"));
    QCOMPARE(lost, 1);
    QCOMPARE(textToBytes(QString::fromUtf8("Ж"), u"iso-8859-16", kCodePageIso8859_16, &lost),
             QByteArray("?"));
    QCOMPARE(lost, 1);
}

void TestMime::wrapWeights_data() {
    QTest::addColumn<QString>("character");
    QTest::addColumn<int>("codePage");
    QTest::addColumn<int>("weight");
    QTest::newRow("ASCII in 932") << "a" << 932 << 1;
    QTest::newRow("kanji in 932") << QString::fromUtf8("漢") << 932 << 2;
    QTest::newRow("half-width kana in 932") << QString::fromUtf8("ｶ") << 932 << 1;
    QTest::newRow("hangul in 949") << QString::fromUtf8("한") << 949 << 2;
    QTest::newRow("accented in 1250") << QString::fromUtf8("ż") << 1250 << 1;
    QTest::newRow("missing character weighs as its ?") << QString::fromUtf8("漢") << 1252 << 1;
}

void TestMime::wrapWeights() {
    QFETCH(QString, character);
    QFETCH(int, codePage);
    QFETCH(int, weight);
    QCOMPARE(byteWeight(character, codePage), weight);
}

// ---- header ----

void TestMime::twoWordSubject() {
    CKTWSMTPMessage m;
    m.setCharset("iso-2022-jp");
    m.setSubject("Hello World");
    m.setFrom(CKTWSMTPAddress("", "a@example.jp"));
    m.to().append(CKTWSMTPAddress("b@example.jp"));
    m.setXMailer({});
    m.setDate(QDateTime(QDate(2026, 12, 9), QTime(7, 5, 3), QTimeZone(32400)));
    QCOMPARE(m.header(), QByteArray("From: a@example.jp\r\n"
                                    "To: b@example.jp\r\n"
                                    "Subject: Hello World\r\n"
                                    "MIME-Version: 1.0\r\n"
                                    "Content-Type: text/plain;\r\n\tcharset=iso-2022-jp\r\n"
                                    "Content-Transfer-Encoding: 7bit\r\n"
                                    "Date: Wed, 9 Dec 2026 07:05:03 +0900\r\n"));
}

void TestMime::subjectWords_data() {
    QTest::addColumn<QString>("charset");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<int>("encodedWords");
    QTest::newRow("plain words stay plain") << "iso-2022-jp"
                                            << "Hello World" << 0;
    QTest::newRow("Japanese words encoded")
        << "iso-2022-jp" << QString::fromUtf8("新製品 ご案内") << 2;
    QTest::newRow("mixed: the blanks between kinds survive")
        << "shift-jis" << QString::fromUtf8("Hello 山田  様 World") << 2;
    QTest::newRow("a long run of blanks travels encoded") << "utf-8"
                                                          << "a" + QString(100, ' ') + "b" << 3;
    QTest::newRow("two blanks between plain words") << "utf-8"
                                                    << "a  b" << 0;
    QTest::newRow("an encoded-word look-alike is encoded") << "utf-8"
                                                           << "=?x?B?YQ==?= text" << 1;
    QTest::newRow("an overlong plain word is cut") << "iso-8859-2" << QString(300, 'x') << 9;
    QTest::newRow("accented") << "iso-8859-2" << QString::fromUtf8("Nabídka pro Łukasz") << 2;
}

void TestMime::subjectWords() {
    QFETCH(QString, charset);
    QFETCH(QString, subject);
    QFETCH(int, encodedWords);
    CKTWSMTPMessage m;
    m.setCharset(charset);
    m.setSubject(subject);
    m.setFrom(CKTWSMTPAddress("", "a@example.jp"));
    const QByteArray header = m.header();
    const qsizetype start = header.indexOf("Subject: ");
    const QByteArray field = header.mid(start, header.indexOf("\r\nX-Mailer") - start);
    QCOMPARE(int(field.count("=?" + charset.toUtf8() + "?B?")), encodedWords);
    for (const QByteArray& line : field.split('\n'))
        QVERIFY2(line.size() <= 78, line.constData());
    const auto d = pw::test::describeMime(wholeMessage(m));
    QVERIFY2(d.error.isEmpty(), qPrintable(d.error));
    QCOMPARE(d.tree.value("subject").toString(), subject);
    QCOMPARE(d.tree.value("defects").toArray(), QJsonArray());
}

void TestMime::longSubjectWordIsSplit() {
    CKTWSMTPMessage m;
    m.setCharset("iso-2022-jp");
    const QString subject = QString::fromUtf8("長い件名").repeated(30);
    m.setSubject(subject);
    const QByteArray header = m.header();
    const QByteArray line = header.mid(header.indexOf("Subject: "));
    for (const QByteArray& folded : line.left(line.indexOf("\r\nX-Mailer")).split('\n')) {
        QVERIFY2(folded.trimmed().size() <= 75 + 9, folded.constData());
    }
    const auto d = pw::test::describeMime(wholeMessage(m));
    QVERIFY2(d.error.isEmpty(), qPrintable(d.error));
    QCOMPARE(d.tree.value("subject").toString(), subject);
}

// ISO-2022-JP headers as RFC 1468 wants them: the sender's name as encoded words, never raw
// JIS; every encoded word back in ASCII at its end, so that a reader decoding each word by
// itself (as most do) gets the text; the whole read back by Python's email.
void TestMime::japaneseHeadersDecodeWordByWord_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("subject");
    QTest::newRow("company name and long subject")
        << QString::fromUtf8("株式会社山田商事 営業部 お客様サポートセンター")
        << QString::fromUtf8(
               "【重要】新製品のご案内と価格改定についてのお知らせ（２０２６年度版）");
    QTest::newRow("Japanese and ASCII mixed")
        << QString::fromUtf8("Yamada 山田 ABC株式会社")
        << QString::fromUtf8(
               "Re: 田中様 Order #12345 のご確認 送料無料キャンペーン実施中のお知らせです");
    QTest::newRow("NEC and IBM rows")
        << QString::fromUtf8("髙橋 﨑山 ①㈱") << QString::fromUtf8("髙﨑①㈱").repeated(12);
}

void TestMime::japaneseHeadersDecodeWordByWord() {
    QFETCH(QString, name);
    QFETCH(QString, subject);
    CKTWSMTPMessage m;
    m.setCharset("iso-2022-jp");
    m.setFrom(CKTWSMTPAddress(name, "sender@example.jp"));
    m.setSubject(subject);
    m.to().append(CKTWSMTPAddress("", "to@example.jp"));
    // a header line of the program's own with the user's text in it
    m.addCustomHeader("List-Id: " + name + " <news.example.jp>");
    QVERIFY(m.customHeaderWithLineBreak().isEmpty());
    const QByteArray header = m.header();
    QVERIFY2(!header.contains('\x1b'), header.constData());  // no raw JIS anywhere
    const QByteArray from = header.mid(0, header.indexOf("\r\nTo: "));
    QVERIFY2(from.startsWith("From: =?iso-2022-jp?B?") && from.endsWith(" <sender@example.jp>"),
             from.constData());
    // every word on its own: its bytes end in ASCII, and Python decodes it alone
    QStringList words;
    const QRegularExpression word(QStringLiteral("=\\?iso-2022-jp\\?B\\?([A-Za-z0-9+/=]+)\\?="));
    for (auto it = word.globalMatch(QString::fromLatin1(header)); it.hasNext();) {
        const QByteArray bytes = QByteArray::fromBase64(it.next().captured(1).toLatin1());
        const qsizetype lastShift = bytes.lastIndexOf('\x1b');
        QVERIFY2(lastShift < 0 || bytes.mid(lastShift, 3) == "\x1b(B", bytes.toHex().constData());
        words << QString::fromLatin1(bytes.toBase64());
    }
    QVERIFY(words.size() >= 3);
    // the checker's ISO-2022-JP reader, which refuses text that does not end in ASCII
    const auto r = pw::test::runPython(
        "import sys, base64, importlib.util\n"
        "found = importlib.util.spec_from_file_location('tree', sys.argv[1])\n"
        "tree = importlib.util.module_from_spec(found); found.loader.exec_module(tree)\n"
        "for w in sys.argv[2:]:\n"
        "    sys.stdout.write(tree.decode_iso2022jp(base64.b64decode(w)) + '|')\n",
        QStringList{QStringLiteral(MIME_TREE_SCRIPT)} + words);
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QCOMPARE(QString::fromUtf8(r.out).split('|').size(), words.size() + 1);
    const auto d = pw::test::describeMime(wholeMessage(m));
    QVERIFY2(d.error.isEmpty(), qPrintable(d.error));
    QCOMPARE(d.tree.value("fromName").toString(), name);
    QCOMPARE(d.tree.value("fromAddress").toString(), QStringLiteral("sender@example.jp"));
    QCOMPARE(d.tree.value("subject").toString(), subject);
    QCOMPARE(d.tree.value("listId").toString(), name + " <news.example.jp>");
    QCOMPARE(d.tree.value("headerDefects").toArray(), QJsonArray());
    QVERIFY(d.tree.value("longestLine").toInt() <= 78);
}

void TestMime::statefulCharsetWordsStandAlone() {
    // HZ shifts into GB mode with "~{": every encoded word must shift in and out by itself,
    // since a reader decodes each word alone.
    QCOMPARE(textToBytes(u"ab", u"hz-gb2312", 52936), QByteArray("ab"));
    QCOMPARE(textToBytes(QString::fromUtf8("汉字"), u"hz-gb2312", 52936), QByteArray("~{::WV~}"));
    QCOMPARE(textToBytes(u"ab", u"hz-gb2312", 52936), QByteArray("ab"));
    CKTWSMTPMessage m;
    m.setCharset("hz-gb2312");
    const QString subject = QString::fromUtf8("简体 中文 abc 汉字");
    m.setSubject(subject);
    const QByteArray header = m.header();
    const qsizetype start = header.indexOf("Subject: ");
    const QByteArray line = header.mid(start, header.indexOf("\r\nX-Mailer") - start);
    // "abc" goes as it is
    QCOMPARE(line.count("=?hz-gb2312?B?"), 3);
    static const QRegularExpression word(QStringLiteral("=\\?hz-gb2312\\?B\\?([^?]*)\\?="));
    for (const auto& m : word.globalMatch(QString::fromLatin1(line))) {
        const QByteArray bytes = QByteArray::fromBase64(m.captured(1).toLatin1());
        QCOMPARE(bytes.count("~{"), bytes.count("~}"));
    }
    const auto d = pw::test::describeMime(wholeMessage(m));
    QVERIFY2(d.error.isEmpty(), qPrintable(d.error));
    QCOMPARE(d.tree.value("subject").toString(), subject);
}

void TestMime::threeToAddressesTwoFolds() {
    CKTWSMTPMessage m;
    m.to() = CKTWSMTPAddress::parseList("a@x.jp, Bee <b@x.jp>, c@x.jp");
    m.cc().append(CKTWSMTPAddress("d@x.jp"));
    m.bcc().append(CKTWSMTPAddress("hidden@x.jp"));
    const QByteArray header = m.header();
    QVERIFY(header.contains("\r\nTo: a@x.jp,\r\n \"Bee\" <b@x.jp>,\r\n c@x.jp\r\nCc: d@x.jp\r\n"));
    QVERIFY(!header.contains("hidden"));
    QVERIFY(!header.contains("Bcc"));
}

void TestMime::nonAsciiDisplayNamesAreEncoded() {
    CKTWSMTPMessage m;
    m.setCharset("shift-jis");
    m.setFrom(CKTWSMTPAddress(QString::fromUtf8("山田 ①"), "from@x.jp"));
    m.to().append(CKTWSMTPAddress(QString::fromUtf8("髙橋<t@x.jp>")));
    m.to().append(CKTWSMTPAddress("Say \"hi\" <q@x.jp>"));
    const QByteArray header = m.header();
    QVERIFY(header.startsWith("From: =?shift-jis?B?" +
                              QByteArray("\x8e\x52\x93\x63\x20\x87\x40").toBase64() +
                              "?= <from@x.jp>\r\n"));
    QVERIFY(header.contains("\"Say \\\"hi\\\"\" <q@x.jp>"));
    for (char c : header) {
        QVERIFY(static_cast<unsigned char>(c) < 0x80);
    }
    const auto d = pw::test::describeMime(wholeMessage(m));
    QVERIFY2(d.error.isEmpty(), qPrintable(d.error));
    QCOMPARE(d.tree.value("fromName").toString(), QString::fromUtf8("山田 ①"));
    QCOMPARE(d.tree.value("to").toArray().size(), 2);
}

void TestMime::dateZone_data() {
    QTest::addColumn<int>("offsetSeconds");
    QTest::addColumn<QByteArray>("zone");
    QTest::newRow("Japan") << 9 * 3600 << QByteArray("+0900");
    QTest::newRow("India half hour") << 5 * 3600 + 1800 << QByteArray("+0530");
    QTest::newRow("UTC") << 0 << QByteArray("+0000");
    QTest::newRow("Newfoundland") << -(3 * 3600 + 1800) << QByteArray("-0330");
    QTest::newRow("west of UTC by under an hour keeps its sign") << -1800 << QByteArray("-0030");
}

void TestMime::dateZone() {
    QFETCH(int, offsetSeconds);
    QFETCH(QByteArray, zone);
    CKTWSMTPMessage m;
    m.setDate(QDateTime(QDate(2026, 1, 4), QTime(23, 59, 9), QTimeZone(offsetSeconds)));
    QVERIFY(m.header().contains("\r\nDate: Sun, 4 Jan 2026 23:59:09 " + zone + "\r\n"));
}

void TestMime::singlePartMessage() {
    CKTWSMTPMessage m;
    m.setCharset("iso-2022-jp");
    m.addTextBody(QString::fromUtf8(".first\nsecond\r.\r\nあ"));
    m.addCustomHeader("Message-ID: <1@x>");
    const QByteArray header = m.header();
    QVERIFY(header.contains(
        "MIME-Version: 1.0\r\nContent-Type: text/plain;\r\n\tcharset=iso-2022-jp\r\n"
        "Content-Transfer-Encoding: 7bit\r\n"));
    QVERIFY(header.endsWith("Message-ID: <1@x>\r\n"));
    QCOMPARE(m.body(), QByteArray("..first\r\nsecond\r\n..\r\n\x1b$B$\"\x1b(B"));
}

void TestMime::attachmentTitleEncoded() {
    CKTWSMTPBodyPart part;
    part.setCharset("iso-2022-jp");
    part.setFileName("/tmp/案内.pdf");
    // the legacy name in the mail's charset, which holds it; RFC 2231 in UTF-8
    const QByteArray word =
        "=?iso-2022-jp?B?" + QByteArray("\x1b$B0FFb\x1b(B.pdf").toBase64() + "?=";
    QCOMPARE(part.header("BND"),
             "\r\n--BND\r\nContent-Type: application/pdf;\r\n name=\"" + word +
                 "\"\r\nContent-Transfer-Encoding: base64\r\n"
                 "Content-Disposition: attachment;\r\n filename*=UTF-8''%E6%A1%88%E5%86%85.pdf\r\n"
                 "\r\n");
    part.setContentId("<part1.x@example.jp>");
    part.setTitle("pic.png");
    part.setDisposition(Disposition::Inline);
    QVERIFY(part.header("B").endsWith(
        "Content-Disposition: inline;\r\n filename=\"pic.png\"\r\nContent-ID: "
        "<part1.x@example.jp>\r\n\r\n"));
    // a name the charset lacks: the legacy form in UTF-8 rather than "?"
    part.setTitle(QString::fromUtf8("Příloha.pdf"));
    QVERIFY(part.header("B").contains("name=\"=?UTF-8?B?"));
}

void TestMime::longFileNamesUseContinuations() {
    const QString title =
        QString::fromUtf8("見積書（2026年度）新製品のご案内と価格表の長い名前 – Přehled.pdf");
    pw::test::TestEnv env;
    const QString path = env.makeFolder("f") + title;
    QVERIFY(pw::test::writeFile(path, "%PDF"));
    CKTWSMTPBodyPart part;
    part.setCharset("shift-jis");
    part.setFileName(path);
    const QByteArray header = part.header("B");
    QVERIFY(header.contains("filename*0*=UTF-8''"));
    QVERIFY(header.contains("filename*1*="));
    for (const QByteArray& line : header.split('\n'))
        QVERIFY2(line.size() <= 78, line.constData());
    CKTWSMTPMessage m;
    m.setCharset("shift-jis");
    m.rootPart().setContentType("multipart/mixed");
    m.setMimeMode(true);
    m.rootPart().addChild(part);
    const auto d = pw::test::describeMime(wholeMessage(m));
    QVERIFY2(d.error.isEmpty(), qPrintable(d.error));
    const QJsonObject file = d.tree.value("parts").toArray()[0].toObject();
    QCOMPARE(file.value("filename").toString(), title);
    QCOMPARE(file.value("filenameModern").toString(), title);
    QCOMPARE(file.value("name").toString(), title);
    QCOMPARE(d.tree.value("defects").toArray(), QJsonArray());
}

void TestMime::mediaTypesByExtension_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("type");
    QTest::newRow("png") << "a.png"
                         << "image/png";
    QTest::newRow("jpeg, upper case") << "B.JPG"
                                      << "image/jpeg";
    QTest::newRow("gif") << "c.gif"
                         << "image/gif";
    QTest::newRow("pdf") << "見積.pdf"
                         << "application/pdf";
    QTest::newRow("text") << "notes.txt"
                          << "text/plain";
    QTest::newRow("no extension") << "Q4-figures"
                                  << "application/octet-stream";
    QTest::newRow("unknown extension") << "data.zzqx"
                                       << "application/octet-stream";
}

void TestMime::mediaTypesByExtension() {
    QFETCH(QString, name);
    QFETCH(QString, type);
    QCOMPARE(mediaTypeForFileName(name), type);
    CKTWSMTPBodyPart part;
    part.setFileName("/x/" + name);
    QCOMPARE(part.contentType(), type);
}

void TestMime::awkwardTitleCannotBreakTheHeader() {
    CKTWSMTPBodyPart part;
    part.setCharset("us-ascii");
    part.setFileName("/tmp/a\"b\r\nX-Evil: 1.txt");
    const QByteArray header = part.header("B");
    for (const QByteArray& line : header.split('\n')) {
        QVERIFY2(!line.startsWith("X-Evil"), header.constData());
        QVERIFY(line.isEmpty() || line.endsWith('\r'));
    }
}

void TestMime::mimeModeSwitch() {
    CKTWSMTPMessage m;
    m.setCharset("euc-jp");
    m.addTextBody("body");
    m.setMimeMode(true);
    QCOMPARE(m.rootPart().contentType(), QStringLiteral("multipart/mixed"));
    QCOMPARE(m.rootPart().childCount(), 1);
    QCOMPARE(m.rootPart().child(0)->text(), QStringLiteral("body"));
    QCOMPARE(m.rootPart().child(0)->charset(), QStringLiteral("euc-jp"));
    m.setMimeMode(true);  // no change
    QCOMPARE(m.rootPart().childCount(), 1);
    m.addTextBody("again");
    QCOMPARE(m.rootPart().childCount(), 1);
    QCOMPARE(m.rootPart().child(0)->text(), QStringLiteral("again"));
    QCOMPARE(m.addMultipleAttachments(" /a/x.bin ; ;/b/y.txt;"), 2);
    QCOMPARE(m.rootPart().childCount(), 3);
    QCOMPARE(m.rootPart().child(2)->title(), QStringLiteral("y.txt"));
    QVERIFY(m.rootPart().child(2)->isAttachment());
    m.setMimeMode(false);
    QCOMPARE(m.rootPart().childCount(), 0);
}

void TestMime::copiesAreDeep() {
    CKTWSMTPBodyPart root;
    CKTWSMTPBodyPart child;
    child.setText("x");
    CKTWSMTPBodyPart* added = root.addChild(child);
    added->addChild(child);
    QCOMPARE(added->parent(), &root);
    CKTWSMTPBodyPart copy(root);
    QCOMPARE(copy.child(0)->parent(), &copy);
    QCOMPARE(copy.child(0)->child(0)->parent(), copy.child(0));
    copy.child(0)->setText("changed");
    QCOMPARE(root.child(0)->text(), QStringLiteral("x"));
    QVERIFY(copy.findFirstPart(u"TEXT/PLAIN") == copy.child(0));
}

// ---- the whole message through an independent parser ----

void TestMime::parsedByPython_data() {
    QTest::addColumn<QString>("charset");
    for (const char* cs : {"iso-2022-jp", "shift-jis", "euc-jp", "utf-8"}) {
        QTest::newRow(cs) << QString::fromLatin1(cs);
    }
}

void TestMime::parsedByPython() {
    QFETCH(QString, charset);
    pw::test::TestEnv env;
    const QString folder = env.makeFolder("files");
    QByteArray binary(70000, Qt::Uninitialized);
    for (int i = 0; i < binary.size(); ++i) {
        binary[i] = static_cast<char>(QRandomGenerator::global()->bounded(256));
    }
    const QString path = folder + QString::fromUtf8("見積書①.bin");
    QVERIFY(pw::test::writeFile(path, binary));
    QVERIFY(pw::test::writeFile(folder + "empty.txt", {}));

    CKTWSMTPMessage m;
    m.setCharset(charset);
    m.setFrom(CKTWSMTPAddress(kJapanese, "from@example.jp"));
    m.setSubject(kJapanese + QString::fromUtf8(" ﾃｽﾄ"));
    m.to().append(CKTWSMTPAddress("to@example.jp"));
    m.bcc().append(CKTWSMTPAddress("secret@example.jp"));
    const QString text = kJapanese + "\r\n.\r\n.dot line\r\n" + QString(100, 'x') + " end";
    m.addTextBody(text);
    QCOMPARE(m.addMultipleAttachments(path + ";" + folder + "empty.txt"), 2);
    const QByteArray message = wholeMessage(m);

    const auto d = pw::test::describeMime(message);
    QVERIFY2(d.error.isEmpty(), qPrintable(d.error));
    const QJsonObject& t = d.tree;
    QCOMPARE(pw::test::mimeShape(t),
             QStringLiteral("multipart/mixed(text/plain,application/octet-stream,text/plain)"));
    QCOMPARE(t.value("fromName").toString(), kJapanese);
    QCOMPARE(t.value("fromAddress").toString(), QStringLiteral("from@example.jp"));
    // half-width katakana arrive full-width in ISO-2022-JP only
    const QString kana = QString::fromUtf8(charset == "iso-2022-jp" ? "テスト" : "ﾃｽﾄ");
    QCOMPARE(t.value("subject").toString(), kJapanese + " " + kana);
    QVERIFY(!t.value("headerNames").toArray().contains(QStringLiteral("Bcc")));
    QVERIFY(!message.contains("secret@"));
    const QJsonArray parts = t.value("parts").toArray();
    const QJsonObject textPart = parts[0].toObject();
    QCOMPARE(textPart.value("charset").toString(), charset);
    QCOMPARE(textPart.value("text").toString(), text);
    const QJsonObject file = parts[1].toObject();
    QCOMPARE(file.value("sha256").toString(), sha256(binary));
    QCOMPARE(file.value("filename").toString(), QString::fromUtf8("見積書①.bin"));
    QCOMPARE(file.value("name").toString(), QString::fromUtf8("見積書①.bin"));
    QCOMPARE(parts[2].toObject().value("size").toInt(), 0);
    QCOMPARE(t.value("defects").toArray(), QJsonArray());
}

void TestMime::missingFileFailsWithSystemError() {
    CKTWSMTPMessage m;
    m.addTextBody("x");
    QCOMPARE(m.addMultipleAttachments("/nonexistent/folder/file.pdf"), 1);
    try {
        (void)m.body();
        QFAIL("rendering a missing file succeeded");
    } catch (const CKTWSMTPException& e) {
        QCOMPARE(e.Code(), 2);
        QCOMPARE(e.Facility(), CKTWSMTPException::kFacilityWin32);
    }
}

void TestMime::encodedFilesAreCachedAndRechecked() {
    pw::test::TestEnv env;
    const QString path = env.makeFolder("c") + "a.bin";
    QVERIFY(pw::test::writeFile(path, QByteArray(5000, 'a')));
    CKTWSMTPBodyPart part;
    part.setFileName(path);
    const QByteArray first = part.body(DotFix::On);
    QCOMPARE(first, base64Lines(QByteArray(5000, 'a')));
    QCOMPARE(part.body(DotFix::On), first);
    QCOMPARE(EncodedFileCache::stats().misses, 1);
    QCOMPARE(EncodedFileCache::stats().hits, 1);
    // a changed file is encoded again
    QVERIFY(pw::test::writeFile(path, QByteArray(4000, 'b')));
    QCOMPARE(part.body(DotFix::On), base64Lines(QByteArray(4000, 'b')));
    QCOMPARE(EncodedFileCache::stats().misses, 2);
    // and a removed one fails although it is cached
    QVERIFY(QFile::remove(path));
    QVERIFY_THROWS_EXCEPTION(CKTWSMTPException, (void)part.body(DotFix::On));
    // the cache keeps within its capacity
    EncodedFileCache::setCapacity(1000);
    QVERIFY(pw::test::writeFile(path, QByteArray(5000, 'c')));
    QCOMPARE(part.body(DotFix::On), base64Lines(QByteArray(5000, 'c')));
    QVERIFY(EncodedFileCache::stats().bytes <= 1000);
    EncodedFileCache::setCapacity(128LL * 1024 * 1024);
}

QTEST_GUILESS_MAIN(TestMime)
#include "test_mime.moc"
