#include "compose/gui/StyledTextEdit.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <cmath>

namespace pw {

namespace {

QTextCharFormat toQt(const CharFormat& f, const TextDefaults& d, const LinkTable& links) {
    QTextCharFormat q;
    q.setFontFamilies({f.face.isEmpty() ? d.face : f.face});
    q.setFontPointSize(std::max(1, f.sizePt));
    q.setFontWeight(f.bold ? QFont::Bold : QFont::Normal);
    q.setFontItalic(f.italic);
    if (f.color) {
        q.setForeground(QColor(*f.color));
    }
    q.setProperty(kLinkIndexProperty, f.link);
    const QString target = links.target(f.link);
    if (!target.isEmpty()) {
        q.setAnchor(true);
        q.setAnchorHref(target);
        q.setFontUnderline(true);
    }
    return q;
}

CharFormat fromQt(const QTextCharFormat& q, const TextDefaults& d) {
    CharFormat f = d.plain();
    const QStringList families = q.fontFamilies().toStringList();
    if (!families.isEmpty() && !families.first().isEmpty()) {
        f.face = families.first();
    }
    if (q.fontPointSize() > 0) {
        f.sizePt = static_cast<int>(std::lround(q.fontPointSize()));
    }
    f.bold = q.fontWeight() >= QFont::Bold;
    f.italic = q.fontItalic();
    if (q.hasProperty(QTextFormat::ForegroundBrush)) {
        const QColor c = q.foreground().color();
        f.color = qRgb(c.red(), c.green(), c.blue());
    }
    f.link = q.property(kLinkIndexProperty).toInt();
    return f;
}

}  // namespace

void setStyledText(QTextEdit& edit, const StyledText& text, const TextDefaults& defaults,
                   const LinkTable& links) {
    edit.clear();
    QTextDocument* doc = edit.document();
    QFont base(defaults.face);
    base.setPointSize(std::max(1, defaults.sizePt));
    doc->setDefaultFont(base);
    QTextCursor c(doc);
    c.setCharFormat(toQt(defaults.plain(), defaults, links));
    for (qsizetype i = 0; i < text.text.size(); ++i) {
        const CharFormat& f = static_cast<size_t>(i) < text.formats.size()
                                  ? text.formats[static_cast<size_t>(i)]
                                  : defaults.plain();
        if (text.text.at(i) == u'\n') {
            c.insertBlock(QTextBlockFormat(), toQt(f, defaults, links));
        } else {
            c.insertText(QString(text.text.at(i)), toQt(f, defaults, links));
        }
    }
}

StyledText styledText(const QTextEdit& edit, const TextDefaults& defaults) {
    StyledText out;
    CharFormat last = defaults.plain();
    for (QTextBlock b = edit.document()->begin(); b.isValid(); b = b.next()) {
        if (b != edit.document()->begin()) {
            // a line break takes the format of the character before it
            out.text += u'\n';
            out.formats.push_back(last);
        }
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment frag = it.fragment();
            const CharFormat f = fromQt(frag.charFormat(), defaults);
            const QString t = frag.text();
            for (QChar ch : t) {
                out.text += ch == QChar::LineSeparator ? QChar(u'\n') : ch;
                out.formats.push_back(f);
            }
            last = f;
        }
    }
    return out;
}

TextStyle selectionStyle(const QTextEdit& edit, const TextDefaults& defaults,
                         const LinkTable& links) {
    const QTextCursor c = edit.textCursor();
    QTextCursor at(edit.document());
    at.setPosition(c.selectionStart());
    if (c.hasSelection()) {
        at.movePosition(QTextCursor::NextCharacter);
    }
    const CharFormat f = fromQt(at.charFormat(), defaults);
    TextStyle s;
    s.face = f.face;
    s.sizeStep = sizeStepFromPoints(f.sizePt, defaults.sizePt);
    s.bold = f.bold;
    s.italic = f.italic;
    s.color = f.color ? QColor(*f.color) : QColor(Qt::black);
    s.link = links.target(f.link);
    return s;
}

void applyStyle(QTextEdit& edit, const TextStyle& style, const TextDefaults& defaults,
                LinkTable& links) {
    QTextCursor c = edit.textCursor();
    QTextCharFormat q;
    q.setFontPointSize(std::max(1, pointsFromSizeStep(style.sizeStep, defaults.sizePt)));
    q.setForeground(style.color);
    if (!style.face.isEmpty()) {
        q.setFontFamilies({style.face});
    }
    q.setFontWeight(style.bold ? QFont::Bold : QFont::Normal);
    q.setFontItalic(style.italic);
    const int link = links.indexOf(style.link);
    q.setProperty(kLinkIndexProperty, link);
    q.setAnchor(link != 0);
    q.setAnchorHref(style.link);
    q.setFontUnderline(link != 0);
    c.mergeCharFormat(q);
    edit.setTextCursor(c);
}

}  // namespace pw
