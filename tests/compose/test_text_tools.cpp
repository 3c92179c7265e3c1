// Counting, the Auto-Wrap setting, half-width katakana, Auto Line and Auto Frame.

#include <QtTest>

#include "ScriptedUserInteraction.h"
#include "compose/TextTools.h"
#include "resources/Strings.h"

using namespace pw;

class TestTextTools : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { setLanguage(Language::English); }

    void counts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("codePage");
        QTest::addColumn<int>("characters");
        QTest::addColumn<int>("bytes");
        QTest::newRow("empty") << QString() << QByteArray("shift-jis") << 0 << 0;
        QTest::newRow("three full-width in shift-jis")
            << QString::fromUtf8("日本語") << QByteArray("shift-jis") << 3 << 6;
        QTest::newRow("cp932 extras and half-width katakana")
            << QString::fromUtf8("①㈱髙ｶﾞｯｺｳ\nA") << QByteArray("shift-jis") << 10 << 13;
        QTest::newRow("same text in utf-8")
            << QString::fromUtf8("①㈱髙ｶﾞｯｺｳ\nA") << QByteArray("UTF-8") << 10 << 26;
        QTest::newRow("iso-2022-jp with its shifts")
            << QString::fromUtf8("a日本b") << QByteArray("iso-2022-jp") << 4 << 12;
    }

    void counts() {
        QFETCH(QString, text);
        QFETCH(QByteArray, codePage);
        QFETCH(int, characters);
        QFETCH(int, bytes);
        const auto cp = CodePage::fromName(codePage);
        QVERIFY(cp);
        const TextCounts c = countText(text, *cp);
        QCOMPARE(c.characters, characters);
        QCOMPARE(c.bytes, bytes);
    }

    void katakana_data() {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("voiced marks joined")
            << QString::fromUtf8("ｶﾞｯｺｳ") << QString::fromUtf8("ガッコウ");
        QTest::newRow("semi-voiced and punctuation")
            << QString::fromUtf8("｢ﾊﾟﾝ｣､ｰ") << QString::fromUtf8("「パン」、ー");
        QTest::newRow("mark with nothing to join")
            << QString::fromUtf8("ﾞｱﾞ") << QString::fromUtf8("゛ア゛");
        QTest::newRow("everything else untouched")
            << QString::fromUtf8("ＡＢＣ１２３①㈱ abc 漢字 ｶ ™ ﬁ")
            << QString::fromUtf8("ＡＢＣ１２３①㈱ abc 漢字 カ ™ ﬁ");
    }

    void katakana() {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(toFullWidthKatakana(in), out);
        QVERIFY(!containsHalfWidthKatakana(toFullWidthKatakana(in)));
    }

    void checkKatakanaAsks() {
        test::ScriptedUserInteraction ui;
        QCOMPARE(checkKatakana(QStringLiteral("plain"), ui), std::nullopt);
        QCOMPARE(ui.askedTexts(), QStringList{str(ids::kKatakanaNone)});
        ui.clear();
        ui.script({Answer::No});
        QCOMPARE(checkKatakana(QString::fromUtf8("ｱ"), ui), std::nullopt);
        QCOMPARE(ui.asked().first().kind, MessageKind::YesNo);
        ui.script({Answer::Yes});
        QCOMPARE(checkKatakana(QString::fromUtf8("xｱ"), ui), QString::fromUtf8("xア"));
    }

    void autoWrap() {
        test::ScriptedUserInteraction ui;
        AutoWrapState s;
        QVERIFY(!s.on());
        QVERIFY(!confirmAutoWrap(s, true, "1", ui));  // too short: error, stays open, off
        QVERIFY(!s.on());
        QCOMPARE(ui.askedTexts(), QStringList{str(ids::kAutoWrapInvalid)});
        QVERIFY(confirmAutoWrap(s, true, "72 bytes", ui));
        QVERIFY(s.on());
        QCOMPARE(s.lineLength, 72);
        QVERIFY(confirmAutoWrap(s, false, "40", ui));  // stored, but off
        QVERIFY(!s.on());
        QCOMPARE(s.lineLength, 40);
        QCOMPARE(leadingNumber("abc"), 0);
        QCOMPARE(leadingNumber("99999999999999"), 1'000'000'000);
    }

    void autoLine_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("out");
        QTest::newRow("characters") << "ab" << 5 << int(AutoLineMode::Characters) << "ababa";
        QTest::newRow("repetitions") << "ab" << 3 << int(AutoLineMode::Repetitions) << "ababab";
        QTest::newRow("not positive") << "ab" << 0 << int(AutoLineMode::Characters) << "";
        QTest::newRow("empty line text") << "" << 4 << int(AutoLineMode::Characters) << "";
    }

    void autoLine() {
        QFETCH(QString, text);
        QFETCH(int, count);
        QFETCH(int, mode);
        QFETCH(QString, out);
        QCOMPARE(pw::autoLine(text, count, AutoLineMode(mode)), out);
    }

    void autoFrame_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QString>("out");
        QTest::newRow("two lines at the end") << "ab\nabcd" << 0 << 7 << "*"
                                              << "******\n*ab  *\n*abcd*\n******";
        QTest::newRow("selection ending at a line start") << "x\nab\nabcd\ny" << 2 << 10 << "*"
                                                          << "x\n******\n*ab  *\n*abcd*\n******\ny";
        QTest::newRow("two-character frame, cycled") << "a" << 0 << 0 << "+-"
                                                     << "+-+-+\n+-a+-\n+-+-+";
    }

    void autoFrame() {
        QFETCH(QString, text);
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(QString, frame);
        QFETCH(QString, out);
        QCOMPARE(pw::autoFrame(text, start, end, frame).text, out);
    }
};

QTEST_GUILESS_MAIN(TestTextTools)
#include "test_text_tools.moc"
