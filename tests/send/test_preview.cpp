// The preview of recipient k is the message the run sends to recipient k: the same subject,
// text and HTML once the dry-run file is decoded by Python's email package. Also the text
// block, its phone form and stepping through the recipients.

#include <QJsonArray>
#include <QRegularExpression>
#include <QtTest>

#include "TestEnv.h"
#include "compose/MailPreview.h"
#include "resources/Strings.h"
#include "send/PreviewSource.h"
#include "send/SendTransport.h"
#include "test_mime_python.h"

using namespace pw;
using namespace pw::send;

namespace {

std::vector<FieldTexts> japaneseRecipients() {
    const char* names[] = {"山田 太郎", "佐藤 花子", "髙橋 一郎", "渡辺 ゆかり"};
    std::vector<FieldTexts> rows;
    int n = 0;
    for (const char* name : names) {
        FieldTexts r;
        r[0] = QStringLiteral("user%1@example.jp").arg(++n);
        r[1] = QString::fromUtf8(name);
        r[2] = QString::fromUtf8("東京都 %1 丁目").arg(n);
        rows.push_back(r);
    }
    return rows;
}

MailJob job(const QString& folder) {
    MailJob j;
    j.senderAddress = "shop@example.jp";
    j.senderName = QString::fromUtf8("街かどショップ");
    j.subject = QString::fromUtf8("[[Name]] 様へのお知らせ");
    j.recipientText = "[[Mail Address]]";
    j.bodyText =
        QString::fromUtf8("[[Name]] 様\r\nご住所: [[field3]]\r\nありがとうございます。\r\n");
    j.htmlFileName = "Newsletter (Japanese)";
    j.htmlFiles = {"index.html", "pic.png"};
    j.mainPreviewFolder = folder;
    j.captions[0] = "Mail Address";
    j.captions[1] = "Name";
    j.captions[2] = "field3";
    j.messageIdDomain = "mail.example.jp";
    return j;
}

// Line ends aside, and the Content-IDs, which each message makes anew.
QString normalised(QString s) {
    static const QRegularExpression contentId(QStringLiteral("cid:part[0-9]+\\.[0-9a-f]{32}@"));
    return s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        .replace(contentId, QStringLiteral("cid:part@"));
}

}  // namespace

class TestPreview : public QObject {
    Q_OBJECT

private slots:
    void previewEqualsDryRun_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("overrideCharset");
        QTest::addColumn<QStringList>("encodings");  // of the text parts shown, as 8BITMIME sends
        QTest::newRow("iso-2022-jp") << 1 << QString() << QStringList{"7bit", "8bit"};
        QTest::newRow("utf-8") << 1 << QStringLiteral("utf-8") << QStringList{"8bit"};
        QTest::newRow("shift-jis") << 0 << QString() << QStringList{"8bit"};
    }

    void previewEqualsDryRun() {
        QFETCH(int, row);
        QFETCH(QString, overrideCharset);
        QFETCH(QStringList, encodings);
        test::TestEnv env;
        const QString folder = env.makeFolder("PostwickMainPreview");
        QFile html(folder + "index.html");
        QVERIFY(html.open(QIODevice::WriteOnly));
        html.write(QString::fromUtf8("<html><body><p>[[Name]] 様</p><img src=\"pic.png\">"
                                     "<img src=\"http://example.jp/logo.png\"></body></html>")
                       .toUtf8());
        html.close();
        QFile pic(folder + "pic.png");
        QVERIFY(pic.open(QIODevice::WriteOnly));
        pic.write("not really a picture");
        pic.close();

        MailJob j = job(folder);
        j.charsetRow = row;
        j.charsetOverride = overrideCharset;
        const auto rows = japaneseRecipients();
        CAssemblyPreviewSource source(std::make_unique<CMessageAssembly>(j, rows), SendMode::Merge);
        QCOMPARE(source.count(), int(rows.size()));
        // 髙橋's mail leaves a JIS charset for UTF-8, and the preview says so
        QCOMPARE(
            source.notices().join(""),
            overrideCharset.isEmpty()
                ? "1 of 4 recipients have characters that " +
                      QString(j.charsetRow ? "iso-2022-jp" : "shift-jis") +
                      " carries only as Windows codes (such as ①, ㈱, 髙): their mails go in UTF-8."
                : "");

        CMessageAssembly run(j, rows);
        CDryRunTransport dry(env.makeFolder("dry"));
        QVERIFY(dry.connect({}).ok);
        QStringList shownEncodings;
        for (int k = 0; k < source.count(); ++k) {
            const PreviewMessage shown = source.message(k);
            if (!shownEncodings.contains(shown.transferEncoding))
                shownEncodings << shown.transferEncoding;
            QVERIFY2(shown.error.isEmpty(), qPrintable(shown.error));
            BuiltMessage sent = run.build(run.merged(k), k);
            QVERIFY(dry.send(*sent.message).ok);
            QFile f(dry.lastFile());
            QVERIFY(f.open(QIODevice::ReadOnly));
            const auto d = test::describeMime(f.readAll());
            QVERIFY2(d.error.isEmpty(), qPrintable(d.error));
            QCOMPARE(shown.subject, d.tree.value("subject").toString());
            QString text, sentHtml;
            for (const QJsonObject& node : test::flattenMime(d.tree)) {
                if (node.value("type").toString() == "text/plain") {
                    text = node.value("text").toString();
                } else if (node.value("type").toString() == "text/html") {
                    sentHtml = node.value("text").toString();
                }
            }
            QCOMPARE(normalised(shown.body), normalised(text));
            QCOMPARE(normalised(shown.html), normalised(sentHtml));
            QVERIFY(shown.html.contains(rows[size_t(k)][1]));
            QCOMPARE(shown.to, QStringList{rows[size_t(k)][0]});
            // the view gets the picture's own file for its reference; the web one stays
            const QString page = displayableHtml(shown);
            QVERIFY(page.contains(QUrl::fromLocalFile(folder + "pic.png").toString()));
            QVERIFY(page.contains("http://example.jp/logo.png"));
            QVERIFY(!page.contains("cid:"));
        }
        shownEncodings.sort();
        QCOMPARE(shownEncodings, encodings);
    }

    void charactersTheCharsetLacksShowAsSent() {
        test::TestEnv env;
        MailJob j = job(env.makeFolder("p"));
        j.htmlFileName.clear();
        j.charsetRow = 3;  // us-ascii
        j.subject = QString::fromUtf8("Caf\xC3\xA9 [[Name]]");
        std::vector<FieldTexts> rows(1);
        rows[0][0] = "a@example.jp";
        CAssemblyPreviewSource source(std::make_unique<CMessageAssembly>(j, rows), SendMode::Merge);
        QCOMPARE(source.message(0).subject, QStringLiteral("Caf? "));
    }

    void stepsThroughTheRecipients() {
        test::TestEnv env;
        const QString folder = env.makeFolder("p");
        MailJob j = job(folder);
        j.htmlFileName.clear();
        CMailPreview preview(
            std::make_unique<CAssemblyPreviewSource>(
                std::make_unique<CMessageAssembly>(j, japaneseRecipients()), SendMode::Merge),
            folder);
        preview.build();
        QCOMPARE(preview.positionText(), QStringLiteral("1/4"));
        QVERIFY(!preview.canGoBack());
        QVERIFY(!preview.previous());
        QCOMPARE(preview.htmlTarget(), QStringLiteral("about:blank"));
        for (int i = 0; i < 10; ++i) {
            (void)preview.next();
        }
        QCOMPARE(preview.index(), 3);
        QVERIFY(!preview.canGoOn());
        QVERIFY(preview.text().contains(QString::fromUtf8("渡辺 ゆかり 様")));
    }

    void noRecipientsEmptyEveryPlaceholder() {
        test::TestEnv env;
        MailJob j = job(env.makeFolder("p"));
        j.htmlFileName.clear();
        CMailPreview preview(
            std::make_unique<CAssemblyPreviewSource>(
                std::make_unique<CMessageAssembly>(j, std::vector<FieldTexts>{}), SendMode::Merge),
            env.root());
        preview.build();
        QCOMPARE(preview.positionText(), QStringLiteral("1/0"));
        QVERIFY(!preview.canGoOn() && !preview.canGoBack());
        QVERIFY(!preview.text().contains("[["));
    }

    // The header lines stay as they are; the date line is in the user's language.
    void textBlock_data() {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("dateLine");
        QTest::newRow("English") << int(pw::Language::English)
                                 << "Wednesday, December 09, 2026 at 10h05.";
        QTest::newRow("Japanese") << int(pw::Language::Japanese)
                                  << QString::fromUtf8("2026年12月9日 水曜日 10時05分");
    }
    void textBlock() {
        QFETCH(int, language);
        QFETCH(QString, dateLine);
        pw::setLanguage(pw::Language(language));
        PreviewMessage m;
        m.senderName = "Shop";
        m.senderAddress = "shop@example.org";
        m.subject = "Hello";
        m.to = {"a@example.org"};
        m.cc = {"b@example.org", "c@example.org"};
        m.charset = "iso-2022-jp";
        m.transferEncoding = "7bit";
        m.messageIdHeader = "Message-ID: <x@y>";
        m.body = "Body";
        const QString block = previewTextBlock(m, QDateTime(QDate(2026, 12, 9), QTime(10, 5, 0)));
        pw::setLanguage(pw::Language::English);
        QCOMPARE(block,
                 QStringLiteral("From: Shop<shop@example.org>\r\nSubject: Hello\r\n"
                                "To: a@example.org\r\nCc: b@example.org\r\nCc: c@example.org\r\n"
                                "MimeVersion 1.0 \r\nX-Mailer: Postwick Dezo Version 7\r\n"
                                "Content-Type: text/plain; charset=\"iso-2022-jp\"\r\n"
                                "Content-Transfer-Encoding: 7bit\r\nMessage-ID: <x@y>\r\n") +
                     dateLine + "\r\n\r\nBody");
    }

    void mobilePhoneText_data() {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("25 then break") << "abcdefghijklmnopqrstuvwxy\r\nz"
                                       << "abcdefghij\r\nklmnopqrstuvwxy\r\nz";
        QTest::newRow("last line unbroken") << "abcdefghijklmnopqrstuvwxy"
                                            << "abcdefghijklmnopqrstuvwxy";
        QTest::newRow("exactly ten") << "abcdefghij\r\n"
                                     << "abcdefghij\r\n";
    }

    void mobilePhoneText() {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(pw::mobilePhoneText(in), out);
    }
};

QTEST_GUILESS_MAIN(TestPreview)
#include "test_preview.moc"
