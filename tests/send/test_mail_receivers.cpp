// Every message structure in the charsets users pick, as strict peers see it: Python's email
// package (both policies) reads back exactly what was merged, a real Postfix with its strict
// MIME checks accepts each message, and SpamAssassin finds nothing wrong with how it is built.

#include "PrivatePostfix.h"
#include "SmtpTestServer.h"
#include "TestEnv.h"
#include "test_mime_python.h"

#include "send/MessageAssembly.h"
#include "smtp/Charsets.h"
#include "smtp/KTWSMTPConnection.h"
#include "smtp/KTWSMTPException.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

#include <unistd.h>

using namespace pw::send;
using pw::smtp::BodyTransport;
using pw::smtp::CKTWSMTPConnection;
using pw::smtp::CKTWSMTPMessage;

namespace {

struct Language {
    const char* charset;
    int row;
    const char* sender;
    const char* name;
    const char* subject;
    const char* body;
};

// Texts each charset carries; the file names are Japanese and accented in every charset,
// since they travel in UTF-8 whatever the mail's charset.
const Language kLanguages[] = {
    {"shift-jis", 0, "山田商店 営業部", "田中 太郎", "[[Name]]様 新製品のご案内",
     "[[Name]]様\r\n\r\nいつもお世話になっております。\r\n.\r\n新製品のご案内です。"},
    {"iso-2022-jp", 1, "山田商店 営業部", "田中 太郎", "[[Name]]様 新製品のご案内",
     "[[Name]]様\r\n\r\nいつもお世話になっております。\r\n.\r\n新製品のご案内です。"},
    {"utf-8", 23, "Café Dvořák 山田", "Łukasz Żółć 田中", "Nabídka pro [[Name]] ご案内",
     "Dobrý den, [[Name]]!\r\n\r\nいつもお世話になっております。\r\n.\r\nŻółć gęślą jaźń."},
    {"iso-8859-2", 12, "Kavárna Dvořák", "Łukasz Żółć", "Nabídka pro [[Name]]",
     "Dobrý den, [[Name]]!\r\n\r\nPosíláme nabídku.\r\n.\r\nŻółć gęślą jaźń."},
};

struct Structure {
    const char* name;
    bool text, html, attachments;
};

const Structure kStructures[] = {
    {"T", true, false, false},  {"T+A", true, false, true}, {"H", false, true, false},
    {"H+T", true, true, false}, {"H+A", false, true, true}, {"H+T+A", true, true, true},
};

const QString kPicture = QString::fromUtf8("写真 1.png");
const QString kBackground = QString::fromUtf8("背景ü.jpg");
const QString kLongAttachment =
    QString::fromUtf8("見積書（2026年度）新製品のご案内と価格表 – Přehled cen a podmínek.pdf");
const QString kTextAttachment = QString::fromUtf8("メモ notes.txt");

FieldTexts captions() {
    FieldTexts c;
    c[0] = "Mail Address";
    c[1] = "Name";
    for (int k = 2; k < kMergeFieldCount; ++k)
        c[size_t(k)] = QStringLiteral("field%1").arg(k + 1);
    return c;
}

QString htmlTemplate(const Language& l) {
    return QString::fromUtf8(
               "<html><head><meta charset=\"%1\"></head>"
               "<body background=\"%2\"><p>%3</p><p>[[Name]]</p>"
               "<img src=\"%4\" alt=\"x\"><img src=\"logo.gif\" alt=\"y\">"
               "</body></html>")
        .arg(QString::fromLatin1(l.charset), kBackground, QString::fromUtf8(l.body), kPicture);
}

// One case: the mail of a language and structure, built the way a run builds it.
struct Case {
    QString name;
    const Language* language;
    const Structure* structure;
    MailTexts merged;
    QString html;  // as merged, with the Part's "cid:" + file name references
    BuiltMessage built;
};

class Mails {
public:
    explicit Mails(pw::test::TestEnv& env) {
        m_preview = env.makeFolder("PostwickMainPreview");
        m_files = env.makeFolder("files");
        QByteArray png("\x89PNG\r\n\x1a\n", 8);
        png += QByteArray(2000, 'p');
        ok = pw::test::writeFile(m_preview + kPicture, png) &&
             pw::test::writeFile(m_preview + "logo.gif", "GIF89a" + QByteArray(300, 'g')) &&
             pw::test::writeFile(m_files + kBackground, "\xff\xd8\xff" + QByteArray(900, 'j')) &&
             pw::test::writeFile(m_files + kLongAttachment, "%PDF-1.4\n" + QByteArray(5000, 'x')) &&
             pw::test::writeFile(m_files + kTextAttachment, "line\r\n.dot\r\n");
    }

    [[nodiscard]] Case build(const Language& l, const Structure& s) const {
        Case c;
        c.name = QStringLiteral("%1 %2").arg(QString::fromLatin1(l.charset),
                                             QString::fromLatin1(s.name));
        c.language = &l;
        c.structure = &s;
        MailJob job;
        job.captions = captions();
        job.charsetRow = l.row;
        job.messageIdDomain = "smtp.example.jp";
        job.mainPreviewFolder = m_preview;
        job.senderName = QString::fromUtf8(l.sender);
        job.senderAddress = "shop@example.jp";
        job.recipientText = "[[Name]] <[[Mail Address]]>";
        job.subject = QString::fromUtf8(l.subject);
        job.bodyText = s.text ? QString::fromUtf8(l.body) : QString();
        if (s.html) {
            job.htmlFileName = "Template";
            job.htmlFiles = {"index.html", kPicture, "logo.gif", m_files + kBackground};
            (void)pw::test::writeFile(m_preview + "index.html", htmlTemplate(l).toUtf8());
        }
        if (s.attachments)
            job.attachments = {m_files + kLongAttachment, m_files + kTextAttachment};
        FieldTexts values;
        values[0] = "tanaka@example.jp";
        values[1] = QString::fromUtf8(l.name);
        CMessageAssembly assembly(job, {values});
        c.merged = assembly.merged(0);
        c.html = rewritePictureReferences(mergeAll(htmlTemplate(l), job.captions, &values));
        c.built = assembly.build(c.merged, 0);
        return c;
    }

    [[nodiscard]] std::vector<Case> all() const {
        std::vector<Case> cases;
        for (const Language& l : kLanguages) {
            for (const Structure& s : kStructures)
                cases.push_back(build(l, s));
        }
        return cases;
    }

    bool ok = false;

private:
    QString m_preview;
    QString m_files;
};

QByteArray rendered(const CKTWSMTPMessage& m, BodyTransport transport) {
    return m.header(transport) + "\r\n" + m.body(transport);
}

}  // namespace

class TestMailReceivers : public QObject {
    Q_OBJECT

private slots:
    void pythonReadsEveryMessage_data();
    void pythonReadsEveryMessage();
    void postfixAcceptsEveryMessage();
    void smtpSinkGetsPipelinedMessagesOnceAndUnchanged();
    void spamAssassinScoresNoStructuralRule();
};

void TestMailReceivers::pythonReadsEveryMessage_data() {
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("structure");
    QTest::addColumn<bool>("eightBit");
    for (int l = 0; l < int(std::size(kLanguages)); ++l) {
        for (int s = 0; s < int(std::size(kStructures)); ++s) {
            for (bool eight : {false, true}) {
                QTest::addRow("%s %s %s", kLanguages[l].charset, kStructures[s].name,
                              eight ? "8BITMIME" : "7-bit")
                    << l << s << eight;
            }
        }
    }
}

void TestMailReceivers::pythonReadsEveryMessage() {
    QFETCH(int, language);
    QFETCH(int, structure);
    QFETCH(bool, eightBit);
    pw::test::TestEnv env;
    const Mails mails(env);
    QVERIFY(mails.ok);
    const Case c = mails.build(kLanguages[language], kStructures[structure]);
    QVERIFY2(c.built.error.isEmpty(), qPrintable(c.built.error));
    const BodyTransport transport = eightBit ? BodyTransport::EightBit : BodyTransport::SevenBit;
    const QByteArray bytes = rendered(*c.built.message, transport);
    const auto d = pw::test::describeMime(bytes);
    QVERIFY2(d.error.isEmpty(), qPrintable(d.error));
    const QJsonObject& t = d.tree;

    QCOMPARE(t.value("defects").toArray(), QJsonArray());
    // The one remark of today's parser: the legacy name= beside RFC 2231 is the encoded-word
    // form readers without RFC 2231 decode, which the standard does not allow in quotes.
    for (const QJsonValue& v : t.value("headerDefects").toArray()) {
        const QString defect = v.toString();
        QVERIFY2(defect == "Content-Type: encoded word inside quoted string" ||
                     defect == "Content-Type: missing trailing whitespace after encoded-word",
                 qPrintable(defect + "\n" + QString::fromUtf8(bytes.left(6000))));
    }
    QVERIFY(t.value("longestHeaderLine").toInt() <= 998);
    QVERIFY(t.value("longestLine").toInt() <= 998);
    QCOMPARE(t.value("bareLineFeeds").toInt(), 0);
    if (!eightBit)
        QVERIFY(!t.value("eightBit").toBool());
    QCOMPARE(t.value("subject").toString(), c.merged.subject);
    QCOMPARE(t.value("fromName").toString(), c.merged.senderName);
    QCOMPARE(t.value("toNames").toArray(), QJsonArray{QString::fromUtf8(c.language->name)});
    QCOMPARE(t.value("to").toArray(), QJsonArray{"tanaka@example.jp"});

    const Structure& s = *c.structure;
    const QString related = "multipart/related(text/html,image/png,image/gif,image/jpeg)";
    const QString alternative =
        "multipart/related(multipart/alternative(text/plain,text/html),image/png,image/gif,"
        "image/jpeg)";
    const QString files = ",application/pdf,text/plain)";
    QString shape = s.html ? (s.text ? alternative : related) : QStringLiteral("text/plain");
    if (s.attachments)
        shape = "multipart/mixed(" + shape + files;
    QCOMPARE(pw::test::mimeShape(t), shape);

    // Every cid: resolves to a part of that Content-ID; with the file names put back the
    // HTML is the merged one.
    QHash<QString, QJsonObject> byId;
    QString html;
    int texts = 0;
    for (const QJsonObject& node : pw::test::flattenMime(t)) {
        const QString type = node.value("type").toString();
        if (!node.value("cid").toString().isEmpty())
            byId.insert(node.value("cid").toString(), node);
        if (type == "text/plain" && node.value("disposition").isNull()) {
            ++texts;
            QCOMPARE(node.value("text").toString(), c.merged.body);
            QCOMPARE(node.value("charset").toString(), QString::fromLatin1(c.language->charset));
        } else if (type == "text/html") {
            html = node.value("text").toString();
        } else if (node.value("parts").isUndefined() && !type.startsWith("text/")) {
            const QString name = node.value("filename").toString();
            QCOMPARE(node.value("filenameModern").toString(), name);
            QCOMPARE(node.value("name").toString(), name);
            QVERIFY2(
                QStringList({kPicture, "logo.gif", kBackground, kLongAttachment}).contains(name),
                qPrintable(name));
        }
    }
    QCOMPARE(texts, s.text ? 1 : 0);
    if (s.html) {
        static const QRegularExpression cid(QStringLiteral("cid:([^\"']+)"));
        QString restored = html;
        for (const auto& m : cid.globalMatch(html)) {
            const QString id = m.captured(1);
            QVERIFY2(id.contains('@'), qPrintable(id));
            const QJsonObject part = byId.value('<' + id + '>');
            QVERIFY2(!part.isEmpty(), qPrintable("unresolved cid:" + id));
            QCOMPARE(part.value("disposition").toString(), QStringLiteral("inline"));
            restored.replace("cid:" + id, "cid:" + part.value("filename").toString());
        }
        QCOMPARE(restored, c.html);
        QCOMPARE(byId.size(), 3);
    }
    if (s.attachments) {
        const QJsonObject last = pw::test::flattenMime(t).last();
        QCOMPARE(last.value("filename").toString(), kTextAttachment);
        QCOMPARE(last.value("disposition").toString(), QStringLiteral("attachment"));
    }
}

void TestMailReceivers::postfixAcceptsEveryMessage() {
    pw::test::TestEnv env;
    const Mails mails(env);
    QVERIFY(mails.ok);
    pw::test::TestCertificates certs(env.makeFolder("certs"));
    QVERIFY2(certs.ok(), qPrintable(certs.errorText()));
    pw::test::PrivatePostfix postfix;
    const QString why =
        postfix.start(env.makeFolder("postfix"), {certs.serverCert(), certs.serverKey(), {}});
    if (!why.isEmpty())
        QSKIP(qPrintable("no Postfix to test against: " + why));

    QStringList refused;
    int sent = 0;
    for (const Case& c : mails.all()) {
        QVERIFY2(c.built.error.isEmpty(), qPrintable(c.built.error));
        // EHLO on the plain port and after STARTTLS: 8BITMIME offered on both
        for (const bool tls : {false, true}) {
            CKTWSMTPConnection session(QStringLiteral("client.example.jp"));
            session.SetCertificateCheck(pw::smtp::CertificateCheck::AcceptUnverified);
            session.SetTimeout(30000);
            try {
                session.Connect(
                    "127.0.0.1", pw::smtp::AuthMethod::None, {}, {},
                    tls ? postfix.tlsPort() : postfix.plainPort(),
                    tls ? pw::smtp::ConnectionType::StartTls : pw::smtp::ConnectionType::None);
                QVERIFY(session.EightBitMimeOffered());
                session.SendMessage(*c.built.message);
                // Postfix's own verdict on the data
                QVERIFY2(session.LastResponse().startsWith("250"),
                         qPrintable(session.LastResponse()));
                ++sent;
                session.Disconnect(pw::smtp::DisconnectMode::Graceful);
            } catch (const pw::smtp::CKTWSMTPException& e) {
                refused += c.name + (tls ? " (EHLO)" : " (HELO)") + ": " + e.Description();
            }
        }
    }
    QVERIFY2(refused.isEmpty(), qPrintable(refused.join('\n') + "\n" + postfix.log().right(4000)));
    QCOMPARE(sent, int(std::size(kLanguages) * std::size(kStructures)) * 2);
}

// Postfix's smtp-sink, which offers PIPELINING, gets every message of one session once, and
// byte for byte as the same messages arrive when it does not offer it (one command at a time).
void TestMailReceivers::smtpSinkGetsPipelinedMessagesOnceAndUnchanged() {
    const QString sinkProgram = QStringLiteral("/usr/sbin/smtp-sink");
    if (!QFileInfo(sinkProgram).isExecutable())
        QSKIP("smtp-sink is not installed (package postfix, scripts/install-deps.sh)");
    pw::test::TestEnv env;
    const Mails mails(env);
    QVERIFY(mails.ok);
    const std::vector<Case> cases = mails.all();

    // Message-ID -> the message as smtp-sink stored it, for one session
    const auto deliver = [&](bool pipelining) -> QMap<QByteArray, QByteArray> {
        const QString folder = env.makeFolder(pipelining ? "sink-pipelined" : "sink-plain");
        pw::test::letOthersThrough(folder);
        QFile::setPermissions(folder, QFileDevice::Permissions(0x7777));  // the sink's user
        const int port = pw::test::freeLoopbackPort();
        QStringList args;
        if (::geteuid() == 0)
            args << "-u"
                 << "nobody";  // it refuses to keep root's privileges
        args << "-a";          // no AUTH offered: EHLO without login
        if (!pipelining)
            args << "-p";
        args << "-d" << folder + "%M." << QStringLiteral("127.0.0.1:%1").arg(port) << "20";
        QProcess sink;
        sink.start(sinkProgram, args);
        if (!sink.waitForStarted(5000))
            return {};
        (void)QTest::qWaitFor([port] { return pw::test::loopbackListening(port); }, 5000);
        CKTWSMTPConnection session(QStringLiteral("client.example.jp"));
        session.SetTimeout(30000);
        try {
            session.Connect("127.0.0.1", pw::smtp::AuthMethod::Automatic, {}, {}, port,
                            pw::smtp::ConnectionType::None);
            if (session.PipeliningOffered() != pipelining)
                return {};
            for (size_t i = 0; i < cases.size(); ++i) {
                const CKTWSMTPMessage* next =
                    i + 1 < cases.size() ? cases[i + 1].built.message.get() : nullptr;
                session.SendMessage(*cases[i].built.message, next);
            }
            session.Disconnect(pw::smtp::DisconnectMode::Graceful);
        } catch (const pw::smtp::CKTWSMTPException& e) {
            qWarning() << "session failed:" << e.Description();
            return {};
        }
        // the sink writes each dump after its reply
        QStringList files;
        (void)QTest::qWaitFor(
            [&] {
                files = QDir(folder).entryList(QDir::Files);
                return files.size() >= qsizetype(cases.size());
            },
            5000);
        if (sink.state() == QProcess::Running) {
            sink.terminate();
            sink.waitForFinished(3000);
        }
        QMap<QByteArray, QByteArray> stored;
        for (const QString& f : files) {
            QByteArray text = pw::test::readFile(folder + f);
            // the sink's own lines first: X-...: and its Received header
            QList<QByteArray> lines = text.split('\n');
            while (!lines.isEmpty() && lines.first().startsWith("X-"))
                lines.removeFirst();
            if (!lines.isEmpty() && lines.first().startsWith("Received: from ")) {
                lines.removeFirst();
                while (!lines.isEmpty() && lines.first().startsWith('\t'))
                    lines.removeFirst();
            }
            QByteArray id;
            for (const QByteArray& l : lines) {
                if (l.startsWith("Message-ID:"))
                    id = l;
            }
            lines.removeIf([](const QByteArray& l) { return l.startsWith("Date:"); });
            // a message stored twice shows as a key seen before
            stored.insert(stored.contains(id) ? "twice: " + id : id, lines.join('\n'));
        }
        return stored;
    };
    const QMap<QByteArray, QByteArray> pipelined = deliver(true);
    const QMap<QByteArray, QByteArray> oneByOne = deliver(false);
    QCOMPARE(pipelined.size(), qsizetype(cases.size()));
    QCOMPARE(oneByOne.size(), qsizetype(cases.size()));
    for (auto it = oneByOne.cbegin(); it != oneByOne.cend(); ++it) {
        QVERIFY2(!it.key().isEmpty() && !it.key().startsWith("twice"), it.key().constData());
        QVERIFY2(pipelined.contains(it.key()), it.key().constData());
        QCOMPARE(pipelined.value(it.key()), it.value());
    }
}

void TestMailReceivers::spamAssassinScoresNoStructuralRule() {
    const QString spamassassin =
        QStandardPaths::findExecutable("spamassassin", {"/usr/bin", "/usr/local/bin"});
    if (spamassassin.isEmpty())
        QSKIP("spamassassin is not installed (scripts/install-deps.sh)");
    pw::test::TestEnv env;
    const Mails mails(env);
    QVERIFY(mails.ok);
    // One mailbox of every message, in both transports, each marked with its case.
    QByteArray mbox;
    for (const Case& c : mails.all()) {
        for (const BodyTransport t : {BodyTransport::SevenBit, BodyTransport::EightBit}) {
            const QString name = c.name + (t == BodyTransport::EightBit ? " 8bit" : " 7bit");
            QByteArray bytes = "X-Case: " + name.toUtf8() + "\r\n" + rendered(*c.built.message, t);
            bytes.replace("\r\n..", "\r\n.");
            bytes.replace("\r\nFrom ", "\r\n>From ");
            mbox += "From shop@example.jp Wed Dec  9 10:00:00 2026\n" + bytes + "\n";
        }
    }
    QProcess sa;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", env.makeFolder("home"));
    sa.setProcessEnvironment(environment);
    sa.start(spamassassin, {"-L", "--mbox"});
    QVERIFY(sa.waitForStarted(10000));
    sa.write(mbox);
    sa.closeWriteChannel();
    QVERIFY2(sa.waitForFinished(240000), "spamassassin did not finish");
    const QString out = QString::fromUtf8(sa.readAllStandardOutput());

    // The rules about how a message is built; MIME_HTML_ONLY only where the mail has no text,
    // which is what the user composed.
    static const QRegularExpression structural(QStringLiteral(
        "^(CTE_.*|OBFU_.*|MIME_.*|MPART_.*|MISSING_.*|.*_EXCESS_BASE64|.*_EXCESS_QP|BAD_ENC_.*|"
        "HTML_MIME_.*|FROM_ILLEGAL_CHARS|SUBJ_ILLEGAL_CHARS|HEAD_ILLEGAL_CHARS|INVALID_.*|"
        "NO_HEADERS_MESSAGE|HEADER_FROM_DIFFERENT_DOMAINS|TVD_SPACE_RATIO_MINFP)$"));
    static const QRegularExpression status(QStringLiteral(
        "X-Spam-Status: (?:Yes|No), score=\\S+ required=\\S+ tests=([^\\n]*(?:\\n\\t[^\\n]*)*)"));
    static const QRegularExpression caseName(QStringLiteral("X-Case: ([^\\r\\n]+)"));
    QStringList offences;
    QMap<QString, int> remaining;
    int seen = 0;
    for (const QString& message : out.split(QStringLiteral("\nFrom shop@example.jp "))) {
        const auto st = status.match(message);
        const auto cn = caseName.match(message);
        if (!st.hasMatch() || !cn.hasMatch())
            continue;
        ++seen;
        const QString name = cn.captured(1);
        QString tests = st.captured(1);
        tests.remove(QRegularExpression(QStringLiteral("\\s+autolearn=.*$"),
                                        QRegularExpression::DotMatchesEverythingOption));
        for (QString rule : tests.split(',', Qt::SkipEmptyParts)) {
            rule = rule.trimmed();
            const bool htmlOnly =
                rule == "MIME_HTML_ONLY" && name.contains(" H") && !name.contains("H+T");
            if (structural.match(rule).hasMatch() && !htmlOnly)
                offences += name + ": " + rule;
            else
                ++remaining[rule];
        }
    }
    QCOMPARE(seen, int(std::size(kLanguages) * std::size(kStructures)) * 2);
    QVERIFY2(offences.isEmpty(), qPrintable(offences.join('\n')));
    QStringList summary;
    for (auto it = remaining.cbegin(); it != remaining.cend(); ++it)
        summary += QStringLiteral("%1 (%2)").arg(it.key()).arg(it.value());
    qInfo("rules that remain: %s", qPrintable(summary.join(", ")));
}

QTEST_GUILESS_MAIN(TestMailReceivers)
#include "test_mail_receivers.moc"
