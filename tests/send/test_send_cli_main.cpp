// The command-line sender as its own process, for the tests that kill it part-way.
#include <QCoreApplication>

#include "app/Language.h"
#include "app/SendCommand.h"
#include "app/StopSignals.h"

int main(int argc, char* argv[]) {
    pw::app::blockStopSignals();   // as the program's main does, before any thread
    pw::app::applyTextLanguage();  // the SMTP client's texts follow the locale, as in main
    QCoreApplication app(argc, argv);
    return pw::app::runSendCommand(QCoreApplication::arguments().mid(1));
}
