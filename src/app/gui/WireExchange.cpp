#include <QPlainTextEdit>
#include <QTabWidget>

#include "app/Commands.h"
#include "app/gui/CPZPtestDlg.h"
#include "app/gui/CommandWiring.h"
#include "exchange/Export.h"
#include "exchange/ImportFlow.h"
#include "exchange/gui/ImportWindows.h"
#include "resources/Strings.h"

namespace pw::app {

namespace {

void importDatabase(CPZPtestDlg& w) {
    CAppSession& s = w.session();
    const Settings& settings = s.settings();
    exchange::ImportSettings options;
    options.grouping = {settings.autoGroupEnabled != 0, settings.autoGroupField};
    options.openDatabaseAfterImport = settings.openDatabaseAfterImport != 0;
    options.legacy = exchange::legacyCodePageFor(currentLanguage());
    options.dateForm = settings.importDatesIso != 0 ? exchange::WorkbookDateForm::Iso
                                                    : exchange::WorkbookDateForm::LocaleShort;
    exchange::QtImportWindows windows(&w);
    const auto captions = s.store().FieldCaptions().Captions();
    const auto flow = exchange::runImportCommand(s.store(), s.ui(), options, windows);
    // a heading row may have renamed the fields the mail's placeholders name
    OfferPlaceholderRewrite(w, captions);
    w.UpdateDocumentState();
    if (!flow || !flow->after())
        return;
    if (flow->after()->clearOpenSetting)
        s.settings().openDatabaseAfterImport = 0;
    if (flow->after()->openEditor) {
        if (QAction* edit = w.commandAction(cmd::kEditDatabase); edit && edit->isEnabled())
            edit->trigger();
    }
}

void exportDatabase(CPZPtestDlg& w) {
    CAppSession& s = w.session();
    FileRequest request;
    request.mode = FileChoice::SaveFile;
    request.caption = str(ids::kExportDatabaseTitle);
    request.filters = exchange::chooserFilter(str(ids::kExportDatabaseFilter));
    request.defaultSuffix = QStringLiteral("csv");
    const QStringList chosen = s.ui().chooseFiles(request);
    if (chosen.isEmpty())
        return;
    QStringList captions;
    for (const QString& c : s.store().FieldCaptions().Captions())
        captions << c;
    (void)exchange::exportDatabaseCommand(chosen.front(), captions, s.settings().dbExportItem,
                                          &s.store(), s.ui());
}

void exportMail(CPZPtestDlg& w) {
    CAppSession& s = w.session();
    const auto* tabs = w.findChild<QTabWidget*>(QStringLiteral("mailTabs"));
    const QString& templateName = s.document().htmlTemplateName;
    if (tabs && tabs->currentIndex() == 1 && !templateName.isEmpty()) {
        FileRequest request;
        request.mode = FileChoice::Folder;
        request.caption = str(ids::kExportMailTextTitle);
        const QStringList chosen = s.ui().chooseFiles(request);
        if (chosen.isEmpty())
            return;
        (void)exchange::exportHtmlMail(chosen.front(), templateName,
                                       s.folders().mainPreviewFolder(), s.ui());
        return;
    }
    FileRequest request;
    request.mode = FileChoice::SaveFile;
    request.caption = str(ids::kExportMailTextTitle);
    request.filters = exchange::chooserFilter(str(ids::kExportMailTextFilter));
    request.directory = s.folders().programFolder;
    request.defaultSuffix = QStringLiteral("txt");
    const QStringList chosen = s.ui().chooseFiles(request);
    if (chosen.isEmpty())
        return;
    const QString text = w.textBody() ? w.textBody()->toPlainText() : QString();
    (void)exchange::exportMailText(chosen.front(), text, s.ui());
}

}  // namespace

void wireExchangeCommands(CPZPtestDlg& window) {
    CPZPtestDlg* w = &window;
    window.setCommandHandler(cmd::kImportDatabase, [w] { importDatabase(*w); });
    window.setCommandHandler(cmd::kExportDatabase, [w] { exportDatabase(*w); });
    window.setCommandHandler(cmd::kExportMail, [w] { exportMail(*w); });
}

}  // namespace pw::app
