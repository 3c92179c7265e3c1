// "User Preferences" and Getting Started on real widgets: every control shows its setting and
// OK stores what it shows, the regular editor font, the Auto-Wrap item, the settings file
// after the close sequence, the picture's hot areas, and the Japanese texts.

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>

#include "AppTestFolders.h"
#include "ScriptedUserInteraction.h"
#include "WidgetTestSupport.h"
#include "app/AppSession.h"
#include "app/IniFile.h"
#include "app/gui/d_StartForm.h"
#include "app/gui/d_UserPreferences.h"
#include "resources/Strings.h"

using namespace pw;
using namespace pw::app;

using pw::test::child;

namespace {

bool checked(QWidget* w, const char* name) {
    return child<QAbstractButton>(w, name)->isChecked();
}

void check(QWidget* w, const char* name) {
    child<QAbstractButton>(w, name)->setChecked(true);
}

QStringList captions() {
    QStringList c{"Mail Address", "Name"};
    for (int i = 3; i <= 20; ++i)
        c << QString("field%1").arg(i);
    return c;
}

// Every setting the pages edit, away from its default.
Settings changed() {
    Settings s;
    s.startShortcut = false;
    s.toolbar = 0;
    s.ui = 0;
    s.strFieldSize = 200;
    s.recordLimit = 100000;
    s.wrap = 1;
    s.logView = 1;
    s.dbExportItem = false;
    s.sendContinue = send::ErrorPolicy::Ask;
    s.addrSetType = send::AddrSetType::RestBcc;
    s.length = true;
    s.oneTimeSend = 40;
    s.sendWait = 120;
    s.connectWait = 5;
    s.testEmailAddress = QString::fromUtf8("テスト@example.jp");
    s.defaultRecipientField = 2;
    return s;
}

}  // namespace

class TestPreferences : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { setLanguage(Language::English); }

    void openShowsEverySetting() {
        Settings s = changed();
        test::ScriptedUserInteraction ui;
        d_UserPreferences d(s, captions(), QFont("Monospace", 11), ui, {});
        QVERIFY(checked(&d, "startShortcutNo"));
        QVERIFY(checked(&d, "toolbarNo"));
        QVERIFY(checked(&d, "uiNoButtons"));
        QCOMPARE(child<QComboBox>(&d, "strFieldSizeCombo")->currentText(), QString("200"));
        QCOMPARE(child<QSpinBox>(&d, "recordLimitSpin")->value(), 100000);
        QVERIFY(checked(&d, "wrapYes"));
        QVERIFY(checked(&d, "logViewYes"));
        QVERIFY(checked(&d, "exportExcludeNames"));
        QVERIFY(checked(&d, "displayDialogRadio"));
        QVERIFY(checked(&d, "addrBccRadio"));
        QVERIFY(checked(&d, "lengthYes"));
        QCOMPARE(child<QSpinBox>(&d, "oneTimeSendSpin")->value(), 40);
        QCOMPARE(child<QSpinBox>(&d, "sendWaitSpin")->value(), 120);
        QCOMPARE(child<QSpinBox>(&d, "connectWaitSpin")->value(), 5);
        QCOMPARE(child<QLineEdit>(&d, "testEmailEdit")->text(), s.testEmailAddress);
        QCOMPARE(child<QComboBox>(&d, "defaultFieldCombo")->count(), 21);
        QCOMPARE(child<QComboBox>(&d, "defaultFieldCombo")->currentText(), QString("field3"));
        QCOMPARE(child<QPlainTextEdit>(&d, "fontSample")->toPlainText(),
                 QString("Font Sample\nabcdefghijklmn\nABCDEFGHIJKLMN"));
        auto* tabs = child<QTabWidget>(&d, "tabs");
        QCOMPARE(tabs->tabText(0) + tabs->tabText(1) + tabs->tabText(2),
                 QString("GeneralTextMail"));
    }

    void okStoresWhatIsShown() {
        Settings s;  // the defaults
        test::ScriptedUserInteraction ui;
        d_UserPreferences d(s, captions(), QFont("Monospace", 11), ui, {});
        for (const char* name :
             {"startShortcutNo", "toolbarNo", "uiNoButtons", "wrapYes", "logViewYes",
              "exportExcludeNames", "displayDialogRadio", "addrBccRadio", "lengthYes"})
            check(&d, name);
        child<QComboBox>(&d, "strFieldSizeCombo")->setCurrentIndex(3);
        child<QSpinBox>(&d, "recordLimitSpin")->setValue(100000);
        child<QSpinBox>(&d, "oneTimeSendSpin")->setValue(40);
        child<QSpinBox>(&d, "sendWaitSpin")->setValue(120);
        child<QSpinBox>(&d, "connectWaitSpin")->setValue(5);
        child<QLineEdit>(&d, "testEmailEdit")->setText(QString::fromUtf8("テスト@example.jp"));
        child<QComboBox>(&d, "defaultFieldCombo")->setCurrentIndex(3);
        d.accept();
        const Settings want = changed();
        QCOMPARE(s.startShortcut, want.startShortcut);
        QCOMPARE(s.toolbar, want.toolbar);
        QCOMPARE(s.ui, want.ui);
        QCOMPARE(s.strFieldSize, want.strFieldSize);
        QCOMPARE(s.recordLimit, want.recordLimit);
        QCOMPARE(s.wrap, want.wrap);
        QCOMPARE(s.logView, want.logView);
        QCOMPARE(s.dbExportItem, want.dbExportItem);
        QCOMPARE(s.sendContinue, want.sendContinue);
        QCOMPARE(s.addrSetType, want.addrSetType);
        QCOMPARE(s.length, want.length);
        QCOMPARE(s.oneTimeSend, want.oneTimeSend);
        QCOMPARE(s.sendWait, want.sendWait);
        QCOMPARE(s.connectWait, want.connectWait);
        QCOMPARE(s.testEmailAddress, want.testEmailAddress);
        QCOMPARE(s.defaultRecipientField, want.defaultRecipientField);
        QCOMPARE(s.font, QString("Monospace"));
        QCOMPARE(s.fontSize, 11);
        QVERIFY(ui.asked().isEmpty());
    }

    void unchangedOkAndOutOfRangeValues_data() {
        QTest::addColumn<int>("strFieldSize");
        QTest::addColumn<int>("oneTimeSend");
        QTest::addColumn<int>("sendWait");
        QTest::addColumn<int>("recordLimit");
        QTest::addColumn<int>("wantStrFieldSize");
        QTest::addColumn<int>("wantOneTimeSend");
        QTest::addColumn<int>("wantSendWait");
        QTest::addColumn<int>("wantRecordLimit");
        QTest::newRow("as stored") << 150 << 7 << 30 << 250000 << 150 << 7 << 30 << 250000;
        QTest::newRow("length not offered") << 120 << 7 << 30 << 20000 << 100 << 7 << 30 << 20000;
        QTest::newRow("batch of 0, limit below the default")
            << 100 << 0 << 30 << 500 << 100 << 1 << 30 << 20000;
        QTest::newRow("batch of 500, negative wait, limit above the most")
            << 100 << 500 << -4 << 5000000 << 100 << 100 << 0 << 1000000;
    }
    void unchangedOkAndOutOfRangeValues() {
        QFETCH(int, strFieldSize);
        QFETCH(int, oneTimeSend);
        QFETCH(int, sendWait);
        QFETCH(int, recordLimit);
        Settings s = changed();
        s.recordLimit = recordLimit;
        s.strFieldSize = strFieldSize;
        s.oneTimeSend = oneTimeSend;
        s.sendWait = sendWait;
        s.font = "Monospace";
        s.fontSize = 11;
        const Settings before = s;
        test::ScriptedUserInteraction ui;
        d_UserPreferences d(s, captions(), QFont("Monospace", 11), ui, {});
        auto* batch = child<QSpinBox>(&d, "oneTimeSendSpin");
        batch->selectAll();
        QTest::keyClicks(batch, "0");  // typed out of range: not taken
        d.accept();
        QTEST(s.strFieldSize, "wantStrFieldSize");
        QTEST(s.oneTimeSend, "wantOneTimeSend");
        QTEST(s.sendWait, "wantSendWait");
        QTEST(s.recordLimit, "wantRecordLimit");
        QCOMPARE(s.testEmailAddress, before.testEmailAddress);
        QCOMPARE(s.sendContinue, before.sendContinue);
        QCOMPARE(s.defaultRecipientField, before.defaultRecipientField);
        QCOMPARE(s.font, before.font);
        QCOMPARE(s.fontSize, before.fontSize);
    }

    void boldOrItalicFontIsMadeRegular_data() {
        QTest::addColumn<bool>("bold");
        QTest::addColumn<bool>("italic");
        QTest::newRow("bold") << true << false;
        QTest::newRow("italic") << false << true;
        QTest::newRow("regular") << false << false;
    }
    void boldOrItalicFontIsMadeRegular() {
        QFETCH(bool, bold);
        QFETCH(bool, italic);
        Settings s;
        test::ScriptedUserInteraction ui;
        QFont editor;
        PreferencesHost host;
        host.setEditorFont = [&](const QFont& f) { editor = f; };
        d_UserPreferences d(s, captions(), QFont("Monospace", 11), ui, host);
        d.setFontChooser([&](const QFont&, QWidget*) -> std::optional<QFont> {
            QFont f("Serif", 14);
            f.setBold(bold);
            f.setItalic(italic);
            return f;
        });
        QTest::mouseClick(child<QPushButton>(&d, "fontButton"), Qt::LeftButton);
        d.accept();
        const QStringList want =
            bold || italic ? QStringList{str(ids::kPrefBoldItalic)} : QStringList{};
        QCOMPARE(ui.askedTexts(), want);
        QCOMPARE(s.font, QString("Serif"));
        QCOMPARE(s.fontSize, 14);
        QVERIFY(!editor.bold() && !editor.italic());
        QCOMPARE(editor.pointSize(), 14);
    }

    void autoWrapItemComesAndGoes() {
        QMenu tools;
        tools.addAction("Convert");
        QAction autoWrap("Auto-Wrap...");
        PreferencesHost host;
        host.showAutoWrapItem = [&](bool show) { ShowAutoWrapItem(tools, autoWrap, show); };
        Settings s;
        test::ScriptedUserInteraction ui;
        {
            d_UserPreferences d(s, captions(), QFont(), ui, host);
            check(&d, "wrapYes");
            d.accept();
        }
        QCOMPARE(tools.actions().size(), 2);
        QCOMPARE(tools.actions().last(), &autoWrap);
        QVERIFY(autoWrap.isEnabled());
        {
            d_UserPreferences d(s, captions(), QFont(), ui, host);
            check(&d, "wrapNo");
            d.accept();
        }
        QCOMPARE(tools.actions().size(), 1);
        QCOMPARE(s.wrap, 0);
    }

    void settingsFileAfterClose() {
        test::TestEnv env;
        const AppFolders f = test::appFoldersIn(env);
        test::ScriptedUserInteraction ui;
        CAppSession session(f, f.settingsPath("postwick"), ui);
        QCOMPARE(session.Start(), CAppSession::StartResult::Ready);
        session.ReadSettingsFile();
        QCOMPARE(session.PrepareFreshDocument(), CAppSession::FreshResult::Ready);
        {
            d_UserPreferences d(session.settings(), captions(), QFont("Monospace", 11), ui, {});
            check(&d, "terminateRadio");
            child<QSpinBox>(&d, "oneTimeSendSpin")->setValue(25);
            check(&d, "startShortcutNo");
            d.accept();
        }
        QCOMPARE(session.Close(false, {}, {}), CAppSession::CloseResult::Closed);
        CIniFile ini(f.settingsPath("postwick"));
        QVERIFY(ini.Load());
        QCOMPARE(ini.GetInt("SETUP", "SendContinue", 0), 4);
        QCOMPARE(ini.GetInt("SETUP", "OneTimeSend", 0), 25);
        QCOMPARE(ini.GetInt("SETUP", "StartShortcut", 1), 0);
        QCOMPARE(ini.GetText("SETUP", "Font", ""), QString("Monospace"));
    }

    // Through the dialog's surface (where the areas are), a mouse click on the tile itself, and
    // the keyboard: every way reaches the same choice.
    void gettingStartedAreas_data() {
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("y");
        QTest::addColumn<QString>("tile");
        QTest::addColumn<int>("choice");
        QTest::newRow("first area") << 40.0 << 70.0 << "" << int(StartChoice::None);
        QTest::newRow("second area: Open") << 120.0 << 70.0 << "" << int(StartChoice::Open);
        QTest::newRow("third area: template")
            << 200.0 << 40.0 << "" << int(StartChoice::SelectHtmlTemplate);
        QTest::newRow("fourth area: import")
            << 300.0 << 120.0 << "" << int(StartChoice::ImportDatabase);
        QTest::newRow("between areas") << 82.0 << 70.0 << "" << int(StartChoice::None);
        QTest::newRow("above the areas") << 120.0 << 10.0 << "" << int(StartChoice::None);
        QTest::newRow("clicked tile: Open")
            << 0.0 << 0.0 << "click openTile" << int(StartChoice::Open);
        QTest::newRow("keyboard: new") << 0.0 << 0.0 << "key newTile" << int(StartChoice::None);
        QTest::newRow("keyboard: template")
            << 0.0 << 0.0 << "key templateTile" << int(StartChoice::SelectHtmlTemplate);
        QTest::newRow("keyboard: import")
            << 0.0 << 0.0 << "key importTile" << int(StartChoice::ImportDatabase);
    }
    void gettingStartedAreas() {
        QFETCH(double, x);
        QFETCH(double, y);
        QFETCH(QString, tile);
        QFETCH(int, choice);
        bool startShortcut = true;
        d_StartForm d(startShortcut);
        d.show();
        QVERIFY(checked(&d, "displayNextTime"));
        child<QCheckBox>(&d, "displayNextTime")->setChecked(false);
        if (tile.isEmpty()) {
            QTest::mouseClick(&d, Qt::LeftButton, {}, d.fromDialogUnits(x, y));
        } else {
            auto* button = child<QPushButton>(&d, tile.section(' ', 1).toUtf8().constData());
            QVERIFY(button->focusPolicy() & Qt::TabFocus);
            QVERIFY(!button->accessibleName().isEmpty());
            if (tile.startsWith("key"))
                QTest::keyClick(button, Qt::Key_Space);
            else
                QTest::mouseClick(button, Qt::LeftButton);
        }
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(int(d.choice()), choice);
        QCOMPARE(startShortcut, false);
    }

    void gettingStartedExit() {
        bool startShortcut = false;
        d_StartForm d(startShortcut);
        d.show();
        QTest::mouseClick(child<QPushButton>(&d, "exitButton"), Qt::LeftButton);
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QCOMPARE(int(d.choice()), int(StartChoice::None));
        QCOMPARE(int(d.end()), int(StartEnd::ExitProgram));
        QCOMPARE(startShortcut, true);  // "Display Next Time" is checked when shown
    }

    void japaneseTexts() {
        setLanguage(Language::Japanese);
        Settings s;
        test::ScriptedUserInteraction ui;
        d_UserPreferences d(s, captions(), QFont(), ui, {});
        bool startShortcut = true;
        d_StartForm start(startShortcut);
        setLanguage(Language::English);
        QCOMPARE(d.windowTitle(), QString::fromUtf8("ユーザー設定"));
        QCOMPARE(child<QTabWidget>(&d, "tabs")->tabText(2), QString::fromUtf8("メール"));
        QCOMPARE(child<QAbstractButton>(&d, "terminateRadio")->text(),
                 QString::fromUtf8("送信を中止する"));
        QCOMPARE(child<QPushButton>(&start, "exitButton")->text(), QString::fromUtf8("終了"));
        QCOMPARE(child<QCheckBox>(&start, "displayNextTime")->text(),
                 QString::fromUtf8("次回も表示する"));
        QCOMPARE(child<QPushButton>(&start, "importTile")->accessibleName(),
                 QString::fromUtf8("データベースのインポート"));
    }
};

QTEST_MAIN(TestPreferences)
#include "test_preferences.moc"
