// Open Database on Server... in the main window.

#include "app/Commands.h"
#include "app/Keyring.h"
#include "app/RecentList.h"
#include "app/gui/CPZPtestDlg.h"
#include "app/gui/CommandWiring.h"
#include "app/gui/d_ServerDatabase.h"
#include "dbtools/StoreQuestions.h"

namespace pw::app {

void openServerList(CPZPtestDlg& window, const QString& connection, const QString& user) {
    CAppSession& session = window.session();
    if (window.runState().refuses(session.ui()))
        return;
    d_ServerDatabase dialog(&window);
    dialog.setObjectName(QStringLiteral("d_ServerDatabase"));
    if (connection.isEmpty())
        dialog.prefill(session.store().ServerConnection(), session.store().ServerUser());
    else
        dialog.prefill(connection, user);
    if (dialog.exec() != QDialog::Accepted)
        return;
    db::ServerLogin login = dialog.login();
    ISecretStore& keyring = processKeyring();
    const QString key = serverListPasswordKey(login.connection, login.user);
    if (login.password.isEmpty() && keyring.available())
        login.password = keyring.read(key).value_or(QString());
    // the list open now goes: its unsaved changes first
    if (!dbtools::ConfirmClose(session.store(), session.ui()) ||
        !dbtools::OpenServer(session.store(), login, session.ui()))
        return;  // the user was told why
    if (!login.password.isEmpty() && keepsPasswordsInKeyring(session.settings(), keyring))
        (void)keyring.write(key, login.password);
    CRecentList(session.folders().userDataFolder).addServerList(login.connection, login.user);
    window.UpdateDocumentState();
}

void wireServerListCommands(CPZPtestDlg& window) {
    window.setCommandHandler(cmd::kOpenServerDatabase,
                             [&window] { openServerList(window, QString(), QString()); });
}

}  // namespace pw::app
