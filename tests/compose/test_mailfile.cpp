// Project and template files written and read back, and the exact bytes they hold.

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>
#include <ctime>

#include "MailFileBytes.h"
#include "ScriptedUserInteraction.h"
#include "TestEnv.h"
#include "compose/MailFile.h"
#include "compose/PasswordScrambling.h"
#include "resources/Strings.h"

using namespace pw;
using namespace pw::test;

namespace {

// A project's part of a server: its SMTP and POP3 servers, user and password.
inline pw::ServerConfig projectServers(const QString& smtp, const QString& pop, const QString& user,
                                       const QString& password) {
    pw::ServerConfig s;
    s.smtpServer = smtp;
    s.popServer = pop;
    s.userId = user;
    s.password = password;
    return s;
}

void put(const QString& path, const QByteArray& bytes) {
    if (!writeFile(path, bytes))
        qFatal("cannot write %s", qPrintable(path));
}

quint16 be16(const QByteArray& b, qsizetype at) {
    return quint16((quint8(b.at(at)) << 8) | quint8(b.at(at + 1)));
}
quint32 be32(const QByteArray& b, qsizetype at) {
    return (quint32(quint8(b.at(at))) << 24) | (quint32(quint8(b.at(at + 1))) << 16) |
           (quint32(quint8(b.at(at + 2))) << 8) | quint32(quint8(b.at(at + 3)));
}

MailDocument sampleDocument() {
    MailDocument d;
    d.senderAddress = "news@example.jp";
    d.senderName = QString::fromUtf8("山田商店");
    d.subject = QString::fromUtf8("[[Name]]様 冬のセールのお知らせ");
    d.recipientText = "[[Mail Address]]";
    d.textBody =
        QString::fromUtf8("[[Name]]様\r\nいつもありがとうございます。\r\n") + QString(3000, u'x');
    d.projectSettings =
        projectServers("smtp.example.jp", "pop.example.jp", "shop", QString::fromUtf8("pässwörd"));
    return d;
}

void setTimeZone(const QByteArray& zone) {
    qputenv("TZ", zone);
    tzset();
}

struct Files {
    QString preview, out, db;
};

}  // namespace

class TestMailFile : public QObject {
    Q_OBJECT

    std::unique_ptr<TestEnv> m_env;
    Files m_dirs;

    QString workingCopy(const QByteArray& bytes) {
        const QString path = m_env->root() + "PZP_data_1.pzb";
        put(path, bytes);
        return path;
    }
    MailFileReadOptions readOptions(const CodePage& cp = CodePage::utf8()) {
        MailFileReadOptions o;
        o.previewFolder = m_dirs.out;
        o.currentCodePage = cp;
        o.databaseTarget = [this] { return m_dirs.db + "PZP_data_2.pzb"; };
        return o;
    }

private slots:
    void init() {
        m_env = std::make_unique<TestEnv>();
        m_dirs = {m_env->makeFolder("preview"), m_env->makeFolder("preview-read"),
                  m_env->makeFolder("copies")};
        setLanguage(Language::English);
    }
    void cleanup() { m_env.reset(); }

    // The whole project comes back: document, HTML files, database bytes, schedule.
    void projectRoundTrip_data() {
        QTest::addColumn<QByteArray>("codePage");
        QTest::addColumn<QByteArray>("readCodePage");
        QTest::addColumn<bool>("html");
        QTest::addColumn<int>("attachmentCount");
        QTest::newRow("text mail, no attachments, UTF-8")
            << QByteArray("UTF-8") << QByteArray("UTF-8") << false << 0;
        QTest::newRow("HTML mail, attachments, Shift_JIS")
            << QByteArray("Shift_JIS") << QByteArray("Shift_JIS") << true << 3;
        QTest::newRow("HTML mail, ISO-2022-JP")
            << QByteArray("ISO-2022-JP") << QByteArray("ISO-2022-JP") << true << 1;
        // as earlier builds wrote the ISO-2022-JP row's texts
        QTest::newRow("JIS texts read under Shift_JIS")
            << QByteArray("ISO-2022-JP") << QByteArray("Shift_JIS") << false << 0;
    }
    void projectRoundTrip() {
        QFETCH(QByteArray, codePage);
        QFETCH(QByteArray, readCodePage);
        QFETCH(bool, html);
        QFETCH(int, attachmentCount);
        const CodePage cp = *CodePage::fromName(codePage);
        MailDocument doc = sampleDocument();
        for (int i = 0; i < attachmentCount; ++i) {
            doc.attachments << QString::fromUtf8("/home/yamada/資料/カタログ%1.pdf").arg(i);
        }
        QMap<QString, QByteArray> files;
        if (html) {
            doc.htmlTemplateName = QString::fromUtf8("冬のセール");
            files["index.html"] =
                QByteArray("<html><body>[[Name]] ") + QByteArray(5000, 'a') + "</body></html>";
            files["photo.jpg"] = noiseBytes(40000, 7);  // incompressible: stored
            files["empty.css"] = QByteArray();
            for (auto it = files.cbegin(); it != files.cend(); ++it) {
                put(m_dirs.preview + it.key(), it.value());
            }
            doc.pictureList = files.keys();
        }
        const QByteArray database = noiseBytes(300000, 3) + QByteArray(100000, '\0');
        ScheduledSending schedule{
            true, true, QDateTime(QDate(2026, 3, 1), QTime(9, 30, 0)).toSecsSinceEpoch(), true};

        ProjectWriteOptions w{m_dirs.preview, workingCopy(database), cp};
        ScriptedUserInteraction ui;
        const QString path = m_env->root() + "mail.pzy";
        const WriteResult written = writeProjectFile(path, doc, schedule, w, &ui);
        QVERIFY2(written.ok(), qPrintable(written.message));
        QVERIFY(ui.asked().isEmpty());

        put(m_dirs.out + "stale.txt", "left from the mail before");
        const MailFileReadResult read =
            readMailFile(path, readOptions(*CodePage::fromName(readCodePage)), &ui);
        QVERIFY2(read.ok(), qPrintable(read.failure));
        QVERIFY(ui.asked().isEmpty());
        const MailFileContents& c = *read.contents;
        QCOMPARE(c.kind, MailFileKind::Project);
        QVERIFY(c.complete);
        MailDocument expected = doc;
        expected.projectFilePath = path;
        QCOMPARE(c.document.senderName, expected.senderName);
        QCOMPARE(c.document.textBody, expected.textBody);
        QCOMPARE(c.document.attachments, expected.attachments);
        QCOMPARE(c.document.pictureList, expected.pictureList);
        QVERIFY(c.document == expected);
        QCOMPARE(c.scheduled.value(), schedule);
        QVERIFY(!c.captions);
        QCOMPARE(filesInFolder(m_dirs.out), QStringList(files.keys()));
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            QCOMPARE(readFile(m_dirs.out + it.key()), it.value());
        }
        QCOMPARE(c.database, DatabaseOutcome::Written);
        QCOMPARE(c.databasePath, m_dirs.db + "PZP_data_2.pzb");
        QCOMPARE(readFile(c.databasePath), database);
    }

    // Offsets of every section, as other programs reading these files expect them.
    void projectLayout() {
        MailDocument doc;
        doc.senderAddress = "a@b.c";
        doc.senderName = "Shop";
        doc.subject = "Hi";
        doc.recipientText = "[[Mail Address]]";
        doc.textBody = "Body";
        doc.projectSettings = projectServers("smtp.x", "pop.x", "uid", "abc");
        doc.htmlTemplateName = "T";
        put(m_dirs.preview + "a.html", QByteArray(2000, 'z'));
        put(m_dirs.preview + "b.png", noiseBytes(500, 9));
        const QString path = m_env->root() + "layout.pzy";
        ProjectWriteOptions w{m_dirs.preview, workingCopy("DBBYTES"), CodePage::utf8()};
        QVERIFY(writeProjectFile(path, doc, {}, w, nullptr).ok());
        const QByteArray b = readFile(path);

        QCOMPARE(b.left(4), QByteArray("mlDD"));
        QCOMPARE(be16(b, 4), 5);
        QCOMPARE(be16(b, 6), 4);
        QCOMPARE(be16(b, 8), 2);
        QCOMPARE(be16(b, 10), 16);
        QCOMPARE(be32(b, 12), 4u);
        QCOMPARE(b.mid(16, 31), QByteArray("a@b.cShopHi[[Mail Address]]Body"));
        const qsizetype s = 16 + 31;
        QCOMPARE(b.mid(s, 256), QByteArray(256, '\0'));
        QCOMPARE(b.mid(s + 256, 7), QByteArray("smtp.x\0", 7));
        QCOMPARE(b.mid(s + 512, 6), QByteArray("pop.x\0", 6));
        QCOMPARE(b.mid(s + 768, 7), QByteArray("362616\0", 7));
        QCOMPARE(b.mid(s + 1024, 4), QByteArray("uid\0", 4));
        QCOMPARE(b.mid(s + 1280, 340), QByteArray(340, '\0'));
        QCOMPARE(be16(b, s + 1624), 1970);  // the unset time 0 as local time
        const qsizetype a = s + 1638;
        QCOMPARE(b.mid(a, 7), QByteArray("win\0\0\0\0", 7));
        const qsizetype h = a + 7;
        QCOMPARE(b.mid(h, 2), QByteArray("T\0", 2));
        QCOMPARE(be32(b, h + 256), 2u);
        qsizetype r = h + 260;
        // a.html: compressible, mark 0, S < U
        QCOMPARE(b.mid(r, 4), QByteArray("FILE"));
        QCOMPARE(b.mid(r + 4, 7), QByteArray("a.html\0", 7));
        QCOMPARE(quint8(b.at(r + 260)), quint8(0));
        const quint32 s1 = be32(b, r + 261);
        QCOMPARE(be32(b, r + 265), 2000u);
        QVERIFY(s1 < 2000);
        r += 269 + s1;
        // b.png: incompressible, mark = low byte of Z_BUF_ERROR, S = U, bytes unchanged
        QCOMPARE(b.mid(r + 4, 6), QByteArray("b.png\0", 6));
        QCOMPARE(quint8(b.at(r + 260)), quint8(Z_BUF_ERROR & 0xFF));
        QCOMPARE(be32(b, r + 261), 500u);
        QCOMPARE(be32(b, r + 265), 500u);
        QCOMPARE(b.mid(r + 269, 500), noiseBytes(500, 9));
        r += 269 + 500;
        QCOMPARE(b.mid(r), QByteArray("DBYFDBBYTES"));
    }

    // A text mail stores no files even when the preview folder holds some.
    void textMailStoresNoFiles() {
        MailDocument doc = sampleDocument();
        put(m_dirs.preview + "index.html", "<html/>");
        const QString path = m_env->root() + "text.pzy";
        QVERIFY(
            writeProjectFile(path, doc, {}, {m_dirs.preview, {}, CodePage::utf8()}, nullptr).ok());
        const QByteArray b = readFile(path);
        QCOMPARE(b.right(260 + 7), QByteArray("win") + QByteArray(4 + 260, '\0'));
        const MailFileReadResult read = readMailFile(path, readOptions(), nullptr);
        QVERIFY(read.ok());
        QVERIFY(!read.contents->document.isHtmlMail());
        QVERIFY(read.contents->document.pictureList.isEmpty());
        QCOMPARE(read.contents->database, DatabaseOutcome::NotInFile);
    }

    void kindByte_data() {
        QTest::addColumn<QByteArray>("tag");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("mlDD") << QByteArray("mlDD") << true;
        QTest::newRow("other first bytes, D") << QByteArray("\xff\x00zD", 4) << true;
        QTest::newRow("B refused") << QByteArray("mlDB") << false;
        QTest::newRow("C refused") << QByteArray("mlDC") << false;
        QTest::newRow("unknown kind") << QByteArray("mlDZ") << false;
        QTest::newRow("lower-case d") << QByteArray("mlDd") << false;
    }
    void kindByte() {
        QFETCH(QByteArray, tag);
        QFETCH(bool, accepted);
        MailFileBytes f;
        f.projectHeader(tag, {"a@b", "n", "s", "r", "body"}).projectSettings();
        f.attachments("win", 0, {}).htmlHeader({}, 0);
        const QString path = m_env->root() + "kind.pzy";
        put(path, f.bytes());
        put(m_dirs.out + "keep.html", "x");
        ScriptedUserInteraction ui;
        const MailFileReadResult read = readMailFile(path, readOptions(), &ui);
        QCOMPARE(read.ok(), accepted);
        if (accepted) {
            QCOMPARE(read.contents->document.textBody, QString("body"));
            QVERIFY(ui.asked().isEmpty());
            QVERIFY(filesInFolder(m_dirs.out).isEmpty());
        } else {
            QCOMPARE(ui.asked().size(), 1);
            QCOMPARE(ui.asked()[0].caption, QString("Load"));
            QCOMPARE(ui.asked()[0].text, QString("This file cannot be opened."));
            // a refused file changes nothing, not even the preview folder
            QCOMPARE(filesInFolder(m_dirs.out), QStringList{"keep.html"});
        }
    }

    void unreadableFileAndNoMessageWithoutUi() {
        ScriptedUserInteraction ui;
        QVERIFY(!readMailFile(m_env->root() + "missing.pzy", readOptions(), &ui).ok());
        QCOMPARE(ui.askedTexts(), QStringList{"This file cannot be opened."});
        const MailFileReadResult quiet =
            readMailFile(m_env->root() + "missing.pzy", readOptions(), nullptr);
        QVERIFY(!quiet.ok());
        QVERIFY(!quiet.failure.isEmpty());
    }

    // A file whose tag sits behind a 128-byte prefix is read from there.
    void prefixedFile() {
        MailFileBytes f;
        f.zeros(128).projectHeader("mlDD", {"a@b", "n", "s", "r", "prefixed"}).projectSettings();
        f.attachments("win", 0, {}).htmlHeader({}, 0).database("DB");
        const QString path = m_env->root() + "prefixed.pzy";
        put(path, f.bytes());
        const MailFileReadResult read = readMailFile(path, readOptions(), nullptr);
        QVERIFY(read.ok());
        QCOMPARE(read.contents->document.textBody, QString("prefixed"));
        QCOMPARE(readFile(read.contents->databasePath), QByteArray("DB"));
        // a prefix with anything but an exact tag behind it is no file of ours
        QByteArray other = f.bytes();
        other[128 + 1] = 'X';
        put(path, other);
        QVERIFY(!readMailFile(path, readOptions(), nullptr).ok());
    }

    void scheduledTime_data() {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDateTime>("when");
        const QDate newYearsEve(2011, 12, 31);
        QTest::newRow("UTC") << QByteArray("UTC") << QDateTime(newYearsEve, QTime(23, 59, 58));
        QTest::newRow("Tokyo") << QByteArray("Asia/Tokyo")
                               << QDateTime(newYearsEve, QTime(23, 59, 58));
        QTest::newRow("New York") << QByteArray("America/New_York")
                                  << QDateTime(newYearsEve, QTime(23, 59, 58));
        QTest::newRow("Berlin, summer time")
            << QByteArray("Europe/Berlin") << QDateTime(QDate(2011, 7, 1), QTime(12, 0, 1));
    }
    void scheduledTime() {
        QFETCH(QByteArray, zone);
        QFETCH(QDateTime, when);
        const QByteArray savedZone = qgetenv("TZ");
        setTimeZone(zone);
        const QDateTime local(when.date(), when.time(), Qt::LocalTime);
        ScheduledSending schedule{true, false, local.toSecsSinceEpoch(), false};
        const QString path = m_env->root() + "time.pzy";
        QVERIFY(writeProjectFile(path, sampleDocument(), schedule, {}, nullptr).ok());
        const QByteArray b = readFile(path);
        const qsizetype s = 16 + be16(b, 4) + be16(b, 6) + be16(b, 8) + be16(b, 10) + be32(b, 12);
        QCOMPARE(be16(b, s + 1622), 1);
        QCOMPARE(be16(b, s + 1624), when.date().year());
        QCOMPARE(be16(b, s + 1626), when.date().month());
        QCOMPARE(be16(b, s + 1628), when.date().day());
        QCOMPARE(be16(b, s + 1630), when.time().hour());
        QCOMPARE(be16(b, s + 1632), when.time().minute());
        QCOMPARE(be16(b, s + 1634), when.time().second());
        const MailFileReadResult read = readMailFile(path, readOptions(), nullptr);
        QVERIFY(read.ok());
        QCOMPARE(read.contents->scheduled->scheduledTime, schedule.scheduledTime);
        if (savedZone.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", savedZone);
        tzset();
    }

    void localTimeFields_data() {
        QTest::addColumn<LocalTimeFields>("fields");
        QTest::addColumn<bool>("valid");
        QTest::newRow("no local time") << LocalTimeFields{0, 0, 0, 0xFFFF, 0xFFFF, 0xFFFF} << false;
        QTest::newRow("month 13") << LocalTimeFields{2011, 13, 1, 0, 0, 0} << false;
        QTest::newRow("31 February") << LocalTimeFields{2011, 2, 31, 0, 0, 0} << false;
        QTest::newRow("hour 24") << LocalTimeFields{2011, 2, 1, 24, 0, 0} << false;
        QTest::newRow("year 2011") << LocalTimeFields{2011, 12, 31, 23, 59, 58} << true;
    }
    void localTimeFields() {
        QFETCH(LocalTimeFields, fields);
        QFETCH(bool, valid);
        const qint64 t = fromLocalTimeFields(fields);
        QCOMPARE(t != 0, valid);
        if (valid) {
            QCOMPARE(toLocalTimeFields(t), fields);
        }
    }

    void unrepresentableTimeIsMarked() {
        const LocalTimeFields f = toLocalTimeFields(std::numeric_limits<qint64>::max());
        QCOMPARE(f, (LocalTimeFields{0, 0, 0, 0xFFFF, 0xFFFF, 0xFFFF}));
    }

    void flagsComeBack_data() {
        QTest::addColumn<bool>("reserved");
        QTest::addColumn<bool>("setDate");
        QTest::addColumn<bool>("headerTime");
        QTest::newRow("none") << false << false << false;
        QTest::newRow("reserved only") << true << false << false;
        QTest::newRow("set date and header time") << false << true << true;
    }
    void flagsComeBack() {
        QFETCH(bool, reserved);
        QFETCH(bool, setDate);
        QFETCH(bool, headerTime);
        ScheduledSending s{setDate, headerTime, 1000000000, reserved};
        const QString path = m_env->root() + "flags.pzy";
        QVERIFY(writeProjectFile(path, sampleDocument(), s, {}, nullptr).ok());
        const MailFileReadResult read = readMailFile(path, readOptions(), nullptr);
        QVERIFY(read.ok());
        QCOMPARE(*read.contents->scheduled, s);
        // any non-zero stored flag is true
        MailFileBytes f;
        f.projectHeader("mlDD", {}).projectSettings({2011, 1, 1, 0, 0, 0});
        QByteArray b = f.bytes();
        b[16 + 1620] = 0x7F;
        put(path, b);
        QVERIFY(readMailFile(path, readOptions(), nullptr).contents->scheduled->reserved);
    }

    void templateRoundTrip() {
        MailDocument doc = sampleDocument();
        doc.projectSettings = projectServers("smtp.secret", "pop.secret", "uid", "pw");
        QStringList captions;
        for (int i = 1; i <= 20; ++i)
            captions << QString::fromUtf8("項目%1").arg(i);
        const QString path = m_env->root() + "Template/winter.pzt";
        QDir().mkpath(m_env->root() + "Template");
        const CodePage sjis = *CodePage::fromName("Shift_JIS");
        QVERIFY(writeTemplateFile(path, doc, captions, sjis, nullptr).ok());
        const QByteArray b = readFile(path);
        QCOMPARE(b.left(4), QByteArray("mlDE"));
        const QByteArray name = sjis.encode(doc.senderName);
        QCOMPARE(be16(b, 6), name.size());
        const qsizetype texts = be16(b, 4) + be16(b, 6) + be16(b, 8) + be16(b, 10) + be16(b, 12);
        QCOMPARE(be16(b, 12), sjis.encode(doc.textBody).size());
        // the server slots of a template are never filled
        QCOMPARE(b.mid(14 + texts, 6740), QByteArray(6740, '\0'));
        const qsizetype c = 14 + texts + 6740;
        QCOMPARE(be16(b, c), captions[0].toUtf8().size());
        QCOMPARE(b.size(), c + 40 + captions.join("").toUtf8().size());

        put(m_dirs.out + "index.html", "from the last mail");
        const MailFileReadResult read = readMailFile(path, readOptions(sjis), nullptr);
        QVERIFY(read.ok());
        QCOMPARE(read.contents->kind, MailFileKind::Template);
        QCOMPARE(read.contents->captions.value(), captions);
        QCOMPARE(read.contents->document.subject, doc.subject);
        QCOMPARE(read.contents->document.textBody, doc.textBody);
        QVERIFY(!read.contents->scheduled);
        QCOMPARE(read.contents->document.projectSettings, ServerConfig{});
        QVERIFY(read.contents->document.pictureList.isEmpty());
    }

    // The old template: kind E layout with tag A and no captions; its password is plain.
    void oldTemplate() {
        MailFileBytes f;
        f.raw("mlDA").u16(3).u16(1).u16(2).u16(4).u16(5).raw("a@bNSuRcptBody.");
        f.zeros(5376).slot("smtp.old").slot("pop.old").slot("plain").slot("me").zeros(340);
        const QString path = m_env->root() + "old.pzt";
        put(path, f.bytes());
        const MailFileReadResult read = readMailFile(path, readOptions(), nullptr);
        QVERIFY(read.ok());
        QCOMPARE(read.contents->kind, MailFileKind::OldTemplate);
        QCOMPARE(read.contents->document.recipientText, QString("Rcpt"));
        QCOMPARE(read.contents->document.textBody, QString("Body."));
        const ServerConfig& servers = read.contents->document.projectSettings;
        QCOMPARE(servers.smtpServer, QString("smtp.old"));
        QCOMPARE(servers.popServer, QString("pop.old"));
        QCOMPARE(servers.userId, QString("me"));
        QCOMPARE(servers.password, QString("plain"));
        QVERIFY(!read.contents->captions);
        // the settings block cut short is no template
        put(path, f.bytes().chopped(1));
        QVERIFY(!readMailFile(path, readOptions(), nullptr).ok());
    }

    // Texts that do not fit are refused with a message before anything is written.
    void tooLongIsRefused_data() {
        QTest::addColumn<int>("field");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("fits");
        QTest::newRow("subject 65535 bytes") << 0 << 65535 << true;
        QTest::newRow("subject 65536 bytes") << 0 << 65536 << false;
        QTest::newRow("SMTP server 255 bytes") << 1 << 255 << true;
        QTest::newRow("SMTP server 256 bytes") << 1 << 256 << false;
        QTest::newRow("password 127 bytes") << 2 << 127 << true;
        QTest::newRow("password 128 bytes") << 2 << 128 << false;
        QTest::newRow("attachment path 256 bytes") << 3 << 256 << false;
        QTest::newRow("template name 256 bytes") << 4 << 256 << false;
        QTest::newRow("multi-byte subject over the limit") << 5 << 21846 << false;
    }
    void tooLongIsRefused() {
        QFETCH(int, field);
        QFETCH(int, size);
        QFETCH(bool, fits);
        MailDocument doc = sampleDocument();
        const QString text(size, u'a');
        switch (field) {
            case 0:
                doc.subject = text;
                break;
            case 1:
                doc.projectSettings.smtpServer = text;
                break;
            case 2:
                doc.projectSettings.password = text;
                break;
            case 3:
                doc.attachments << "/" + text.mid(1);
                break;
            case 4:
                doc.htmlTemplateName = text;
                break;
            case 5:
                doc.subject = QString(size, QChar(0x65E5));
                break;  // three bytes each
        }
        const QString path = m_env->root() + "long.pzy";
        put(path, "previous project");
        ScriptedUserInteraction ui;
        const WriteResult r = writeProjectFile(path, doc, {}, {}, &ui);
        QCOMPARE(r.ok(), fits);
        if (fits) {
            const MailFileReadResult read = readMailFile(path, readOptions(), nullptr);
            QVERIFY(read.ok());
            QCOMPARE(read.contents->document.projectSettings, doc.projectSettings);
            QCOMPARE(read.contents->document.subject, doc.subject);
        } else {
            QCOMPARE(r.status, WriteStatus::Refused);
            QCOMPARE(ui.asked().size(), 1);
            QCOMPARE(ui.asked()[0].caption, QString("Save"));
            QVERIFY(ui.asked()[0].text.contains("too long"));
            QCOMPARE(readFile(path), QByteArray("previous project"));
        }
    }

    void templateBodyLimit() {
        MailDocument doc = sampleDocument();
        doc.textBody = QString(65536, u'b');
        const QString path = m_env->root() + "big.pzt";
        ScriptedUserInteraction ui;
        QCOMPARE(writeTemplateFile(path, doc, {}, CodePage::utf8(), &ui).status,
                 WriteStatus::Refused);
        QVERIFY(!QFile::exists(path));
        QVERIFY(ui.asked()[0].text.startsWith("The text body"));
        doc.textBody.chop(1);
        QVERIFY(writeTemplateFile(path, doc, {}, CodePage::utf8(), &ui).ok());
        // a project body has four bytes of length
        doc.textBody = QString(70000, u'b');
        QVERIFY(writeProjectFile(m_env->root() + "big.pzy", doc, {}, {}, nullptr).ok());
        QCOMPARE(readMailFile(m_env->root() + "big.pzy", readOptions(), nullptr)
                     .contents->document.textBody,
                 doc.textBody);
    }

    // A save that fails half-way leaves the previous project whole.
    void failedWriteKeepsPreviousFile() {
        const QString path = m_env->root() + "keep.pzy";
        MailDocument doc = sampleDocument();
        QVERIFY(writeProjectFile(path, doc, {},
                                 {m_dirs.preview, workingCopy("DB1"), CodePage::utf8()}, nullptr)
                    .ok());
        const QByteArray before = readFile(path);
        ScriptedUserInteraction ui;
        doc.subject = "changed";
        const WriteResult r = writeProjectFile(
            path, doc, {}, {m_dirs.preview, m_env->root() + "gone.pzb", CodePage::utf8()}, &ui);
        QCOMPARE(r.status, WriteStatus::Failed);
        QCOMPARE(ui.asked().size(), 1);
        QVERIFY(ui.asked()[0].text.contains("gone.pzb"));
        QCOMPARE(readFile(path), before);
        QCOMPARE(QDir(m_env->root()).entryList({"keep.pzy*"}, QDir::Files),
                 QStringList{"keep.pzy"});
        // a folder that does not exist: the system's reason is shown
        const WriteResult r2 =
            writeProjectFile(m_env->root() + "no/such/dir/x.pzy", doc, {}, {}, &ui);
        QCOMPARE(r2.status, WriteStatus::Failed);
        QVERIFY(r2.message.contains("x.pzy"));
        // a full disk writes short without an error: no cut-off file over the old one
        const QString full = m_env->makeFolder("full");
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", full}) != 0)
            return;  // only where a small file system can be mounted (root)
        const bool small = writeProjectFile(full + "p.pzy", doc, {}, {}, nullptr).ok();
        const QByteArray fits = readFile(full + "p.pzy");
        const WriteResult r3 = writeProjectFile(
            full + "p.pzy", doc, {},
            {m_dirs.preview, workingCopy(QByteArray(200 * 1024, 'd')), CodePage::utf8()}, &ui);
        const QByteArray after = readFile(full + "p.pzy");
        QCOMPARE(QProcess::execute("umount", {full}), 0);
        QVERIFY(small);
        QCOMPARE(r3.status, WriteStatus::Failed);
        QVERIFY2(r3.message.contains("No space left on device"), qPrintable(r3.message));
        QCOMPARE(after, fits);
    }

    void passwordScrambling_data() {
        QTest::addColumn<QByteArray>("plain");
        QTest::addColumn<QByteArray>("scrambled");
        QTest::newRow("abc") << QByteArray("abc") << QByteArray("362616");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("bytes above 127")
            << QByteArray("\xe3\x81\x82\xff", 4) << QByteArray("ff28183e");
    }
    void passwordScrambling() {
        QFETCH(QByteArray, plain);
        QFETCH(QByteArray, scrambled);
        QCOMPARE(scramblePassword(plain), scrambled);
        QCOMPARE(unscramblePassword(scrambled), plain);
    }
    void unscrambleOddInput() {
        // reversed "1" alone is read as one digit; "g1" reversed is "1g": 1 then stop
        QCOMPARE(unscramblePassword("1"), QByteArray("\x01"));
        QCOMPARE(unscramblePassword("g1"), QByteArray("\x01"));
        QCOMPARE(unscramblePassword("1g"), QByteArray("\x00", 1));
        QCOMPARE(unscramblePassword("FF"), QByteArray("\xff"));
    }

    void codePages() {
        const std::optional<CodePage> sjis = CodePage::fromName("Shift_JIS");
        QVERIFY(sjis);
        QCOMPARE(sjis->encode(QString::fromUtf8("日本")), QByteArray("\x93\xfa\x96\x7b"));
        QCOMPARE(sjis->decode("\x93\xfa\x96\x7b"), QString::fromUtf8("日本"));
        const CodePage jis = *CodePage::fromName("ISO-2022-JP");
        QCOMPARE(jis.encode(QString::fromUtf8("日本")), QByteArray("\x1b$BF|K\\\x1b(B"));
        QVERIFY(!CodePage::fromName("no-such-charset"));
        QVERIFY(CodePage::fromName("utf-8")->isUtf8());
    }
};

QTEST_GUILESS_MAIN(TestMailFile)
#include "test_mailfile.moc"
