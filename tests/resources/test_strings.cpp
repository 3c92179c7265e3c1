#include <QRegularExpression>
#include <QSet>
#include <QtTest>

#include "resources/DisplayLocale.h"
#include "resources/Strings.h"

using namespace pw;

class TestStrings : public QObject {
    Q_OBJECT
private slots:
    void numbersAreUniqueAndBothLanguagesExist() {
        QSet<int> seen;
        for (int id : allStringIds()) {
            QVERIFY2(!seen.contains(id), qPrintable(QStringLiteral("number %1 twice").arg(id)));
            seen.insert(id);
            QVERIFY2(!str(id, Language::English).isEmpty(), qPrintable(QString::number(id)));
            QVERIFY2(!str(id, Language::Japanese).isEmpty(), qPrintable(QString::number(id)));
        }
    }

    void languageFollowsTheLocale_data() {
        QTest::addColumn<QByteArray>("lcAll");
        QTest::addColumn<QByteArray>("lcMessages");
        QTest::addColumn<QByteArray>("lang");
        QTest::addColumn<bool>("japanese");
        QTest::newRow("LANG ja_JP")
            << QByteArray() << QByteArray() << QByteArray("ja_JP.UTF-8") << true;
        QTest::newRow("LANG en_US")
            << QByteArray() << QByteArray() << QByteArray("en_US.UTF-8") << false;
        QTest::newRow("LC_MESSAGES wins over LANG")
            << QByteArray() << QByteArray("ja_JP.UTF-8") << QByteArray("de_DE") << true;
        QTest::newRow("LC_ALL wins over all")
            << QByteArray("C") << QByteArray("ja_JP") << QByteArray("ja_JP") << false;
        QTest::newRow("nothing set") << QByteArray() << QByteArray() << QByteArray() << false;
    }
    void languageFollowsTheLocale() {
        QFETCH(QByteArray, lcAll);
        QFETCH(QByteArray, lcMessages);
        QFETCH(QByteArray, lang);
        QFETCH(bool, japanese);
        const auto set = [](const char* n, const QByteArray& v) {
            if (v.isEmpty())
                qunsetenv(n);
            else
                qputenv(n, v);
        };
        set("LC_ALL", lcAll);
        set("LC_MESSAGES", lcMessages);
        set("LANG", lang);
        QCOMPARE(languageFromLocaleEnvironment() == Language::Japanese, japanese);
    }

    // Dates follow the user's locale; only where none is chosen does the interface decide.
    void datesFollowTheLocale_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("shown");
        QTest::newRow("no locale, Japanese window")
            << "C" << int(Language::Japanese) << "2026/12/10 17:05";
        QTest::newRow("no locale, English window")
            << "C" << int(Language::English) << "10 Dec 2026 17:05:00";
        QTest::newRow("British locale, Japanese window")
            << "en_GB" << int(Language::Japanese) << "10/12/2026 17:05";
        QTest::newRow("Japanese locale") << "ja_JP" << int(Language::English) << "2026/12/10 17:05";
    }
    void datesFollowTheLocale() {
        QFETCH(QString, locale);
        QFETCH(int, language);
        QFETCH(QString, shown);
        const QLocale before;
        QLocale::setDefault(QLocale(locale));
        setLanguage(Language(language));
        const QString text = displayLocale().toString(QDateTime(QDate(2026, 12, 10), QTime(17, 5)),
                                                      QLocale::ShortFormat);
        setLanguage(Language::English);
        QLocale::setDefault(before);
        QCOMPARE(text, shown);
    }

    // Misspellings once in the English table; the keys, file names and wire texts that
    // carried them stay as they were, only the texts the user reads are corrected.
    void englishTextsAreSpelledRight_data() {
        QTest::addColumn<QString>("wrong");
        for (const char* w :
             {"Adress", "multiply", "doesn not", "Retuns", "Delineated", "Encording"})
            QTest::newRow(w) << QString::fromLatin1(w);
    }
    void englishTextsAreSpelledRight() {
        QFETCH(QString, wrong);
        for (int id : allStringIds()) {
            const QString text = str(id, Language::English);
            QVERIFY2(!text.contains(wrong, Qt::CaseInsensitive), qPrintable(text));
        }
    }

    // Every text the Japanese interface shows is Japanese, but for names that are the same
    // in both languages and the default field names, which are placeholders of mails.
    void japaneseTableHasNoEnglishLeft() {
        const QSet<QString> same = {
            "HTML",          "SSL/TLS",        "STARTTLS", "Cram-Md5",         "PDF...",
            "Microsoft 365", "Google (Gmail)", "Gmail",    "Google Workspace", "Yahoo",
            "SPF",           "DKIM",           "DMARC",    "Message-ID",       "SpamAssassin"};
        for (int id : allStringIds()) {
            const QString en = str(id, Language::English);
            if (same.contains(en) || en.startsWith("field"))
                continue;
            QVERIFY2(str(id, Language::Japanese) != en ||
                         !en.contains(QRegularExpression("[A-Za-z]{3}")),
                     qPrintable(en));
        }
    }

    void unknownNumberGivesEmptyText() {
        QVERIFY(!hasString(-12345));
        QVERIFY(str(-12345).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestStrings)
#include "test_strings.moc"
