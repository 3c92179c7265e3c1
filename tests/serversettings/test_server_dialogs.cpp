// The "Server Settings" and "Advanced SMTP Server Settings" dialogs on real widgets: the list
// and its limit, the commands, the checks of OK, the warnings, the connection test with its
// busy display and Cancel, a certificate trusted from the dialog, and the Japanese texts.

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableView>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include "ScriptedUserInteraction.h"
#include "SmtpTestServer.h"
#include "TestEnv.h"
#include "WidgetTestSupport.h"
#include "resources/Strings.h"
#include "serversettings/gui/d_AdvSettings.h"
#include "serversettings/gui/d_ServerSettings.h"

using namespace pw::serversettings;
using pw::test::ScriptedUserInteraction;

using pw::test::child;

namespace {

void type(QWidget* w, const char* name, const QString& text) {
    QLineEdit* e = child<QLineEdit>(w, name);
    e->clear();
    QTest::keyClicks(e, text);
}

ServerSettingsValues filled() {
    ServerSettingsValues v;
    v.standard.from = "ann@example.org";
    v.standard.name = "Ann";
    v.standard.smtpServer = "127.0.0.1";
    v.standard.popServer = "pop.example.org";
    v.standard.userId = "ann";
    v.standard.password = "secret";
    return v;
}

CServerList profiles(int count) {
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines << QString("a%1@x,Name %1,smtp%1,pop%1,user%1,,25,0,0,,,0").arg(i);
    return CServerList::fromLines(lines);
}

}  // namespace

class TestServerDialogs : public QObject {
    Q_OBJECT
    std::unique_ptr<pw::test::TestEnv> m_env;
    pw::send::CSendLog m_log;

private slots:
    void initTestCase() {
        pw::setLanguage(pw::Language::English);
        m_env = std::make_unique<pw::test::TestEnv>();
        m_log.setPath(m_env->root() + "log.txt");
    }

    void listAndCommands() {
        ScriptedUserInteraction ui;
        CServerSettingsEditor editor(filled(), profiles(98), ui);
        d_ServerSettings dialog(editor, ui, m_log, {});
        auto* list = child<QTableView>(&dialog, "serverList");
        QAbstractItemModelTester tester(list->model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(list->model()->rowCount(), 98);
        QTest::mouseClick(child<QPushButton>(&dialog, "addToListButton"), Qt::LeftButton);
        QCOMPARE(list->model()->rowCount(), 99);
        QCOMPARE(list->model()->index(98, 0).data().toString(), QString("Ann"));
        QTest::mouseClick(child<QPushButton>(&dialog, "addToListButton"), Qt::LeftButton);
        QCOMPARE(ui.askedTexts(), QStringList{pw::str(pw::ids::kSsMaxServers)});
        QCOMPARE(list->model()->rowCount(), 99);

        list->selectRow(1);
        QTest::mouseClick(child<QPushButton>(&dialog, "useAsStandardButton"), Qt::LeftButton);
        QCOMPARE(child<QLineEdit>(&dialog, "smtpServerEdit")->text(), QString("smtp1"));
        QCOMPARE(child<QLineEdit>(&dialog, "nameEdit")->text(), QString("Name 1"));
        list->selectRow(2);
        QTest::mouseClick(child<QPushButton>(&dialog, "useAsProjectButton"), Qt::LeftButton);
        QCOMPARE(child<QLineEdit>(&dialog, "projectPopServerEdit")->text(), QString("pop2"));
        QTest::mouseClick(child<QPushButton>(&dialog, "copyUpButton"), Qt::LeftButton);
        QCOMPARE(child<QLineEdit>(&dialog, "userIdEdit")->text(), QString("user2"));
        QTest::mouseClick(child<QPushButton>(&dialog, "clearButton"), Qt::LeftButton);
        QCOMPARE(child<QLineEdit>(&dialog, "projectSmtpServerEdit")->text(), QString());
        QTest::mouseClick(child<QPushButton>(&dialog, "copyDownButton"), Qt::LeftButton);
        QCOMPARE(child<QLineEdit>(&dialog, "projectSmtpServerEdit")->text(), QString("smtp2"));
        list->selectRow(0);
        QTest::mouseClick(child<QPushButton>(&dialog, "deleteButton"), Qt::LeftButton);
        QCOMPARE(list->model()->rowCount(), 98);
        QCOMPARE(list->model()->index(0, 0).data().toString(), QString("Name 1"));

        type(&dialog, "smtpServerEdit", "smtp example org");
        dialog.accept();
        QCOMPARE(ui.askedTexts().last(), pw::str(pw::ids::kSsHostIncorrect));
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }

    void advancedChecks_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("auth");
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("message");
        QTest::newRow("port 70000") << "70000" << false << -1 << ""
                                    << "" << pw::ids::kAdvPortIncorrect;
        QTest::newRow("port empty") << "" << false << -1 << ""
                                    << "" << pw::ids::kAdvPortIncorrect;
        QTest::newRow("method") << "25" << true << -1 << "u"
                                << "p" << pw::ids::kAdvNeedMethod;
        QTest::newRow("user name") << "25" << true << 0 << ""
                                   << "p" << pw::ids::kAdvNeedUser;
        QTest::newRow("password") << "25" << true << 1 << "u"
                                  << "" << pw::ids::kAdvNeedPassword;
        QTest::newRow("password of 2000 characters")
            << "587" << true << 1 << "u" << QString(2000, 'x') << 0;
    }
    void advancedChecks() {
        QFETCH(QString, port);
        QFETCH(bool, auth);
        QFETCH(int, method);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(int, message);
        ScriptedUserInteraction ui;
        d_AdvSettings dialog({}, {}, ui);
        type(&dialog, "portEdit", port);
        child<QCheckBox>(&dialog, "authRequiredCheck")->setChecked(auth);
        child<QComboBox>(&dialog, "methodCombo")->setCurrentIndex(method);
        child<QRadioButton>(&dialog, "logOnUsingRadio")->setChecked(true);
        child<QLineEdit>(&dialog, "userNameEdit")->setText(user);
        child<QLineEdit>(&dialog, "passwordEdit")->setText(password);
        dialog.accept();
        if (message == 0) {
            QCOMPARE(ui.askedTexts(), QStringList());
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QCOMPARE(dialog.values().smtpPassword, password);
            QCOMPARE(dialog.values().smtpAuthType, pw::SmtpAuthType::LogOnUsing);
        } else {
            QCOMPARE(ui.askedTexts(), QStringList{pw::str(message)});
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
        }
    }

    void warnings() {
        ScriptedUserInteraction ui;
        d_AdvSettings dialog({}, {}, ui);
        auto* unverified = child<QLabel>(&dialog, "unverifiedWarning");
        auto* clearText = child<QLabel>(&dialog, "clearTextWarning");
        QVERIFY(unverified->isHidden());
        child<QCheckBox>(&dialog, "acceptUnverifiedCheck")->setChecked(true);
        QVERIFY(!unverified->isHidden());
        QVERIFY(clearText->isHidden());
        child<QCheckBox>(&dialog, "authRequiredCheck")->setChecked(true);
        QVERIFY(!clearText->isHidden());
        child<QComboBox>(&dialog, "connectionTypeCombo")->setCurrentIndex(2);
        QVERIFY(clearText->isHidden());
        QCOMPARE(child<QComboBox>(&dialog, "connectionTypeCombo")->itemText(2),
                 QString("STARTTLS"));
    }

    // The limits start from the account's profile; a preset fills every figure, a figure
    // changed by hand makes the profile the user's own, and the dialog gives back what it shows.
    void sendingLimits() {
        using namespace pw::send;
        ScriptedUserInteraction ui;
        d_AdvSettings dialog({}, {}, ui, nullptr, presetProfile(ProfilePreset::Microsoft365));
        auto* preset = child<QComboBox>(&dialog, "limitsPresetCombo");
        QCOMPARE(child<QSpinBox>(&dialog, "perMinuteSpin")->value(), 30);
        QCOMPARE(child<QSpinBox>(&dialog, "connectionsSpin")->value(), 3);
        child<QSpinBox>(&dialog, "perDaySpin")->setValue(300);
        QCOMPARE(preset->currentIndex(), int(ProfilePreset::Custom));
        QCOMPARE(dialog.sendingProfile().perDay, 300);
        QCOMPARE(dialog.sendingProfile().perMinute, 30);
        preset->setCurrentIndex(int(ProfilePreset::Gmail));
        emit preset->activated(int(ProfilePreset::Gmail));
        QCOMPARE(dialog.sendingProfile(), presetProfile(ProfilePreset::Gmail));

        ServerSettingsValues values;
        values.standard.smtpServer = "smtp.gmail.com";
        QCOMPARE(sendingProfileOf(values), presetProfile(ProfilePreset::Gmail));
        SendingProfile own = presetProfile(ProfilePreset::Gmail);
        own.preset = ProfilePreset::Custom;
        own.perDay = 100;
        setSendingProfile(values, own);
        QCOMPARE(sendingProfileOf(values), own);
    }

    // The POP3 credentials as typed when the advanced dialog is confirmed, not later ones.
    void sameAsPopCopiesAtConfirmation() {
        ScriptedUserInteraction ui;
        CServerSettingsEditor editor(filled(), {}, ui);
        d_ServerSettings dialog(editor, ui, m_log, {});
        type(&dialog, "userIdEdit", "popuser");
        type(&dialog, "passwordEdit", "poppass");
        QTimer::singleShot(0, [&] {
            d_AdvSettings* adv = dialog.advancedDialog();
            QVERIFY(adv);
            child<QCheckBox>(adv, "authRequiredCheck")->setChecked(true);
            child<QComboBox>(adv, "methodCombo")->setCurrentIndex(0);
            child<QRadioButton>(adv, "sameAsPopRadio")->setChecked(true);
            adv->accept();
        });
        QTest::mouseClick(child<QPushButton>(&dialog, "settingsButton"), Qt::LeftButton);
        QCOMPARE(editor.values().standard.smtpAuthType, pw::SmtpAuthType::SameAsPop);
        QCOMPARE(editor.values().standard.smtpUserName, QString("popuser"));
        QCOMPARE(editor.values().standard.smtpPassword, QString("poppass"));
        type(&dialog, "userIdEdit", "later");
        dialog.accept();
        QCOMPARE(editor.values().standard.userId, QString("later"));
        QCOMPARE(editor.values().standard.smtpUserName, QString("popuser"));
    }

    void testWithBusyDisplay() {
        pw::test::SmtpTestServer server;
        QVERIFY2(server.start({}), qPrintable(server.errorText()));
        ScriptedUserInteraction ui;
        ServerSettingsValues v = filled();
        v.standard.smtpPort = server.port();
        CServerSettingsEditor editor(v, {}, ui);
        d_ServerSettings dialog(editor, ui, m_log, {});
        QTest::mouseClick(child<QPushButton>(&dialog, "testConnectionButton"), Qt::LeftButton);
        QCOMPARE(ui.askedTexts(), QStringList{"Connection successful."});
        QVERIFY(ui.progressLog().contains("cancellable"));
        QVERIFY(ui.progressLog().contains("text: " + pw::str(pw::ids::kTestBusy)));
    }

    void cancelFromBusyDisplay() {
        QTcpServer silent;  // the system accepts; nobody ever greets
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        ScriptedUserInteraction ui;
        ui.cancelProgressAt(15);  // about 300 ms into the test
        ServerSettingsValues v = filled();
        v.standard.smtpPort = silent.serverPort();
        CServerSettingsEditor editor(v, {}, ui);
        d_ServerSettings dialog(editor, ui, m_log, {});
        // the server never greets: "cancelled", not a timeout after 20 s, tells what ended it
        QTest::mouseClick(child<QPushButton>(&dialog, "testConnectionButton"), Qt::LeftButton);
        QVERIFY(ui.progressLog().contains("cancelled"));
        QCOMPARE(ui.askedTexts(), QStringList());
        QVERIFY(ui.choicesAsked().isEmpty());
    }

    void failureOffersTheLog() {
        ScriptedUserInteraction ui;
        ui.scriptChoices({pw::str(pw::ids::kTestViewLog)});
        ServerSettingsValues v = filled();
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        v.standard.smtpPort = probe.serverPort();
        probe.close();  // nothing listens there any more
        CServerSettingsEditor editor(v, {}, ui);
        QStringList opened;
        ConnectionTestHooks hooks;
        hooks.openLog = [&](const QString& path) { opened << path; };
        d_ServerSettings dialog(editor, ui, m_log, hooks);
        QTest::mouseClick(child<QPushButton>(&dialog, "testConnectionButton"), Qt::LeftButton);
        QCOMPARE(ui.choicesAsked().size(), 1);
        // the box says why, as the client knows it
        const QString text = ui.choicesAsked()[0].text;
        QVERIFY2(text.startsWith("Could not connect to SMTP server.\n\n") &&
                     text.contains("refused", Qt::CaseInsensitive),
                 qPrintable(text));
        QCOMPARE(opened, QStringList{m_log.path()});
    }

    void trustFromTheDialog() {
        pw::test::TestCertificates certs(m_env->makeFolder("certs"));
        QVERIFY(certs.ok());
        pw::test::SmtpTestServer server;
        QVERIFY2(server.start({"--mode", "tls", "--cert", certs.selfSignedCert(), "--key",
                               certs.selfSignedKey()}),
                 qPrintable(server.errorText()));
        ScriptedUserInteraction ui;
        ui.script({pw::Answer::Yes});
        ServerSettingsValues v = filled();
        v.standard.smtpPort = server.port();
        v.standard.smtpConnectionType = pw::smtp::ConnectionType::SslTls;
        CServerSettingsEditor editor(v, {}, ui);
        QList<pw::smtp::TrustedCertificate> stored;
        ConnectionTestHooks hooks;
        hooks.storeTrust = [&](const pw::smtp::TrustedCertificate& t) { stored << t; };
        d_ServerSettings dialog(editor, ui, m_log, hooks);
        QTest::mouseClick(child<QPushButton>(&dialog, "testConnectionButton"), Qt::LeftButton);
        const QStringList asked = ui.askedTexts();
        QCOMPARE(asked.size(), 2);
        QVERIFY2(asked[0].contains("self-signed") && asked[0].contains("SHA-256"),
                 qPrintable(asked[0]));
        QCOMPARE(asked[1], QString("Connection successful."));
        QCOMPARE(stored.size(), 1);
        QCOMPARE(stored[0].port, int(server.port()));
        QVERIFY(asked[0].contains(
            pw::smtp::PeerCertificate{{}, {}, {}, {}, stored[0].sha256}.fingerprintText()));
        QCOMPARE(editor.values().trusted, stored);
    }

    void japaneseTexts() {
        pw::setLanguage(pw::Language::Japanese);
        ScriptedUserInteraction ui;
        CServerSettingsEditor editor(filled(), {}, ui);
        d_ServerSettings dialog(editor, ui, m_log, {});
        d_AdvSettings adv({}, {}, ui);
        pw::setLanguage(pw::Language::English);
        QCOMPARE(dialog.windowTitle(), QString::fromUtf8("サーバー設定"));
        QCOMPARE(child<QPushButton>(&dialog, "testConnectionButton")->text(),
                 QString::fromUtf8("接続テスト"));
        QCOMPARE(adv.windowTitle(), QString::fromUtf8("SMTP サーバーの詳細設定"));
        QCOMPARE(child<QCheckBox>(&adv, "authRequiredCheck")->accessibleName(),
                 QString::fromUtf8("SMTP サーバーは認証が必要"));
    }
};

QTEST_MAIN(TestServerDialogs)
#include "test_server_dialogs.moc"
