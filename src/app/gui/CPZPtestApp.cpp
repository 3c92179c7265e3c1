#include "app/gui/CPZPtestApp.h"

#include <QApplication>
#include <QFileInfo>
#include <QStringList>
#include <clocale>

#include "app/AppSession.h"
#include "app/Language.h"
#include "app/ProgramFiles.h"
#include "app/StopSignals.h"
#include "app/gui/AppIcon.h"
#include "app/gui/CPZPtestDlg.h"
#include "app/gui/QtUserInteraction.h"
#include "resources/Strings.h"

namespace pw::app {

int RunPostwick(int argc, char* argv[], const StartedHook& onStarted) {
    std::setlocale(LC_ALL, "");
    QApplication app(argc, argv);
    QApplication::setApplicationName(productName());
    QApplication::setApplicationVersion(programVersion());
    QApplication::setDesktopFileName(QStringLiteral("postwick"));
    QApplication::setWindowIcon(postwickIcon());
    applyTextLanguage();
    (void)installQtTranslations();

    const QString exeName = QFileInfo(QApplication::applicationFilePath()).completeBaseName();
    AppFolders folders = DetermineFolders(QApplication::applicationDirPath());
    QtUserInteraction ui;
    CAppSession session(folders, folders.settingsPath(exeName), ui);
    if (session.Start() == CAppSession::StartResult::EndProcess)
        return 0;

    const QStringList args = QApplication::arguments();
    CPZPtestDlg window(session, args.size() > 1 ? args.at(1) : QString());
    ui.setParent(&window);
    if (onStarted)
        QObject::connect(&window, &CPZPtestDlg::started, &window, [&] { onStarted(window); });
    // SIGTERM, SIGHUP, Ctrl+C: the window's own close sequence, which ends a run in order.
    CStopSignals stops;
    QObject::connect(&stops, &CStopSignals::stopRequested, &window, [&window] { window.close(); });
    window.show();
    return QApplication::exec();
}

}  // namespace pw::app
