#pragma once
// What a window shows under a Japanese locale, checked against the Japanese string table:
// every text a control shows must be one of the table's Japanese texts (or one with its
// arguments filled in), so that an English text or one written into a form by hand stands out.

#include <QRegularExpression>
#include <QSet>
#include <QString>
#include <QStringList>
#include <vector>

class QWidget;

namespace pw::test {

// LANG=ja_JP.UTF-8 (nothing above it set), the language taken from it and handed to the SMTP
// client's texts and Qt's translations, as the program's start does.
void useJapaneseLocale();

class JapaneseTable {
public:
    JapaneseTable();
    // A table text as it is, or one whose "%1" arguments were filled in; the fixed part of
    // such a text must hold Japanese, so that "%1" alone does not pass anything.
    [[nodiscard]] bool contains(const QString& shown) const;

private:
    QSet<QString> m_texts;
    std::vector<QRegularExpression> m_filled;
};

// The Japanese table, the Japanese charset names and Qt's own translated standard buttons
// included.
[[nodiscard]] const JapaneseTable& japaneseTexts();

// The texts of a widget tree that are not Japanese, as "kind name: text" lines: the window
// title, actions, menus, buttons, toolbar tips, labels, group boxes, tabs, combo box items,
// table headers and accessible names. Controls named in dataControls show data (file names,
// numbers, the user's values) and are left out, as are the texts of dataTexts wherever shown.
[[nodiscard]] QStringList notJapanese(QWidget* root, const QSet<QString>& dataControls = {},
                                      const QSet<QString>& dataTexts = {});

}  // namespace pw::test
