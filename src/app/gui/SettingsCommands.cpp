#include "app/gui/SettingsCommands.h"

#include <QDesktopServices>
#include <QDir>
#include <QUrl>

#include "app/Keyring.h"
#include "app/SendSettings.h"
#include "app/ServerSettingsStore.h"
#include "app/gui/CPZPtestDlg.h"
#include "app/gui/d_StartForm.h"
#include "resources/Strings.h"
#include "send/SendLog.h"
#include "serversettings/CertificateTrust.h"
#include "serversettings/gui/d_ServerSettings.h"

namespace pw::app {

bool RunServerSettings(CAppSession& session, CPZPtestDlg& window) {
    const QString path = session.settingsPath();
    CIniFile ini(path);
    (void)ini.Load();
    serversettings::ServerSettingsValues values =
        ServerValuesOf(session.settings(), session.document().projectSettings);
    // what another process (or an earlier test) trusted since start counts too
    for (const smtp::TrustedCertificate& t : ReadTrustedCertificates(ini))
        serversettings::trustCertificate(values.trusted, t);
    values.sendingProfiles = readSendingProfiles(ini);
    serversettings::CServerSettingsEditor editor(values, LoadServerList(ini), session.ui());

    serversettings::ConnectionTestHooks hooks;
    hooks.storeTrust = [&session](const smtp::TrustedCertificate& t) {
        TrustCertificate(session, t);
    };
    hooks.openLog = [](const QString& log) { QDesktopServices::openUrl(QUrl::fromLocalFile(log)); };
    hooks.runRefuses = [&window] { return window.runState().refuses(window.session().ui()); };
    serversettings::d_ServerSettings dialog(editor, session.ui(), session.sendLog(), hooks,
                                            &window);
    dialog.setRunLocked(window.runState().running());
    QObject::connect(&window, &CPZPtestDlg::runStateChanged, &dialog,
                     &serversettings::d_ServerSettings::setRunLocked);
    const bool ok = dialog.exec() == QDialog::Accepted;

    CIniFile again(path);
    (void)again.Load();
    StoreServerList(again, editor.list());
    if (ok) {
        const auto& profiles = editor.values().sendingProfiles;
        for (auto it = profiles.begin(); it != profiles.end(); ++it)
            writeSendingProfile(again, it.key(), it.value());
    }
    again.SaveTelling(session.ui());

    if (!ok) {
        session.settings().trustedCertificates = editor.values().trusted;
        return false;
    }
    const ServerConfig before = session.document().projectSettings;
    ApplyServerValues(editor.values(), session.settings(), session.document().projectSettings);
    if (!(session.document().projectSettings == before))
        session.document().modified = true;
    StoreSignInNow(session);
    return true;
}

void StoreSignInNow(CAppSession& session) {
    Settings& s = session.settings();
    ISecretStore& keyring = processKeyring();
    if (!s.oauthRefreshToken.isEmpty()) {
        if (StoreRefreshToken(s.oauthRefreshToken, keyring)) {
            s.oauthTokenInFile = 0;  // safe now: out of the file
        } else if (s.oauthTokenInFile != 1) {
            // no keyring, or one that reads but refuses to store: the file only when the
            // user says so, else it lasts until the program ends
            const Answer a = session.ui().message(
                str(ids::kSsCaption), str(ids::kKeepTokenInFileQuestion), MessageKind::YesNo);
            s.oauthTokenInFile = a == Answer::Yes ? 1 : 0;
        }
    }
    CIniFile ini(session.settingsPath());
    (void)ini.Load();
    StoreSignIn(ini, s, keyring);
    ini.SaveTelling(session.ui());
}

void TrustCertificate(CAppSession& session, const smtp::TrustedCertificate& trusted) {
    serversettings::trustCertificate(session.settings().trustedCertificates, trusted);
    if (!StoreTrustedCertificate(session.settingsPath(), trusted))
        inform(session.ui(),
               str(ids::kCertTrustNotStored).arg(QDir::toNativeSeparators(session.settingsPath())));
}

bool RunUserPreferences(CAppSession& session, const QStringList& captions, const QFont& editorFont,
                        const PreferencesHost& host, QWidget* parent) {
    PreferencesHost withLog = host;
    const auto showLog = host.showLogWindow;
    withLog.showLogWindow = [showLog, &session](bool on) {
        session.sendLog().setLogView(on);
        if (showLog)
            showLog(on);
    };
    d_UserPreferences dialog(session.settings(), captions, editorFont, session.ui(), withLog,
                             parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    session.store().SetRecordLimit(session.settings().recordLimit);
    ApplyShareListsChoice(session.settings());
    return true;
}

StartFormResult RunGettingStarted(CAppSession& session, QWidget* parent) {
    d_StartForm dialog(session.settings().startShortcut, parent);
    StartFormResult r;
    const bool accepted = dialog.exec() == QDialog::Accepted;
    r.end = dialog.end();
    r.choice = accepted ? dialog.choice() : StartChoice::None;
    return r;
}

}  // namespace pw::app
