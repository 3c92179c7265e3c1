// Per-recipient messages: merge rules, body preparation and every MIME structure, each
// message read back by Python's email package.

#include "TestEnv.h"
#include "test_mime_python.h"

#include "resources/Strings.h"
#include "send/MessageAssembly.h"
#include "smtp/Charsets.h"
#include "smtp/KTWSMTPException.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QRegularExpression>
#include <QtTest>

using namespace pw::send;
using pw::smtp::CKTWSMTPMessage;

namespace {

const QString kJapanese = QString::fromUtf8("①㈱髙 ご案内");

FieldTexts defaultCaptions() {
    FieldTexts c;
    c[0] = "Mail Address";
    c[1] = "Name";
    for (int k = 2; k < kMergeFieldCount; ++k) {
        c[static_cast<size_t>(k)] = QStringLiteral("field%1").arg(k + 1);
    }
    return c;
}

FieldTexts row(const QString& address, const QString& name, const QString& field3 = {}) {
    FieldTexts v;
    v[0] = address;
    v[1] = name;
    v[2] = field3;
    return v;
}

QString sha256(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QByteArray randomBytes(int size, quint32 seed) {
    QByteArray b(size, Qt::Uninitialized);
    QRandomGenerator rng(seed);
    for (int i = 0; i < size; ++i) {
        b[i] = static_cast<char>(rng.bounded(256));
    }
    return b;
}

QByteArray render(const CKTWSMTPMessage& m) {
    return m.header() + "\r\n" + m.body();
}

class LinesOf : public IDisplayedLines {
public:
    explicit LinesOf(QStringList lines) : m_lines(std::move(lines)) {}
    QStringList displayedLines() const override { return m_lines; }

private:
    QStringList m_lines;
};

int charsetRowOf(const QString& mime) {
    for (int i = 0; i < pw::smtp::charsetCount(); ++i) {
        if (mime == QLatin1StringView(pw::smtp::charsetRow(i).mimeName)) {
            return i;
        }
    }
    return -1;
}

}  // namespace

class TestAssembly : public QObject {
    Q_OBJECT

private slots:
    void mergeCases_data();
    void mergeCases();
    void mergeAllWithoutSelection();
    void pictureRewrite_data();
    void pictureRewrite();
    void autoWrap_data();
    void autoWrap();
    void bodyPreparationRules();
    void recipientSplit_data();
    void recipientSplit();
    void substitutedCharactersAreLogged();
    void recipientTextIsAnAddressList();
    void mergedValueIsOneAddress_data();
    void mergedValueIsOneAddress();
    void charsetShortfallCountsEveryRecipient();
    void japaneseExtrasReadStrictly_data();
    void japaneseExtrasReadStrictly();
    void messageIds();
    void structures_data();
    void structures();
    void singleSendLeavesHtmlUnmerged();
    void unsubscribing_data();
    void unsubscribing();
    void missingIndexHtmlIsAnError();
    void skippedFilesAndFolders();
    void attachmentNameWithSemicolon();
    void missingAttachmentFailsAtRender();
};

void TestAssembly::mergeCases_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("renamedName");  // caption of NAME, empty: the default
    QTest::addColumn<QString>("nameValue");
    QTest::addColumn<QString>("expected");
    QTest::newRow("same placeholder twice") << "Dear [[Name]], yes [[Name]]!"
                                            << ""
                                            << "Taro"
                                            << "Dear Taro, yes Taro!";
    QTest::newRow("value holding its own placeholder is inserted once") << "<[[Name]]>"
                                                                        << ""
                                                                        << "x[[Name]]y"
                                                                        << "<x[[Name]]y>";
    QTest::newRow("renamed caption: only the new one counts") << "[[Name]] [[Kunde]]"
                                                              << "Kunde"
                                                              << "Taro"
                                                              << "[[Name]] Taro";
    QTest::newRow("matching is case-sensitive") << "[[name]]"
                                                << ""
                                                << "Taro"
                                                << "[[name]]";
    QTest::newRow("values as stored") << "[[Name]]."
                                      << ""
                                      << "  a  "
                                      << "  a  .";
    QTest::newRow("placeholders of several fields") << "[[Mail Address]]/[[Name]]/[[field3]]"
                                                    << ""
                                                    << "Taro"
                                                    << "t@x.jp/Taro/F3";
}

void TestAssembly::mergeCases() {
    QFETCH(QString, text);
    QFETCH(QString, renamedName);
    QFETCH(QString, nameValue);
    QFETCH(QString, expected);
    FieldTexts captions = defaultCaptions();
    if (!renamedName.isEmpty()) {
        captions[1] = renamedName;
    }
    QCOMPARE(merge(text, captions, row("t@x.jp", nameValue, "F3")), expected);
}

void TestAssembly::mergeAllWithoutSelection() {
    const FieldTexts captions = defaultCaptions();
    QCOMPARE(mergeAll("<p>[[Name]] [[field20]] [[Name]]</p>", captions, nullptr),
             QStringLiteral("<p>  </p>"));
    const FieldTexts values = row("a@x", "Hanako");
    QCOMPARE(mergeAll("[[Name]][[Name]]", captions, &values), QStringLiteral("HanakoHanako"));
}

void TestAssembly::pictureRewrite_data() {
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("expected");
    QTest::newRow("img src") << "<img src=\"a.png\">"
                             << "<img src=\"cid:a.png\">";
    QTest::newRow("upper case") << "<IMG SRC=\"a.png\">"
                                << "<IMG SRC=\"cid:a.png\">";
    QTest::newRow("background") << "<td background=\"b.jpg\" BACKGROUND=\"c.jpg\">"
                                << "<td background=\"cid:b.jpg\" BACKGROUND=\"cid:c.jpg\">";
    QTest::newRow("web reference untouched") << "<img src=\"http://x.jp/a.png\">"
                                             << "<img src=\"http://x.jp/a.png\">";
    QTest::newRow("other spellings untouched") << "<Img Src=\"a.png\"><img src='b.png'>"
                                               << "<Img Src=\"a.png\"><img src='b.png'>";
}

void TestAssembly::pictureRewrite() {
    QFETCH(QString, html);
    QFETCH(QString, expected);
    QCOMPARE(rewritePictureReferences(html), expected);
}

void TestAssembly::autoWrap_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QString>("expected");
    QTest::newRow("25 letters by 10")
        << QString(25, 'a') << 10 << 1252
        << QString(10, 'a') + "\r\n" + QString(10, 'a') + "\r\n" + QString(5, 'a');
    const QString kanji = QString::fromUtf8("漢字漢字漢字漢字漢字漢字");
    QTest::newRow("double-byte code page: five per line")
        << kanji << 10 << 932 << kanji.left(5) + "\r\n" + kanji.mid(5, 5) + "\r\n" + kanji.mid(10);
    QTest::newRow("line of exactly the length followed by CR LF")
        << QString(10, 'a') + "\r\nb" << 10 << 1252 << QString(10, 'a') + "\r\n\r\nb";
    QTest::newRow("LF resets the count") << "abc\ndefgh" << 5 << 1252 << "abc\ndefgh";
    QTest::newRow("double-byte character does not fit an odd remainder")
        << QString::fromUtf8("a漢字") << 4 << 932
        << QString::fromUtf8("a\xe6\xbc\xa2\r\n\xe5\xad\x97");
}

void TestAssembly::autoWrap() {
    QFETCH(QString, text);
    QFETCH(int, length);
    QFETCH(int, codePage);
    QFETCH(QString, expected);
    QCOMPARE(wrapByBytes(text, length, codePage), expected);
}

void TestAssembly::bodyPreparationRules() {
    const LinesOf lines({"first soft", "wrapped", "", "last"});
    // the wrap wins over the displayed lines; the row's code page counts (row 0: 932)
    QCOMPARE(prepareBodyText(QString::fromUtf8("漢字漢"), {true, 4}, true, 0, &lines),
             QString::fromUtf8("漢字\r\n漢"));
    // a line length below 2 is no wrap
    QCOMPARE(prepareBodyText("abc", {true, 1}, false, 3, nullptr), QStringLiteral("abc"));
    QCOMPARE(prepareBodyText("ignored", {false, 10}, true, 3, &lines),
             QStringLiteral("first soft\r\nwrapped\r\n\r\nlast"));
    QCOMPARE(prepareBodyText("as is\n", {}, false, 3, &lines), QStringLiteral("as is\n"));
}

void TestAssembly::recipientSplit_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("logEntry");
    QTest::addColumn<QString>("toHeader");
    QTest::newRow("all To") << 0 << "a@x.jp b@x.jp"
                            << "Recipient (To:)a@x.jp / (To:)b@x.jp"
                            << "To: a@x.jp,\r\n b@x.jp\r\n";
    QTest::newRow("rest Cc") << 1 << "a@x.jp,b@x.jp c@x.jp"
                             << "Recipient (To:)a@x.jp / (Cc:)b@x.jp / (Cc:)c@x.jp"
                             << "To: a@x.jp\r\nCc: b@x.jp,\r\n c@x.jp\r\n";
    QTest::newRow("rest Bcc, written nowhere") << 2 << "a@x.jp b@x.jp"
                                               << "Recipient (To:)a@x.jp / (Bcc:)b@x.jp"
                                               << "To: a@x.jp\r\n";
}

void TestAssembly::recipientSplit() {
    QFETCH(int, type);
    QFETCH(QString, field);
    QFETCH(QString, logEntry);
    QFETCH(QString, toHeader);
    pw::setLanguage(pw::Language::English);
    MailJob job;
    job.addrSetType = static_cast<AddrSetType>(type);
    job.captions = defaultCaptions();
    job.messageIdDomain = "smtp.example.jp";
    const BuiltMessage built =
        buildMessage(job, MailTexts{"", "me@x.jp", field, "s", "body"}, nullptr);
    QVERIFY(built.error.isEmpty());
    QCOMPARE(built.logEntries, QStringList{logEntry});
    const QByteArray header = built.message->header();
    QVERIFY2(header.contains("\r\n" + toHeader.toUtf8() + "Subject: "), header.constData());
    if (type == 2) {
        QCOMPARE(built.message->bcc().size(), 1);
        QVERIFY(!header.contains("b@x.jp"));
    }
}

void TestAssembly::substitutedCharactersAreLogged() {
    pw::setLanguage(pw::Language::English);
    MailJob job;
    job.charsetRow = 3;  // us-ascii
    const BuiltMessage built = buildMessage(
        job, MailTexts{QString::fromUtf8("山"), "a@x", "b@x", "ok", "é and ü"}, nullptr);
    QCOMPARE(built.logEntries.size(), 2);
    QCOMPARE(built.logEntries[1],
             QStringLiteral("3 characters of this mail cannot be written in the charset us-ascii "
                            "and are sent as \"?\"."));
    job.charsetRow = 1;
    QCOMPARE(buildMessage(job, MailTexts{QString::fromUtf8("山"), "a@x", "b@x", "ok", "①"}, nullptr)
                 .logEntries.size(),
             1);
}

void TestAssembly::recipientTextIsAnAddressList() {
    pw::setLanguage(pw::Language::English);
    MailJob job;
    job.captions = defaultCaptions();
    job.charsetRow = 0;
    const FieldTexts values = row("tanaka@x.jp", QString::fromUtf8("田中 太郎"));
    job.recipientText = "[[Name]] <[[Mail Address]]>, Hanako";
    CMessageAssembly assembly(job, {values});
    const BuiltMessage built = assembly.build(assembly.merged(0), 0);
    QVERIFY(built.error.isEmpty());
    QCOMPARE(built.logEntries, (QStringList{"Recipient (To:)tanaka@x.jp",
                                            "Not a mail address, not sent to: Hanako"}));
    QCOMPARE(built.message->to().size(), 1);
    QCOMPARE(built.message->to()[0].name(), QString::fromUtf8("田中 太郎"));
    // nothing that is an address: no message, and the run is told why
    job.recipientText = "[[Name]]";
    CMessageAssembly none(job, {values});
    const BuiltMessage refused = none.build(none.merged(0), 0);
    QVERIFY(refused.message == nullptr);
    QCOMPARE(refused.error,
             QString::fromUtf8("The recipient text holds no mail address: 田中 太郎"));
}

void TestAssembly::mergedValueIsOneAddress_data() {
    QTest::addColumn<QString>("recipient");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QStringList>("to");  // empty: the mail is not made
    const QString plain = "[[Mail Address]]";
    QTest::newRow("blank inside") << plain << "space in@example.com" << QStringList{};
    QTest::newRow("comma inside") << plain << "a@x.jp,b@x.jp" << QStringList{};
    QTest::newRow("name and address in the value") << plain << "Taro <t@x.jp>" << QStringList{};
    QTest::newRow("blanks around are no part") << plain << "  t@x.jp " << QStringList{"t@x.jp"};
    QTest::newRow("beside a fixed address") << plain + ", boss@x.jp"
                                            << "in valid@x.jp" << QStringList{};
    QTest::newRow("name with blanks") << "[[Name]] <[[Mail Address]]>"
                                      << "t@x.jp" << QStringList{"t@x.jp"};
    QTest::newRow("two fields, two addresses") << "[[Mail Address]] [[field3]]"
                                               << "t@x.jp" << QStringList{"t@x.jp", "c@x.jp"};
}

void TestAssembly::mergedValueIsOneAddress() {
    QFETCH(QString, recipient);
    QFETCH(QString, address);
    QFETCH(QStringList, to);
    pw::setLanguage(pw::Language::English);
    MailJob job;
    job.captions = defaultCaptions();
    job.recipientText = recipient;
    CMessageAssembly assembly(job, {row(address, "Taro Yamada", "c@x.jp")});
    const BuiltMessage built = assembly.build(assembly.merged(0), 0);
    QStringList got;
    if (built.message) {
        for (const auto& a : built.message->to())
            got << a.address();
    }
    QCOMPARE(got, to);
    QCOMPARE(built.error.isEmpty(), !to.isEmpty());
    if (to.isEmpty() && !address.trimmed().isEmpty())
        QVERIFY2(built.error.contains(address.trimmed()), qPrintable(built.error));
}

void TestAssembly::charsetShortfallCountsEveryRecipient() {
    pw::test::TestEnv env;
    const QString preview = env.makeFolder("p");
    QVERIFY(pw::test::writeFile(preview + "index.html", "<p>[[Name]] \xc3\xa9</p>"));
    MailJob job;
    job.captions = defaultCaptions();
    job.charsetRow = 3;  // us-ascii
    job.mainPreviewFolder = preview;
    job.htmlFileName = "T";
    job.htmlFiles = {"index.html"};
    job.senderName = QString::fromUtf8("山田");
    job.subject = QString::fromUtf8("Für [[Name]]");
    job.bodyText = "[[Name]] and [[Name]]";
    job.recipientText = "[[Name]] <[[Mail Address]]>";
    // fixed: 山田, ü and é (4); each name in the subject, twice in the body, in the HTML and
    // in To (5 times): ë once, 山田 and Łœ twice
    const std::vector<FieldTexts> rows = {row("a@x.jp", QString::fromUtf8("Zoë")),
                                          row("b@x.jp", QString::fromUtf8("山田")),
                                          row("c@x.jp", QString::fromUtf8("Łœ"))};
    CMessageAssembly assembly(job, rows);
    const CharsetShortfall s = assembly.charsetShortfall();
    QCOMPARE(s.characters, 4 + 5 * 1 + 5 * 2 + 5 * 2);
    for (const char* c : {"ü", "é", "ë", "Ł", "œ", "山"})
        QVERIFY2(s.samples.contains(QString::fromUtf8(c)), qPrintable(s.samples));
    job.charsetRow = pw::smtp::utf8CharsetRow();
    QCOMPARE(CMessageAssembly(job, rows).charsetShortfall().characters, 0);
}

// 300 names and companies as Japanese lists hold them, most with characters outside JIS
// X 0208: read by a strict reader, no mail of the default setting shows a U+FFFD.
void TestAssembly::japaneseExtrasReadStrictly_data() {
    using pw::smtp::JapaneseExtras;
    QTest::addColumn<JapaneseExtras>("extras");
    QTest::addColumn<QString>("charset");
    QTest::addColumn<QStringList>("charsets");  // of the text parts; "?": U+FFFD seen
    for (const QString cs : {"iso-2022-jp", "shift-jis"}) {
        QTest::addRow("%s, UTF-8 for those", qPrintable(cs))
            << JapaneseExtras::Utf8 << cs << QStringList{cs, "utf-8"};
        QTest::addRow("%s, replaced", qPrintable(cs))
            << JapaneseExtras::Replace << cs << QStringList{cs};
        QTest::addRow("%s, Windows codes", qPrintable(cs))
            << JapaneseExtras::WindowsCodes << cs << QStringList{"?", cs};
    }
}

void TestAssembly::japaneseExtrasReadStrictly() {
    QFETCH(pw::smtp::JapaneseExtras, extras);
    QFETCH(QString, charset);
    QFETCH(QStringList, charsets);
    const QStringList family = {"山田", "髙橋", "佐藤", "山﨑", "鈴木", "德永", "田中", "渡辺"};
    const QStringList company = {"㈱山田商事", "株式会社 佐藤", "第①営業部", "有限会社"};
    std::vector<FieldTexts> rows;
    for (int i = 0; i < 300; ++i)
        rows.push_back(row(QStringLiteral("u%1@x.jp").arg(i), family[i % 8], company[i % 4]));
    MailJob job;
    job.captions = defaultCaptions();
    job.charsetRow = charsetRowOf(charset);
    job.japaneseExtras = extras;
    job.recipientText = "[[Name]] <[[Mail Address]]>";
    job.subject = QString::fromUtf8("【ご案内】[[Name]]様");
    job.bodyText = "[[field3]]\r\n[[Name]]\r\n";
    CMessageAssembly assembly(job, rows);
    QCOMPARE(assembly.recipientsWithJisExtras(), 263);  // 髙 﨑 德 in 3 of 8, ㈱ ① in 2 of 4
    QList<QByteArray> mails;
    for (int i = 0; i < assembly.rowCount(); ++i)
        mails << render(*assembly.build(assembly.merged(i), i).message);
    const pw::test::StrictReading read = pw::test::readStrictly(mails);
    QVERIFY2(read.error.isEmpty(), qPrintable(read.error));
    QCOMPARE((read.replacements > 0 ? QStringList{"?"} : QStringList()) + read.charsets, charsets);
    QCOMPARE(pw::smtp::withStandardEquivalents(QString::fromUtf8("①㈱髙﨑")),
             QString::fromUtf8("(1)(株)高崎"));
    // rows of ASCII only count as the first of them: not at all, or every one when the mail's
    // own text leaves the repertoire
    for (int i = 0; i < 5; ++i)
        rows.push_back(row(QStringLiteral("a%1@x.jp").arg(i), QStringLiteral("Smith %1").arg(i)));
    QCOMPARE(CMessageAssembly(job, rows).recipientsWithJisExtras(), 263);
    job.bodyText += QString::fromUtf8("①");
    QCOMPARE(CMessageAssembly(job, rows).recipientsWithJisExtras(), 305);
}

void TestAssembly::messageIds() {
    const QDateTime when(QDate(2026, 3, 4), QTime(5, 6, 7, 89));
    const QString a = messageIdHeader(when, "mail.example.jp");
    const QString b = messageIdHeader(when, "mail.example.jp");
    QVERIFY(a != b);
    const QRegularExpression form(
        QStringLiteral("^Message-ID: <202603040506070089\\.[0-9A-F]{32}@mail\\.example\\.jp>$"));
    QVERIFY2(form.match(a).hasMatch(), qPrintable(a));
    MailJob job;
    job.messageIdDomain = "d.jp";
    const BuiltMessage built =
        buildMessage(job, MailTexts{"", "me@x.jp", "a@x.jp", "", "x"}, nullptr);
    QCOMPARE(built.message->xMailer(), QStringLiteral("Postwick Dezo Version 7"));
    QCOMPARE(built.message->customHeaders().size(), 1);
    QVERIFY(built.message->customHeaders()[0].endsWith("@d.jp>"));

    // a tracked run: the identifier in the Message-ID and in its own header, valid only for
    // the recipient it was made for (any case) and only with the key that made it
    job.tracking = {QByteArray(32, 'k'), newRunId()};
    const BuiltMessage tracked =
        buildMessage(job, MailTexts{"", "me@x.jp", "A@X.jp", "", "x"}, nullptr);
    const QString id = trackingId(job.tracking, "a@x.jp");
    QCOMPARE(tracked.message->customHeaders().size(), 2);
    QVERIFY(tracked.message->customHeaders()[0].contains("." + id + "@d.jp>"));
    QCOMPARE(tracked.message->customHeaders()[1], "X-Postwick-ID: " + id);
    QString run;
    QCOMPARE(checkTrackingId(job.tracking.key, id, "a@x.JP", &run), TrackingMatch::Valid);
    QCOMPARE(run, job.tracking.runId);
    QCOMPARE(checkTrackingId(job.tracking.key, id, "b@x.jp"), TrackingMatch::Invalid);
    QCOMPARE(checkTrackingId(QByteArray(32, 'j'), id, "a@x.jp"), TrackingMatch::Invalid);
    QCOMPARE(checkTrackingId(job.tracking.key, id.left(id.size() - 1) + "0", "a@x.jp"),
             TrackingMatch::Invalid);
    QVERIFY(newRunId() != job.tracking.runId);
}

void TestAssembly::structures_data() {
    QTest::addColumn<QString>("charset");
    QTest::addColumn<bool>("text");
    QTest::addColumn<bool>("html");
    QTest::addColumn<bool>("attachments");
    QTest::addColumn<QString>("shape");
    const QString pictures = "image/png,image/jpeg";
    const QString app = "application/pdf,text/plain";
    const QString related = "multipart/related(text/html," + pictures + ")";
    const QString relatedAlt =
        "multipart/related(multipart/alternative(text/plain,text/html)," + pictures + ")";
    struct Case {
        const char* name;
        bool t, h, a;
        QString shape;
    };
    const Case cases[] = {
        {"text only", true, false, false, "text/plain"},
        {"text and attachments", true, false, true, "multipart/mixed(text/plain," + app + ")"},
        {"HTML only", false, true, false, related},
        {"HTML and text", true, true, false, relatedAlt},
        {"HTML and attachments", false, true, true, "multipart/mixed(" + related + "," + app + ")"},
        {"HTML, text and attachments", true, true, true,
         "multipart/mixed(" + relatedAlt + "," + app + ")"},
        {"attachments only", false, false, true, "multipart/mixed(" + app + ")"},
        // a multipart without parts would have no boundary: an empty text instead
        {"empty", false, false, false, "text/plain"},
    };
    for (const char* cs : {"iso-2022-jp", "shift-jis", "euc-jp", "utf-8"}) {
        for (const Case& c : cases) {
            QTest::addRow("%s, %s", cs, c.name)
                << QString::fromLatin1(cs) << c.t << c.h << c.a << c.shape;
        }
    }
}

void TestAssembly::structures() {
    QFETCH(QString, charset);
    QFETCH(bool, text);
    QFETCH(bool, html);
    QFETCH(bool, attachments);
    QFETCH(QString, shape);

    pw::test::TestEnv env;
    const QString preview = env.makeFolder("PostwickMainPreview");
    const QString files = env.makeFolder("files");
    const QByteArray pic = randomBytes(3000, 1);
    const QByteArray background = randomBytes(1500, 2);
    const QByteArray pdf = randomBytes(9000, 3);
    QVERIFY(pw::test::writeFile(preview + "pic.png", pic));
    QVERIFY(pw::test::writeFile(files + "back.jpg", background));
    QVERIFY(pw::test::writeFile(files + QString::fromUtf8("見積①.pdf"), pdf));
    QVERIFY(pw::test::writeFile(files + "notes.txt", "line\r\n.dot\r\n"));
    QVERIFY(pw::test::writeFile(
        preview + "index.html",
        QString::fromUtf8("<html><body background=\"back.jpg\"><p>[[Name]] 様 ①㈱髙</p>"
                          "<img src=\"pic.png\"><img src=\"http://example.jp/logo.png\">"
                          "</body></html>")
            .toUtf8()));

    MailJob job;
    // ①㈱髙 below are read with Windows semantics: the charset keeps them as Windows codes
    job.japaneseExtras = pw::smtp::JapaneseExtras::WindowsCodes;
    job.captions = defaultCaptions();
    job.charsetRow = charsetRowOf(charset);
    if (job.charsetRow < 0) {
        job.charsetOverride = charset;
        job.charsetRow = 0;
    }
    job.messageIdDomain = "smtp.example.jp";
    job.mainPreviewFolder = preview;
    if (html) {
        job.htmlFileName = "Template A";
        job.htmlFiles = {"index.html", "pic.png", files + "back.jpg", "Thumbs.db",
                         "http://example.jp/logo.png"};
    }
    if (attachments) {
        job.attachments = {files + QString::fromUtf8("見積①.pdf"), files + "notes.txt"};
    }
    const QString body = text ? kJapanese + "\r\n.\r\nend" : QString();
    const FieldTexts values = row("taro@example.jp", QString::fromUtf8("山田"));
    job.addrSetType = AddrSetType::RestBcc;
    job.senderName = kJapanese;
    job.senderAddress = "shop@example.jp";
    job.recipientText = "[[Mail Address]] hidden@example.jp";
    job.subject = QString::fromUtf8("件名 ①㈱髙");
    job.bodyText = body;
    job.unsubscribe.mailAddress = "leave+[[Mail Address]]@example.jp";
    job.unsubscribe.url = "https://example.jp/u?e=[[Mail Address]]&n=[[Name]]";
    job.unsubscribe.listName = QString::fromUtf8("お知らせ 2026");
    CMessageAssembly assembly(job, {values});
    const BuiltMessage built = assembly.build(assembly.merged(0), 0);
    QVERIFY2(built.error.isEmpty(), qPrintable(built.error));
    const QByteArray bytes = render(*built.message);
    QVERIFY(!bytes.contains("hidden@"));

    const auto d = pw::test::describeMime(bytes);
    QVERIFY2(d.error.isEmpty(), qPrintable(d.error));
    const QJsonObject& t = d.tree;
    QCOMPARE(pw::test::mimeShape(t), shape);
    QCOMPARE(t.value("fromName").toString(), kJapanese);
    QCOMPARE(t.value("subject").toString(), QString::fromUtf8("件名 ①㈱髙"));
    QCOMPARE(t.value("to").toArray(), QJsonArray{"taro@example.jp"});
    QVERIFY(!t.value("headerNames").toArray().contains(QStringLiteral("Bcc")));
    QCOMPARE(t.value("xMailer").toString(), QStringLiteral("Postwick Dezo Version 7"));
    // unsubscribing, merged and URL-encoded for this recipient
    QCOMPARE(t.value("listUnsubscribe").toString(),
             QStringLiteral("<mailto:leave+taro%40example.jp@example.jp?subject=unsubscribe%20taro%"
                            "40example.jp>,<https://example.jp/u?e=taro%40example.jp&n=%E5%B1%B1%"
                            "E7%94%B0>"));
    QCOMPARE(t.value("listUnsubscribePost").toString(),
             QStringLiteral("List-Unsubscribe=One-Click"));
    QVERIFY2(t.value("listId").toString().startsWith(QString::fromUtf8("お知らせ 2026")) &&
                 t.value("listId").toString().endsWith("<2026.example.jp>"),
             qPrintable(t.value("listId").toString()));
    for (const QJsonValue& defect : t.value("headerDefects").toArray())
        QVERIFY2(!defect.toString().startsWith("List-"), qPrintable(defect.toString()));
    QVERIFY(t.value("longestLine").toInt() <= 998);

    const QString expectedHtml = QString::fromUtf8(
        "<html><body background=\"cid:back.jpg\"><p>山田 様 ①㈱髙</p>"
        "<img src=\"cid:pic.png\"><img src=\"http://example.jp/logo.png\"></body></html>");
    QHash<QString, QString> nameOfId;
    QString htmlSeen;
    int textParts = 0;
    for (const QJsonObject& p : pw::test::flattenMime(t)) {
        const QString type = p.value("type").toString();
        const QString name = p.value("filename").toString();
        const QString cid = p.value("cid").toString();
        const QString hash = p.value("sha256").toString();
        if (type == "text/plain" && name.isEmpty()) {
            ++textParts;
            QCOMPARE(p.value("charset").toString(), charset);
            QCOMPARE(p.value("text").toString(), body);
        } else if (type == "text/html") {
            QCOMPARE(p.value("charset").toString(), charset);
            htmlSeen = p.value("text").toString();
        } else if (name == "pic.png" || name == "back.jpg") {
            QCOMPARE(hash, sha256(name == "pic.png" ? pic : background));
            QCOMPARE(p.value("disposition").toString(), QStringLiteral("inline"));
            nameOfId.insert(cid.mid(1, cid.size() - 2), name);
        } else if (name == QString::fromUtf8("見積①.pdf")) {
            QCOMPARE(hash, sha256(pdf));
            QVERIFY(cid.isEmpty());
            QCOMPARE(p.value("disposition").toString(), QStringLiteral("attachment"));
        } else if (name == "notes.txt") {
            QCOMPARE(hash, sha256("line\r\n.dot\r\n"));
        }
    }
    if (shape == "text/plain") {
        QCOMPARE(t.value("charset").toString(), charset);
        QCOMPARE(t.value("text").toString(), body);
    }
    // the single-part message is its own text part
    QCOMPARE(textParts, shape == "text/plain" || (text && (html || attachments)) ? 1 : 0);
    // Content-IDs are ASCII ids of their own; with the file names put back, the HTML is the
    // merged one
    QCOMPARE(nameOfId.size(), html ? 2 : 0);
    for (auto it = nameOfId.cbegin(); it != nameOfId.cend(); ++it) {
        QVERIFY2(QRegularExpression("^part[0-9]+\\.[0-9a-f]{32}@smtp\\.example\\.jp$")
                     .match(it.key())
                     .hasMatch(),
                 qPrintable(it.key()));
        htmlSeen.replace("cid:" + it.key(), "cid:" + it.value());
    }
    if (html)
        QCOMPARE(htmlSeen, expectedHtml);
    QCOMPARE(t.value("defects").toArray(), QJsonArray());
}

void TestAssembly::unsubscribing_data() {
    QTest::addColumn<QString>("mail");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("list");
    QTest::addColumn<bool>("footer");
    QTest::addColumn<bool>("single");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("post");
    QTest::addColumn<QString>("listId");
    QTest::addColumn<QString>("footerText");  // in the text part
    QTest::addColumn<QString>("footerHtml");  // in the HTML part, before </body>
    const QString longTail(3000, QLatin1Char('a'));
    QTest::newRow("mailto only")
        << "leave@example.jp"
        << ""
        << "" << false << false
        << "<mailto:leave@example.jp?subject=unsubscribe%20taro%40example.jp>"
        << ""
        << ""
        << ""
        << "";
    QTest::newRow("https only: one click, values encoded")
        << ""
        << "https://example.jp/u/[[field3]]"
        << "" << false << false << "<https://example.jp/u/a%20b%2F%C3%BC>"
        << "List-Unsubscribe=One-Click"
        << ""
        << ""
        << "";
    QTest::newRow("a link longer than a header line")
        << ""
        << "https://example.jp/" + longTail << "" << false << false
        << "<https://example.jp/" + longTail + ">"
        << "List-Unsubscribe=One-Click"
        << ""
        << ""
        << "";
    QTest::newRow("single send: the address only")
        << ""
        << "https://example.jp/?e=[[Mail Address]]&n=[[Name]]"
        << "" << false << true << "<https://example.jp/?e=taro%40example.jp&n=>"
        << "List-Unsubscribe=One-Click"
        << ""
        << ""
        << "";
    QTest::newRow("list name quoted") << ""
                                      << ""
                                      << "Shop \"News\"" << false << false << ""
                                      << ""
                                      << "\"Shop \\\"News\\\"\" <shop-news.example.jp>"
                                      << ""
                                      << "";
    QTest::newRow("footer, English")
        << ""
        << "https://example.jp/u?e=[[Mail Address]]"
        << "" << true << false << "<https://example.jp/u?e=taro%40example.jp>"
        << "List-Unsubscribe=One-Click"
        << ""
        << "You receive this mail at taro@example.jp. To stop receiving these mails, unsubscribe "
           "here: https://example.jp/u?e=taro%40example.jp"
        << "<a href=\"https://example.jp/u?e=taro%40example.jp\">Unsubscribe</a></p></body>";
    // a line break in the list name would add a header line of its own to every mail
    QTest::newRow("list name with a line break: refused")
        << ""
        << ""
        << "News\r\nBcc: all@example.jp" << false << false << ""
        << ""
        << "refused"
        << ""
        << "";
    QTest::newRow("footer, Japanese, mailto as the link")
        << "leave@example.jp"
        << ""
        << "" << true << false
        << "<mailto:leave@example.jp?subject=unsubscribe%20taro%40example.jp>"
        << ""
        << ""
        << QString::fromUtf8(
               "配信停止の手続きをしてください: "
               "mailto:leave@example.jp?subject=unsubscribe%20taro%40example.jp")
        << QString::fromUtf8("配信停止</a></p></body>");
}

void TestAssembly::unsubscribing() {
    QFETCH(QString, mail);
    QFETCH(QString, url);
    QFETCH(QString, list);
    QFETCH(bool, footer);
    QFETCH(bool, single);
    QFETCH(QString, header);
    QFETCH(QString, post);
    QFETCH(QString, listId);
    QFETCH(QString, footerText);
    QFETCH(QString, footerHtml);
    pw::setLanguage(QString(QTest::currentDataTag()).contains("Japanese") ? pw::Language::Japanese
                                                                          : pw::Language::English);
    pw::test::TestEnv env;
    const QString preview = env.makeFolder("PostwickMainPreview");
    QVERIFY(
        pw::test::writeFile(preview + "index.html", "<html><body><p>[[Name]]</p></body></html>"));
    MailJob job;
    job.captions = defaultCaptions();
    job.charsetRow = charsetRowOf("iso-2022-jp");
    job.messageIdDomain = "smtp.example.jp";
    job.mainPreviewFolder = preview;
    job.htmlFileName = "Template A";
    job.htmlFiles = {"index.html"};
    job.senderAddress = "shop@example.jp";
    job.recipientText = single ? "taro@example.jp" : "[[Mail Address]]";
    job.subject = "Hello";
    job.bodyText = "Body";
    job.unsubscribe.mailAddress = mail;
    job.unsubscribe.url = url;
    job.unsubscribe.listName = list;
    job.unsubscribe.footer = footer ? FooterChoice::On : FooterChoice::Off;
    CMessageAssembly assembly(job, {row("taro@example.jp", QString::fromUtf8("山田"), "a b/ü")});
    const BuiltMessage built =
        single ? assembly.build(assembly.texts(), -1) : assembly.build(assembly.merged(0), 0);
    pw::setLanguage(pw::Language::English);
    if (listId == "refused") {
        QVERIFY2(built.error.contains("List-Id"), qPrintable(built.error));
        return;
    }
    QVERIFY2(built.error.isEmpty(), qPrintable(built.error));
    const auto d = pw::test::describeMime(render(*built.message));
    QVERIFY2(d.error.isEmpty(), qPrintable(d.error));
    const QJsonObject& t = d.tree;
    QCOMPARE(t.value("listUnsubscribe").toString(), header);
    QCOMPARE(t.value("listUnsubscribePost").toString(), post);
    QCOMPARE(t.value("listId").toString(), listId);
    QVERIFY(t.value("longestLine").toInt() <= 998);
    for (const QJsonValue& defect : t.value("headerDefects").toArray())
        QVERIFY2(!defect.toString().startsWith("List-"), qPrintable(defect.toString()));
    QString text, html;
    for (const QJsonObject& p : pw::test::flattenMime(t)) {
        if (p.value("type").toString() == "text/plain")
            text = p.value("text").toString();
        if (p.value("type").toString() == "text/html")
            html = p.value("text").toString();
    }
    QCOMPARE(text.startsWith("Body"), true);
    QVERIFY2(footerText.isEmpty() ? text == "Body" : text.endsWith(footerText), qPrintable(text));
    QVERIFY2(footerHtml.isEmpty() ? !html.contains("<a ") : html.contains(footerHtml),
             qPrintable(html));
}

void TestAssembly::singleSendLeavesHtmlUnmerged() {
    pw::test::TestEnv env;
    const QString preview = env.makeFolder("p");
    QVERIFY(pw::test::writeFile(preview + "index.html", "<p>[[Name]]</p>"));
    MailJob job;
    job.captions = defaultCaptions();
    job.mainPreviewFolder = preview;
    job.htmlFileName = "T";
    job.htmlFiles = {"index.html"};
    job.recipientText = "a@x.jp";
    CMessageAssembly assembly(job, std::vector<FieldTexts>{});
    const BuiltMessage built = assembly.build(assembly.texts(), -1);
    QVERIFY(built.error.isEmpty());
    const auto* part = built.message->rootPart().findFirstPart(u"text/html");
    QVERIFY(part != nullptr);
    QCOMPARE(part->text(), QStringLiteral("<p>[[Name]]</p>"));
}

void TestAssembly::missingIndexHtmlIsAnError() {
    pw::test::TestEnv env;
    MailJob job;
    job.mainPreviewFolder = env.makeFolder("empty");
    job.htmlFileName = "T";
    job.htmlFiles = {"index.html"};
    const BuiltMessage built = buildMessage(job, MailTexts{"", "a@x", "b@x", "s", "t"}, nullptr);
    QVERIFY(built.message == nullptr);
    QVERIFY(built.error.contains("index.html"));
    // an attached index.html that is gone ends the same way
    MailJob viaAttachment;
    viaAttachment.attachments = {env.root() + "nowhere/index.html"};
    QVERIFY(!buildMessage(viaAttachment, MailTexts{"", "a@x", "b@x", "s", "t"}, nullptr)
                 .error.isEmpty());
}

void TestAssembly::skippedFilesAndFolders() {
    pw::test::TestEnv env;
    const QString files = env.makeFolder("f");
    QVERIFY(pw::test::writeFile(files + "index.html", "<img src=\"a.png\">"));
    QVERIFY(pw::test::writeFile(files + "real.bin", "x"));
    MailJob job;
    job.attachments = {files + "index.html",      files + "log.txt",     files + "Thumbs.db",
                       "http://example.jp/x.bin", env.makeFolder("sub"), files + "real.bin"};
    const BuiltMessage built = buildMessage(job, MailTexts{"", "a@x", "b@x", "s", ""}, nullptr);
    QVERIFY(built.error.isEmpty());
    const auto& root = built.message->rootPart();
    // the attached index.html became the HTML body; only real.bin is attached
    QCOMPARE(root.contentType(), QStringLiteral("multipart/mixed"));
    QCOMPARE(root.childCount(), 2);
    QCOMPARE(root.child(0)->contentType(), QStringLiteral("multipart/related; type=\"text/html\""));
    QCOMPARE(root.child(0)->child(0)->text(), QStringLiteral("<img src=\"cid:a.png\">"));
    QCOMPARE(root.child(1)->title(), QStringLiteral("real.bin"));
}

void TestAssembly::attachmentNameWithSemicolon() {
    pw::test::TestEnv env;
    const QString path = env.makeFolder("f") + "a;b.txt";
    QVERIFY(pw::test::writeFile(path, "semi"));
    MailJob job;
    job.attachments = {path};
    const BuiltMessage built = buildMessage(job, MailTexts{"", "a@x", "b@x", "s", "t"}, nullptr);
    QCOMPARE(built.message->rootPart().childCount(), 2);
    QCOMPARE(built.message->rootPart().child(1)->title(), QStringLiteral("a;b.txt"));
    QVERIFY(built.message->body().contains(QByteArray("semi").toBase64()));
}

void TestAssembly::missingAttachmentFailsAtRender() {
    pw::test::TestEnv env;
    const QString path = env.makeFolder("f") + "gone.pdf";
    QVERIFY(pw::test::writeFile(path, "x"));
    MailJob job;
    job.attachments = {path};
    const BuiltMessage built = buildMessage(job, MailTexts{"", "a@x", "b@x", "s", "t"}, nullptr);
    QVERIFY(built.error.isEmpty());
    QVERIFY(QFile::remove(path));  // assembly did not open it; rendering finds it gone
    try {
        (void)built.message->body();
        QFAIL("rendered a missing attachment");
    } catch (const pw::smtp::CKTWSMTPException& e) {
        QCOMPARE(e.Code(), 2);
    }
}

QTEST_GUILESS_MAIN(TestAssembly)
#include "test_assembly.moc"
