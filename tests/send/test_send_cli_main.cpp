// The command-line sender as its own process, for the tests that kill it part-way.
#include <QCoreApplication>

#include "app/SendCommand.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    return pw::app::runSendCommand(QCoreApplication::arguments().mid(1));
}
