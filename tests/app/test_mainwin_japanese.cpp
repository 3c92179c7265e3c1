// Under a Japanese locale every menu, tooltip, button and label of the main window and of the
// send windows shows the Japanese text of the string tables, and Qt's own dialogs and
// buttons are Japanese too.

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>

#include "MainWindowFixture.h"
#include "app/Language.h"
#include "app/gui/SendWindows.h"
#include "resources/Strings.h"
#include "send/SendProgress.h"
#include "smtp/Charsets.h"
#include "smtp/SmtpLanguage.h"

using namespace pw;
using namespace pw::app;
using pw::test::MainWindowFixture;

namespace {

QString bare(QString text) {
    text.remove(QLatin1Char('&'));
    return text.trimmed();
}

// Every text a control may show: the Japanese table, charset names included.
QSet<QString> japaneseTexts() {
    QSet<QString> set;
    for (int id : allStringIds())
        set.insert(bare(str(id, Language::Japanese)));
    for (int row = 0; row < smtp::charsetCount(); ++row)
        set.insert(bare(QString::fromUtf8(smtp::charsetRow(row).japaneseName)));
    return set;
}

// The texts of a widget tree that are not in Japanese, as "kind: text" lines.
QStringList notJapanese(QWidget* root) {
    const QSet<QString> ja = japaneseTexts();
    QStringList wrong;
    const auto check = [&](const char* kind, const QString& text) {
        const QString t = bare(text);
        if (!t.isEmpty() && !ja.contains(t))
            wrong.append(QStringLiteral("%1: %2").arg(QLatin1String(kind), t));
    };
    for (QAction* a : root->findChildren<QAction*>()) {
        if (a->isSeparator())
            continue;
        check("action", a->text());
    }
    for (QMenu* m : root->findChildren<QMenu*>())
        check("menu", m->title());
    for (QAbstractButton* b : root->findChildren<QAbstractButton*>()) {
        if (qobject_cast<QToolBar*>(b->parentWidget()) || b->objectName().startsWith("qt_"))
            continue;  // toolbar buttons show their action; Qt's own internals
        check("button", b->text());
    }
    for (QToolBar* t : root->findChildren<QToolBar*>()) {
        for (QAction* a : t->actions()) {
            if (!a->isSeparator())
                check("tooltip", a->toolTip());
        }
    }
    for (QLabel* l : root->findChildren<QLabel*>()) {
        if (l->objectName() == QLatin1String("mainStatusLine"))
            continue;  // a table text with numbers filled in: checked on its own
        check("label", l->text());
    }
    for (QGroupBox* g : root->findChildren<QGroupBox*>())
        check("group", g->title());
    for (QTabWidget* t : root->findChildren<QTabWidget*>()) {
        for (int i = 0; i < t->count(); ++i)
            check("tab", t->tabText(i));
    }
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (qobject_cast<QTabBar*>(w->parentWidget()))
            continue;  // the tab bar's own scroll buttons, named by Qt's translation
        if (!w->accessibleName().isEmpty())
            check("accessible name", w->accessibleName());
    }
    return wrong;
}

}  // namespace

class TestMainWindowJapanese : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        qputenv("LANG", "ja_JP.UTF-8");
        qunsetenv("LC_ALL");
        qunsetenv("LC_MESSAGES");
        setLanguage(languageFromLocaleEnvironment());
        applyTextLanguage();
        QCOMPARE(currentLanguage(), Language::Japanese);
        QCOMPARE(smtp::textLanguage(), smtp::TextLanguage::Japanese);
    }

    void everyTextOfTheWindowsIsJapanese() {
        MainWindowFixture f;
        QVERIFY(f.open());
        QCOMPARE(f.shownTitle(), QStringLiteral("Postwick - 無題"));
        QStringList wrong = notJapanese(f.window.get());
        QVERIFY(f.find<QLabel>("mainStatusLine")
                    ->text()
                    .startsWith(QStringLiteral("フィールドの設定長は")));

        CTransmissionDialog transmission;
        wrong += notJapanese(&transmission);
        send::CSendProgressRelay relay(f.ui);
        CSendProgressForm progress(relay, {});
        QCOMPARE(progress.windowTitle(), str(ids::kSendCaption, Language::Japanese));
        wrong += notJapanese(&progress);
        CLogWindow log({});
        QCOMPARE(log.windowTitle(), QStringLiteral("ログ"));
        wrong += notJapanese(&log);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
    }

    void qtsOwnButtonsAreJapanese() {
        QVERIFY(installQtTranslations());
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"),
                 QStringLiteral("キャンセル"));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Save"), QStringLiteral("保存"));
    }
};

QTEST_MAIN(TestMainWindowJapanese)
#include "test_mainwin_japanese.moc"
