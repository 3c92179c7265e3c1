// Server Settings, User Preferences and Getting Started in the main window.

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QToolBar>

#include "app/Commands.h"
#include "app/gui/CPZPtestDlg.h"
#include "app/gui/CommandWiring.h"
#include "app/gui/SettingsCommands.h"

namespace pw::app {

namespace {

void runServerSettings(CPZPtestDlg& window) {
    CAppSession& session = window.session();
    // the dialog starts from the sender the window shows, and the window shows what it chose
    window.TakeFromWindow();
    if (!RunServerSettings(session, window))
        return;
    const Settings& s = session.settings();
    MailDocument& doc = session.document();
    auto* address = window.findChild<QLineEdit*>(QStringLiteral("senderAddress"));
    auto* name = window.findChild<QLineEdit*>(QStringLiteral("senderName"));
    if (address && address->text() != s.server.from)
        address->setText(s.server.from);
    if (name && name->text() != s.server.name)
        name->setText(s.server.name);
    if (doc.senderAddress != s.server.from || doc.senderName != s.server.name) {
        doc.senderAddress = s.server.from;
        doc.senderName = s.server.name;
        window.SetModified(true);
    }
}

void runUserPreferences(CPZPtestDlg& window) {
    CAppSession& session = window.session();
    QStringList captions;
    for (const QString& c : session.store().FieldCaptions().Captions())
        captions.append(c);
    PreferencesHost host;
    host.showLogWindow = [&window](bool on) { window.ShowLogWindow(on); };
    host.showToolbar = [&window](bool on) {
        if (auto* bar = window.findChild<QToolBar*>(QStringLiteral("mainToolbar")))
            bar->setVisible(on);
    };
    host.showAutoWrapItem = [&window](bool on) {
        auto* tools = window.findChild<QMenu*>(QStringLiteral("menuTools"));
        QAction* item = window.commandAction(cmd::kAutoWrap);
        if (tools && item) {
            ShowAutoWrapItem(*tools, *item, on);
            item->setVisible(on);
        }
    };
    host.setEditorFont = [&window](const QFont& font) { window.textBody()->setFont(font); };
    (void)RunUserPreferences(session, captions, window.textBody()->font(), host, &window);
}

// Getting Started at the start while "StartShortcut" is set; its choice runs the command as
// the menu does. False for "Exit" only: Esc and the close box leave the window to the user.
bool runGettingStarted(CPZPtestDlg& window) {
    CAppSession& session = window.session();
    if (!session.settings().startShortcut)
        return true;
    const StartFormResult r = RunGettingStarted(session, &window);
    if (r.end == StartEnd::ExitProgram)
        return false;
    int command = 0;
    switch (r.choice) {
        case StartChoice::Open:
            command = cmd::kOpen;
            break;
        case StartChoice::SelectHtmlTemplate:
            command = cmd::kSelectHtmlTemplate;
            break;
        case StartChoice::ImportDatabase:
            command = cmd::kImportDatabase;
            break;
        case StartChoice::None:
            break;
    }
    if (QAction* a = command ? window.commandAction(command) : nullptr)
        a->trigger();  // a command that is off does nothing, as its menu item would
    return true;
}

}  // namespace

void wireSettingsCommands(CPZPtestDlg& window) {
    window.setCommandHandler(cmd::kServerSettings, [&window] { runServerSettings(window); });
    window.setCommandHandler(cmd::kUserPreferences, [&window] { runUserPreferences(window); });
    window.setStartHook([&window] { return runGettingStarted(window); });
}

}  // namespace pw::app
