#include "JapaneseTexts.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTextDocumentFragment>
#include <QToolBar>
#include <QTreeView>
#include <algorithm>

#include "app/Language.h"
#include "resources/Strings.h"
#include "smtp/Charsets.h"
#include "smtp/SmtpLanguage.h"

namespace pw::test {

namespace {

QString bare(QString text) {
    text.remove(QLatin1Char('&'));
    text.remove(QStringLiteral("[*]"));  // the window system's modified mark
    return text.trimmed();
}

// Numbers, sizes and percentages have nothing to translate.
bool holdsLetters(const QString& text) {
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.isLetter(); });
}

// A count shown beside its unit: "12 文字" is the table's "文字".
QString withoutNumbers(const QString& text) {
    static const QRegularExpression numbers(QStringLiteral("^[0-9.,]+\\s*|\\s*[0-9.,]+$"));
    return QString(text).remove(numbers);
}

bool holdsJapanese(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() >= 0x3000)
            return true;
    }
    return false;
}

}  // namespace

void useJapaneseLocale() {
    qputenv("LANG", "ja_JP.UTF-8");
    qunsetenv("LC_ALL");
    qunsetenv("LC_MESSAGES");
    setLanguage(languageFromLocaleEnvironment());
    app::applyTextLanguage();
    (void)app::installQtTranslations();
}

JapaneseTable::JapaneseTable() {
    // the program's name is the same in every language
    QStringList all{productName()};
    for (int id : allStringIds())
        all << bare(str(id, Language::Japanese));
    for (int row = 0; row < smtp::charsetCount(); ++row)
        all << bare(QString::fromUtf8(smtp::charsetRow(row).japaneseName));
    // the standard buttons Qt labels itself, once its translation made them Japanese
    for (const char* button : {"OK", "Cancel", "Close", "Apply", "Yes", "No", "Help"}) {
        const QString shown = QCoreApplication::translate("QPlatformTheme", button);
        if (shown != QLatin1String(button))
            all << bare(shown);
    }
    static const QRegularExpression argument(QStringLiteral("%[0-9]+|%s"));
    for (const QString& text : all) {
        m_texts.insert(text);
        // the tip Qt derives from an action's text leaves the dots out
        if (text.endsWith(QStringLiteral("...")))
            m_texts.insert(text.chopped(3).trimmed());
        if (!text.contains(argument))
            continue;
        QString fixed = text;
        fixed.remove(argument);
        if (!holdsJapanese(fixed))
            continue;
        QString pattern;
        qsizetype from = 0;
        for (auto it = argument.globalMatch(text); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            pattern += QRegularExpression::escape(text.mid(from, m.capturedStart() - from));
            pattern += QStringLiteral(".*");
            from = m.capturedEnd();
        }
        pattern += QRegularExpression::escape(text.mid(from));
        m_filled.emplace_back(QRegularExpression::anchoredPattern(pattern),
                              QRegularExpression::DotMatchesEverythingOption);
    }
}

bool JapaneseTable::contains(const QString& shown) const {
    if (m_texts.contains(shown) || m_texts.contains(withoutNumbers(shown)))
        return true;
    for (const QRegularExpression& filled : m_filled) {
        if (filled.match(shown).hasMatch())
            return true;
    }
    return false;
}

const JapaneseTable& japaneseTexts() {
    static const JapaneseTable table;
    return table;
}

QStringList notJapanese(QWidget* root, const QSet<QString>& dataControls,
                        const QSet<QString>& dataTexts) {
    const JapaneseTable& ja = japaneseTexts();
    QStringList wrong;
    const auto check = [&](const char* kind, const QObject* control, const QString& text) {
        if (dataControls.contains(control->objectName()))
            return;
        QString t = bare(text);
        if (Qt::mightBeRichText(t))
            t = bare(QTextDocumentFragment::fromHtml(t).toPlainText());
        if (holdsLetters(t) && !dataTexts.contains(t) && !ja.contains(t))
            wrong.append(
                QStringLiteral("%1 %2: %3").arg(QLatin1String(kind), control->objectName(), t));
    };
    if (root->isWindow()) {
        // "Postwick - <document>": the program's name, then the table's text
        QString title = root->windowTitle();
        title.remove(QRegularExpression(
            QStringLiteral("^%1 - ").arg(QRegularExpression::escape(productName()))));
        check("title", root, title);
    }
    for (QAction* a : root->findChildren<QAction*>()) {
        if (!a->isSeparator())
            check("action", a, a->text());
    }
    for (QMenu* m : root->findChildren<QMenu*>())
        check("menu", m, m->title());
    for (QAbstractButton* b : root->findChildren<QAbstractButton*>()) {
        if (qobject_cast<QToolBar*>(b->parentWidget()) || b->objectName().startsWith("qt_"))
            continue;  // toolbar buttons show their action; Qt's own internals
        check("button", b, b->text());
    }
    for (QToolBar* t : root->findChildren<QToolBar*>()) {
        for (QAction* a : t->actions()) {
            if (!a->isSeparator())
                check("tooltip", a, a->toolTip());
        }
    }
    for (QLabel* l : root->findChildren<QLabel*>())
        check("label", l, l->text());
    for (QGroupBox* g : root->findChildren<QGroupBox*>())
        check("group", g, g->title());
    for (QTabWidget* t : root->findChildren<QTabWidget*>()) {
        for (int i = 0; i < t->count(); ++i)
            check("tab", t, t->tabText(i));
    }
    for (QComboBox* c : root->findChildren<QComboBox*>()) {
        for (int i = 0; i < c->count(); ++i)
            check("item", c, c->itemText(i));
    }
    for (QAbstractItemView* v : root->findChildren<QAbstractItemView*>()) {
        QHeaderView* header = nullptr;
        if (auto* table = qobject_cast<QTableView*>(v))
            header = table->horizontalHeader();
        else if (auto* tree = qobject_cast<QTreeView*>(v))
            header = tree->header();
        if (!header || header->isHidden() || !v->model())
            continue;
        for (int c = 0; c < v->model()->columnCount(); ++c)
            check("header", v, v->model()->headerData(c, Qt::Horizontal).toString());
    }
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (qobject_cast<QTabBar*>(w->parentWidget()))
            continue;  // the tab bar's own scroll buttons, named by Qt's translation
        check("accessible name", w, w->accessibleName());
        check("tooltip", w, w->toolTip());
    }
    return wrong;
}

}  // namespace pw::test
