// The marked blocks of a template and the text markup of its text blocks, without widgets.

#include <QtTest>

#include "compose/TemplateMarkup.h"

using namespace pw;

namespace {

QStringList kinds(const QList<TagProp>& pages) {
    QStringList out;
    for (const TagProp& t : pages) {
        out << t.keyword + u'|' + t.prompt + u'|' + t.content;
    }
    return out;
}

const TextDefaults kDefaults{QStringLiteral("Sans"), 10};

}  // namespace

class TestTemplateMarkup : public QObject {
    Q_OBJECT

private slots:
    void scan_data() {
        QTest::addColumn<QString>("document");
        QTest::addColumn<QStringList>("blocks");
        QTest::newRow("lower case") << "a<!image=\"Logo\"><img src=\"a.png\"><!image-end>b"
                                    << QStringList{"<!image|Logo|<img src=\"a.png\">"};
        QTest::newRow("upper case")
            << "<!STRING=\"Title\">Hi<!STRING-end>" << QStringList{"<!STRING|Title|Hi"};
        QTest::newRow("mixed case is no block") << "<!Image=\"x\">y<!Image-end>" << QStringList{};
        QTest::newRow("upper block not closed by lower end")
            << "<!IMAGE=\"p\">x<!image-end>y<!IMAGE-end>"
            << QStringList{"<!IMAGE|p|x<!image-end>y"};
        QTest::newRow("start tag without quote and >")
            << "<!string=\"broken><!string=\"ok\">t<!string-end>"
            << QStringList{"<!string|broken><!string=\"ok|t"};
        QTest::newRow("prompt not closed at all")
            << "<!string=\"never>x<!string-end>" << QStringList{};
        QTest::newRow("block without end tag")
            << "<!back=\"b\"><td background=\"x.jpg\"><!bgcolor=\"c\"><td "
               "bgcolor=\"#FF0000\"><!bgcolor-end>"
            << QStringList{"<!bgcolor|c|<td bgcolor=\"#FF0000\">"};
        QTest::newRow("kinds back to back")
            << "<!string=\"a\">1<!string-end><!image=\"b\"><img "
               "src=\"p.gif\"><!image-end><!back=\"c\"><td "
               "background=\"q.jpg\"><!back-end><!bgcolor=\"d\"><td "
               "bgcolor=\"#00FF00\"><!bgcolor-end>"
            << QStringList{"<!string|a|1", "<!image|b|<img src=\"p.gif\">",
                           "<!back|c|<td background=\"q.jpg\">",
                           "<!bgcolor|d|<td bgcolor=\"#00FF00\">"};
        QTest::newRow("block inside a block is not found")
            << "<!string=\"o\">x<!image=\"i\"><img src=\"a\"><!image-end>y<!string-end>"
            << QStringList{"<!string|o|x<!image=\"i\"><img src=\"a\"><!image-end>y"};
        QTest::newRow("same kind twice in order")
            << "<!string=\"1\">a<!string-end>-<!string=\"2\">b<!string-end>"
            << QStringList{"<!string|1|a", "<!string|2|b"};
    }

    void scan() {
        QFETCH(QString, document);
        QFETCH(QStringList, blocks);
        QCOMPARE(kinds(scanTemplate(document)), blocks);
    }

    void positionsMoveAfterAnApply() {
        const QString doc =
            "<html><!string=\"Title\">Old<!string-end><p><!image=\"Pic\"><img "
            "src=\"a.jpg\"><!image-end>"
            "<!back=\"Bg\"><td background=\"b.jpg\"><!back-end><!bgcolor=\"Col\"><td "
            "bgcolor=\"#112233\">"
            "<!bgcolor-end></html>";
        CTemplateDocument d(doc);
        QCOMPARE(d.pageCount(), 4);
        d.setContent(0, QStringLiteral("A much longer title"));
        // the later blocks still work on their own places
        QVERIFY(d.setValue(1, QStringLiteral("new.jpg")));
        QVERIFY(d.setValue(2, QStringLiteral("http://example.org/bg.png")));
        QVERIFY(d.setValue(3, QStringLiteral("#ABCDEF")));
        QCOMPARE(d.text(),
                 QStringLiteral("<html><!string=\"Title\">A much longer title<!string-end><p>"
                                "<!image=\"Pic\"><img src=\"new.jpg\"><!image-end><!back=\"Bg\">"
                                "<td background=\"http://example.org/bg.png\"><!back-end>"
                                "<!bgcolor=\"Col\"><td bgcolor=\"#ABCDEF\"><!bgcolor-end></html>"));
        // every position still points at its tag, as a fresh scan finds them
        const QList<TagProp> fresh = scanTemplate(d.text());
        for (int k = 0; k < 4; ++k) {
            const TagProp& a = d.pages().at(k);
            const TagProp& b = fresh.at(k);
            QCOMPARE(a.start, b.start);
            QCOMPARE(a.startEnd, b.startEnd);
            QCOMPARE(a.endStart, b.endStart);
            QCOMPARE(a.endLast, b.endLast);
            QCOMPARE(a.content, b.content);
        }
    }

    void values_data() {
        QTest::addColumn<QString>("document");
        QTest::addColumn<QString>("value");  // "-" for none
        QTest::newRow("image src") << "<!image=\"p\"><a><img src=\"x.png\" width=3><!image-end>"
                                   << "x.png";
        QTest::newRow("first background counts")
            << "<!back=\"p\"><td background=\"1.jpg\"><td background=\"2.jpg\"><!back-end>"
            << "1.jpg";
        QTest::newRow("colour") << "<!bgcolor=\"c\"><td bgcolor=\"#A0B0C0\"><!bgcolor-end>"
                                << "#A0B0C0";
        QTest::newRow("attribute after the block is not taken")
            << "<!image=\"p\">none<!image-end><img src=\"outside.png\">"
            << "-";
    }

    void values() {
        QFETCH(QString, document);
        QFETCH(QString, value);
        CTemplateDocument d(document);
        const auto v = d.value(0);
        QCOMPARE(v.value_or(QStringLiteral("-")), value);
        if (!v) {
            QVERIFY(!d.setValue(0, QStringLiteral("y.png")));
            QCOMPARE(d.text(), document);
        }
    }

    void pictureValues_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("written");
        QTest::newRow("web address kept") << "http://example.org/a/b.png"
                                          << "http://example.org/a/b.png";
        QTest::newRow("path reduced") << "/home/u/Pictures/cake.jpg"
                                      << "cake.jpg";
        QTest::newRow("windows path reduced") << "C:\\pics\\cake.jpg"
                                              << "cake.jpg";
        QTest::newRow("bare name") << "cake.jpg"
                                   << "cake.jpg";
    }

    void pictureValues() {
        QFETCH(QString, value);
        QFETCH(QString, written);
        QCOMPARE(pictureValueToWrite(value), written);
    }

    void colours() {
        QCOMPARE(parseHtmlColor("#ff8000"), std::optional<Rgb>(0xffff8000u));
        QCOMPARE(parseHtmlColor("ff8000"), std::nullopt);
        QCOMPARE(parseHtmlColor("#ff80"), std::nullopt);
        QCOMPARE(htmlColor(0xff0aabffu), QStringLiteral("#0AABFF"));
    }

    void textMarkupRoundTrip_data() {
        QTest::addColumn<QString>("content");
        QTest::addColumn<QString>("written");
        QTest::newRow("bold then plain") << "<b>Big</b> sale"
                                         << "<b>Big</b> sale";
        QTest::newRow("italic inside bold") << "<b>a<i>b</i></b>c"
                                            << "<b>a</b><b><i>b</i></b>c";
        QTest::newRow("font face with a blank, size and colour")
            << "x<font face=\"Noto Serif\" size=\"5\" color=\"#FF0000\">red</font>"
            << "x<font face=\"Noto Serif\" size=\"5\" color=\"#FF0000\">red</font>";
        QTest::newRow("unquoted size") << "<font size=4>z</font>"
                                       << "<font size=\"4\">z</font>";
        QTest::newRow("link") << "go <a href=\"http://example.org/\">here</a>"
                              << "go <a href=\"http://example.org/\">here</a>";
        QTest::newRow("line breaks, last one dropped") << "one<br>two<br>"
                                                       << "one<br>two";
        QTest::newRow("other tags dropped") << "<table><tr><td><p>cell</p></td></tr></table>"
                                            << "cell";
        QTest::newRow("line ends and tabs dropped") << "a\r\n\tb"
                                                    << "ab";
        QTest::newRow("entities untouched, typed < kept") << "&amp; 1 < 2"
                                                          << "&amp; 1 < 2";
        QTest::newRow("upper-case tags") << "<B>x</B><BR>y"
                                         << "<b>x</b><br>y";
    }

    void textMarkupRoundTrip() {
        QFETCH(QString, content);
        QFETCH(QString, written);
        LinkTable links;
        const StyledText styled = parseTextMarkup(content, kDefaults, links);
        QCOMPARE(styled.formats.size(), size_t(styled.text.size()));
        QCOMPARE(writeTextMarkup(styled, kDefaults, links), written);
    }

    void formatsReadFromTags() {
        LinkTable links;
        const StyledText s = parseTextMarkup(
            "<font face=\"Noto Serif\" size=\"1\">ab</font><a href=\"u1\">c</a><a "
            "href=\"u1\">d</a>",
            kDefaults, links);
        QCOMPARE(s.text, QStringLiteral("abcd"));
        QCOMPARE(s.formats[0].face, QStringLiteral("Noto Serif"));
        QCOMPARE(s.formats[0].sizePt, 8);
        QCOMPARE(s.formats[2].link, 1);
        QCOMPARE(s.formats[3].link, 1);  // the same target is not appended twice
        QCOMPARE(links.size(), 2);
        QCOMPARE(links.target(1), QStringLiteral("u1"));
    }

    void writerClosesInReverseOrder() {
        StyledText s;
        s.text = QStringLiteral("ab\n");
        CharFormat f = kDefaults.plain();
        f.bold = true;
        f.italic = true;
        f.color = 0xff0000ffu;
        s.formats = {f, kDefaults.plain(), f};
        LinkTable links;
        QCOMPARE(writeTextMarkup(s, kDefaults, links),
                 QStringLiteral("<font color=\"#0000FF\"><b><i>a</i></b></font>b"));
    }
};

QTEST_GUILESS_MAIN(TestTemplateMarkup)
#include "test_template_markup.moc"
