// Suppression List, Bounces and Replies, Campaign History and Unsubscribe Settings in the main
// window.

#include "app/BounceCommand.h"
#include "app/Commands.h"
#include "app/gui/BouncesWindow.h"
#include "app/gui/CPZPtestDlg.h"
#include "app/gui/CommandWiring.h"
#include "app/gui/HistoryWindow.h"
#include "app/gui/SuppressionWindows.h"

namespace pw::app {

void wireSuppressionCommands(CPZPtestDlg& window) {
    window.setCommandHandler(cmd::kSuppressionList, [&window] {
        CAppSession& session = window.session();
        d_SuppressionList dialog(db::CSuppressionList(session.store()), session.ui(), &window);
        dialog.setObjectName(QStringLiteral("d_SuppressionList"));
        dialog.exec();
    });
    window.setCommandHandler(cmd::kBounces, [&window] {
        CAppSession& session = window.session();
        d_Bounces dialog(session.store().Folders().userDataFolder,
                         settingsMailbox(session.settings(), session.settingsPath()),
                         readSoftBounceRule(session.settingsPath()), session.ui(), &window);
        dialog.setObjectName(QStringLiteral("d_Bounces"));
        dialog.setReportFolderStore([&session](const QString& folder) {
            storeReportFolder(session.settingsPath(), folder, session.ui());
        });
        dialog.exec();
    });
    window.setCommandHandler(cmd::kHistory, [&window] {
        CAppSession& session = window.session();
        d_History dialog(session.store().Folders().userDataFolder, session.ui(), &window);
        dialog.setObjectName(QStringLiteral("d_History"));
        dialog.exec();
    });
    window.setCommandHandler(cmd::kUnsubscribeSettings, [&window] {
        CAppSession& session = window.session();
        d_Unsubscribe dialog(session.store(), session.ui(), &window);
        dialog.setObjectName(QStringLiteral("d_Unsubscribe"));
        // the settings live in the project's database: saving the project keeps them
        if (dialog.exec() == QDialog::Accepted && session.store().IsModified())
            window.SetModified(true);
    });
}

}  // namespace pw::app
