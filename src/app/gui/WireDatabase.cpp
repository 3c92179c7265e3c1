#include "app/Commands.h"
#include "app/gui/CPZPtestDlg.h"
#include "app/gui/CommandWiring.h"

namespace pw::app {

void wireDatabaseCommands(CPZPtestDlg& window) {
    (void)window;
}

}  // namespace pw::app
