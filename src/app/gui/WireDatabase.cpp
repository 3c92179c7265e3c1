// The database editor, the field names and the field window in the main window.

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

#include "app/Commands.h"
#include "app/DocumentController.h"
#include "app/gui/CPZPtestDlg.h"
#include "app/gui/CommandWiring.h"
#include "app/gui/HistoryWindow.h"
#include "bounces/BounceListModel.h"
#include "dbtools/gui/d_EditDialog.h"
#include "dbtools/gui/d_FieldShow.h"
#include "dbtools/gui/d_FieldsNameEdit.h"

namespace pw::app {

namespace {

constexpr char kEditorPlacement[] = "DBForm";

}  // namespace

void OfferPlaceholderRewrite(CPZPtestDlg& window,
                             const std::array<QString, db::kFieldCount>& before) {
    window.TakeFromWindow();
    if (CDocumentController(window.session()).offerPlaceholderRewrite(before) !=
        CDocumentController::PlaceholdersRewritten::Rewritten)
        return;
    window.ShowInWindow();
    window.ShowHtmlMail();
    window.SetModified(true);
}

namespace {

void runDatabaseEditor(CPZPtestDlg& window) {
    CAppSession& session = window.session();
    if (!session.store().IsOpen())
        return;
    window.TakeFromWindow();
    const Settings& s = session.settings();
    dbtools::EditorOptions options;
    options.showToolbar = s.toolbar == 1;
    options.showButtons = s.ui == 1;
    options.grouping = {s.autoGroupEnabled != 0, s.autoGroupField};
    // the import and the next editor take the rule the "Auto Group" dialog set
    options.saveGrouping = [&session](const dbtools::AutoGroupSetting& g) {
        session.settings().autoGroupEnabled = g.enabled ? 1 : 0;
        session.settings().autoGroupField = g.field;
    };
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect restored = RestoreRect(session.LoadPlacementText(kEditorPlacement),
                                       screen ? screen->size() : QSize(1024, 768));
    // the stored default means "never placed": the editor takes its own size
    if (restored.x() > -10000)
        options.geometry = restored;
    options.saveGeometry = [&session](const QRect& r) {
        session.SavePlacement(kEditorPlacement, WindowPlacement{r, 1});
    };
    options.databaseFile = session.databaseFile();
    options.openDatabaseFile = [&session](const QString& file) {
        (void)session.ReplaceDatabase(file);
    };
    options.databaseSavedAs = [&session](const QString& file) { session.setDatabaseFile(file); };
    options.runRefuses = [&window] { return window.runState().refuses(window.session().ui()); };

    // read once: the note follows the cursor
    auto bounceBook =
        std::make_shared<bounces::CBounceBook>(session.store().Folders().userDataFolder);
    if (bounceBook->load())
        options.addressNote = [bounceBook](const QString& address) {
            return bounces::bounceNote(*bounceBook, address);
        };
    options.showAddressHistory = [&session, &window](const QString& address) {
        d_AddressHistory dialog(
            session.store().Folders().userDataFolder, address,
            QApplication::activeWindow() ? QApplication::activeWindow() : &window);
        dialog.setObjectName(QStringLiteral("d_AddressHistory"));
        dialog.exec();
    };
    dbtools::d_EditDialog editor(session.store(), session.ui(), std::move(options), &window);
    editor.setRunLocked(window.runState().running());
    QObject::connect(&window, &CPZPtestDlg::runStateChanged, &editor,
                     &dbtools::d_EditDialog::setRunLocked);
    QObject::connect(&editor, &dbtools::d_EditDialog::documentChanged, &window,
                     [&window] { window.SetModified(true); });
    const auto captions = session.store().FieldCaptions().Captions();
    (void)editor.exec();
    OfferPlaceholderRewrite(window, captions);
    // the editor ends with OK whichever way it was closed
    window.SetModified(true);
    window.UpdateDocumentState();
}

}  // namespace

void wireDatabaseCommands(CPZPtestDlg& window) {
    CAppSession& session = window.session();

    window.setCommandHandler(cmd::kEditDatabase, [&window] { runDatabaseEditor(window); });

    window.setCommandHandler(cmd::kEditFieldName, [&window, &session] {
        dbtools::d_FieldsNameEdit dialog(
            session.store(), session.ui(), [&window] { window.SetModified(true); }, &window);
        const auto captions = session.store().FieldCaptions().Captions();
        (void)dialog.exec();
        OfferPlaceholderRewrite(window, captions);
        window.UpdateDocumentState();
    });

    // The field window lives as long as the main window, shown while "ShowFieldWnd" is set.
    auto* fields = new dbtools::d_FieldShow(session.store(), &window);
    fields->setAttribute(Qt::WA_ShowWithoutActivating);
    fields->deliver = [&window](QWidget* target, const QString& placeholder) {
        if (target != &window)
            return false;
        window.InsertIntoLastFocusedField(placeholder);
        return true;
    };
    QAction* display = window.commandAction(cmd::kDisplayFieldWindow);
    QObject::connect(fields, &dbtools::d_FieldShow::visibilityChanged, display,
                     [display, &session](bool visible) {
                         display->setChecked(visible);
                         session.settings().showFieldWnd = visible;
                     });
    window.setCommandHandler(cmd::kDisplayFieldWindow, [fields, display, &session] {
        const bool show = !session.settings().showFieldWnd;
        session.settings().showFieldWnd = show;
        fields->setVisible(show);
        display->setChecked(show);
    });
    QObject::connect(&window, &CPZPtestDlg::started, fields, [fields, &window, &session] {
        if (!session.settings().showFieldWnd || fields->isVisible())
            return;
        // beside the main window's right edge, where it covers nothing of the mail
        const QRect frame = window.frameGeometry();
        fields->move(frame.right() + 4, frame.top());
        fields->show();
    });
}

}  // namespace pw::app
