// The File menu's recent list: a view of CRecentList, filled each time it opens.

#include <QAction>
#include <QMenu>

#include "app/Commands.h"
#include "app/RecentList.h"
#include "app/gui/CPZPtestDlg.h"
#include "app/gui/CommandWiring.h"
#include "resources/Strings.h"

namespace pw::app {

namespace {

void openRecent(CPZPtestDlg& window, int index) {
    CAppSession& session = window.session();
    if (window.runState().refuses(session.ui()))
        return;
    const std::optional<RecentEntry> entry =
        CRecentList(session.folders().userDataFolder).choose(index, session.ui());
    if (!entry)
        return;
    if (entry->kind == RecentKind::ServerList) {
        openServerList(window, entry->location, entry->user);
        return;
    }
    if (window.MayLeaveDocument())
        (void)window.OpenProject(entry->location);
    window.UpdateDocumentState();
}

void fill(CPZPtestDlg& window, QMenu* menu) {
    menu->clear();
    const QList<RecentEntry> list =
        CRecentList(window.session().folders().userDataFolder).entries();
    if (list.isEmpty())
        menu->addAction(str(ids::kRecentNone))->setEnabled(false);
    for (int i = 0; i < list.size(); ++i) {
        // "&1 " ... as every recent list numbers its entries for the keyboard
        QAction* a = menu->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(
            list[i].label().replace(QLatin1Char('&'), QStringLiteral("&&"))));
        a->setObjectName(QStringLiteral("recentEntry%1").arg(i));
        QObject::connect(a, &QAction::triggered, &window, [&window, i] { openRecent(window, i); });
    }
}

}  // namespace

void wireRecentList(CPZPtestDlg& window) {
    QAction* exit = window.commandAction(cmd::kExit);
    auto* file = window.findChild<QMenu*>(QStringLiteral("menuFile"));
    if (!exit || !file)
        return;
    auto* menu = new QMenu(str(ids::kMenuRecent), file);
    menu->setObjectName(QStringLiteral("menuRecent"));
    // above Exit and its separator, where recent lists sit
    const QList<QAction*> items = file->actions();
    const qsizetype at = items.indexOf(exit);
    QAction* before = at > 0 && items[at - 1]->isSeparator() ? items[at - 1] : exit;
    file->insertMenu(before, menu);
    file->insertSeparator(menu->menuAction());
    QObject::connect(menu, &QMenu::aboutToShow, &window, [&window, menu] { fill(window, menu); });
    fill(window, menu);
}

}  // namespace pw::app
