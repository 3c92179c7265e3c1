// Where a reply ends in what has been received: the framing every command's check relies on.

#include "smtp/SmtpReply.h"

#include <QTest>

using namespace pw::smtp;

class TestSmtpReply : public QObject {
    Q_OBJECT

private slots:
    void replyEnd_data() {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<int>("length");  // 0: not complete yet
        QTest::addColumn<int>("code");
        QTest::newRow("one line") << QByteArray("250 ok\r\n") << 8 << 250;
        QTest::newRow("no line end yet") << QByteArray("250 ok") << 0 << 0;
        QTest::newRow("half a line end") << QByteArray("250 ok\r") << 0 << 0;
        QTest::newRow("continuation only") << QByteArray("250-a\r\n250-b\r\n") << 0 << 0;
        QTest::newRow("multi-line") << QByteArray("250-a\r\n250-b\r\n250 c\r\n") << 21 << 250;
        QTest::newRow("code of the last line counts")
            << QByteArray("250-a\r\n554 no\r\n") << 15 << 554;
        QTest::newRow("bare final line with blank") << QByteArray("250-a\r\n250 \r\n") << 13 << 250;
        QTest::newRow("bare code") << QByteArray("250\r\n") << 5 << 250;
        QTest::newRow("next reply stays for later")
            << QByteArray("250 ok\r\n221 bye\r\n") << 8 << 250;
        QTest::newRow("LF only") << QByteArray("250-a\n250 b\n") << 12 << 250;
        QTest::newRow("garbage line ends the reply with code 0")
            << QByteArray("hello there\r\n") << 13 << 0;
        QTest::newRow("digits then garbage") << QByteArray("25x-a\r\n") << 7 << 0;
        QTest::newRow("empty line") << QByteArray("\r\n") << 2 << 0;
        QTest::newRow("binary") << QByteArray("\0\xff\x01-\r\n", 6) << 6 << 0;
        QTest::newRow("nothing") << QByteArray() << 0 << 0;
    }
    void replyEnd() {
        QFETCH(QByteArray, received);
        QFETCH(int, length);
        QFETCH(int, code);
        const SmtpReplyEnd end = FindReplyEnd(received);
        QCOMPARE(end.length, qsizetype(length));
        QCOMPARE(end.code, code);
    }
};

QTEST_GUILESS_MAIN(TestSmtpReply)
#include "test_smtp_reply.moc"
