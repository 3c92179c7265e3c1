// Under a Japanese locale every menu, tooltip, button and label of the main window and of the
// send windows shows the Japanese text of the string tables, and Qt's own dialogs and
// buttons are Japanese too.

#include <QLabel>

#include "JapaneseTexts.h"
#include "MainWindowFixture.h"
#include "app/Language.h"
#include "app/gui/SendWindows.h"
#include "resources/Strings.h"
#include "send/SendProgress.h"
#include "smtp/SmtpLanguage.h"

using namespace pw;
using namespace pw::app;
using pw::test::MainWindowFixture;
using pw::test::notJapanese;

class TestMainWindowJapanese : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        test::useJapaneseLocale();
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
