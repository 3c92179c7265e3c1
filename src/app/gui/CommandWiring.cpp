#include "app/gui/CommandWiring.h"

namespace pw::app {

void wireOtherCommands(CPZPtestDlg& window) {
    wireDatabaseCommands(window);
    wireExchangeCommands(window);
    wireComposeCommands(window);
    wireSettingsCommands(window);
    wireSuppressionCommands(window);
    wireServerListCommands(window);
    wireRecentList(window);
}

}  // namespace pw::app
