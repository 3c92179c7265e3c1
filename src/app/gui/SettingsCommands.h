#pragma once
// The commands that open the settings dialogs from the main window: Server Settings (with
// its list and trust kept in the settings file), User Preferences and Getting Started.

#include <QFont>
#include <QStringList>

#include "app/AppSession.h"
#include "app/Preferences.h"
#include "app/gui/d_UserPreferences.h"

class QWidget;

namespace pw::app {

class CPZPtestDlg;

// Loads the registered servers, shows "Server Settings", saves the list whichever way the
// dialog was closed; OK stores the standard settings and the project's server fields. A
// certificate trusted during a test is stored at once. A send run that starts while it is open
// locks its connection test (the window's run state). True on OK.
bool RunServerSettings(CAppSession& session, CPZPtestDlg& window);

// The sign-in and the secrets into the keyring and the settings file at once (after OK): a
// refresh token goes into the file only when no keyring answers and the user agrees.
void StoreSignInNow(CAppSession& session);

// Trusts a certificate for its host and port from now on: in the session's settings (the
// next run takes it) and in the settings file at once (the command line sees it); a file
// that cannot be written is told.
void TrustCertificate(CAppSession& session, const smtp::TrustedCertificate& trusted);

// "User Preferences" over the session's settings; true on OK (then already applied).
bool RunUserPreferences(CAppSession& session, const QStringList& captions, const QFont& editorFont,
                        const PreferencesHost& host, QWidget* parent);

struct StartFormResult {
    StartEnd end = StartEnd::Continue;
    StartChoice choice = StartChoice::None;
};
// Getting Started, shown at start while "StartShortcut" is set.
[[nodiscard]] StartFormResult RunGettingStarted(CAppSession& session, QWidget* parent);

}  // namespace pw::app
