// The HTML template wizard, the preview, the mail templates and the text tools in the main
// window.

#include <QAction>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTextCursor>
#include <memory>

#include "app/Commands.h"
#include "app/RunRecovery.h"
#include "app/gui/CPZPtestDlg.h"
#include "app/gui/CommandWiring.h"
#include "compose/MailPreview.h"
#include "compose/TemplateLibrary.h"
#include "compose/gui/HtmlTemplateCommands.h"
#include "compose/gui/TextToolDialogs.h"
#include "compose/gui/d_Preview.h"
#include "send/PreviewSource.h"
#include "send/SendFlow.h"

namespace pw::app {

namespace {

HtmlTemplateFolders htmlFolders(const CAppSession& session) {
    const AppFolders& f = session.folders();
    const TemplatePlaces places = HtmlTemplatePlaces(f);
    return {places.shipped, f.mainPreviewFolder(), f.wizardPreviewFolder(), places.own};
}

TextDefaults textDefaults(CPZPtestDlg& window) {
    const Settings& s = window.session().settings();
    return {s.font, s.fontSize > 0 ? s.fontSize : 12};
}

// The wizard's result becomes the mail's HTML, shown at once on the HTML page.
void takeHtmlResult(CPZPtestDlg& window, const std::optional<HtmlTemplateResult>& result) {
    if (!result)
        return;
    MailDocument& doc = window.session().document();
    doc.htmlTemplateName = result->templateName;
    doc.pictureList = result->pictureList;
    window.SetModified(true);
    window.ShowHtmlMail();
    if (auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("mailTabs")))
        tabs->setCurrentIndex(1);
    window.UpdateDocumentState();
}

// The body replaced as one edit, so that Undo brings the old text back.
void replaceBody(QPlainTextEdit& body, const QString& text) {
    QTextCursor c(body.document());
    c.select(QTextCursor::Document);
    c.insertText(text);
}

void runPreview(CPZPtestDlg& window) {
    CAppSession& session = window.session();
    std::unique_ptr<send::CSendFlow> flow = window.MakeSendFlow();
    // the recipients a send to all would reach, each message made as the run makes it
    auto preview =
        std::make_unique<CMailPreview>(send::previewOfSend(*flow, db::SendSelectionMode::All),
                                       session.folders().mainPreviewFolder());
    d_Preview dialog(std::move(preview), window.textBody()->font(), &window);
    (void)dialog.exec();
}

}  // namespace

void wireComposeCommands(CPZPtestDlg& window) {
    CAppSession& session = window.session();

    window.setCommandHandler(cmd::kSelectHtmlTemplate, [&window, &session] {
        takeHtmlResult(window, selectHtmlTemplate(&window, htmlFolders(session),
                                                  session.document().htmlTemplateName,
                                                  textDefaults(window), session.ui()));
    });
    window.setCommandHandler(cmd::kEditHtmlTemplate, [&window, &session] {
        const MailDocument& doc = session.document();
        if (!doc.isHtmlMail())
            return;
        takeHtmlResult(window,
                       editHtmlTemplate(&window, htmlFolders(session), doc.htmlTemplateName,
                                        doc.pictureList, textDefaults(window), session.ui()));
    });
    window.setCommandHandler(cmd::kPreview, [&window] { runPreview(window); });

    window.setCommandHandler(cmd::kSelectTemplate, [&window, &session] {
        SelTemp dialog(MailTemplatePlaces(session.folders()), session.ui(), &window);
        if (dialog.exec() != QDialog::Accepted || dialog.templateName().isEmpty())
            return;
        window.SelectTemplateByName(dialog.templateName());
    });
    window.setCommandHandler(cmd::kSaveAsTemplate, [&window] {
        window.SaveAsTemplate([&window]() -> QString {
            d_SSTemplate dialog(&window);
            if (dialog.exec() != QDialog::Accepted)
                return {};
            return dialog.templateName().trimmed();
        });
    });

    // Auto Line remembers its values while the program runs.
    auto lineMemory = std::make_shared<AutoLineMemory>();
    window.setCommandHandler(cmd::kAutoLine, [&window, lineMemory] {
        if (runAutoLine(*window.textBody(), *lineMemory, &window))
            window.SetModified(true);
    });
    window.setCommandHandler(cmd::kAutoFrame, [&window, &session] {
        const QString before = session.settings().autoBoxText;
        if (runAutoFrame(*window.textBody(), session.settings().autoBoxText, &window))
            window.SetModified(true);
        if (session.settings().autoBoxText != before)
            session.SaveAutoFrameText();
    });

    window.setCommandHandler(cmd::kCountCharacters, [&window, &session] {
        const TextCounts counts =
            countText(window.textBody()->toPlainText(), MailCodePage(session.settings().encode));
        d_CountCharacters dialog(counts, &window);
        (void)dialog.exec();
    });
    window.setCommandHandler(cmd::kCheckKatakana, [&window, &session] {
        QPlainTextEdit& body = *window.textBody();
        if (const std::optional<QString> folded = checkKatakana(body.toPlainText(), session.ui())) {
            replaceBody(body, *folded);
            window.SetModified(true);
        }
    });

    QAction* wrapItem = window.commandAction(cmd::kAutoWrap);
    wrapItem->setCheckable(true);
    wrapItem->setChecked(window.autoWrap().on());
    window.setCommandHandler(cmd::kAutoWrap, [&window, &session, wrapItem] {
        d_AutoWrap dialog(window.autoWrap(), session.ui(), &window);
        (void)dialog.exec();
        // the check mark tells whether the mails will be wrapped, whatever the dialog's end
        wrapItem->setChecked(window.autoWrap().on());
    });
}

}  // namespace pw::app
