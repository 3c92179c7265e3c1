#include <QString>
#include <QStringList>
#include <QtGlobal>

#include "app/BounceCommand.h"
#include "app/HistoryCommand.h"
#include "app/Language.h"
#include "app/ProcessProtection.h"
#include "app/ProgramFiles.h"
#include "app/SendCommand.h"
#include "app/StopSignals.h"
#include "app/gui/CPZPtestApp.h"
#include "bounces/ReadBouncesCommand.h"

int main(int argc, char* argv[]) {
    // before any thread exists, so that every thread inherits the mask
    pw::app::blockStopSignals();
    pw::app::ProtectProcess();
#ifdef __GLIBC__
    // Unset, the C library looks at the zone file again for every local time (a send run
    // takes several per mail); set, it reads it once. Before any thread exists.
    if (qEnvironmentVariableIsEmpty("TZ"))
        qputenv("TZ", ":/etc/localtime");
#endif
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    if (args.contains("--version"))
        return pw::app::printVersion();
    pw::app::applyTextLanguage();
    if (pw::app::isHistoryCommandLine(args))
        return pw::app::runHistoryCommand(args);
    if (pw::bounces::isReadBouncesCommandLine(args))
        return pw::app::runReadBouncesCommand(args);
    // "--send ..." runs without a window; "--help" is answered by the same command
    if (pw::app::isSendCommandLine(args) || args.contains("--help") || args.contains("-h"))
        return pw::app::runSendCommand(args);
    return pw::app::RunPostwick(argc, argv);
}
